// A host for the tests of the handlers grafted at load. It defines its own "PlayerAppDelegate" and,
// unless built with GRAFT_HOST_VIEW=0, "PlayerWindowView" (none of the six handler selectors), loads
// the bundle with dlopen and prints, one line each on standard output, what the bundle logged while
// loading and what reaches its callbacks. Built in variants (GraftHosts.cmake):
//   GRAFT_HOST_VIEW=0        no view class
//   GRAFT_HOST_CUSTOM=1      the delegate defines applicationDockMenu: itself and only inherits
//                            application:openFile: from PlayerBaseDelegate
//   GRAFT_HOST_OWN_NAMES=1   the classes are "GameDelegate" and "GameView", which the host names
//                            with attachHostClasses: in the load scenario before anything else
//                            (with the results of repeated, empty and wrong names), in the drag
//                            scenario once the application has launched and its view is on
//                            screen, in the launch scenario before it runs
// The scenario comes from the environment, GRAFT_HOST_SCENARIO:
//   load     what the classes answer after loading (the default)
//   drag     drags and drops on the real main view through a dragging-information object
//   launch   runs the application: an open-file request at launch reaches the delegate
//            (GRAFT_HOST_OPEN_CALLBACK=0: no open-file callback registered)
//   replace  replaceAppDelegateMethod:fromClass:savingOriginalTo: of greeting, with a source that has
//            no method under the save selector (GRAFT_HOST_REPLACE=placeholder: one that has)
#import <AppKit/AppKit.h>
#include "DesktopBridgeLoader.h"
#include "TestApplication.h"
#include "TourDragInfo.h"

#include <objc/runtime.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#ifndef GRAFT_HOST_VIEW
#define GRAFT_HOST_VIEW 1
#endif
#ifndef GRAFT_HOST_CUSTOM
#define GRAFT_HOST_CUSTOM 0
#endif
#ifndef GRAFT_HOST_OWN_NAMES
#define GRAFT_HOST_OWN_NAMES 0
#endif

#if GRAFT_HOST_OWN_NAMES
#define HOST_DELEGATE GameDelegate
#define HOST_VIEW GameView
#else
#define HOST_DELEGATE PlayerAppDelegate
#define HOST_VIEW PlayerWindowView
#endif
#define HOST_NAME_TEXT(name) #name
#define HOST_NAME(name) HOST_NAME_TEXT(name)

static void onUncaughtException(NSException *exception) {
  fprintf(stderr, "uncaught exception %s: %s\n", [[exception name] UTF8String], [[exception reason] UTF8String]);
  _exit(70);
}

static bool envIs(const char *name, const char *value) {
  const char *actual = getenv(name);
  return actual != NULL && strcmp(actual, value) == 0;
}

// A real pasteboard that holds several items without a file-names list, as a drag of several text
// clippings makes it on macOS. This toolkit's pasteboard holds one value per type, so the host turns
// one into this class, which reports two items, and writes the text they hold.
@interface SeveralItemsPasteboard : NSPasteboard
@end
@implementation SeveralItemsPasteboard
- (NSArray *)pasteboardItems {
  return [NSArray arrayWithObjects:[[[NSPasteboardItem alloc] init] autorelease],
                                   [[[NSPasteboardItem alloc] init] autorelease], nil];
}
@end

static DBExports bridge;  // the loaded plug-in's exports

#pragma mark - Host classes

#if GRAFT_HOST_CUSTOM
@interface PlayerBaseDelegate : NSObject
@end
@implementation PlayerBaseDelegate
- (BOOL)application:(NSApplication *)sender openFile:(NSString *)filename {
  printf("base delegate opens %s\n", [filename UTF8String]);
  return NO;
}
@end
#define DELEGATE_SUPERCLASS PlayerBaseDelegate
#else
#define DELEGATE_SUPERCLASS NSObject
#endif

@interface HOST_DELEGATE : DELEGATE_SUPERCLASS {
  NSMenu *_ownDockMenu;
}
- (NSString *)greeting;
@end

