// Player: the sample host. A small application whose delegate is a PlayerAppDelegate and whose main
// window's content view is a PlayerWindowView; it loads DesktopBridge at start and prints every
// event the plug-in raises as one line of its event log (standard output).
//
// Options: see kUsage below (--help prints it with the tour's steps).
#import <AppKit/AppKit.h>

#include "BridgeAPI.h"
#include "EventLog.h"
#include "SecondInstance.h"
#include "tour/Tour.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#ifndef PLAYER_DEFAULT_BUNDLE
#define PLAYER_DEFAULT_BUNDLE "DesktopBridge.bundle"
#endif
#ifndef PLAYER_DEFAULT_TOUR_OUTPUT
#define PLAYER_DEFAULT_TOUR_OUTPUT "tour"
#endif

static const char kUsage[] =
    "usage: Player [options]   (options are user defaults: -Name value)\n"
    "  -PlayerBundle PATH          the DesktopBridge.bundle to load (default: the one built beside it)\n"
    "  -PlayerQuitAfterLaunch YES  quit once launched (for scripted runs)\n"
    "  -PlayerTour YES             run the guided tour of every facility, then quit (exit status 0\n"
    "                              when every step passed)\n"
    "  -PlayerTourOutput DIR       where the tour leaves its screenshots and index.html\n"
    "  -PlayerInteractive YES      the tour's dialogs wait for the person; the host stays open after it\n"
    "  -PlayerTourSteps \"a b\"      run only the tour steps with these names\n"
    "  -GSFilePath FILE            ask the host to open FILE at launch (GNUstep; on macOS -NSOpen FILE,\n"
    "                              or `open -a Player.app FILE`, which sends the request as an event)\n"
    "  --help                      print this and the tour's steps, and quit\n";

static BridgeAPI bridge;
static int exitStatus;

@interface PlayerWindowView : NSView {
  NSString *_status;
  BOOL _hasDrop;
  NSPoint _drop;  // in the window's base coordinates
}
- (void)setStatus:(NSString *)status;
- (void)markDropAt:(NSPoint)point;
@end

static PlayerWindowView *mainView(void) {
  for (NSWindow *window in [NSApp windows]) {
    id view = [window contentView];
    if ([view isKindOfClass:[PlayerWindowView class]]) return view;
  }
  return nil;
}

static void showStatus(NSString *status) { [mainView() setStatus:status]; }

#pragma mark - Callbacks

static void onMenuSelected(const char *tag, const char *title) {
  EventLog("menu selected: tag=%s title=\"%s\"", tag ? tag : "(null)", title ? title : "(null)");
}
static void onDragEnter(void) { EventLog("drag entered"); }
static void onDragExit(void) { EventLog("drag exited"); }
static void onDragDrop(int x, int y, const char *paths) {
  EventLog("drop at x=%d y=%d", x, y);
  EventLogPaths("  dropped", paths);
  PlayerWindowView *view = mainView();
  CGFloat scale = [[view window] backingScaleFactor];
  [view markDropAt:NSMakePoint(x / (scale > 0 ? scale : 1), y / (scale > 0 ? scale : 1))];
  NSUInteger count = paths ? [[[NSString stringWithUTF8String:paths]
                                 componentsSeparatedByString:[NSString stringWithFormat:@"%c", DB_LIST_SEPARATOR]] count]
                           : 0;
  NSString *first = paths ? [[[NSString stringWithUTF8String:paths] lastPathComponent] description] : @"nothing";
  showStatus(count > 1 ? [NSString stringWithFormat:@"Dropped %lu files at (%d, %d)", (unsigned long)count, x, y]
                       : [NSString stringWithFormat:@"Dropped %@ at (%d, %d)", first, x, y]);
}
static bool fileOpened;  // an open-file request reached the host

static void onOpenFile(const char *path) {
  fileOpened = true;
  EventLog("open file: %s", path ? path : "(null)");
  if (path) showStatus([NSString stringWithFormat:@"Opened %s", path]);
}

#pragma mark - Host classes

@implementation PlayerWindowView
- (void)setStatus:(NSString *)status {
  [_status release];
  _status = [status copy];
  [self setNeedsDisplay:YES];
}

- (void)markDropAt:(NSPoint)point {
  _hasDrop = YES;
  _drop = point;
  [self setNeedsDisplay:YES];
}

