// Exceptions raised inside exports, forced by making a method the export calls raise, and
// exceptions thrown by host callbacks: the export returns its failure value and the system log
// gets exactly one line from the bundle, naming the export and what stopped it.
#import <AppKit/AppKit.h>
#include <gtest/gtest.h>
#include "BundleLoader.h"
#include "DesktopBridge.h"
#include "LogCapture.h"

#include <objc/runtime.h>

#include <stdlib.h>
#include <unistd.h>

#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

void RaiseForced(id self, SEL _cmd) {
  [NSException raise:@"DBTestForcedException" format:@"forced by the test in %s", sel_getName(_cmd)];
}

// While it lives, the method raises DBTestForcedException instead of running.
class ForcedException {
 public:
  ForcedException(Class cls, SEL selector, bool classMethod = false)
      : method_(classMethod ? class_getClassMethod(cls, selector) : class_getInstanceMethod(cls, selector)) {
    EXPECT_NE(nullptr, method_) << sel_getName(selector);
    if (method_ != nullptr) original_ = method_setImplementation(method_, (IMP)RaiseForced);
  }
  ~ForcedException() {
    if (method_ != nullptr) method_setImplementation(method_, original_);
  }

 private:
  Method method_;
  IMP original_ = nullptr;
};

// The line the edge writes for the forced exception.
std::string ForcedLine(const std::string &exportName, const char *selector, const std::string &failure) {
  return exportName + " stopped by DBTestForcedException: forced by the test in " + selector + "; returning " + failure;
}

template <typename F> F Export(const char *name) { return BundleFunction<F>(name); }
#define EXPORT(name) Export<decltype(&::name)>(#name)

TEST(ExportEdge, ForcedObjectiveCExceptionsGiveTheFailureValueAndOneLine) {
  BundleHandle();
  {
    ForcedException forced([NSBundle class], @selector(infoDictionary));
    LogCapture log;
    EXPECT_EQ(nullptr, EXPORT(getAppVersion)());
    EXPECT_EQ(std::vector<std::string>{ForcedLine("getAppVersion", "infoDictionary", "null")}, log.stop());
  }
  {
    ForcedException forced([NSScreen class], @selector(mainScreen), true);
    LogCapture log;
    EXPECT_EQ(1.0f, EXPORT(getScaleFactor)());  // this program has no window, so the screen is asked
    EXPECT_EQ(std::vector<std::string>{ForcedLine("getScaleFactor", "mainScreen", "1.0")}, log.stop());
  }
  {
    char directory[] = "/tmp/db-edge-XXXXXX";
    ASSERT_NE(nullptr, mkdtemp(directory));
    std::string path = std::string(directory) + "/kept.txt";
    std::ofstream(path) << "x";
    ForcedException forced([NSFileManager class], @selector(trashItemAtURL:resultingItemURL:error:));
    LogCapture log;
    EXPECT_FALSE(EXPORT(trashFile)(path.c_str()));
    EXPECT_EQ(std::vector<std::string>{ForcedLine("trashFile", "trashItemAtURL:resultingItemURL:error:", "false")},
              log.stop());
    EXPECT_EQ(0, access(path.c_str(), F_OK)) << "the file was moved";
    unlink(path.c_str());
    rmdir(directory);
  }
  {
    // The menu exports reach the main menu through the application.
    ForcedException forced([NSApplication class], @selector(mainMenu));
    LogCapture log;
    EXPECT_FALSE(EXPORT(addMenuItem)(0, 0, "X", 5, "", -1, false));
    EXPECT_FALSE(EXPORT(isMenuItemChecked)(0, 0, 5));
    EXPECT_EQ((std::vector<std::string>{ForcedLine("addMenuItem", "mainMenu", "false"),
                                        ForcedLine("isMenuItemChecked", "mainMenu", "false")}),
              log.stop());
  }
  // Nothing stays broken: the next call, without the forced exception, works.
  EXPECT_FALSE(EXPORT(isMenuItemChecked)(0, 0, 5));
}

void RaiseNonException(const char *, const char *) { @throw @"a string, not an NSException"; }
void ThrowCxx(int, int, const char *) { throw std::runtime_error("thrown by the host"); }
void ThrowCxxInt(void) { throw 42; }

TEST(ExportEdge, ExceptionsFromHostCallbacksStopAtTheExport) {
  BundleHandle();
  LogCapture log;
  EXPORT(setMenuCallback)(RaiseNonException);
  EXPORT(notifyMenuSelected)("1", "T");
  EXPORT(setMenuCallback)(NULL);
  EXPORT(setDragDropCallback)(ThrowCxxInt, NULL, ThrowCxx);
  EXPORT(notifyDragDrop)(1, 2, "/p");
  EXPORT(notifyDragEnter)();
  EXPORT(setDragDropCallback)(NULL, NULL, NULL);
  std::vector<std::string> lines = log.stop();
  ASSERT_EQ(3u, lines.size()) << ::testing::PrintToString(lines);
  EXPECT_EQ(0u, lines[0].find("notifyMenuSelected stopped by an exception object of class "));
  EXPECT_NE(std::string::npos, lines[0].find(": a string, not an NSException; returning nothing")) << lines[0];
  const std::string cxx = " stopped by an exception that is not an Objective-C object (a C++ exception); returning nothing";
  EXPECT_EQ("notifyDragDrop" + cxx, lines[1]);
  EXPECT_EQ("notifyDragEnter" + cxx, lines[2]);
}

}  // namespace
