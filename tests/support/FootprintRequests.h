// The requests whose footprint the tests check and the benchmark prints, each making one request
// of its kind and returning once it has ended, with the same work done directly on the platform's
// panels (without the plug-in) to compare with. Header-only, for the tests and the benchmarks;
// needs a display.
#ifndef DB_TEST_FOOTPRINT_REQUESTS_H
#define DB_TEST_FOOTPRINT_REQUESTS_H

#import "Dovrane.h"
#include "DesktopBridge.h"
#include "RequestFootprint.h"

#include <stdlib.h>

#include <filesystem>
#include <functional>
#include <string>
#include <system_error>

// Cancels each modal panel as soon as it is up, and keeps the modal loop awake meanwhile.
@interface DBFootprintCanceller : NSObject
- (void)tick:(NSTimer *)timer;
@end

@implementation DBFootprintCanceller
- (void)tick:(NSTimer *)timer {
  NSWindow *modal = [NSApp modalWindow];
  if (modal == nil) return;
  if ([modal isKindOfClass:[NSSavePanel class]]) [(NSSavePanel *)modal cancel:nil];
  [NSApp postEvent:[NSEvent otherEventWithType:NSApplicationDefined location:NSZeroPoint modifierFlags:0
                                     timestamp:0 windowNumber:0 context:nil subtype:0 data1:0 data2:0]
           atStart:NO];
}
@end