- (void)drawRect:(NSRect)dirtyRect {
  [[NSColor colorWithCalibratedRed:0.16 green:0.18 blue:0.22 alpha:1.0] set];
  NSRectFill(dirtyRect);
  NSDictionary *attributes = [NSDictionary dictionaryWithObjectsAndKeys:[NSFont systemFontOfSize:18],
                                           NSFontAttributeName, [NSColor whiteColor],
                                           NSForegroundColorAttributeName, nil];
  [@"Player: drop files here" drawAtPoint:NSMakePoint(24, [self bounds].size.height / 2) withAttributes:attributes];
  if (_status) {
    NSDictionary *small = [NSDictionary dictionaryWithObjectsAndKeys:[NSFont systemFontOfSize:13], NSFontAttributeName,
                                        [NSColor colorWithCalibratedRed:0.6 green:0.85 blue:1.0 alpha:1.0],
                                        NSForegroundColorAttributeName, nil];
    [_status drawAtPoint:NSMakePoint(24, [self bounds].size.height / 2 - 32) withAttributes:small];
  }
  if (_hasDrop) {
    NSPoint at = [self convertPoint:_drop fromView:nil];
    [[NSColor colorWithCalibratedRed:1.0 green:0.75 blue:0.2 alpha:1.0] set];
    [[NSBezierPath bezierPathWithOvalInRect:NSMakeRect(at.x - 6, at.y - 6, 12, 12)] fill];
  }
}

- (void)dealloc {
  [_status release];
  [super dealloc];
}
@end

@interface PlayerAppDelegate : NSObject <NSApplicationDelegate> {
  NSWindow *_window;
}
@end

@implementation PlayerAppDelegate
- (void)applicationWillFinishLaunching:(NSNotification *)notification {
  _window = [[NSWindow alloc] initWithContentRect:NSMakeRect(120, 120, 640, 400)
                                        styleMask:NSWindowStyleMaskTitled | NSWindowStyleMaskClosable |
                                                  NSWindowStyleMaskMiniaturizable | NSWindowStyleMaskResizable
                                          backing:NSBackingStoreBuffered
                                            defer:NO];
  [_window setTitle:@"Player"];
  PlayerWindowView *view = [[PlayerWindowView alloc] initWithFrame:NSMakeRect(0, 0, 640, 400)];
  [_window setContentView:view];
  [view release];
}

- (void)applicationDidFinishLaunching:(NSNotification *)notification {
  [_window makeKeyAndOrderFront:nil];
  [_window makeMainWindow];
  // The window made main here: [NSApp mainWindow] stays nil while the application is inactive.
  EventLog("launched: main window \"%s\"", [[_window title] UTF8String]);
  NSUserDefaults *defaults = [NSUserDefaults standardUserDefaults];
  if ([defaults boolForKey:@"PlayerTour"]) {
    [self performSelector:@selector(runTour:) withObject:nil afterDelay:0.3];
  } else if ([defaults boolForKey:@"PlayerQuitAfterLaunch"]) {
    [self performSelector:@selector(quitOnceOpened:) withObject:[NSDate dateWithTimeIntervalSinceNow:10] afterDelay:0.0];
  }
}

// Quits, once a file to open given at launch has arrived: macOS sends -NSOpen's file as an event,
// which may come after launching ends. Ten seconds at most.
- (void)quitOnceOpened:(NSDate *)limit {
  NSUserDefaults *defaults = [NSUserDefaults standardUserDefaults];
  bool fileGiven = [defaults stringForKey:@"NSOpen"] != nil || [defaults stringForKey:@"GSFilePath"] != nil;
  if (fileGiven && !fileOpened && [limit timeIntervalSinceNow] > 0) {
    [self performSelector:@selector(quitOnceOpened:) withObject:limit afterDelay:0.05];
    return;
  }
  [NSApp terminate:nil];
}

- (void)runTour:(id)unused {
  NSUserDefaults *defaults = [NSUserDefaults standardUserDefaults];
  TourOptions options;
  options.bridge = &bridge;
  options.interactive = [defaults boolForKey:@"PlayerInteractive"];
  NSArray *only = TourStepNamesIn([defaults stringForKey:@"PlayerTourSteps"]);
  if ([only count]) options.only = only;
  NSString *output = [defaults stringForKey:@"PlayerTourOutput"];
  options.outputDirectory = [([output length] ? output : @PLAYER_DEFAULT_TOUR_OUTPUT) stringByStandardizingPath];
  exitStatus = RunTour(options);
  if (options.interactive) {
    EventLog("the tour is over: the host stays open (quit from its menu)");
  } else {
    [NSApp terminate:nil];
  }
}

- (void)applicationWillTerminate:(NSNotification *)notification {
  EventLog("quitting");
  if (exitStatus != 0) exit(exitStatus);
}

- (void)dealloc {
  [_window release];
  [super dealloc];
}
@end

#pragma mark - Start-up

static void onUncaughtException(NSException *exception) {
  fprintf(stderr, "player: uncaught exception %s: %s\n", [[exception name] UTF8String],
          [[exception reason] UTF8String]);
  _exit(70);
}

static NSMenu *makeMainMenu(void) {
  NSMenu *mainMenu = [[[NSMenu alloc] initWithTitle:@"Player"] autorelease];
  NSMenuItem *appItem = [[[NSMenuItem alloc] initWithTitle:@"Player" action:NULL keyEquivalent:@""] autorelease];
  NSMenu *appMenu = [[[NSMenu alloc] initWithTitle:@"Player"] autorelease];
  [appMenu addItemWithTitle:@"Quit" action:@selector(terminate:) keyEquivalent:@"q"];
  [appItem setSubmenu:appMenu];
  [mainMenu addItem:appItem];
  return mainMenu;
}

