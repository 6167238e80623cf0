// Every export called as a plain script calls it: no shared application, and (here) no display.
// Each call returns its documented value for that case and nothing aborts; the lines the calls
// write are printed, as the record of which exports need an application or a display.
#import <AppKit/AppKit.h>
#include <gtest/gtest.h>
#include "TestProgram.h"
DB_TEST_PROGRAM_NEEDS_NO_DISPLAY();
#include "BundleLoader.h"
#include "DesktopBridge.h"
#include "LogCapture.h"
#include "TestTrash.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <ftw.h>

#include <fstream>
#include <string>
#include <vector>

// launchApp starts this very program again: that instance ends at once.
static const bool launchedByLaunchApp = [] {
  if (getenv("DB_NO_APPLICATION_LAUNCHED") != NULL) _exit(0);
  // No display, whatever the test runner has: nothing of the toolkit has run yet.
  unsetenv("DISPLAY");
  return false;
}();

@interface SweepDelegate : NSObject
@end
@implementation SweepDelegate
@end
@interface SweepView : NSView
@end
@implementation SweepView
@end

namespace {

int RemoveEntry(const char *path, const struct stat *, int, struct FTW *) { return remove(path); }

template <typename F> F Export(const char *name) {
  F function = BundleFunction<F>(name);
  EXPECT_NE(nullptr, (void *)function) << name;
  return function;
}
#define EXPORT(name) Export<decltype(&::name)>(#name)

int menuCalls, dropCalls, openFileCalls;
void OnMenu(const char *tag, const char *title) { menuCalls += strcmp(tag, "5") == 0 && strcmp(title, "T") == 0; }
void OnDrop(int x, int y, const char *paths) { dropCalls += x == 1 && y == 2 && strcmp(paths, "/p") == 0; }
void OnOpenFile(const char *path) { openFileCalls += strcmp(path, "/tmp/opened") == 0; }

TEST(NoApplication, EveryExportReturnsItsValueWithoutAnApplication) {
  ASSERT_EQ(nullptr, getenv("DISPLAY"));
  BundleHandle();
  ASSERT_EQ(nil, NSApp);
  char directory[] = "/tmp/db-no-app-XXXXXX";
  ASSERT_NE(nullptr, mkdtemp(directory));
  TestTrash trash(directory);
  std::string doomed = std::string(directory) + "/doomed.txt";
  std::ofstream(doomed) << "x";

  LogCapture log;
  EXPECT_EQ(DB_HANDLERS_ALL, EXPORT(attachHostClasses)("SweepDelegate", "SweepView"));

  EXPORT(setMenuCallback)(OnMenu);
  EXPORT(notifyMenuSelected)("5", "T");
  Export<void (*)(NSString *, NSString *)>("_notifyMenuSelected")(@"5", @"T");
  EXPECT_EQ(2, menuCalls);
  EXPORT(setDragDropCallback)(NULL, NULL, OnDrop);
  EXPORT(notifyDragEnter)();
  EXPORT(notifyDragExit)();
  EXPORT(notifyDragDrop)(1, 2, "/p");
  EXPECT_EQ(1, dropCalls);
  EXPORT(setOpenFileCallback)(OnOpenFile);
  EXPECT_EQ(nullptr, EXPORT(getOpenFilename)());
  Export<void (*)(NSString *)>("setOpenFilename")(@"/tmp/opened");
  EXPECT_EQ(1, openFileCalls);
  EXPECT_STREQ("/tmp/opened", EXPORT(getOpenFilename)());
  char *copy = Export<char *(*)(NSString *)>(DB_MAKE_C_STRING_SYMBOL)(@"text");
  EXPECT_STREQ("text", copy);
  free(copy);

  EXPORT(setWindowTitle)("title");
  float scale = EXPORT(getScaleFactor)();
#if defined(__APPLE__)
  EXPECT_GT(scale, 0.0f);  // macOS always has the window server, and so a main screen
#else
  EXPECT_EQ(1.0f, scale);  // no window and no screen
#endif
  EXPORT(bringToFront)();
#if !defined(__APPLE__)
  // macOS would be asked to open this program's folder, which is no application.
  setenv("DB_NO_APPLICATION_LAUNCHED", "1", 1);
  EXPORT(launchApp)();
  unsetenv("DB_NO_APPLICATION_LAUNCHED");
#endif
#if defined(GNUSTEP)
  EXPECT_TRUE(EXPORT(trashFile)(doomed.c_str()));
  EXPECT_NE(0, access(doomed.c_str(), F_OK));
#else
  EXPECT_FALSE(EXPORT(trashFile)((doomed + ".missing").c_str()));  // the user's own Trash stays untouched
#endif
  free(EXPORT(getUUID)());
  EXPECT_EQ(nullptr, EXPORT(getAppVersion)());  // a bare executable has no bundle version
  Export<void (*)()>(DB_SET_AUTO_RESTORE_SYMBOL)();
  char *output = NULL;
  EXPECT_EQ(3, EXPORT(createProcess)("/bin/sh", "-c\x1cprintf out; exit 3", NULL, true, &output));
  EXPECT_STREQ("out", output);
  free(output);

  // A panel on macOS would open and wait for a person: there the window server is always there.
#if !defined(__APPLE__)
  EXPECT_STREQ("", EXPORT(DialogOpenFilePanel)("t", "/tmp", "Text;txt", false));
  EXPECT_STREQ("", EXPORT(DialogOpenFolderPanel)("t", "/tmp", false));
  EXPECT_STREQ("", EXPORT(DialogSaveFilePanel)("t", "/tmp", "a.txt", "Text;txt"));
  EXPORT(DialogOpenFilePanelAsync)("t", "/tmp", "Text;txt", false, NULL);
  EXPORT(DialogOpenFolderPanelAsync)("t", "/tmp", false, NULL);
  EXPORT(DialogSaveFilePanelAsync)("t", "/tmp", "a.txt", "Text;txt", NULL);
#endif

  EXPECT_FALSE(EXPORT(addMenuItem)(1, 0, "X", 5, "", -1, false));  // no main menu
  EXPECT_FALSE(EXPORT(addMenuItem)(0, 0, "X", 5, "", -1, false));
  EXPECT_FALSE(EXPORT(removeMenuItem)(0, 0, 5));
  EXPORT(removeAllMenuItems)(0, 0);
  EXPORT(setMenuItemEnabled)(0, 1, 5, false);
  EXPORT(setMenuItemChecked)(0, 1, 5, true);
  EXPECT_FALSE(EXPORT(isMenuItemChecked)(0, 1, 5));
  EXPORT(setMenuItemText)(0, 1, 5, "Y");

  std::vector<std::string> lines = log.stop();
  for (const std::string &line : lines) printf("logged: %s\n", line.c_str());
  EXPECT_EQ(nil, NSApp) << "an export made the shared application";
  nftw(directory, RemoveEntry, 8, FTW_DEPTH | FTW_PHYS);
}

}  // namespace
