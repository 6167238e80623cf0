// Native file dialogs: filter parsing, the file-type pop-up's target, the open and save panels,
// and the six dialog exports.
#import "Dovrane.h"
#include "DesktopBridge.h"
#include "ExportEdge.h"

#include <atomic>
#include <math.h>

// The callback of the latest asynchronous request, read when a result is delivered.
// Requests may come from several threads at once, so the slot is atomic.
static std::atomic<DBDialogCallback> asyncCallback(nullptr);

// An extension list whose first element is "" or "*" stands for every file type.
static BOOL AllowsAnyType(NSArray *extensionList) {
  NSString *first = [extensionList objectAtIndex:0];
  return [first isEqualToString:@""] || [first isEqualToString:@"*"];
}

#pragma mark - PopUpButtonHandler

@implementation PopUpButtonHandler

- (instancetype)initWithPanel:(NSPanel *)panel {
  self = [super init];
  if (self) _panel = panel;
  return self;
}

- (void)dealloc {
  if (_ownsPanel) [_panel release];
  [super dealloc];
}

- (void)setExtensions:(NSArray *)extensions {
  _extensions = extensions;
}

- (NSSavePanel *)filePanel {
  return (NSSavePanel *)_panel;
}

// The extension list behind the pop-up's selected item, or nil when nothing valid is selected.
- (NSArray *)selectedExtensionList:(id)sender {
  NSInteger index = [sender indexOfSelectedItem];
  if (index < 0 || (NSUInteger)index >= [_extensions count]) return nil;
  return [_extensions objectAtIndex:index];
}

- (void)selectFormatOpen:(id)sender {
  NSArray *list = [self selectedExtensionList:sender];
  if (list == nil) return;
  [[self filePanel] setAllowedFileTypes:AllowsAnyType(list) ? nil : list];
  [_panel update];
}

- (void)selectFormatSave:(id)sender {
  NSArray *list = [self selectedExtensionList:sender];
  if (list == nil) return;
  NSSavePanel *panel = [self filePanel];
  NSString *base = [[panel nameFieldStringValue] stringByDeletingPathExtension];
  NSString *name = base;
  if (AllowsAnyType(list)) {
    [panel setAllowedFileTypes:nil];
  } else {
    NSString *first = [list objectAtIndex:0];
    name = [NSString stringWithFormat:@"%@.%@", base, first];
    [panel setAllowedFileTypes:[NSArray arrayWithObject:first]];
  }
  [panel setNameFieldStringValue:name];
  [_panel update];
}

- (NSPanel *)panel {
  return _panel;
}

// Retains the new panel. The panel given to initWithPanel: was never retained, so it is not
// released here.
- (void)setPanel:(NSPanel *)panel {
  if (panel == _panel) return;
  [panel retain];
  if (_ownsPanel) [_panel release];
  _panel = panel;
  _ownsPanel = YES;
}

- (NSArray *)extensions {
  return _extensions;
}

@end

#pragma mark - Dovrane

@interface Dovrane ()
- (void)forgetRequest;
- (void)makeAccessoryWidth:(CGFloat)width labelWidth:(CGFloat)labelWidth label:(NSString *)label
                    action:(SEL)action panel:(NSSavePanel *)panel;
- (void)prepareOpenPanelOnMainThread:(NSDictionary *)request;
- (void)prepareSavePanelOnMainThread:(NSDictionary *)request;
@end

// Calls the callback of the latest asynchronous request with text; the text stays valid until the
// callback returns. Without a callback the result is dropped.
static void DeliverAsyncResult(NSString *text) {
  DBDialogCallback callback = asyncCallback.load(std::memory_order_acquire);
  if (callback == NULL) return;
  @autoreleasepool {
    callback([text UTF8String]);
  }
}

// The paths of the panel's chosen URLs joined by the list separator, or "" when there are none.
static NSString *JoinedPaths(NSOpenPanel *panel) {
  NSArray *urls = [panel URLs];
  if ([urls count] == 0) return @"";
  NSMutableArray *paths = [NSMutableArray arrayWithCapacity:[urls count]];
  for (NSURL *url in urls) [paths addObject:[url path]];
  NSString *separator = [NSString stringWithFormat:@"%c", 28];
  return [paths componentsJoinedByString:separator];
}

static NSString *SavedPath(NSSavePanel *panel) {
  NSURL *url = [panel URL];
  return url ? [url path] : @"";
}