@implementation HOST_DELEGATE
- (NSString *)greeting {
  return @"host greeting";
}
#if GRAFT_HOST_CUSTOM
- (NSMenu *)applicationDockMenu:(NSApplication *)sender {
  if (_ownDockMenu == nil) _ownDockMenu = [[NSMenu alloc] initWithTitle:@"HostDock"];
  return _ownDockMenu;
}
#endif
- (void)applicationDidFinishLaunching:(NSNotification *)notification {
  // A file to open given at launch may arrive after launching ends (macOS sends -NSOpen's file as an
  // event): while one was given and has not arrived, wait for it, ten seconds at most.
  [self performSelector:@selector(finishOnceOpened:) withObject:[NSDate dateWithTimeIntervalSinceNow:10]
             afterDelay:0];
}
- (void)finishOnceOpened:(NSDate *)limit {
  const char *path = bridge.getOpenFilename();
  NSUserDefaults *defaults = [NSUserDefaults standardUserDefaults];
  bool fileGiven = [defaults stringForKey:@"NSOpen"] != nil || [defaults stringForKey:@"GSFilePath"] != nil;
  if (path == NULL && fileGiven && [limit timeIntervalSinceNow] > 0) {
    [self performSelector:@selector(finishOnceOpened:) withObject:limit afterDelay:0.05];
    return;
  }
  printf("launched: getOpenFilename=%s\n", path ? path : "(null)");
  printf("done\n");  // terminate: ends the process without returning
  [NSApp terminate:nil];
}
- (void)dealloc {
  [_ownDockMenu release];
  [super dealloc];
}
@end

#if GRAFT_HOST_VIEW
@interface HOST_VIEW : NSView
@end
@implementation HOST_VIEW
@end
#endif

// Sources for replaceAppDelegateMethod:fromClass:savingOriginalTo:. The replacement reaches the
// host's previous implementation under the save selector.
@interface GreetingReplacement : NSObject
- (NSString *)greeting;
- (NSString *)originalGreeting;
@end
@implementation GreetingReplacement
- (NSString *)greeting {
  if (![self respondsToSelector:@selector(originalGreeting)]) return @"replacement alone";
  return [@"replacement around " stringByAppendingString:[self originalGreeting]];
}
- (NSString *)originalGreeting {
  return @"placeholder";
}
@end

@interface GreetingReplacementWithoutPlaceholder : NSObject
- (NSString *)greeting;
@end
@implementation GreetingReplacementWithoutPlaceholder
- (NSString *)greeting {
  if (![self respondsToSelector:NSSelectorFromString(@"savedGreeting")]) return @"replacement alone";
  return @"replacement with a saved greeting";
}
@end

// The first window of this host, with the scale factor that the test asks for.
@interface ScaledWindow : NSWindow {
  CGFloat _scaleFactor;
}
- (void)setScaleFactor:(CGFloat)scaleFactor;
@end
@implementation ScaledWindow
- (void)setScaleFactor:(CGFloat)scaleFactor {
  _scaleFactor = scaleFactor;
}
- (CGFloat)backingScaleFactor {
  return _scaleFactor;
}
@end

#pragma mark - Loading

// Standard error goes to a file while the bundle loads, so that the load's log lines can be told
// apart from anything the toolkit writes later.
struct LogTrap {
  int savedFd;
  char path[64];
};

static void beginTrap(LogTrap *trap) {
  fflush(stderr);
  strcpy(trap->path, "/tmp/graft-host-log-XXXXXX");
  int fd = mkstemp(trap->path);
  trap->savedFd = dup(2);
  dup2(fd, 2);
  close(fd);
}

// Prints each trapped line as "log: MESSAGE", without NSLog's date and process prefix.
static void endTrap(LogTrap *trap) {
  fflush(stderr);
  dup2(trap->savedFd, 2);
  close(trap->savedFd);
  FILE *file = fopen(trap->path, "r");
  char line[1024];
  int count = 0;
  while (file && fgets(line, sizeof line, file)) {
    line[strcspn(line, "\n")] = 0;
    const char *message = strstr(line, "] ");
    printf("log: %s\n", message ? message + 2 : line);
    count++;
  }
  if (file) fclose(file);
  unlink(trap->path);
  printf("log lines: %d\n", count);
}

#pragma mark - Callbacks

static void printPaths(const char *paths) {
  if (paths == NULL) {
    printf("(null)");
    return;
  }
  for (const char *p = paths; *p; p++) {
    if (*p == DB_LIST_SEPARATOR) printf("<FS>");
    else putchar(*p);
  }
}
static void onDragEnter(void) { printf("  notify enter\n"); }
static void onDragExit(void) { printf("  notify exit\n"); }
static void onDragDrop(int x, int y, const char *paths) {
  printf("  notify drop x=%d y=%d paths=", x, y);
  printPaths(paths);
  printf("\n");
}
static void onOpenFile(const char *path) { printf("open-file callback: %s\n", path ? path : "(null)"); }

#pragma mark - Scenarios

