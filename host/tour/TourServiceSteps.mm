// Tour steps for the window, application and system services.
#include "Tour.h"

#include "EventLog.h"
#include "SecondInstance.h"

#include <ctype.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

static void windowTitle(TourStepContext &step) {
  auto setTitle = step.Export<decltype(&setWindowTitle)>("setWindowTitle");
  NSWindow *window = TourMainWindowMadeMain(step);
  setTitle("Player \xe2\x80\x94 Road trip");  // an em dash: titles are UTF-8
  EventLog("setWindowTitle(\"Player \xe2\x80\x94 Road trip\"): the window is titled \"%s\"", [[window title] UTF8String]);
  step.Check([[window title] isEqualToString:@"Player \u2014 Road trip"], "the main window took the title");
  step.Pump(0.2);
  step.Shot("title", "The main window with its new title");
}

static void scaleFactor(TourStepContext &step) {
  auto scale = step.Export<decltype(&getScaleFactor)>("getScaleFactor");
  float factor = scale();
  EventLog("getScaleFactor() -> %.1f", factor);
  step.Check(factor >= 1.0f && factor <= 4.0f, "a plausible backing scale factor");
}

static void bringFront(TourStepContext &step) {
  auto front = step.Export<decltype(&bringToFront)>("bringToFront");
  NSWindow *window = TourMainWindow();
  step.Require(window != nil, "the host has its main window");
  [window miniaturize:nil];
  step.Pump(0.3);
  EventLog("window miniaturized: %s", [window isMiniaturized] ? "yes" : "no");
  front();
  step.Pump(0.3);
  EventLog("bringToFront(): window miniaturized: %s, visible: %s", [window isMiniaturized] ? "yes" : "no",
           [window isVisible] ? "yes" : "no");
  step.Check(![window isMiniaturized] && [window isVisible], "the window is back on screen");
  [window makeKeyAndOrderFront:nil];
  [window makeMainWindow];
}

// The entry of folder that is the file identified by its device and inode (a move to the Trash
// renames the file and keeps both), or nil.
static NSString *entryWithIdentity(NSString *folder, const struct stat &identity) {
  for (NSString *name in [[NSFileManager defaultManager] contentsOfDirectoryAtPath:folder error:NULL]) {
    NSString *path = [folder stringByAppendingPathComponent:name];
    struct stat entry;
    if (lstat([path fileSystemRepresentation], &entry) == 0 && entry.st_dev == identity.st_dev &&
        entry.st_ino == identity.st_ino) {
      return path;
    }
  }
  return nil;
}

static void trash(TourStepContext &step) {
  auto trashFile = step.Export<decltype(&::trashFile)>("trashFile");
  NSString *scratch = step.MakeFile(@"Old playlist.m3u", @"#EXTM3U\n");
  struct stat identity;
  step.Require(stat([scratch fileSystemRepresentation], &identity) == 0, "the scratch file exists");
  bool moved = trashFile([scratch fileSystemRepresentation]);
  bool gone = ![[NSFileManager defaultManager] fileExistsAtPath:scratch];
  EventLog("trashFile(%s) -> %s; the file is %s", [scratch fileSystemRepresentation], moved ? "true" : "false",
           gone ? "gone" : "still there");
  step.Check(moved && gone, "the scratch file went to the Trash");
  if (NSString *data = TourTrashDataFolder(step.outputDirectory())) {
    // The tour's own Trash, inside its output folder: the file waits there, with its record.
    NSString *trashed = entryWithIdentity([data stringByAppendingPathComponent:@"Trash/files"], identity);
    EventLog("in the tour's own Trash: %s", trashed ? [trashed fileSystemRepresentation] : "(not found)");
    step.Check(trashed != nil, "the file is in the tour's Trash, not the user's");
  } else {
    // The user's Trash: the tour takes its file out of it again, where it may look into it.
    NSFileManager *files = [NSFileManager defaultManager];
    NSURL *folder = [files URLForDirectory:NSTrashDirectory inDomain:NSUserDomainMask
                         appropriateForURL:[NSURL fileURLWithPath:[scratch stringByDeletingLastPathComponent]]
                                    create:NO
                                     error:NULL];
    NSString *trashed = folder ? entryWithIdentity([folder path], identity) : nil;
    if (trashed != nil && [files removeItemAtPath:trashed error:NULL]) {
      EventLog("taken out of the Trash again: %s", [trashed fileSystemRepresentation]);
    } else {
      EventLog("the file stays in the Trash: the tour cannot look into it (empty the Trash to remove it)");
    }
  }
  bool again = trashFile([scratch fileSystemRepresentation]);
  EventLog("trashFile(the same path) -> %s (nothing left to move)", again ? "true" : "false");
  step.Check(!again, "a missing file is reported as false");
}