// What a modal panel takes from the application: the key window and, where the system hands it
// to the panel, the activation. Remembered before the panel runs and given back once it has
// closed, so a host whose input goes to its key window (a game reading the keyboard) gets it
// again without doing anything. Activation is given back only when the application was active
// before; a window is made key again only while it is still on screen.
struct FocusBeforePanel {
  NSWindow *keyWindow;  // retained
  BOOL wasActive;
};

static FocusBeforePanel RememberFocus(void) {
  FocusBeforePanel focus;
  focus.keyWindow = [[NSApp keyWindow] retain];
  focus.wasActive = [NSApp isActive];
  return focus;
}

static void GiveBackFocus(FocusBeforePanel focus) {
  if (focus.wasActive && ![NSApp isActive]) [NSApp activateIgnoringOtherApps:YES];
  NSWindow *window = focus.keyWindow;
  if (window != nil && [window isVisible] && ![window isKeyWindow] && [window canBecomeKeyWindow]) {
    [window orderFront:nil];
    [window makeKeyWindow];
  }
  [window release];
}

// Runs the panel modally and gives back what it took; also when the panel raises.
static NSInteger RunPanel(NSSavePanel *panel) {
  FocusBeforePanel focus = RememberFocus();
  NSInteger response = NSModalResponseCancel;
  @try {
    response = [panel runModal];
  } @finally {
    GiveBackFocus(focus);
  }
  return response;
}

// Points the panel at directory. An empty or missing path changes nothing, so the panel keeps the
// start directory it chose itself: fileURLWithPath: takes no empty path.
static void SetStartDirectory(NSSavePanel *panel, NSString *directory) {
  if ([directory length] == 0) return;
  [panel setDirectoryURL:[NSURL fileURLWithPath:directory]];
}

@implementation Dovrane

- (instancetype)init {
  self = [super init];
  if (self) NSLog(@"init");
  return self;
}

- (void)dealloc {
  [self forgetRequest];
  [super dealloc];
}

// Releases what the last preparation made.
- (void)forgetRequest {
  [_popUpButton setTarget:nil];
  [_popUpButton release];
  _popUpButton = nil;
  [_handler release];
  _handler = nil;
  [_accessoryView release];
  _accessoryView = nil;
  [_panel release];
  _panel = nil;
  [_filterTitles release];
  _filterTitles = nil;
  [_extensions release];
  _extensions = nil;
}

#pragma mark - Open panels

- (NSString *)dialogOpenFilePanel:(NSString *)title directory:(NSString *)directory filters:(NSString *)filters
                      multiselect:(BOOL)multiselect canChooseFiles:(BOOL)canChooseFiles
                 canChooseFolders:(BOOL)canChooseFolders {
  NSOpenPanel *panel = [self createOpenPanel:title directory:directory filters:filters multiselect:multiselect
                              canChooseFiles:canChooseFiles canChooseFolders:canChooseFolders];
  if (panel == nil) return @"";
  if (RunPanel(panel) != NSModalResponseOK) return @"";
  return JoinedPaths(panel);
}

- (void)dialogOpenFilePanelAsync:(NSString *)title directory:(NSString *)directory filters:(NSString *)filters
                     multiselect:(BOOL)multiselect canChooseFiles:(BOOL)canChooseFiles
                canChooseFolders:(BOOL)canChooseFolders {
  if (![NSThread isMainThread]) {
    // Panels are made on the main thread: prepare there, then run as below.
    NSDictionary *request = [NSDictionary dictionaryWithObjectsAndKeys:title, @"title", directory, @"directory",
                                          filters, @"filters", [NSNumber numberWithBool:multiselect], @"multiselect",
                                          [NSNumber numberWithBool:canChooseFiles], @"canChooseFiles",
                                          [NSNumber numberWithBool:canChooseFolders], @"canChooseFolders", nil];
    [self performSelectorOnMainThread:@selector(prepareOpenPanelOnMainThread:) withObject:request waitUntilDone:NO];
    return;
  }
  NSOpenPanel *panel = [self createOpenPanel:title directory:directory filters:filters multiselect:multiselect
                              canChooseFiles:canChooseFiles canChooseFolders:canChooseFolders];
  [self performSelectorOnMainThread:@selector(dialogOpenFilePanelAsyncSelector:) withObject:panel waitUntilDone:NO];
}

- (void)prepareOpenPanelOnMainThread:(NSDictionary *)request {
  [self dialogOpenFilePanelAsync:[request objectForKey:@"title"] directory:[request objectForKey:@"directory"]
                         filters:[request objectForKey:@"filters"]
                     multiselect:[[request objectForKey:@"multiselect"] boolValue]
                  canChooseFiles:[[request objectForKey:@"canChooseFiles"] boolValue]
                canChooseFolders:[[request objectForKey:@"canChooseFolders"] boolValue]];
}

