// Many dialog requests, prepared, run and answered, or failing in preparation: nothing of ours
// stays allocated once their results are delivered.
#import "Dovrane.h"
#include <gtest/gtest.h>
#include "DesktopBridge.h"
#include "PanelDriver.h"

#include <unistd.h>

namespace {
int callbacks = 0;
void Count(const char *) { callbacks++; }

id RaisingFactory(id self, SEL _cmd) {
  [NSException raise:NSInternalInconsistencyException format:@"no panel"];
  return nil;
}
}  // namespace

// GNUstep fills process-lifetime caches (fonts, images, panel layouts) the first time a panel, a
// pop-up or a modal run is made; make them here, outside the plug-in's code, so that the leak
// check sees only what the requests themselves leave behind.
static void WarmUpPanels(const std::string &dir) {
  @autoreleasepool {
    PanelAnswer open;
    open.select = {dir + "/b.png"};
    QueuePanelAnswer(open);
    NSOpenPanel *openPanel = [[[NSOpenPanel alloc] init] autorelease];
    [openPanel setDirectoryURL:[NSURL fileURLWithPath:[NSString stringWithUTF8String:dir.c_str()]]];
    [openPanel setAccessoryView:[[[NSPopUpButton alloc] initWithFrame:NSMakeRect(0, 0, 140, 22)
                                                             pullsDown:NO] autorelease]];
    [openPanel runModal];
    PanelAnswer cancel;
    cancel.ok = false;
    QueuePanelAnswer(cancel);
    NSSavePanel *savePanel = [[[NSSavePanel alloc] init] autorelease];
    [savePanel setAccessoryView:[[[NSTextField alloc] initWithFrame:NSMakeRect(0, 0, 80, 22)] autorelease]];
    [savePanel runModalForDirectory:[NSString stringWithUTF8String:dir.c_str()] file:@"x"];
  }
  ResetPanelDriver();
}

TEST(DialogLeaks, PreparedRunAndFailedRequestsLeaveNothing) {
  std::string dir = MakeTemporaryDirectory({"a.txt", "b.png"});
  WarmUpPanels(dir);
  int saved = dup(2);
  FILE *null = fopen("/dev/null", "w");
  dup2(fileno(null), 2);  // "init" for every request
  for (int i = 0; i < 20; i++) {
    @autoreleasepool {
      Dovrane *dialog = [[Dovrane alloc] init];
      [dialog createOpenPanel:@"t" directory:@"/tmp" filters:@"Images;png,jpg|All files;*|Broken" multiselect:YES
               canChooseFiles:YES canChooseFolders:NO];
      [dialog createSavePanel:@"t" directory:@"/tmp" defaultName:@"n.txt" filters:@"Text;txt|Any;"];
      [dialog release];
    }
  }
  for (int i = 0; i < 2; i++) {
    @autoreleasepool {
      PanelAnswer open;
      open.select = {dir + "/b.png"};
      open.picks = {1};
      QueuePanelAnswer(open);
      DialogOpenFilePanel("t", dir.c_str(), "Images;png|All;*", false);
      PanelAnswer cancel;
      cancel.ok = false;
      cancel.picks = {0};
      QueuePanelAnswer(cancel);
      DialogSaveFilePanelAsync("t", dir.c_str(), "x", "Text;txt|Any;", Count);
      ASSERT_TRUE(RunMainLoopUntil([&] { return callbacks == 2 * i + 1; }));
      Method factory = class_getClassMethod([NSOpenPanel class], @selector(openPanel));
      IMP original = method_setImplementation(factory, (IMP)RaisingFactory);
      DialogOpenFilePanelAsync("t", dir.c_str(), "Images;png", false, Count);
      method_setImplementation(factory, original);
      ASSERT_TRUE(RunMainLoopUntil([&] { return callbacks == 2 * i + 2; }));
    }
  }
  ResetPanelDriver();
  RunMainLoopUntil([] { return false; }, 0.3);
  dup2(saved, 2);
  fclose(null);
  EXPECT_EQ(PanelsAnswered(), 0);  // reset above; the runs themselves are checked by callbacks
  EXPECT_EQ(callbacks, 4);
}
