// Runs the tour's step tables in order and keeps, for each step, its log lines and screenshots.
#include "Tour.h"

#include "EventLog.h"
#include "PanelDriver.h"
#include "ScreenCapture.h"
#include "TourIndex.h"

#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static NSString *const kStepAbort = @"PlayerTourStepAbort";

static std::string sourceOf(const TourStep *step);

NSWindow *TourMainWindow(void) {
  NSWindow *window = [NSApp mainWindow];
  if (window) return window;
  for (NSWindow *candidate in [NSApp windows]) {
    if ([[candidate contentView] isKindOfClass:NSClassFromString(@"PlayerWindowView")]) return candidate;
  }
  return nil;
}

NSWindow *TourMainWindowMadeMain(TourStepContext &step) {
  NSWindow *window = TourMainWindow();
  step.Require(window != nil, "the host has its main window");
  for (int i = 0; i < 20 && [NSApp mainWindow] != window; i++) {
    [NSApp activateIgnoringOtherApps:YES];
    [window makeKeyAndOrderFront:nil];
    [window makeMainWindow];
    step.Pump(0.05);
  }
#if defined(__APPLE__)
  // A process that was not activated (started from a terminal or a test runner on a recent macOS)
  // has no main window at all; its frontmost window is the one the bundle then acts on.
  if ([NSApp mainWindow] == nil && ![NSApp isActive] && [[NSApp orderedWindows] firstObject] == window) return window;
#endif
  step.Require([NSApp mainWindow] == window, "the host's window is the main window");
  return window;
}

std::string Quoted(const char *text) {
  if (text == nullptr) return "(null)";
  std::string quoted = "\"";
  for (const char *c = text; *c; c++) {
    if (*c == DB_LIST_SEPARATOR) quoted += "<1C>";
    else quoted += *c;
  }
  return quoted + "\"";
}

#pragma mark - Step context

TourStepContext::TourStepContext(const TourOptions &options, TourStepRecord &record, int number)
    : options_(options), record_(record), number_(number) {}

void *TourStepContext::Symbol(const char *name) {
  void *symbol = BridgeSymbol(options_.bridge, name);
  if (symbol == nullptr) Require(false, "export %s missing", name);
  return symbol;
}

static std::string formatted(const char *format, va_list args) {
  char text[1024];
  vsnprintf(text, sizeof text, format, args);
  return text;
}

bool TourStepContext::Check(bool condition, const char *format, ...) {
  if (condition) return true;
  va_list args;
  va_start(args, format);
  std::string what = formatted(format, args);
  va_end(args);
  EventLog("check failed: %s", what.c_str());
  if (!failed_) failure_ = what;
  failed_ = true;
  return false;
}

void TourStepContext::Require(bool condition, const char *format, ...) {
  if (condition) return;
  va_list args;
  va_start(args, format);
  std::string what = formatted(format, args);
  va_end(args);
  Check(false, "%s", what.c_str());
  [NSException raise:kStepAbort format:@"%s", what.c_str()];
}

void TourStepContext::Pump(double seconds) {
  NSDate *until = [NSDate dateWithTimeIntervalSinceNow:seconds];
  while ([until timeIntervalSinceNow] > 0) {
    @autoreleasepool {
      NSEvent *event = [NSApp nextEventMatchingMask:NSAnyEventMask
                                          untilDate:[NSDate dateWithTimeIntervalSinceNow:0.02]
                                             inMode:NSDefaultRunLoopMode
                                            dequeue:YES];
      if (event) [NSApp sendEvent:event];
    }
  }
}

void TourStepContext::Skip(const char *reason) {
  skipReason_ = reason;
  [NSException raise:kStepAbort format:@"skipped: %s", reason];
}

size_t TourStepContext::CountLines(const char *prefix) const {
  size_t length = strlen(prefix), count = 0;
  for (const std::string &line : record_.lines) {
    if (line.compare(0, length, prefix) == 0) count++;
  }
  return count;
}

bool TourStepContext::WaitForLine(const char *prefix, double seconds) {
  NSDate *until = [NSDate dateWithTimeIntervalSinceNow:seconds];
  while (!HasLine(prefix)) {
    if ([until timeIntervalSinceNow] <= 0) return false;
    Pump(0.05);
  }
  return true;
}

NSString *TourStepContext::File(NSString *relative) const {
  return [[options_.outputDirectory stringByAppendingPathComponent:@"files"] stringByAppendingPathComponent:relative];
}

NSString *TourStepContext::MakeFile(NSString *relative, NSString *contents) const {
  NSString *path = File(relative);
  [[NSFileManager defaultManager] createDirectoryAtPath:[path stringByDeletingLastPathComponent]
                            withIntermediateDirectories:YES
                                             attributes:nil
                                                  error:NULL];
  [contents writeToFile:path atomically:NO encoding:NSUTF8StringEncoding error:NULL];
  return path;
}