static void reportResponders(void) {
  const char *delegateSelectors[] = {"applicationDockMenu:", "application:openFile:"};
  const char *viewSelectors[] = {"draggingEntered:", "draggingExited:", "prepareForDragOperation:",
                                 "performDragOperation:"};
  for (const char *name : delegateSelectors) {
    printf("%s answers %s: %s\n", HOST_NAME(HOST_DELEGATE), name,
           [HOST_DELEGATE instancesRespondToSelector:sel_registerName(name)] ? "yes" : "no");
  }
  Class view = NSClassFromString(@HOST_NAME(HOST_VIEW));
  for (const char *name : viewSelectors) {
    printf("%s answers %s: %s\n", HOST_NAME(HOST_VIEW), name,
           [view instancesRespondToSelector:sel_registerName(name)] ? "yes" : "no");
  }
}

// Names the host's own classes to the bundle, printing the result in hexadecimal.
static void attachOwnClasses(const char *when) {
#if GRAFT_HOST_OWN_NAMES
  int attached = bridge.attachHostClasses(HOST_NAME(HOST_DELEGATE), HOST_NAME(HOST_VIEW));
  printf("attached %s: 0x%x\n", when, attached);
#endif
}

#if GRAFT_HOST_OWN_NAMES
// attachHostClasses again, with nothing to name, with names the process does not know and with
// classes of the wrong kind; the lines the bundle logs meanwhile are printed.
static void attachAgainAndAmiss(void) {
  typedef int (*Attach)(const char *, const char *);
  Attach attach = bridge.attachHostClasses;
  LogTrap trap;
  beginTrap(&trap);
  int again = attach(HOST_NAME(HOST_DELEGATE), HOST_NAME(HOST_VIEW));
  int viewAlone = attach(NULL, HOST_NAME(HOST_VIEW));
  int nothing = attach(NULL, "");
  int unknown = attach("NoSuchDelegateClass", NULL);
  int delegateAsView = attach("", HOST_NAME(HOST_DELEGATE));
  endTrap(&trap);
  printf("attach again: 0x%x, view alone: 0x%x, nothing: 0x%x, unknown: 0x%x, delegate as view: 0x%x\n", again,
         viewAlone, nothing, unknown, delegateAsView);
}
#endif

static void scenarioLoad(void) {
#if GRAFT_HOST_OWN_NAMES
  reportResponders();
  attachOwnClasses("after load");
  attachAgainAndAmiss();
#endif
  reportResponders();
  id delegate = [[[HOST_DELEGATE alloc] init] autorelease];
  NSMenu *dockMenu = [delegate applicationDockMenu:NSApp];
  printf("dock menu: %s\n", [[dockMenu title] UTF8String]);
  printf("dock menu asked again is the same: %s\n", [delegate applicationDockMenu:NSApp] == dockMenu ? "yes" : "no");
  // An item added to the dock menu through the menu exports shows up in the menu the delegate gave.
  bridge.addMenuItem(0, 1, "Play", 7, "", -1, false);
  printf("dock menu items: %ld, tag 7 titled %s\n", (long)[dockMenu numberOfItems],
         [[[dockMenu itemWithTag:7] title] UTF8String]);

  BOOL opened = [delegate application:NSApp openFile:@"/tmp/graft host/first.mp3"];
  printf("delegate openFile: %s, getOpenFilename=%s\n", opened ? "YES" : "NO",
         bridge.getOpenFilename());
#if GRAFT_HOST_CUSTOM
  id base = [[[PlayerBaseDelegate alloc] init] autorelease];
  BOOL baseOpened = [base application:NSApp openFile:@"/tmp/graft host/second.mp3"];
  printf("base openFile: %s, getOpenFilename=%s\n", baseOpened ? "YES" : "NO",
         bridge.getOpenFilename());
#endif
}

static NSPasteboard *pasteboardWithFilenames(NSArray *filenames) {
  NSPasteboard *pasteboard = [NSPasteboard pasteboardWithUniqueName];
  [pasteboard declareTypes:[NSArray arrayWithObject:NSFilenamesPboardType] owner:nil];
  [pasteboard setPropertyList:filenames forType:NSFilenamesPboardType];
  return pasteboard;
}

