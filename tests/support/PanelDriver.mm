#include "PanelDriver.h"

#include <stdlib.h>

#include <deque>
#include <filesystem>

// The panel's browser and name form are protected; a category reaches the browser.
@interface NSSavePanel (PanelDriverAccess)
- (NSBrowser *)panelDriverBrowser;
@end
@implementation NSSavePanel (PanelDriverAccess)
- (NSBrowser *)panelDriverBrowser {
  return _browser;
}
@end

namespace {

std::deque<PanelAnswer> answers;
int answered = 0;
int unexpected = 0;
int refused = 0;

// An application-defined event makes a modal loop look at its stop flag again.
void WakeModalLoop() {
  [NSApp postEvent:[NSEvent otherEventWithType:NSApplicationDefined location:NSZeroPoint modifierFlags:0
                                     timestamp:0 windowNumber:0 context:nil subtype:0 data1:0 data2:0]
           atStart:NO];
}

void SelectInBrowser(NSSavePanel *panel, const std::vector<std::string> &paths) {
  NSBrowser *browser = [panel panelDriverBrowser];
  [browser setPath:[NSString stringWithUTF8String:paths[0].c_str()]];
  if (paths.size() < 2) return;
  NSMatrix *matrix = [browser matrixInColumn:[browser lastColumn]];
  NSInteger low = -1, high = -1;
  for (const std::string &path : paths) {
    NSString *name = [[NSString stringWithUTF8String:path.c_str()] lastPathComponent];
    for (NSInteger row = 0; row < [matrix numberOfRows]; row++) {
      if (![[[matrix cellAtRow:row column:0] stringValue] isEqualToString:name]) continue;
      if (low < 0 || row < low) low = row;
      if (row > high) high = row;
    }
  }
  if (low >= 0) [matrix setSelectionFrom:low to:high anchor:low highlight:YES];
}

}  // namespace

// Looks for a modal file panel every 50 ms while a modal loop runs, and keeps that loop awake.
@interface PanelDriverTimer : NSObject {
 @public
  NSSavePanel *current;  // retained: the panel answered last, while it may still be up
  int ticksSinceAnswer;
}
- (void)tick:(NSTimer *)timer;
@end

@implementation PanelDriverTimer

- (void)tick:(NSTimer *)timer {
  NSWindow *modal = [NSApp modalWindow];
  if (current != nil && modal != current) {
    [current release];
    current = nil;
  }
  if (current != nil) {
    if (++ticksSinceAnswer == 30) {  // OK was refused: the panel is still up after 1.5 s
      refused++;
      [current cancel:nil];
    }
  } else if ([modal isKindOfClass:[NSSavePanel class]]) {
    NSSavePanel *panel = (NSSavePanel *)modal;
    current = [panel retain];
    ticksSinceAnswer = 0;
    if (answers.empty()) {
      unexpected++;
      [panel cancel:nil];
    } else {
      PanelAnswer answer = answers.front();
      answers.pop_front();
      answered++;
      if (answer.inspect) answer.inspect(panel);
      for (int item : answer.picks) {
        NSPopUpButton *popUp = AccessoryPopUp(panel);
        [popUp selectItemAtIndex:item];
        [popUp sendAction:[popUp action] to:[popUp target]];
      }
      if (answer.afterPicks) answer.afterPicks(panel);
      BOOL isOpenPanel = [panel isKindOfClass:[NSOpenPanel class]];
      if (isOpenPanel && !answer.select.empty()) SelectInBrowser(panel, answer.select);
      if (!isOpenPanel && answer.name) [panel setNameFieldStringValue:[NSString stringWithUTF8String:answer.name]];
      if (answer.ok)
        [panel ok:nil];
      else
        [panel cancel:nil];
    }
  }
  if (modal != nil) WakeModalLoop();
}

@end

static PanelDriverTimer *DriverTimer() {
  static PanelDriverTimer *driver = nil;
  if (driver == nil) {
    driver = [[PanelDriverTimer alloc] init];
    NSTimer *timer = [NSTimer timerWithTimeInterval:0.05 target:driver selector:@selector(tick:) userInfo:nil
                                            repeats:YES];
    [[NSRunLoop currentRunLoop] addTimer:timer forMode:NSModalPanelRunLoopMode];
  }
  return driver;
}