static bool isUuidText(const char *text) {
  static const char pattern[] = "XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX";
  if (strlen(text) != sizeof pattern - 1) return false;
  for (size_t i = 0; pattern[i]; i++) {
    bool ok = pattern[i] == '-' ? text[i] == '-' : (isdigit((unsigned char)text[i]) || (text[i] >= 'A' && text[i] <= 'F'));
    if (!ok) return false;
  }
  return true;
}

static void uuid(TourStepContext &step) {
  auto getUUID = step.Export<decltype(&::getUUID)>("getUUID");
  char *first = getUUID();
  char *second = getUUID();
  EventLog("getUUID() -> %s (owned: the host frees it)", Quoted(first).c_str());
  if (first) {
    step.Check(isUuidText(first), "the UUID reads 8-4-4-4-12 in upper case");
    step.Check(second && first != second && strcmp(first, second) == 0, "each call hands out a new copy of it");
  }
  free(first);
  free(second);
}

static void appVersion(TourStepContext &step) {
  auto getAppVersion = step.Export<decltype(&::getAppVersion)>("getAppVersion");
  char *version = getAppVersion();
  EventLog("getAppVersion() -> %s (CFBundleVersion of Player.app; owned)", Quoted(version).c_str());
  step.Check(version && strcmp(version, "1234") == 0, "the build version of the host's Info.plist");
  free(version);
}

static void frameAutosave(TourStepContext &step) {
  auto setAutoRestore = step.Export<void (*)()>(DB_SET_AUTO_RESTORE_SYMBOL);
  NSWindow *window = TourMainWindowMadeMain(step);
  [window setRepresentedFilename:@"PlayerMainWindow"];
  setAutoRestore();
  EventLog("setAutoRestore(): the frame of \"%s\" is saved as \"%s\"", [[window title] UTF8String],
           [[window frameAutosaveName] UTF8String]);
  step.Check([[window frameAutosaveName] isEqualToString:@"PlayerMainWindow"],
             "the window saves its frame under its represented file name");
}

// The second instance started by launchApp reports to this file and quits (see PlayerHost.mm).
static void secondInstance(TourStepContext &step) {
  auto launch = step.Export<decltype(&launchApp)>("launchApp");
  NSString *mark = step.File(@"second-instance.txt");
  step.Require(HandOverToSecondInstance(mark), "the second instance can be told where to report");
  launch();
  EventLog("launchApp() returned; waiting for the second instance");
  NSString *report = nil;
  for (int i = 0; i < 300 && report == nil; i++) {
    step.Pump(0.1);
    report = [NSString stringWithContentsOfFile:mark encoding:NSUTF8StringEncoding error:NULL];
  }
  EndHandOver();
  step.Require(report != nil, "a second instance started");
  EventLog("second instance: %s", [[report stringByTrimmingCharactersInSet:[NSCharacterSet newlineCharacterSet]] UTF8String]);
  int pid = 0;
  step.Check(sscanf([report UTF8String], "pid %d", &pid) == 1 && pid > 0 && pid != getpid(),
             "the report comes from another process");
}

static const TourStep kServiceSteps[] = {
    {"window-title", "Window title", "setWindowTitle", windowTitle},
    {"scale-factor", "Backing scale factor", "getScaleFactor", scaleFactor},
    {"bring-to-front", "Bring to front: a miniaturized window comes back", "bringToFront", bringFront},
    {"trash", "Moving a scratch file to the Trash", "trashFile", trash},
    {"uuid", "Hardware UUID", "getUUID", uuid},
    {"app-version", "The application's build version", "getAppVersion", appVersion},
    {"autosave", "Frame autosave of the main window", DB_SET_AUTO_RESTORE_SYMBOL, frameAutosave},
    {"launch-app", "A second instance of the application", "launchApp", secondInstance},
};

TourStepList ServiceTourSteps(void) {
  return {kServiceSteps, sizeof kServiceSteps / sizeof kServiceSteps[0], __FILE__};
}
