#include "PanelDriver.h"

#include "EventLog.h"

#ifdef GNUSTEP
// GNUstep's panels keep their file browser in a protected field; a person selects files there.
@interface NSSavePanel (TourBrowserAccess)
- (NSBrowser *)tourBrowser;
@end
@implementation NSSavePanel (TourBrowserAccess)
- (NSBrowser *)tourBrowser { return _browser; }
@end
#endif

static const NSTimeInterval kTick = 0.1;
static const int kTicksToDraw = 4;          // the panel is drawn before it is photographed
static const int kTicksBeforeGivingUp = 20; // an OK the panel refused: cancel instead

static NSString *joined(NSArray *items) {
  return items == nil ? @"any" : [NSString stringWithFormat:@"[%@]", [items componentsJoinedByString:@", "]];
}

static NSPopUpButton *accessoryPopUp(NSSavePanel *panel, NSTextField **label) {
  NSPopUpButton *popUp = nil;
  for (NSView *view in [[panel accessoryView] subviews]) {
    if ([view isKindOfClass:[NSPopUpButton class]]) popUp = (NSPopUpButton *)view;
    else if (label && [view isKindOfClass:[NSTextField class]]) *label = (NSTextField *)view;
  }
  return popUp;
}

std::string DescribePanel(NSSavePanel *panel) {
  BOOL isOpen = [panel isKindOfClass:[NSOpenPanel class]];
  NSMutableString *text = [NSMutableString string];
  if (isOpen) {
    NSOpenPanel *open = (NSOpenPanel *)panel;
    [text appendFormat:@"%@ panel", [open canChooseDirectories] && ![open canChooseFiles] ? @"folder" : @"open"];
    if ([open allowsMultipleSelection]) [text appendString:@" (multiple selection)"];
  } else {
    [text appendFormat:@"save panel, name \"%@\"", [panel nameFieldStringValue]];
  }
  [text appendFormat:@", in %@, file types %@", [[panel directoryURL] path], joined([panel allowedFileTypes])];
  NSTextField *label = nil;
  NSPopUpButton *popUp = accessoryPopUp(panel, &label);
  if (popUp) {
    [text appendFormat:@", \"%@\" pop-up [%@] showing \"%@\"", label ? [label stringValue] : @"",
                       [[popUp itemTitles] componentsJoinedByString:@" | "], [popUp titleOfSelectedItem]];
  } else {
    [text appendString:@", no file-type pop-up"];
  }
  return [text UTF8String];
}

static void wakeModalLoop(void) {
  // The modal loop looks at its stop flag only when an event arrives.
  [NSApp postEvent:[NSEvent otherEventWithType:NSApplicationDefined location:NSZeroPoint modifierFlags:0
                                     timestamp:0 windowNumber:0 context:nil subtype:0 data1:0 data2:0]
           atStart:NO];
}

const char *TourPanelsCannotSelect(void) {
#ifdef GNUSTEP
  return NULL;
#else
  return "macOS draws its open panels out of process: no public API selects a file or folder in one";
#endif
}

// Selects the paths in the panel's browser, as clicks (shift-clicks for more) would.
static bool selectPaths(NSSavePanel *panel, const std::vector<std::string> &paths) {
#ifdef GNUSTEP
  if (paths.empty()) return false;
  NSBrowser *browser = [panel tourBrowser];
  [browser setPath:[NSString stringWithUTF8String:paths[0].c_str()]];
  if (paths.size() == 1) return true;
  NSMatrix *matrix = [browser matrixInColumn:[browser lastColumn]];
  NSMutableSet *names = [NSMutableSet set];
  for (const std::string &path : paths) [names addObject:[[NSString stringWithUTF8String:path.c_str()] lastPathComponent]];
  NSArray *cells = [matrix cells];
  for (NSUInteger row = 0; row < [cells count]; row++) {
    NSCell *cell = [cells objectAtIndex:row];
    BOOL wanted = [names containsObject:[cell stringValue]];
    if (wanted != ([cell state] == NSOnState)) {
      [matrix setSelectionFrom:row to:row anchor:row highlight:wanted];
    }
  }
  return [[matrix selectedCells] count] == paths.size();
#else
  return false;  // TourPanelsCannotSelect() says why
#endif
}

@implementation TourPanelDriver

