#include "PanelDriver.h"

#include <ftw.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>

#include <deque>

#if defined(GNUSTEP)
// The panel's browser and name form are protected; a category reaches the browser.
@interface NSSavePanel (PanelDriverAccess)
- (NSBrowser *)panelDriverBrowser;
@end
@implementation NSSavePanel (PanelDriverAccess)
- (NSBrowser *)panelDriverBrowser {
  return _browser;
}
@end
#endif

namespace {

std::deque<PanelAnswer> answers;
int answered = 0;
int unexpected = 0;
int refused = 0;

#if defined(GNUSTEP)
const NSEventType kWakeEventType = NSApplicationDefined;  // GNUstep has no NSEventType* names
#else
const NSEventType kWakeEventType = NSEventTypeApplicationDefined;
#endif

// An application-defined event makes a modal loop look at its stop flag again.
void WakeModalLoop() {
  [NSApp postEvent:[NSEvent otherEventWithType:kWakeEventType location:NSZeroPoint modifierFlags:0
                                     timestamp:0 windowNumber:0 context:nil subtype:0 data1:0 data2:0]
           atStart:NO];
}

#if defined(GNUSTEP)
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
#endif

// Whether the panel can take the answer here, saying why not on standard error.
bool CanTake(NSSavePanel *panel, const PanelAnswer &answer) {
  const char *cannot = PanelDriverCannotDo(PanelAction::SelectFiles);
  if (cannot == nullptr || !answer.ok || answer.select.empty() || ![panel isKindOfClass:[NSOpenPanel class]])
    return true;
  fprintf(stderr, "panel driver: an answer that selects files, cancelled: %s\n", cannot);
  return false;
}

}  // namespace

const char *PanelDriverCannotDo(PanelAction action) {
  switch (action) {
    case PanelAction::SelectFiles:
#if defined(GNUSTEP)
      return nullptr;
#else
      // NSOpenPanel's documentation: since 10.15 the system draws every open panel in a process of
      // its own. A program may set the folder it shows (directoryURL) but no documented call selects
      // an item in it, and URLs is read-only, holding what the user chose there; choosing takes
      // events sent to that process, which needs accessibility access a test runner is not given.
      return "macOS (10.15 and later) draws open panels in a process of its own: a program can set the "
             "folder shown but no public API selects a file or folder there (URLs holds the user's choice "
             "only), and sending it events needs accessibility access a test runner does not have";
#endif
  }
  return nullptr;
}

namespace {

// Timings of the driver, in ticks of 50 ms. A panel drawn by another process (macOS) takes a while
// to become ready after it is on screen, and refuses a press until then.
const int kReadyTicks = 100;    // wait at most this long for a new panel to be visible and key
const int kRepressTicks = 10;   // press again when the panel is still up this long after a press
const int kGiveUpTicks = 100;   // an OK the panel has refused this long is counted as refused

// A panel the driver has met, while it may still be up: a nested panel can run on top of it, and
// it is not answered again once that one is gone.
struct MetPanel {
  NSSavePanel *panel;  // retained
  int ticks;           // ticks seen while it was the modal window
  bool answered;
  bool ok;             // the button it was answered with
  int pressedAt;       // ticks at the last press
  int firstPressAt;
};
std::vector<MetPanel> met;

void ForgetPanels(bool all) {
  NSWindow *modal = [NSApp modalWindow];
  for (auto it = met.begin(); it != met.end();) {
    if (all || (it->panel != modal && ![it->panel isVisible])) {
      [it->panel release];
      it = met.erase(it);
    } else {
      ++it;
    }
  }
}

// Ready for a press: on screen, and key unless this application is not active (macOS may leave a
// process started by a test runner inactive, and an inactive application has no key window).
bool Ready(NSSavePanel *panel) { return [panel isVisible] && ([panel isKeyWindow] || ![NSApp isActive]); }

// Presses the button the panel was answered with. The press may run a loop that ticks again and
// changes the list, so it comes after every change to the entry.
void Press(MetPanel &entry) {
  NSSavePanel *panel = entry.panel;
  bool ok = entry.ok;
  entry.pressedAt = entry.ticks;
  if (ok)
    [panel ok:nil];
  else
    [panel cancel:nil];
}

void Answer(MetPanel &entry) {
  NSSavePanel *panel = entry.panel;
  entry.answered = true;
  entry.ok = false;
  entry.firstPressAt = entry.ticks;
  if (answers.empty() || !CanTake(panel, answers.front())) {
    if (!answers.empty()) answers.pop_front();
    unexpected++;
  } else {
    PanelAnswer answer = answers.front();
    answers.pop_front();
    answered++;
    entry.ok = answer.ok;
    if (answer.inspect) answer.inspect(panel);
    for (int item : answer.picks) {
      NSPopUpButton *popUp = AccessoryPopUp(panel);
      [popUp selectItemAtIndex:item];
      [popUp sendAction:[popUp action] to:[popUp target]];
    }
    if (answer.afterPicks) answer.afterPicks(panel);
    BOOL isOpenPanel = [panel isKindOfClass:[NSOpenPanel class]];
#if defined(GNUSTEP)
    if (isOpenPanel && !answer.select.empty()) SelectInBrowser(panel, answer.select);
#endif
    if (!isOpenPanel && answer.name) [panel setNameFieldStringValue:[NSString stringWithUTF8String:answer.name]];
  }
  Press(entry);
}

}  // namespace