static NSString *bundlePath(void) {
  NSString *path = [[NSUserDefaults standardUserDefaults] stringForKey:@"PlayerBundle"];
  if ([path length] > 0) return path;
  const char *env = getenv("DESKTOPBRIDGE_BUNDLE");
  if (env && *env) return [NSString stringWithUTF8String:env];
  return @PLAYER_DEFAULT_BUNDLE;
}

// A second instance started by the tour (through launchApp) reports its process id and quits.
static bool reportAsSecondInstance(void) {
  NSString *report = HandedOverReportPath();
  if (report == nil) return false;
  FILE *file = fopen([report fileSystemRepresentation], "w");
  if (file) {
    fprintf(file, "pid %d, started with %lu argument(s)\n", (int)getpid(),
            (unsigned long)[[[NSProcessInfo processInfo] arguments] count] - 1);
    fclose(file);
  }
  return true;
}

// What the bundle added to the host's classes while it loaded.
static void logGraftedHandlers(void) {
  NSMutableArray *found = [NSMutableArray array];
  for (NSString *selector in @[@"applicationDockMenu:", @"application:openFile:"]) {
    if ([PlayerAppDelegate instancesRespondToSelector:NSSelectorFromString(selector)])
      [found addObject:[@"PlayerAppDelegate " stringByAppendingString:selector]];
  }
  for (NSString *selector in @[@"draggingEntered:", @"draggingExited:", @"prepareForDragOperation:", @"performDragOperation:"]) {
    if ([PlayerWindowView instancesRespondToSelector:NSSelectorFromString(selector)])
      [found addObject:[@"PlayerWindowView " stringByAppendingString:selector]];
  }
  EventLog("handlers grafted onto the host: %s",
           [found count] ? [[found componentsJoinedByString:@", "] UTF8String] : "none");
}

// Without a handler for open-file requests, GNUstep answers a request at launch with a modal alert;
// a host whose bundle grafted none drops the request instead.
static void dropUnservedLaunchRequest(void) {
  NSUserDefaults *defaults = [NSUserDefaults standardUserDefaults];
  NSDictionary *arguments = [defaults volatileDomainForName:NSArgumentDomain];
  NSString *path = [arguments objectForKey:kPlayerOpenAtLaunchOption];
  if (path == nil || [PlayerAppDelegate instancesRespondToSelector:@selector(application:openFile:)]) return;
  NSMutableDictionary *rest = [[arguments mutableCopy] autorelease];
  [rest removeObjectForKey:kPlayerOpenAtLaunchOption];
  [defaults removeVolatileDomainForName:NSArgumentDomain];
  [defaults setVolatileDomain:rest forName:NSArgumentDomain];
  EventLog("open-file request at launch for %s dropped: no open-file handler", [path fileSystemRepresentation]);
}

static void printUsage(FILE *out) {
  fputs(kUsage, out);
  fputs("The tour's steps (names for -PlayerTourSteps):\n", out);
  PrintTourSteps(out);
}

// A tour limited to steps that do not exist would run nothing and pass: refuse it before starting.
static bool tourStepsAreKnown(void) {
  NSArray *unknown = UnknownTourSteps(TourStepNamesIn([[NSUserDefaults standardUserDefaults] stringForKey:@"PlayerTourSteps"]));
  if ([unknown count] == 0) return true;
  fprintf(stderr, "player: no tour step named %s\n", [[unknown componentsJoinedByString:@", "] UTF8String]);
  printUsage(stderr);
  return false;
}

int main(int argc, const char **argv) {
  setvbuf(stdout, NULL, _IOLBF, 0);
  // Handled before the application starts, which would take a positional argument for a file to open.
  for (int i = 1; i < argc; i++) {
    if (strcmp(argv[i], "--help") == 0 || strcmp(argv[i], "-h") == 0) {
      printUsage(stdout);
      return 0;
    }
  }
  @autoreleasepool {
    if (!tourStepsAreKnown()) return 2;
    [NSApplication sharedApplication];
    NSSetUncaughtExceptionHandler(onUncaughtException);
    if (reportAsSecondInstance()) return 0;

    // The host's classes exist before the bundle loads, so the plug-in can graft its handlers onto them.
    NSString *path = bundlePath();
    if (!LoadBridge([path fileSystemRepresentation], &bridge)) return 1;
    EventLog("bundle loaded: %s", [path fileSystemRepresentation]);
    bridge.setMenuCallback(onMenuSelected);
    bridge.setDragDropCallback(onDragEnter, onDragExit, onDragDrop);
    bridge.setOpenFileCallback(onOpenFile);
    logGraftedHandlers();
    dropUnservedLaunchRequest();

    PlayerAppDelegate *delegate = [[PlayerAppDelegate alloc] init];
    [NSApp setDelegate:delegate];
    [NSApp setMainMenu:makeMainMenu()];
    [NSApp run];
    [delegate release];
  }
  return 0;
}