- (id)initWithStep:(TourStepContext *)step answer:(const PanelAnswer &)answer watchOnly:(BOOL)watchOnly {
  if ((self = [super init])) {
    _step = step;
    _answer = new PanelAnswer(answer);
    _watchOnly = watchOnly;
    _timer = [[NSTimer timerWithTimeInterval:kTick target:self selector:@selector(tick:) userInfo:nil
                                     repeats:YES] retain];
    [[NSRunLoop currentRunLoop] addTimer:_timer forMode:NSDefaultRunLoopMode];
    [[NSRunLoop currentRunLoop] addTimer:_timer forMode:NSModalPanelRunLoopMode];
  }
  return self;
}

- (void)stop {
  [_timer invalidate];
  [_timer release];
  _timer = nil;
}

- (void)dealloc {
  [self stop];
  [_panel release];
  delete _answer;
  [super dealloc];
}

- (void)pickInPopUp {
  NSPopUpButton *popUp = accessoryPopUp(_panel, NULL);
  if (!_step->Check(popUp != nil && _answer->popUpPick < [popUp numberOfItems], "the panel has a pop-up entry %d",
                    _answer->popUpPick))
    return;
  [popUp selectItemAtIndex:_answer->popUpPick];
  [popUp sendAction:[popUp action] to:[popUp target]];  // what the pop-up does when a person picks
  if ([_panel isKindOfClass:[NSOpenPanel class]]) {
    EventLog("picked \"%s\" in the pop-up: file types now %s", [[popUp titleOfSelectedItem] UTF8String],
             [joined([_panel allowedFileTypes]) UTF8String]);
  } else {
    EventLog("picked \"%s\" in the pop-up: name now \"%s\", file types %s", [[popUp titleOfSelectedItem] UTF8String],
             [[_panel nameFieldStringValue] UTF8String], [joined([_panel allowedFileTypes]) UTF8String]);
  }
}

- (void)answer {
  if (_answer->cancel) {
    EventLog("pressing Cancel");
    [_panel cancel:nil];
    return;
  }
  if ([_panel isKindOfClass:[NSOpenPanel class]]) {
    bool selected = selectPaths(_panel, _answer->choose);
    _step->Check(selected, "the panel selected the %zu chosen item(s)", _answer->choose.size());
    if (_answer->choose.size() > 1) _step->Shot("selected", "The chosen items selected, before OK");
    std::string names;
    for (const std::string &path : _answer->choose) {
      names += (names.empty() ? "" : ", ") + path.substr(path.find_last_of('/') + 1);
    }
    EventLog("choosing %s, pressing OK", names.c_str());
  } else {
    if (!_answer->saveName.empty()) [_panel setNameFieldStringValue:[NSString stringWithUTF8String:_answer->saveName.c_str()]];
    EventLog("saving as \"%s\", pressing OK", [[_panel nameFieldStringValue] UTF8String]);
  }
  [_panel ok:nil];
}

- (void)tick:(NSTimer *)timer {
  switch (_state) {
    case 0: {  // waiting for the panel
      NSWindow *modal = [NSApp modalWindow];
      if ([modal isKindOfClass:[NSSavePanel class]] && [modal isVisible]) {
        _panel = (NSSavePanel *)[modal retain];
        _state = 1;
        _ticks = 0;
      }
      break;
    }
    case 1:  // on screen: photograph it, then answer
      if (++_ticks < kTicksToDraw) break;
      EventLog("panel shown: %s", DescribePanel(_panel).c_str());
      _step->Shot("panel", "The panel as it is shown");
      if (_watchOnly) {
        EventLog("interactive: the panel waits for you");
        [self stop];
        return;
      }
      if (_answer->popUpPick >= 0) {
        [self pickInPopUp];
        _step->Shot("picked", "After a pick in the file-type pop-up");
      }
      [self answer];
      _state = 2;
      _ticks = 0;
      wakeModalLoop();
      break;
    case 2:  // answered: keep waking the modal loop until the panel is gone
      wakeModalLoop();
      if ([NSApp modalWindow] != _panel) break;
      if (++_ticks == kTicksBeforeGivingUp) {
        _step->Check(false, "the panel took the answer");
        [_panel cancel:nil];
      }
      break;
  }
}

@end