// Looks for a modal file panel every 50 ms while a modal loop runs, and keeps that loop awake. A new
// panel is answered once it is ready (or after kReadyTicks); a press it did not take is repeated
// while the panel stays up, and an OK still refused after kGiveUpTicks is counted and cancelled.
@interface PanelDriverTimer : NSObject
- (void)tick:(NSTimer *)timer;
@end

@implementation PanelDriverTimer

- (void)tick:(NSTimer *)timer {
  ForgetPanels(false);
  NSWindow *modal = [NSApp modalWindow];
  if ([modal isKindOfClass:[NSSavePanel class]]) {
    MetPanel *entry = nullptr;
    for (MetPanel &candidate : met)
      if (candidate.panel == modal) entry = &candidate;
    if (entry == nullptr) {
      met.push_back(MetPanel{(NSSavePanel *)[modal retain], 0, false, false, 0, 0});
      entry = &met.back();
    }
    entry->ticks++;
    if (!entry->answered) {
      if (Ready(entry->panel) || entry->ticks >= kReadyTicks) Answer(*entry);
    } else if (entry->ticks - entry->pressedAt >= kRepressTicks) {
      if (entry->ok && entry->ticks - entry->firstPressAt >= kGiveUpTicks) {
        refused++;
        entry->ok = false;
      }
      Press(*entry);
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
  DriverTimer();
  ForgetPanels(true);
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
#if defined(GNUSTEP)
      // GNUstep's run loop reports and drops what its sources raise.
      [[NSRunLoop currentRunLoop] runMode:NSDefaultRunLoopMode
                               beforeDate:[NSDate dateWithTimeIntervalSinceNow:0.05]];
#else
      // Apple's run loop lets it through; -[NSApplication run] would report it and go on.
      @try {
        [[NSRunLoop currentRunLoop] runMode:NSDefaultRunLoopMode
                                 beforeDate:[NSDate dateWithTimeIntervalSinceNow:0.05]];
      } @catch (NSException *exception) {
        if (NSApp != nil) [NSApp reportException:exception];
        else NSLog(@"%@: %@", [exception name], [exception reason]);
      }
#endif
    }
  }
  return done();
}

namespace {

#if defined(GNUSTEP)
NSInteger RaisingModalRun(id self, SEL _cmd, NSWindow *window) {
#else
NSInteger RaisingModalRun(id self, SEL _cmd) {
#endif
  [NSException raise:NSInternalInconsistencyException format:@"the window server went away"];
  return 0;
}

}  // namespace

PanelsRaiseWhenRun::PanelsRaiseWhenRun() {
#if defined(GNUSTEP)
  // GNUstep's panels all run through the application's modal loop.
  Method run = class_getInstanceMethod([NSApplication class], @selector(runModalForWindow:));
  patched_.push_back({run, method_setImplementation(run, (IMP)RaisingModalRun)});
#else
  // The classes the factories hand out may be private subclasses with a -runModal of their own.
  @autoreleasepool {
    for (Class cls : {object_getClass([NSOpenPanel openPanel]), object_getClass([NSSavePanel savePanel])}) {
      Method run = class_getInstanceMethod(cls, @selector(runModal));
      bool done = run == NULL;
      for (const auto &entry : patched_) done = done || entry.first == run;
      if (!done) patched_.push_back({run, method_setImplementation(run, (IMP)RaisingModalRun)});
    }
  }
#endif
}

PanelsRaiseWhenRun::~PanelsRaiseWhenRun() {
  for (auto entry = patched_.rbegin(); entry != patched_.rend(); ++entry) method_setImplementation(entry->first, entry->second);
}

PanelTypes AllowedTypes(NSSavePanel *panel) {
  NSArray *types = [panel allowedFileTypes];
  bool mapped = false;
#if defined(__APPLE__)
  NSOperatingSystemVersion twelve = {12, 0, 0};
  mapped = [[NSProcessInfo processInfo] isOperatingSystemAtLeastVersion:twelve];
#endif
  return PanelTypes{types ? ToStrings(types) : std::vector<std::string>{"(all)"}, mapped};
}

bool operator==(const PanelTypes &read, const std::vector<std::string> &set) {
  if (read.types == set || !read.mapped) return read.types == set;
  bool unrestricted = set == std::vector<std::string>{"(all)"};
  return unrestricted ? read.types == set : !read.types.empty() && read.types != std::vector<std::string>{"(all)"};
}

void PrintTo(const PanelTypes &read, std::ostream *out) {
  *out << "{";
  for (size_t i = 0; i < read.types.size(); i++) *out << (i ? ", \"" : "\"") << read.types[i] << "\"";
  *out << "}" << (read.mapped ? " (possibly mapped onto content types)" : "");
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
    for (const std::string &path : paths) nftw(path.c_str(), RemoveEntry, 16, FTW_DEPTH | FTW_PHYS);
  }
  static int RemoveEntry(const char *path, const struct stat *, int, struct FTW *) {
    remove(path);
    return 0;
  }
};
TemporaryDirectories temporaryDirectories;
}  // namespace

std::string MakeTemporaryDirectory(const std::vector<std::string> &files) {
  std::string pattern = std::string([NSTemporaryDirectory() fileSystemRepresentation]) + "/db-dialogs-XXXXXX";
  if (mkdtemp(&pattern[0]) == NULL) return "";
  // The path as panels give it back: without symbolic links (macOS's temporary folder is under
  // /var, a link to /private/var) or doubled slashes.
  char resolved[PATH_MAX];
  std::string directory = realpath(pattern.c_str(), resolved) ? resolved : pattern;
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