- (void)dialogOpenFilePanelAsyncSelector:(NSOpenPanel *)panel {
  NSString *text = @"";
  @try {
    if (panel != nil && RunPanel(panel) == NSModalResponseOK) text = JoinedPaths(panel);
  } @finally {
    // A panel that raises while it runs still ends its request: the callback hears "" once, and
    // the exception goes on as before.
    DeliverAsyncResult(text);
  }
}

- (NSOpenPanel *)createOpenPanel:(NSString *)title directory:(NSString *)directory filters:(NSString *)filters
                     multiselect:(BOOL)multiselect canChooseFiles:(BOOL)canChooseFiles
                canChooseFolders:(BOOL)canChooseFolders {
  [self forgetRequest];
  @try {
    _filterTitles = [[NSMutableArray alloc] init];
    _extensions = [[NSMutableArray alloc] init];
    [self parseFilter:filters filters:_filterTitles extensions:_extensions];
    NSOpenPanel *panel = [NSOpenPanel openPanel];
    _panel = [panel retain];
    if ([_filterTitles count] > 0) {
      [self makeAccessoryWidth:200 labelWidth:60 label:@"File type:" action:@selector(selectFormatOpen:) panel:panel];
      if ([panel respondsToSelector:@selector(setAccessoryViewDisclosed:)]) [panel setAccessoryViewDisclosed:YES];
      NSArray *first = [_extensions objectAtIndex:0];
      [panel setAllowedFileTypes:AllowsAnyType(first) ? nil : first];
    }
    if ([title length] > 0) [panel setMessage:title];
    [panel setCanChooseFiles:canChooseFiles];
    [panel setCanChooseDirectories:canChooseFolders];
    [panel setAllowsMultipleSelection:multiselect];
    SetStartDirectory(panel, directory);
    if ([panel respondsToSelector:@selector(setCanCreateDirectories:)]) [panel setCanCreateDirectories:YES];
    return [[panel retain] autorelease];
  } @catch (NSException *exception) {
    NSLog(@"Dovrane::dialogOpenFilePanel Exception: %@", [exception reason]);
    [self forgetRequest];
    return nil;
  }
}

#pragma mark - Save panels

- (NSString *)dialogSaveFilePanel:(NSString *)title directory:(NSString *)directory
                      defaultName:(NSString *)defaultName filters:(NSString *)filters {
  NSSavePanel *panel = [self createSavePanel:title directory:directory defaultName:defaultName filters:filters];
  if (panel == nil) return @"";
  if (RunPanel(panel) != NSModalResponseOK) return @"";
  return SavedPath(panel);
}

- (void)dialogSaveFilePanelAsync:(NSString *)title directory:(NSString *)directory
                     defaultName:(NSString *)defaultName filters:(NSString *)filters {
  if (![NSThread isMainThread]) {
    NSDictionary *request = [NSDictionary dictionaryWithObjectsAndKeys:title, @"title", directory, @"directory",
                                          defaultName, @"defaultName", filters, @"filters", nil];
    [self performSelectorOnMainThread:@selector(prepareSavePanelOnMainThread:) withObject:request waitUntilDone:NO];
    return;
  }
  NSSavePanel *panel = [self createSavePanel:title directory:directory defaultName:defaultName filters:filters];
  [self performSelectorOnMainThread:@selector(dialogSaveFilePanelAsyncSelector:) withObject:panel waitUntilDone:NO];
}

- (void)prepareSavePanelOnMainThread:(NSDictionary *)request {
  [self dialogSaveFilePanelAsync:[request objectForKey:@"title"] directory:[request objectForKey:@"directory"]
                     defaultName:[request objectForKey:@"defaultName"] filters:[request objectForKey:@"filters"]];
}

- (void)dialogSaveFilePanelAsyncSelector:(NSSavePanel *)panel {
  NSString *text = @"";
  @try {
    if (panel != nil && RunPanel(panel) == NSModalResponseOK) text = SavedPath(panel);
  } @finally {
    DeliverAsyncResult(text);  // once, also when the panel raised while it ran
  }
}