void TourStepContext::Shot(const char *label, const char *caption) {
  NSString *file = [NSString stringWithFormat:@"%02d-%s-%d-%s.png", number_, record_.name.c_str(), ++shotCount_, label];
  NSString *path = [options_.outputDirectory stringByAppendingPathComponent:file];
  if (Check(CaptureApplicationWindows(path), "screenshot %s taken", [file UTF8String])) {
    record_.shots.push_back({[file UTF8String], caption});
    EventLog("screenshot: %s", [file UTF8String]);
  }
}

void TourStepContext::AnswerPanel(const PanelAnswer &answer) {
  if (!options_.interactive && !answer.cancel && !answer.choose.empty() && TourPanelsCannotSelect() != nullptr)
    Skip(TourPanelsCannotSelect());
  EndPanel();
  driver_ = [[TourPanelDriver alloc] initWithStep:this answer:answer watchOnly:options_.interactive];
}

void TourStepContext::EndPanel(void) {
  [driver_ stop];
  [driver_ release];
  driver_ = nil;
}

#pragma mark - Running

static void fileLine(const char *line, void *context) {
  static_cast<TourStepRecord *>(context)->lines.push_back(line);
}

// Why a step cannot run yet: the first of its needs that is absent, or "" when all are there. A need
// is an export's name, or Class/selector for a handler that the plug-in grafts onto a host class.
static std::string missingNeed(const BridgeAPI *bridge, const char *needs) {
  NSArray *names = [[NSString stringWithUTF8String:needs] componentsSeparatedByString:@" "];
  for (NSString *name in names) {
    if ([name length] == 0) continue;
    NSArray *graft = [name componentsSeparatedByString:@"/"];
    if ([graft count] == 2) {
      Class host = NSClassFromString([graft objectAtIndex:0]);
      if (![host instancesRespondToSelector:NSSelectorFromString([graft objectAtIndex:1])]) {
        return "handler " + std::string([[graft objectAtIndex:1] UTF8String]) + " not grafted onto " +
               [[graft objectAtIndex:0] UTF8String];
      }
    } else if (BridgeSymbol(bridge, [name UTF8String]) == nullptr) {
      return "export " + std::string([name UTF8String]) + " missing";
    }
  }
  return "";
}

static void runStep(const TourOptions &options, const TourStep &step, int number, int total,
                    TourStepRecord &record) {
  record.name = step.name;
  record.title = step.title;
  record.source = sourceOf(&step);
  EventLogSetObserver(fileLine, &record);
  EventLog("tour: step %d/%d %s: %s", number, total, step.name, step.title);
  std::string missing = missingNeed(options.bridge, step.needs);
  if (!missing.empty()) {
    record.outcome = "skipped: " + missing;
  } else {
    TourStepContext context(options, record, number);
    @try {
      @autoreleasepool {
        step.run(context);
      }
    } @catch (NSException *exception) {
      if (![[exception name] isEqualToString:kStepAbort]) {
        context.Check(false, "%s: %s", [[exception name] UTF8String], [[exception reason] UTF8String]);
      }
    }
    context.EndPanel();
    if (context.failed()) record.outcome = "failed: " + context.failure();
    else if (!context.skipReason().empty()) record.outcome = "skipped: " + context.skipReason();
    else record.outcome = "ok";
  }
  EventLog("tour: %s %s", step.name, record.outcome.c_str());
  EventLogSetObserver(nullptr, nullptr);
}

NSString *TourTrashDataFolder(NSString *outputDirectory) {
#if defined(__APPLE__)
  (void)outputDirectory;
  return nil;
#else
  return [outputDirectory stringByAppendingPathComponent:@"user-data/data"];
#endif
}

static bool prepareOutput(NSString *directory) {
  NSFileManager *files = [NSFileManager defaultManager];
  // The freedesktop Trash is $XDG_DATA_HOME/Trash: the tour's is in its own folder, never the
  // user's. (macOS has one Trash per user and volume, which no variable moves.)
  if (NSString *data = TourTrashDataFolder(directory)) {
    if (![files createDirectoryAtPath:data withIntermediateDirectories:YES attributes:nil error:NULL]) return false;
    setenv("XDG_DATA_HOME", [data fileSystemRepresentation], 1);
  }
  for (NSString *item in [files contentsOfDirectoryAtPath:directory error:NULL]) {
    if ([[item pathExtension] isEqualToString:@"png"] || [item isEqualToString:@"files"] ||
        [item isEqualToString:@"index.html"]) {
      [files removeItemAtPath:[directory stringByAppendingPathComponent:item] error:NULL];
    }
  }
  return [files createDirectoryAtPath:[directory stringByAppendingPathComponent:@"files"]
          withIntermediateDirectories:YES
                           attributes:nil
                                error:NULL];
}