// Files as a file manager's drag carries them on macOS: one pasteboard item per file, holding its
// file URL. GNUstep's pasteboard has neither items of its own nor a file-URL type: there the drag
// carries the file-names list, which the platform layer presents as such items.
static NSPasteboard *pasteboardWithFiles(NSArray *paths) {
#if defined(__APPLE__)
  NSPasteboard *pasteboard = [NSPasteboard pasteboardWithUniqueName];
  NSMutableArray *urls = [NSMutableArray array];
  for (NSString *path in paths) [urls addObject:[NSURL fileURLWithPath:path]];
  [pasteboard clearContents];
  [pasteboard writeObjects:urls];
  return pasteboard;
#else
  return pasteboardWithFilenames(paths);
#endif
}

static NSPasteboard *pasteboardWithText(NSString *text) {
  NSPasteboard *pasteboard = [NSPasteboard pasteboardWithUniqueName];
  [pasteboard declareTypes:[NSArray arrayWithObject:NSStringPboardType] owner:nil];
  [pasteboard setString:text forType:NSStringPboardType];
  return pasteboard;
}

// One drag as AppKit runs it on a destination: enters, leaves (or not), and drops.
static void drag(const char *name, NSView *view, NSPasteboard *pasteboard, NSPoint location, bool drop) {
  printf("case %s\n", name);
  TourDragInfo *info = [[TourDragInfo alloc] initWithPasteboard:pasteboard at:location inWindow:[view window]];
  NSDragOperation operation = [(id)view draggingEntered:info];
  printf("  entered -> %lu\n", (unsigned long)operation);
  if (drop) {
    printf("  prepare -> %s\n", [(id)view prepareForDragOperation:info] ? "YES" : "NO");
    printf("  perform -> %s\n", [(id)view performDragOperation:info] ? "YES" : "NO");
  } else {
    [(id)view draggingExited:info];
  }
  [info release];
  [pasteboard releaseGlobally];
}

static void scenarioDrag(void) {
  bridge.setDragDropCallback(onDragEnter, onDragExit, onDragDrop);
  [NSApp finishLaunching];
  ScaledWindow *window = [[ScaledWindow alloc] initWithContentRect:NSMakeRect(100, 100, 300, 200)
                                                         styleMask:NSWindowStyleMaskTitled
                                                           backing:NSBackingStoreBuffered
                                                             defer:NO];
  [window setScaleFactor:2.0];
  Class viewClass = NSClassFromString(@HOST_NAME(HOST_VIEW));
  NSView *view = [[viewClass alloc] initWithFrame:NSMakeRect(0, 0, 300, 200)];
  [window setContentView:view];
  [view release];
  [window makeKeyAndOrderFront:nil];
  [window makeMainWindow];
  // Named once the application has launched and the view is on screen.
  attachOwnClasses("after launching");
  // The first menu export creates the menu manager, which registers the main view for file drags.
  bridge.removeAllMenuItems(0, 1);
  NSArray *registered = [[view registeredDraggedTypes] sortedArrayUsingSelector:@selector(compare:)];
  printf("view registered for: %s\n", [[registered componentsJoinedByString:@","] UTF8String]);

  NSPoint here = NSMakePoint(10.3, 20.7);
  NSPasteboard *urlOnly = [NSPasteboard pasteboardWithUniqueName];
  [urlOnly declareTypes:[NSArray arrayWithObject:NSURLPboardType] owner:nil];
  [[NSURL fileURLWithPath:@"/tmp/graft host/url.mp3"] writeToPasteboard:urlOnly];
  drag("url-only-drag", view, urlOnly, here, false);

  urlOnly = [NSPasteboard pasteboardWithUniqueName];
  [urlOnly declareTypes:[NSArray arrayWithObject:NSURLPboardType] owner:nil];
  [[NSURL fileURLWithPath:@"/tmp/graft host/url.mp3"] writeToPasteboard:urlOnly];
  drag("url-only-drop", view, urlOnly, here, true);

  drag("names-drag", view, pasteboardWithFilenames([NSArray arrayWithObject:@"/tmp/graft host/a.mp3"]), here, false);
  drag("text-drag", view, pasteboardWithText(@"just words"), here, false);
  drag("one-file", view, pasteboardWithFilenames([NSArray arrayWithObject:@"/tmp/graft host/a.mp3"]), here, true);
  drag("three-files", view,
       pasteboardWithFilenames([NSArray arrayWithObjects:@"/tmp/a.mp3", @"/tmp/b c.mp3", @"/tmp/ü.mp3", nil]), here,
       true);
  drag("text-drop", view, pasteboardWithText(@"just words"), here, true);
  drag("file-items-drag", view, pasteboardWithFiles([NSArray arrayWithObject:@"/tmp/graft host/a.mp3"]), here, false);
  drag("file-items-one", view, pasteboardWithFiles([NSArray arrayWithObject:@"/tmp/graft host/a.mp3"]), here, true);
  drag("file-items-three", view,
       pasteboardWithFiles([NSArray arrayWithObjects:@"/tmp/a.mp3", @"/tmp/b c.mp3", @"/tmp/ü.mp3", nil]), here, true);
  drag("negative-location", view, pasteboardWithFilenames([NSArray arrayWithObject:@"/tmp/a.mp3"]),
       NSMakePoint(-0.75, 0.49), true);

  NSPasteboard *items = pasteboardWithText(@"first");
  object_setClass(items, [SeveralItemsPasteboard class]);
  drag("several-items-no-names", view, items, here, true);
  // Another program may put anything under the file-names type: a string, or an empty list.
  NSPasteboard *notAList = [NSPasteboard pasteboardWithUniqueName];
  [notAList declareTypes:[NSArray arrayWithObject:NSFilenamesPboardType] owner:nil];
  [notAList setPropertyList:@"/tmp/a.mp3" forType:NSFilenamesPboardType];
  object_setClass(notAList, [SeveralItemsPasteboard class]);
  drag("several-items-names-not-a-list", view, notAList, here, true);
  NSPasteboard *emptyList = pasteboardWithFilenames([NSArray array]);
  object_setClass(emptyList, [SeveralItemsPasteboard class]);
  drag("several-items-names-empty", view, emptyList, here, true);

  [window setScaleFactor:1.0];
  drag("scale-one", view, pasteboardWithFilenames([NSArray arrayWithObject:@"/tmp/a.mp3"]), here, true);
}