- (NSSavePanel *)createSavePanel:(NSString *)title directory:(NSString *)directory
                     defaultName:(NSString *)defaultName filters:(NSString *)filters {
  [self forgetRequest];
  @try {
    _filterTitles = [[NSMutableArray alloc] init];
    _extensions = [[NSMutableArray alloc] init];
    [self parseFilter:filters filters:_filterTitles extensions:_extensions];
    NSSavePanel *panel = [NSSavePanel savePanel];
    _panel = [panel retain];
    if ([_filterTitles count] > 0) {
      [self makeAccessoryWidth:220 labelWidth:80 label:@"Save as type:" action:@selector(selectFormatSave:)
                         panel:panel];
      NSArray *first = [_extensions objectAtIndex:0];
      [panel setAllowedFileTypes:AllowsAnyType(first) ? nil : first];
    }
    if ([title length] > 0) [panel setMessage:title];
    SetStartDirectory(panel, directory);
    [panel setNameFieldStringValue:defaultName];
    return [[panel retain] autorelease];
  } @catch (NSException *exception) {
    NSLog(@"Dovrane::dialogSaveFilePanel Exception%@", [exception reason]);
    [self forgetRequest];
    return nil;
  }
}

#pragma mark - Accessory

// The file-type accessory: a label, then a pop-up right of it whose item i is filter title i. The
// label and the pop-up are as wide as their text needs (the label's, the pop-up's longest title
// beside its arrow) and never narrower than labelWidth and 140 points; the container is at least
// width and holds both. Open panels pass 200 and 60, save panels 220 and 80.
- (void)makeAccessoryWidth:(CGFloat)width labelWidth:(CGFloat)labelWidth label:(NSString *)label
                    action:(SEL)action panel:(NSSavePanel *)panel {
  _handler = [[PopUpButtonHandler alloc] initWithPanel:panel];
  [_handler setExtensions:_extensions];

  _accessoryView = [[NSView alloc] initWithFrame:NSMakeRect(0, 0, width, 24)];
  NSTextField *labelField = [[[NSTextField alloc] initWithFrame:NSMakeRect(0, 0, labelWidth, 22)] autorelease];
  [labelField setEditable:NO];
  [labelField setStringValue:label];
  [labelField setBordered:NO];
  [labelField setBezeled:NO];
  [labelField setDrawsBackground:NO];
  labelWidth = MAX(labelWidth, ceil([[labelField cell] cellSize].width));
  [labelField setFrame:NSMakeRect(0, 0, labelWidth, 22)];

  _popUpButton = [[NSPopUpButton alloc] initWithFrame:NSMakeRect(labelWidth + 1, 2, 140, 22) pullsDown:NO];
  // Added one by one through the menu: the pop-up's own list call merges equal titles, and item i
  // must stay entry i.
  NSMenu *menu = [_popUpButton menu];
  for (NSString *title in _filterTitles) [menu addItemWithTitle:title action:NULL keyEquivalent:@""];
  [_popUpButton selectItemAtIndex:0];
  [_popUpButton setTarget:_handler];
  [_popUpButton setAction:action];
  // The pop-up cell's size covers its widest item and the arrow.
  CGFloat popUpWidth = MAX((CGFloat)140, ceil([[_popUpButton cell] cellSize].width));
  [_popUpButton setFrame:NSMakeRect(labelWidth + 1, 2, popUpWidth, 22)];
  [_accessoryView setFrameSize:NSMakeSize(MAX(width, labelWidth + 1 + popUpWidth), 24)];

  [_accessoryView addSubview:labelField];
  [_accessoryView addSubview:_popUpButton];
  [panel setAccessoryView:_accessoryView];
}

#pragma mark - Filter parsing

- (void)parseFilter:(NSString *)filter filters:(NSMutableArray *)filters extensions:(NSMutableArray *)extensions {
  if ([filter length] == 0) return;
  @try {
    for (NSString *entry in DBComponentsSeparatedByString(filter, @"|")) {
      NSArray *pieces = DBComponentsSeparatedByString(entry, @";");
      NSString *name = [pieces objectAtIndex:0];
      NSString *extensionText = [pieces objectAtIndex:1];
      NSArray *list = DBComponentsSeparatedByString(extensionText, @",");
      NSMutableString *title = [NSMutableString string];
      [title appendFormat:@"%@ (", name];
      for (NSString *extension in list) [title appendFormat:@"*.%@,", extension];
      [title deleteCharactersInRange:NSMakeRange([title length] - 1, 1)];
      [title appendString:@")"];
      [filters addObject:title];
      [extensions addObject:list];
    }
  } @catch (NSException *exception) {
    NSLog(@"Dovrane::parseFilter Exception%@", [exception reason]);
  }
}

@end

#pragma mark - Exports

// A C string argument as a string object: null and text that is not valid UTF-8 give "".
static NSString *DialogArgument(const char *text) {
  if (text == NULL) return @"";
  NSString *string = [NSString stringWithUTF8String:text];
  return string ? string : @"";
}

