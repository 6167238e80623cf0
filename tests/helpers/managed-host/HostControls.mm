#include "HostControls.h"

#import <AppKit/AppKit.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <deque>
#include <string>
#include <vector>

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define HOST_HEAP_FROM_SANITIZER 1
#include <sanitizer/allocator_interface.h>
#endif
#endif
#if defined(__APPLE__)
#include <malloc/malloc.h>
#else
#include <malloc.h>
#endif

#include "DesktopBridge.h"
#include "MenuDriver.h"
#include "PanelDriver.h"
#include "TestApplication.h"
#include "TourDragInfo.h"

#pragma mark - Host classes

// The bundle grafts its handlers onto these two when it loads.
@interface PlayerAppDelegate : NSObject
@end
@implementation PlayerAppDelegate
@end

@interface PlayerWindowView : NSView
@end
@implementation PlayerWindowView
@end

namespace {

NSWindow *mainWindow;  // the host's main window, kept for the life of the process
PlayerAppDelegate *delegate;

void OnUncaughtException(NSException *exception) {
  fprintf(stderr, "uncaught exception %s: %s\n", [[exception name] UTF8String], [[exception reason] UTF8String]);
  fflush(stderr);
  _exit(70);
}

std::vector<std::string> SplitList(const char *joined) {
  std::vector<std::string> items;
  if (joined == NULL || *joined == 0) return items;
  std::string rest(joined);
  size_t start = 0;
  for (size_t at; (at = rest.find(DB_LIST_SEPARATOR, start)) != std::string::npos; start = at + 1)
    items.push_back(rest.substr(start, at - start));
  items.push_back(rest.substr(start));
  return items;
}

NSMenuItem *FindItem(NSMenu *menu, int tag) {
  for (NSInteger i = 0; menu != nil && i < [menu numberOfItems]; i++) {
    NSMenuItem *item = (NSMenuItem *)[menu itemAtIndex:i];
    if ([item tag] == tag) return item;
    if (NSMenuItem *inner = FindItem([item submenu], tag)) return inner;
  }
  return nil;
}

NSMenu *DockMenu() {
  id appDelegate = [NSApp delegate];
  SEL dock = @selector(applicationDockMenu:);
  return [appDelegate respondsToSelector:dock] ? [appDelegate applicationDockMenu:NSApp] : nil;
}

}  // namespace

bool StartManagedHost(void) {
  setvbuf(stdout, NULL, _IOLBF, 0);
#if !defined(__APPLE__)
  if (getenv("DISPLAY") == NULL || *getenv("DISPLAY") == 0) {
    printf("no display (DISPLAY is not set): skipping this GUI test host\n");
    return false;
  }
#endif
  SharedOrdinaryApplication();
  NSSetUncaughtExceptionHandler(OnUncaughtException);
  delegate = [[PlayerAppDelegate alloc] init];
  [NSApp setDelegate:(id)delegate];
  [NSApp setMainMenu:[[[NSMenu alloc] initWithTitle:@"ManagedHost"] autorelease]];
  [NSApp finishLaunching];
  mainWindow = [[NSWindow alloc] initWithContentRect:NSMakeRect(100, 100, 320, 200)
                                           styleMask:NSWindowStyleMaskTitled
                                             backing:NSBackingStoreBuffered
                                               defer:NO];
  PlayerWindowView *view = [[PlayerWindowView alloc] initWithFrame:NSMakeRect(0, 0, 320, 200)];
  [mainWindow setContentView:view];
  [view release];
  HostMakeMainWindow();
  return true;
}

#pragma mark - Controls

void HostQueuePanelAnswer(const char *paths, const char *name, int pick, bool ok) {
  PanelAnswer answer;
  answer.select = SplitList(paths);
  if (pick >= 0) answer.picks.push_back(pick);
  static std::deque<std::string> typed;  // the driver keeps the pointers; a deque never moves them
  if (name != NULL) {
    typed.push_back(name);
    answer.name = typed.back().c_str();
  }
  answer.ok = ok;
  QueuePanelAnswer(answer);
}

int HostPanelsAnswered(void) { return PanelsAnswered(); }

int HostUnexpectedPanels(void) { return UnexpectedPanels(); }

const char *HostPanelsCannotSelect(void) { return PanelDriverCannotDo(PanelAction::SelectFiles); }

bool HostRunMainLoopUntil(int (*done)(void), double seconds) {
  return RunMainLoopUntil([done] { return done() != 0; }, seconds);
}

bool HostChooseMenuItem(int tag) {
  NSMenuItem *item = FindItem([NSApp mainMenu], tag);
  if (item == nil) item = FindItem(DockMenu(), tag);
  if (item == nil) return false;
  NSMenu *menu = [item menu];
  [menu performActionForItemAtIndex:[menu indexOfItem:item]];
  return true;
}

bool HostOpenSubmenu(int tag) {
  NSMenuItem *item = FindItem([NSApp mainMenu], tag);
  if (item == nil || [item submenu] == nil) return false;
  NSMenu *menu = [item menu];
  OpenSubmenuOfItem(menu, [menu indexOfItem:item]);
  CloseSubmenuOf(menu);
  return true;
}

bool HostDragFiles(const char *paths, double x, double y, bool drop) {
  @autoreleasepool {
    NSMutableArray *files = [NSMutableArray array];
    for (const std::string &path : SplitList(paths)) [files addObject:[NSString stringWithUTF8String:path.c_str()]];
    TourDragInfo *info = [TourDragInfo dragOfFiles:files at:NSMakePoint(x, y) inWindow:mainWindow];
    id view = [mainWindow contentView];
    bool performed = false;
    if ([view draggingEntered:info] != NSDragOperationNone && drop)
      performed = [view prepareForDragOperation:info] && [view performDragOperation:info];
    else if (!drop)
      [view draggingExited:info];
    [info finish];
    return performed;
  }
}

bool HostOpenFile(const char *path) {
  @autoreleasepool {
    id appDelegate = [NSApp delegate];
    return [appDelegate application:NSApp openFile:[NSString stringWithUTF8String:path]];
  }
}

void HostMakeMainWindow(void) {
  [mainWindow makeKeyAndOrderFront:nil];
  [mainWindow makeMainWindow];
}

const char *HostMainWindowTitle(void) {
  static std::string title;
  title = [[mainWindow title] UTF8String];
  return title.c_str();
}

void HostDeactivate(void) { [NSApp deactivate]; }

bool HostIsActive(void) { return [NSApp isActive]; }

long long HostHeapBytes(void) {
#if defined(HOST_HEAP_FROM_SANITIZER)
  return (long long)__sanitizer_get_current_allocated_bytes();
#elif defined(__APPLE__)
  malloc_statistics_t statistics;
  malloc_zone_statistics(NULL, &statistics);
  return (long long)statistics.size_in_use;
#else
  return (long long)mallinfo2().uordblks;
#endif
}