namespace footprint {

// Kept for the life of the program: the timer that answers every panel, the folder the panels show.
inline void InstallCanceller() {
  static DBFootprintCanceller *canceller = nil;
  if (canceller != nil) return;
  canceller = [[DBFootprintCanceller alloc] init];
  [[NSRunLoop currentRunLoop] addTimer:[NSTimer timerWithTimeInterval:0.002 target:canceller
                                                              selector:@selector(tick:) userInfo:nil repeats:YES]
                               forMode:NSModalPanelRunLoopMode];
}

// A folder of its own with a few files, so that what the panels list stays the same throughout
// (the shared temporary folder changes as other programs work). Removed when the program ends.
struct PanelFolder {
  std::string path;
  PanelFolder() {
    std::string pattern = std::string([NSTemporaryDirectory() fileSystemRepresentation]) + "/db-footprint-XXXXXX";
    if (mkdtemp(&pattern[0]) == NULL) return;
    path = pattern;
    std::error_code ignored;
    std::filesystem::create_directory(path + "/folder", ignored);
    for (const char *name : {"a.txt", "b.png", "c.jpg"}) fclose(fopen((path + "/" + name).c_str(), "w"));
  }
  ~PanelFolder() {
    std::error_code ignored;
    if (!path.empty()) std::filesystem::remove_all(path, ignored);
  }
};
inline const char *PanelDirectory() {
  static PanelFolder folder;
  return folder.path.c_str();
}
inline NSString *PanelDirectoryString() { return [NSString stringWithUTF8String:PanelDirectory()]; }

inline int &DialogsDelivered() {
  static int delivered = 0;
  return delivered;
}
// Results that were not "" (a cancelled request must give nothing).
inline int &UnexpectedDialogResults() {
  static int unexpected = 0;
  return unexpected;
}
inline void OnDialog(const char *result) {
  DialogsDelivered()++;
  if (result == NULL || result[0] != 0) UnexpectedDialogResults()++;
}

// A dialog prepared as a request prepares it (panel, pop-up, handler) and dropped unrun.
inline void PrepareDialog(int i) {
  @autoreleasepool {
    Dovrane *dialog = [[Dovrane alloc] init];
    if (i % 2 == 0)
      [dialog createOpenPanel:@"Pick" directory:PanelDirectoryString() filters:@"Images;png,jpg|All files;*"
                  multiselect:YES canChooseFiles:YES canChooseFolders:NO];
    else
      [dialog createSavePanel:@"Save" directory:PanelDirectoryString() defaultName:@"name.png"
                      filters:@"PNG;png|Text;txt"];
    [dialog release];
  }
}

// An asynchronous dialog request, run and cancelled; returns once its result was delivered.
inline void CancelDialog(int i) {
  int expected = DialogsDelivered() + 1;
  @autoreleasepool {
    if (i % 2 == 0)
      DialogOpenFilePanelAsync("Pick", PanelDirectory(), "Images;png,jpg|All files;*", false, OnDialog);
    else
      DialogSaveFilePanelAsync("Save", PanelDirectory(), "name", "PNG;png", OnDialog);
    NSDate *limit = [NSDate dateWithTimeIntervalSinceNow:10];
    while (DialogsDelivered() < expected && [limit timeIntervalSinceNow] > 0) {
      @autoreleasepool {
        [[NSRunLoop currentRunLoop] runMode:NSDefaultRunLoopMode
                                 beforeDate:[NSDate dateWithTimeIntervalSinceNow:0.01]];
      }
    }
  }
}

// The platform's part of a dialog request, done directly: a new panel set up as the requests set
// theirs up (file-type accessory, types, message, folder, name), optionally run and cancelled, and
// released.
inline void PlatformPanel(int i, bool run) {
  @autoreleasepool {
    bool open = i % 2 == 0;
    NSSavePanel *panel = open ? [[NSOpenPanel alloc] init] : [[NSSavePanel alloc] init];
    NSView *accessory = [[[NSView alloc] initWithFrame:NSMakeRect(0, 0, open ? 200 : 220, 24)] autorelease];
    NSTextField *label =
        [[[NSTextField alloc] initWithFrame:NSMakeRect(0, 0, open ? 60 : 80, 22)] autorelease];
    [label setEditable:NO];
    [label setStringValue:open ? @"File type:" : @"Save as type:"];
    [label setBordered:NO];
    [label setBezeled:NO];
    [label setDrawsBackground:NO];
    NSPopUpButton *popUp =
        [[[NSPopUpButton alloc] initWithFrame:NSMakeRect(open ? 61 : 81, 2, 140, 22) pullsDown:NO] autorelease];
    [[popUp menu] addItemWithTitle:open ? @"Images (*.png,*.jpg)" : @"PNG (*.png)" action:NULL keyEquivalent:@""];
    if (open) [[popUp menu] addItemWithTitle:@"All files (*.*)" action:NULL keyEquivalent:@""];
    [popUp selectItemAtIndex:0];
    [accessory addSubview:label];
    [accessory addSubview:popUp];
    [panel setAccessoryView:accessory];
    [panel setAllowedFileTypes:open ? [NSArray arrayWithObjects:@"png", @"jpg", nil] : [NSArray arrayWithObject:@"png"]];
    [panel setMessage:open ? @"Pick" : @"Save"];
    if (open) [(NSOpenPanel *)panel setCanChooseFiles:YES];
    [panel setDirectoryURL:[NSURL fileURLWithPath:PanelDirectoryString()]];
    if (!open) [panel setNameFieldStringValue:@"name"];
    if (run) [panel runModal];
    [panel setAccessoryView:nil];
    [panel release];
  }
}
inline void PreparePlatformPanel(int i) { PlatformPanel(i, false); }
inline void RunPlatformPanel(int i) { PlatformPanel(i, true); }

inline int &MenuSelections() {
  static int selections = 0;
  return selections;
}
inline void OnMenu(const char *tag, const char *title) { MenuSelections()++; }

// Menu items added, renamed, checked, chosen and removed again (setMenuCallback(OnMenu) first).
inline void AddAndRemoveMenuItems(int i) {
  @autoreleasepool {
    addMenuItem(0, 0, "Playback", 40, "", -1, true);
    addMenuItem(0, 40, "Play", 41, "p", -1, false);
    addMenuItem(0, 40, "", 42, "", 0, false);
    addMenuItem(0, 1, "Dock item", 7, "", -1, false);
    setMenuItemText(0, 40, 41, "Pause");
    setMenuItemChecked(0, 40, 41, true);
    NSMenu *playback = [[[NSApp mainMenu] itemWithTag:40] submenu];
    [playback performActionForItemAtIndex:[playback indexOfItemWithTag:41]];
    removeMenuItem(0, 40, 41);
    removeMenuItem(0, 1, 7);
    removeMenuItem(0, 0, 40);
  }
}

inline int &ProcessFailures() {
  static int failures = 0;
  return failures;
}
// A child run and waited for, its output captured and freed.
inline void RunProcessWithOutput(int i) {
  char *output = NULL;
  int status = createProcess("/bin/echo", "request\x1cwith output", NULL, true, &output);
  if (status != 0 || output == NULL || std::string(output) != "request with output\n") ProcessFailures()++;
  free(output);
}

// Footprints after a warm-up (GNUstep fills caches of its own on first use), after `first`
// requests and after `last`. The growth between the last two, per request, is what each request
// keeps: one-time fills of caches are over by then.
struct Series {
  RequestFootprint warm, first, last;
  int firstCount = 0, lastCount = 0;
  double HeapPerRequest() const { return double(last.heapBytes - first.heapBytes) / (lastCount - firstCount); }
  double ObjectsPerRequest() const {
    return double(last.liveObjects - first.liveObjects) / (lastCount - firstCount);
  }
};

inline Series MeasureSeries(const std::function<void(int)> &request, int first = 1000, int last = 3000) {
  Series series;
  series.firstCount = first;
  series.lastCount = last;
  for (int i = 0; i < 20; i++) request(i);
  SettleMainRunLoop();
  series.warm = MeasureFootprint();
  for (int i = 0; i < first; i++) request(i);
  SettleMainRunLoop();
  series.first = MeasureFootprint();
  for (int i = first; i < last; i++) request(i);
  SettleMainRunLoop();
  series.last = MeasureFootprint();
  return series;
}

// Live instances of a class in a footprint.
inline int LiveCount(const RequestFootprint &footprint, const char *cls) {
  auto found = footprint.objectsByClass.find(cls);
  return found == footprint.objectsByClass.end() ? 0 : found->second;
}

}  // namespace footprint

#endif