// Synchronous panels run modally and must be made on the main thread.
static bool RefusedOffMainThread(const char *exportName) {
  @autoreleasepool {  // the calling thread may have no pool of its own
    if ([NSThread isMainThread]) return false;
    NSLog(@"%s must be called on the main thread; no panel shown, returning \"\"", exportName);
  }
  return true;
}

// The UTF-8 text of a result that the export's own pool kept retained: handed to the caller's
// autorelease pool, so the text lives until that pool drains.
static const char *BorrowedText(NSString *retainedResult) {
  if (retainedResult == nil) return "";
  return [[retainedResult autorelease] UTF8String];
}

const char *DialogOpenFilePanel(const char *title, const char *directory, const char *filters, bool multiselect) {
  const char *text = "";
  DBAtExportEdge("DialogOpenFilePanel", "\"\"", [&] {
    if (RefusedOffMainThread("DialogOpenFilePanel")) return;
    NSString *result = nil;
    @autoreleasepool {
      Dovrane *dialog = [[Dovrane alloc] init];
      result = [[dialog dialogOpenFilePanel:DialogArgument(title) directory:DialogArgument(directory)
                                    filters:DialogArgument(filters) multiselect:multiselect canChooseFiles:YES
                           canChooseFolders:NO] retain];
      [dialog release];
    }
    text = BorrowedText(result);
  });
  return text;
}

// A request that raises before its panel is scheduled writes its line at the edge; its callback
// hears nothing.
void DialogOpenFilePanelAsync(const char *title, const char *directory, const char *filters, bool multiselect,
                              DBDialogCallback callback) {
  DBAtExportEdge("DialogOpenFilePanelAsync", "nothing", [&] {
    asyncCallback.store(callback, std::memory_order_release);
    @autoreleasepool {
      Dovrane *dialog = [[Dovrane alloc] init];
      [dialog dialogOpenFilePanelAsync:DialogArgument(title) directory:DialogArgument(directory)
                               filters:DialogArgument(filters) multiselect:multiselect canChooseFiles:YES
                      canChooseFolders:NO];
      [dialog release];
    }
  });
}

const char *DialogOpenFolderPanel(const char *title, const char *directory, bool multiselect) {
  const char *text = "";
  DBAtExportEdge("DialogOpenFolderPanel", "\"\"", [&] {
    if (RefusedOffMainThread("DialogOpenFolderPanel")) return;
    NSString *result = nil;
    @autoreleasepool {
      Dovrane *dialog = [[Dovrane alloc] init];
      result = [[dialog dialogOpenFilePanel:DialogArgument(title) directory:DialogArgument(directory) filters:@""
                                multiselect:multiselect canChooseFiles:NO canChooseFolders:YES] retain];
      [dialog release];
    }
    text = BorrowedText(result);
  });
  return text;
}

void DialogOpenFolderPanelAsync(const char *title, const char *directory, bool multiselect,
                                DBDialogCallback callback) {
  DBAtExportEdge("DialogOpenFolderPanelAsync", "nothing", [&] {
    asyncCallback.store(callback, std::memory_order_release);
    @autoreleasepool {
      Dovrane *dialog = [[Dovrane alloc] init];
      [dialog dialogOpenFilePanelAsync:DialogArgument(title) directory:DialogArgument(directory) filters:@""
                           multiselect:multiselect canChooseFiles:NO canChooseFolders:YES];
      [dialog release];
    }
  });
}

const char *DialogSaveFilePanel(const char *title, const char *directory, const char *defaultName,
                                const char *filters) {
  const char *text = "";
  DBAtExportEdge("DialogSaveFilePanel", "\"\"", [&] {
    if (RefusedOffMainThread("DialogSaveFilePanel")) return;
    NSString *result = nil;
    @autoreleasepool {
      Dovrane *dialog = [[Dovrane alloc] init];
      result = [[dialog dialogSaveFilePanel:DialogArgument(title) directory:DialogArgument(directory)
                                defaultName:DialogArgument(defaultName) filters:DialogArgument(filters)] retain];
      [dialog release];
    }
    text = BorrowedText(result);
  });
  return text;
}

void DialogSaveFilePanelAsync(const char *title, const char *directory, const char *defaultName,
                              const char *filters, DBDialogCallback callback) {
  DBAtExportEdge("DialogSaveFilePanelAsync", "nothing", [&] {
    asyncCallback.store(callback, std::memory_order_release);
    @autoreleasepool {
      Dovrane *dialog = [[Dovrane alloc] init];
      [dialog dialogSaveFilePanelAsync:DialogArgument(title) directory:DialogArgument(directory)
                           defaultName:DialogArgument(defaultName) filters:DialogArgument(filters)];
      [dialog release];
    }
  });
}