void QueuePanelAnswer(const PanelAnswer &answer) {
  DriverTimer();
  answers.push_back(answer);
}

int PanelsAnswered() { return answered; }
int UnexpectedPanels() { return unexpected; }
int RefusedOKs() { return refused; }

void ResetPanelDriver() {
  PanelDriverTimer *driver = DriverTimer();
  [driver->current release];
  driver->current = nil;
  answers.clear();
  answered = unexpected = refused = 0;
}

bool RunMainLoopUntil(const std::function<bool()> &done, double seconds) {
  DriverTimer();
  // Programs run under a slow instrumentation (the leak checks' full unwinding of every
  // allocation) stretch their waits by DB_TEST_TIME_SCALE.
  const char *scale = getenv("DB_TEST_TIME_SCALE");
  if (scale != NULL && atof(scale) > 1.0) seconds *= atof(scale);
  NSDate *limit = [NSDate dateWithTimeIntervalSinceNow:seconds];
  while (!done() && [limit timeIntervalSinceNow] > 0) {
    @autoreleasepool {
      [[NSRunLoop currentRunLoop] runMode:NSDefaultRunLoopMode
                               beforeDate:[NSDate dateWithTimeIntervalSinceNow:0.05]];
    }
  }
  return done();
}

NSPopUpButton *AccessoryPopUp(NSSavePanel *panel) {
  for (NSView *view in [[panel accessoryView] subviews])
    if ([view isKindOfClass:[NSPopUpButton class]]) return (NSPopUpButton *)view;
  return nil;
}

namespace {
// Removes the directories made for a program's tests when the program ends.
struct TemporaryDirectories {
  std::vector<std::string> paths;
  ~TemporaryDirectories() {
    std::error_code ignored;
    for (const std::string &path : paths) std::filesystem::remove_all(path, ignored);
  }
};
TemporaryDirectories temporaryDirectories;
}  // namespace

std::string MakeTemporaryDirectory(const std::vector<std::string> &files) {
  std::string pattern = std::string([NSTemporaryDirectory() fileSystemRepresentation]) + "/db-dialogs-XXXXXX";
  if (mkdtemp(&pattern[0]) == NULL) return "";
  std::string directory = pattern;
  temporaryDirectories.paths.push_back(directory);
  for (const std::string &file : files) {
    NSString *path = [NSString stringWithUTF8String:(directory + "/" + file).c_str()];
    [[NSData data] writeToFile:path atomically:NO];
  }
  return directory;
}

namespace {
NSString *panelsStartIn = nil;
Method openFactory = NULL, saveFactory = NULL;
IMP originalOpenFactory = NULL, originalSaveFactory = NULL;

id StartedIn(NSSavePanel *panel) {
  [panel setDirectoryURL:[NSURL fileURLWithPath:panelsStartIn]];
  return panel;
}
id OpenPanelStartingIn(id self, SEL _cmd) { return StartedIn(((id (*)(id, SEL))originalOpenFactory)(self, _cmd)); }
id SavePanelStartingIn(id self, SEL _cmd) { return StartedIn(((id (*)(id, SEL))originalSaveFactory)(self, _cmd)); }
}  // namespace

PanelsStartIn::PanelsStartIn(const std::string &directory) {
  panelsStartIn = [[NSString alloc] initWithUTF8String:directory.c_str()];
  openFactory = class_getClassMethod([NSOpenPanel class], @selector(openPanel));
  saveFactory = class_getClassMethod([NSSavePanel class], @selector(savePanel));
  originalOpenFactory = method_setImplementation(openFactory, (IMP)OpenPanelStartingIn);
  originalSaveFactory = method_setImplementation(saveFactory, (IMP)SavePanelStartingIn);
}

PanelsStartIn::~PanelsStartIn() {
  method_setImplementation(openFactory, originalOpenFactory);
  method_setImplementation(saveFactory, originalSaveFactory);
  [panelsStartIn release];
  panelsStartIn = nil;
}

std::string StartDirectory(NSSavePanel *panel) {
  return ToString([[[panel directoryURL] path] stringByStandardizingPath]);
}

std::string ToString(NSString *string) { return string ? std::string([string UTF8String]) : std::string("(nil)"); }

std::vector<std::string> ToStrings(NSArray *strings) {
  std::vector<std::string> result;
  for (id item in strings) result.push_back(ToString([item description]));
  return result;
}
