// The guided tour: the sample host walks through every facility of DesktopBridge, calling the
// exports exactly as a host does (resolved by name from the loaded bundle), answering its own
// dialogs, taking a screenshot of each dialog and menu as it is shown, and writing an index page.
//
// A step is one row of a table: a short name, a title, the exports it calls and a small function.
// Each facility keeps its table in a file of its own (Tour*Steps.mm); the runner (TourRunner.mm)
// runs the tables in order. A step whose exports the bundle lacks is reported as skipped.
#ifndef PLAYER_TOUR_H
#define PLAYER_TOUR_H

#import <AppKit/AppKit.h>

#include "BridgeAPI.h"

#include <stdio.h>

#include <string>
#include <vector>

class TourStepContext;
@class TourPanelDriver;
typedef void (*TourStepFunction)(TourStepContext &step);

struct TourStep {
  const char *name;   // short identifier: screenshot file names and page anchors
  const char *title;  // what the step shows, one line
  const char *needs;  // the exports the step calls, separated by blanks
  TourStepFunction run;
};

struct TourStepList {
  const TourStep *steps;
  size_t count;
  const char *source;  // __FILE__ of the table's file (only its name is used: host/tour/<name>)
};

// The tables, in the order the tour runs them.
TourStepList DialogTourSteps(void);
TourStepList MenuTourSteps(void);
TourStepList IntegrationTourSteps(void);
TourStepList ServiceTourSteps(void);
TourStepList ProcessTourSteps(void);

// How a panel shown during a step is to be answered (unattended tour).
struct PanelAnswer {
  bool cancel = false;
  std::vector<std::string> choose;  // open panel: absolute paths to select, all in one folder
  int popUpPick = -1;               // index to pick in the accessory pop-up first (-1: none)
  std::string saveName;             // save panel: name to type ("" keeps what the panel shows)
};

struct TourScreenshot {
  std::string file;     // file name inside the output folder
  std::string caption;  // what it shows
};

struct TourStepRecord {
  std::string name, title;
  std::string source;   // the file that holds the step, relative to the repository (host/tour/...)
  std::string outcome;  // "ok", "skipped: ...", "failed: ..."
  std::vector<std::string> lines;
  std::vector<TourScreenshot> shots;
};

struct TourOptions {
  const BridgeAPI *bridge = nullptr;
  NSString *outputDirectory = nil;  // screenshots, index.html, files/ with the scratch files
  bool interactive = false;         // dialogs wait for the person instead of being answered
  NSArray *only = nil;              // names of the steps to run (nil: all of them)
};

// The option (a user default from the command line) that asks the host to open a file at launch:
// GNUstep's -GSFilePath FILE, Cocoa's -NSOpen FILE.
#if defined(GNUSTEP)
#define kPlayerOpenAtLaunchOption @"GSFilePath"
#else
#define kPlayerOpenAtLaunchOption @"NSOpen"
#endif

// The step names given in text (separated by blanks), and those of them that name no step.
NSArray *TourStepNamesIn(NSString *text);
NSArray *UnknownTourSteps(NSArray *names);
// Every step, one line each ("name  title"), in the order the tour runs them.
void PrintTourSteps(FILE *out);

// The folder that the tour makes its XDG_DATA_HOME, so that trashed files go to a Trash of its own
// inside the output folder (folder/Trash); nil on macOS, where the Trash is the user's.
NSString *TourTrashDataFolder(NSString *outputDirectory);

// Runs every step on the main thread (events keep flowing while a step waits) and writes the
// index page. Returns the process exit status: 0 when no step failed.
int RunTour(const TourOptions &options);

// What a step works with. Failed checks are recorded and the step goes on; Require and a missing
// export end the step at once.
class TourStepContext {
 public:
  TourStepContext(const TourOptions &options, TourStepRecord &record, int number);

  // The export called name, for a step that listed it in its needs.
  template <typename F> F Export(const char *name) { return reinterpret_cast<F>(Symbol(name)); }
  void *Symbol(const char *name);

  bool Check(bool condition, const char *format, ...) __attribute__((format(printf, 3, 4)));
  void Require(bool condition, const char *format, ...) __attribute__((format(printf, 3, 4)));
  // Ends the step at once as skipped, for the reason given.
  void Skip(const char *reason);

  // Keeps the application's events and timers going for a while, or until a line of this step's
  // log starts with prefix (true when it did).
  void Pump(double seconds);
  bool WaitForLine(const char *prefix, double seconds);
  bool HasLine(const char *prefix) const { return CountLines(prefix) > 0; }
  size_t CountLines(const char *prefix) const;

  // The scratch file or folder at relative inside the output folder's files/ ("" for files/).
  NSString *File(NSString *relative) const;
  const char *FileC(NSString *relative) const { return [File(relative) fileSystemRepresentation]; }

  // Creates the scratch file (with its folders) and returns its path.
  NSString *MakeFile(NSString *relative, NSString *contents = @"") const;

  // Screenshot of the application's windows as they are on screen now, kept under this step.
  void Shot(const char *label, const char *caption);

  // Answers the next panel that runs modally (or, interactive, only photographs it); ends when
  // the panel has closed or EndPanel is called. Skips the step when the answer chooses items in an
  // open panel and this platform's panels cannot be driven to (TourPanelsCannotSelect).
  void AnswerPanel(const PanelAnswer &answer);
  void EndPanel(void);

  bool interactive() const { return options_.interactive; }
  const BridgeAPI *bridge() const { return options_.bridge; }
  NSString *outputDirectory() const { return options_.outputDirectory; }
  bool failed() const { return failed_; }
  std::string failure() const { return failure_; }
  const std::string &skipReason() const { return skipReason_; }

 private:
  const TourOptions &options_;
  TourStepRecord &record_;
  int number_;
  int shotCount_ = 0;
  bool failed_ = false;
  std::string failure_;
  std::string skipReason_;
  TourPanelDriver *driver_ = nil;
};

// The host's main window (its content view is the PlayerWindowView).
NSWindow *TourMainWindow(void);
// The same window, made the main window first as a click on it would (another application on the
// display may have taken the focus); ends the step when it cannot be.
NSWindow *TourMainWindowMadeMain(TourStepContext &step);

// A returned string as the log shows it: quoted, "(null)" for null, the list separator as <1C>.
std::string Quoted(const char *text);

#endif