static std::vector<TourStepList> allTables(void) {
  return {DialogTourSteps(), MenuTourSteps(), IntegrationTourSteps(), ServiceTourSteps(), ProcessTourSteps()};
}

static std::vector<const TourStep *> allSteps(void) {
  std::vector<const TourStep *> steps;
  for (const TourStepList &table : allTables()) {
    for (size_t i = 0; i < table.count; i++) steps.push_back(&table.steps[i]);
  }
  return steps;
}

// The repository path of the file whose table holds step.
static std::string sourceOf(const TourStep *step) {
  for (const TourStepList &table : allTables()) {
    if (step >= table.steps && step < table.steps + table.count) {
      const char *slash = strrchr(table.source, '/');
      return std::string("host/tour/") + (slash ? slash + 1 : table.source);
    }
  }
  return "";
}

// The repository as index.html in directory reaches it: a relative path ("../../" for build/tour),
// so that the page's links to the steps' code survive moving the repository with its build. Empty
// when the sources this host was built from are not there.
static std::string repositoryFrom(NSString *directory) {
#if defined(PLAYER_SOURCE_DIR)
  NSString *repository = [@PLAYER_SOURCE_DIR stringByResolvingSymlinksInPath];
  if (![[NSFileManager defaultManager] fileExistsAtPath:[repository stringByAppendingPathComponent:@"host/tour"]])
    return "";
  NSArray *from = [[directory stringByResolvingSymlinksInPath] pathComponents];
  NSArray *to = [repository pathComponents];
  NSUInteger common = 0;
  while (common < [from count] && common < [to count] &&
         [[from objectAtIndex:common] isEqualToString:[to objectAtIndex:common]]) {
    common++;
  }
  std::string path;
  for (NSUInteger i = common; i < [from count]; i++) path += "../";
  for (NSUInteger i = common; i < [to count]; i++) path += std::string([[to objectAtIndex:i] UTF8String]) + "/";
  return path.empty() ? "./" : path;
#else
  (void)directory;
  return "";
#endif
}

NSArray *TourStepNamesIn(NSString *text) {
  NSMutableArray *names = [NSMutableArray array];
  for (NSString *name in [text componentsSeparatedByCharactersInSet:[NSCharacterSet whitespaceCharacterSet]]) {
    if ([name length] > 0) [names addObject:name];
  }
  return names;
}

NSArray *UnknownTourSteps(NSArray *names) {
  NSMutableSet *known = [NSMutableSet set];
  for (const TourStep *step : allSteps()) [known addObject:[NSString stringWithUTF8String:step->name]];
  NSMutableArray *unknown = [NSMutableArray array];
  for (NSString *name in names) {
    if (![known containsObject:name]) [unknown addObject:name];
  }
  return unknown;
}

void PrintTourSteps(FILE *out) {
  for (const TourStep *step : allSteps()) fprintf(out, "  %-22s %s\n", step->name, step->title);
}

int RunTour(const TourOptions &options) {
  if (!prepareOutput(options.outputDirectory)) {
    EventLog("tour: cannot write to %s", [options.outputDirectory fileSystemRepresentation]);
    return 1;
  }
  std::vector<const TourStep *> steps;
  for (const TourStep *step : allSteps()) {
    if (options.only == nil || [options.only containsObject:[NSString stringWithUTF8String:step->name]]) {
      steps.push_back(step);
    }
  }
  int total = (int)steps.size();
  EventLog("tour: %d steps%s, output in %s", total, options.interactive ? " (interactive)" : "",
           [options.outputDirectory fileSystemRepresentation]);

  std::vector<TourStepRecord> records((size_t)total);
  int failed = 0, skipped = 0;
  for (int number = 0; number < total; number++) {
    TourStepRecord &record = records[(size_t)number];
    runStep(options, *steps[(size_t)number], number + 1, total, record);
    if (record.outcome.compare(0, 6, "failed") == 0) failed++;
    if (record.outcome.compare(0, 7, "skipped") == 0) skipped++;
  }
  NSString *index = [options.outputDirectory stringByAppendingPathComponent:@"index.html"];
  bool written = WriteTourIndex(index, records, repositoryFrom(options.outputDirectory));
  EventLog("tour: %d steps: %d ok, %d skipped, %d failed", total, total - failed - skipped, skipped, failed);
  if (written) {
    EventLog("tour: screenshots in %s", [options.outputDirectory fileSystemRepresentation]);
    EventLog("tour: index page %s", [index fileSystemRepresentation]);
  } else {
    EventLog("tour: cannot write %s", [index fileSystemRepresentation]);
  }
  return failed == 0 && written ? 0 : 1;
}
