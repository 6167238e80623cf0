// Bytes of heap and live objects held per request after 1,000 requests of each kind: dialogs
// prepared, dialogs run and cancelled, menu items added and removed, processes run with output.
// The baseline is the same measurement over requests that only make and drop a string, so the
// figures read as "held per request" next to the measurement's own noise; the platform's own
// panel cycle (a panel with a pop-up accessory run and cancelled without the plug-in) shows what
// GNUstep itself keeps of every panel shown. Needs a display.
#import "Dovrane.h"
#include "DesktopBridge.h"
#include "../tests/support/RequestFootprint.h"

#include <stdio.h>
#include <stdlib.h>
#include <time.h>

#include <functional>

static const int kRequests = 1000;

static void SwallowLogLine(NSString *message) {}

@interface BenchCanceller : NSObject
- (void)tick:(NSTimer *)timer;
@end
@implementation BenchCanceller
- (void)tick:(NSTimer *)timer {
  NSWindow *modal = [NSApp modalWindow];
  if (modal == nil) return;
  if ([modal isKindOfClass:[NSSavePanel class]]) [(NSSavePanel *)modal cancel:nil];
  [NSApp postEvent:[NSEvent otherEventWithType:NSApplicationDefined location:NSZeroPoint modifierFlags:0
                                     timestamp:0 windowNumber:0 context:nil subtype:0 data1:0 data2:0]
           atStart:NO];
}
@end

static int delivered = 0;
static void OnDialog(const char *result) { delivered++; }
static void OnMenu(const char *tag, const char *title) {}

static double Now() {
  struct timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return t.tv_sec + t.tv_nsec / 1e9;
}

static void Report(const char *name, const std::function<void(int)> &request) {
  for (int i = 0; i < 20; i++) request(i);
  SettleMainRunLoop();
  RequestFootprint before = MeasureFootprint();
  double start = Now();
  for (int i = 0; i < kRequests; i++) request(i);
  double seconds = Now() - start;
  SettleMainRunLoop();
  RequestFootprint after = MeasureFootprint();
  printf("%-28s %8.1f bytes/request held  %6.3f objects/request held  %7.2f ms/request\n", name,
         (double)(after.heapBytes - before.heapBytes) / kRequests,
         (double)(after.liveObjects - before.liveObjects) / kRequests, seconds * 1000 / kRequests);
}

int main(int argc, char **argv) {
  @autoreleasepool {
    [NSApplication sharedApplication];
    StartCountingObjects();
    _NSLog_printf_handler = SwallowLogLine;
    [NSApp setMainMenu:[[[NSMenu alloc] initWithTitle:@"Host"] autorelease]];
    setMenuCallback(OnMenu);
    BenchCanceller *canceller = [[BenchCanceller alloc] init];
    [[NSRunLoop currentRunLoop]
        addTimer:[NSTimer timerWithTimeInterval:0.002 target:canceller selector:@selector(tick:) userInfo:nil
                                        repeats:YES]
         forMode:NSModalPanelRunLoopMode];

    printf("held after %d requests of each kind (heap: %s)\n", kRequests,
#if defined(DB_FOOTPRINT_ASAN)
           "sanitizer allocator"
#else
           "mallinfo2 uordblks"
#endif
    );
    Report("baseline (string made, dropped)", [](int i) {
      @autoreleasepool {
        [NSString stringWithFormat:@"request %d", i];
      }
    });
    Report("dialog prepared", [](int i) {
      @autoreleasepool {
        Dovrane *dialog = [[Dovrane alloc] init];
        if (i % 2 == 0)
          [dialog createOpenPanel:@"Pick" directory:@"/tmp" filters:@"Images;png,jpg|All files;*" multiselect:YES
                   canChooseFiles:YES canChooseFolders:NO];
        else
          [dialog createSavePanel:@"Save" directory:@"/tmp" defaultName:@"name.png" filters:@"PNG;png|Text;txt"];
        [dialog release];
      }
    });
    Report("dialog run and cancelled", [](int i) {
      int expected = delivered + 1;
      if (i % 2 == 0)
        DialogOpenFilePanelAsync("Pick", "/tmp", "Images;png,jpg|All files;*", false, OnDialog);
      else
        DialogSaveFilePanelAsync("Save", "/tmp", "name", "PNG;png", OnDialog);
      NSDate *limit = [NSDate dateWithTimeIntervalSinceNow:10];
      while (delivered < expected && [limit timeIntervalSinceNow] > 0) {
        @autoreleasepool {
          [[NSRunLoop currentRunLoop] runMode:NSDefaultRunLoopMode
                                   beforeDate:[NSDate dateWithTimeIntervalSinceNow:0.01]];
        }
      }
    });
    Report("platform panel in /tmp, no plug-in", [](int i) {
      @autoreleasepool {
        NSSavePanel *panel = (i % 2 == 0) ? [[NSOpenPanel alloc] init] : [[NSSavePanel alloc] init];
        [panel setDirectoryURL:[NSURL fileURLWithPath:@"/tmp"]];
        NSView *accessory = [[[NSView alloc] initWithFrame:NSMakeRect(0, 0, 200, 24)] autorelease];
        NSTextField *label = [[[NSTextField alloc] initWithFrame:NSMakeRect(0, 0, 60, 22)] autorelease];
        [label setStringValue:@"File type:"];
        NSPopUpButton *popUp =
            [[[NSPopUpButton alloc] initWithFrame:NSMakeRect(61, 2, 140, 22) pullsDown:NO] autorelease];
        [popUp addItemWithTitle:@"Images (*.png,*.jpg)"];
        [popUp addItemWithTitle:@"All files (*.*)"];
        [accessory addSubview:label];
        [accessory addSubview:popUp];
        [panel setAccessoryView:accessory];
        [panel runModal];
        [panel setAccessoryView:nil];
        [panel release];
      }
    });
    Report("menu items added, removed", [](int i) {
      @autoreleasepool {
        addMenuItem(0, 0, "Playback", 40, "", -1, true);
        addMenuItem(0, 40, "Play", 41, "p", -1, false);
        addMenuItem(0, 1, "Dock item", 7, "", -1, false);
        setMenuItemText(0, 40, 41, "Pause");
        removeMenuItem(0, 40, 41);
        removeMenuItem(0, 1, 7);
        removeMenuItem(0, 0, 40);
      }
    });
    Report("process run with output", [](int i) {
      char *output = NULL;
      createProcess("/bin/echo", "request\x1cwith output", NULL, true, &output);
      free(output);
    });
    setMenuCallback(NULL);
  }
  return 0;
}