static void scenarioReplace(void) {
  Class installer = NSClassFromString(@"Override_OSX");
  SEL replace = sel_registerName("replaceAppDelegateMethod:fromClass:savingOriginalTo:");
  typedef void (*ReplaceFunction)(id, SEL, SEL, Class, SEL);
  ReplaceFunction replaceFunction = (ReplaceFunction)[installer methodForSelector:replace];
  HOST_DELEGATE *delegate = [[[HOST_DELEGATE alloc] init] autorelease];

  LogTrap trap;
  if (envIs("GRAFT_HOST_REPLACE", "placeholder")) {
    beginTrap(&trap);
    replaceFunction(installer, replace, @selector(greeting), [GreetingReplacement class], @selector(originalGreeting));
    endTrap(&trap);
    printf("greeting: %s\n", [[delegate greeting] UTF8String]);
    printf("originalGreeting: %s\n", [[(id)delegate originalGreeting] UTF8String]);
  } else {
    beginTrap(&trap);
    replaceFunction(installer, replace, @selector(greeting), [GreetingReplacementWithoutPlaceholder class],
                    sel_registerName("savedGreeting"));
    endTrap(&trap);
    printf("greeting: %s\n", [[delegate greeting] UTF8String]);
    printf("answers savedGreeting: %s\n",
           [delegate respondsToSelector:sel_registerName("savedGreeting")] ? "yes" : "no");
  }
}

static void scenarioLaunch(void) {
  if (!envIs("GRAFT_HOST_OPEN_CALLBACK", "0")) {
    bridge.setOpenFileCallback(onOpenFile);
  }
  attachOwnClasses("before launching");
  HOST_DELEGATE *delegate = [[HOST_DELEGATE alloc] init];
  [NSApp setDelegate:(id)delegate];
  [NSApp run];
  [delegate release];
}

int main(int argc, char **argv) {
  setvbuf(stdout, NULL, _IOLBF, 0);
  @autoreleasepool {
    SharedOrdinaryApplication();
    NSSetUncaughtExceptionHandler(onUncaughtException);
    LogTrap trap;
    beginTrap(&trap);
    char error[512];
    bool loaded = DBLoadExports(DB_BUNDLE_PATH "/" DB_BUNDLE_BINARY_SUBPATH, &bridge, error, sizeof error);
    endTrap(&trap);
    if (!loaded) {
      fprintf(stderr, "%s\n", error);
      return 1;
    }
    const char *scenario = getenv("GRAFT_HOST_SCENARIO");
    if (scenario == NULL || strcmp(scenario, "load") == 0) scenarioLoad();
    else if (strcmp(scenario, "drag") == 0) scenarioDrag();
    else if (strcmp(scenario, "replace") == 0) scenarioReplace();
    else if (strcmp(scenario, "launch") == 0) scenarioLaunch();
    else {
      fprintf(stderr, "unknown scenario %s\n", scenario);
      return 2;
    }
    printf("done\n");
  }
  return 0;
}
