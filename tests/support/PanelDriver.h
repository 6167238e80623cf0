// Answers the file panels that come up modally, as a user would: reads the panel back, picks
// entries in its file-type pop-up, selects files in its browser or types a name, then presses OK
// or Cancel. Answers are queued and given to panels in the order the panels appear; a panel that
// comes up with no answer queued, or with one this platform's panels cannot take, is cancelled and
// counted as unexpected. A panel is answered once it is visible and key (or after a few seconds),
// and a press it does not take is repeated while it stays up, as a panel drawn by another process
// refuses presses until it is ready; a panel run on top of another is answered on its own.
//
// On macOS the driver uses public API only (ok:, cancel:, setNameFieldStringValue:, the accessory
// view the caller made); the panels are drawn out of process there, and what cannot be done to them
// that way is named by PanelDriverCannotDo. On GNUstep it also reaches into the panel's browser.
#ifndef DB_TEST_PANEL_DRIVER_H
#define DB_TEST_PANEL_DRIVER_H

#import <AppKit/AppKit.h>
#include <objc/runtime.h>

#include <functional>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

struct PanelAnswer {
  // Called once the panel is ready, before anything is done to it.
  std::function<void(NSSavePanel *)> inspect;
  // Pop-up items to pick, in order; each pick sends the pop-up's action as the control does.
  std::vector<int> picks;
  // Called after the picks.
  std::function<void(NSSavePanel *)> afterPicks;
  // Absolute paths to select in the browser of an open panel (all in one directory). Where
  // PanelDriverCannotDo(PanelAction::SelectFiles) names a reason, a Cancel answer goes without
  // the selection and an OK answer with one is refused as unexpected.
  std::vector<std::string> select;
  // Text typed into the name field of a save panel before OK; null leaves the field alone.
  const char *name = nullptr;
  bool ok = true;
};

// What a test may ask of the driver that not every platform's panels let a program do.
enum class PanelAction {
  SelectFiles,  // choose files or folders in an open panel (PanelAnswer::select with OK)
};
// Why this platform's panels cannot be driven to do action, or null when they can. Tests that need
// the action skip with this reason: SKIP_UNLESS_PANELS_CAN(PanelAction::SelectFiles).
const char *PanelDriverCannotDo(PanelAction action);
#define SKIP_UNLESS_PANELS_CAN(action) \
  if (const char *cannot = PanelDriverCannotDo(action)) GTEST_SKIP() << cannot

void QueuePanelAnswer(const PanelAnswer &answer);
// Answers given so far, panels cancelled because no answer was queued, and OK answers the panel
// kept refusing for seconds (the driver then cancelled it).
int PanelsAnswered();
int UnexpectedPanels();
int RefusedOKs();
// Forgets queued answers and counters, and lets go of the last panel it answered.
void ResetPanelDriver();

// Runs the main run loop in its default mode until done() holds or the time is up; returns done().
// An exception that leaves a run-loop source is reported and dropped, as the application's own loop
// does on both platforms.
bool RunMainLoopUntil(const std::function<bool()> &done, double seconds = 20);

// While one lives, every panel raises NSInternalInconsistencyException where it would run modally
// (GNUstep: -[NSApplication runModalForWindow:]; macOS: -runModal of the panel classes that
// +openPanel and +savePanel hand out). The original implementations come back when it goes.
class PanelsRaiseWhenRun {
 public:
  PanelsRaiseWhenRun();
  ~PanelsRaiseWhenRun();

 private:
  std::vector<std::pair<Method, IMP>> patched_;
};

// A panel's allowed file types as read back, compared with the extensions a dialog set. Since
// macOS 12 the panel keeps content types instead and may hand back other strings (identifiers, one
// type for "jpg" and "jpeg"): there only an unrestricted panel and a restricted one can be told
// apart. "(all)" stands for no restriction.
struct PanelTypes {
  std::vector<std::string> types;
  bool mapped = false;  // the platform may have mapped the extensions onto content types
};
PanelTypes AllowedTypes(NSSavePanel *panel);
bool operator==(const PanelTypes &read, const std::vector<std::string> &set);
void PrintTo(const PanelTypes &read, std::ostream *out);

// The pop-up button in a panel's accessory view, or nil.
NSPopUpButton *AccessoryPopUp(NSSavePanel *panel);

// While one lives, +openPanel and +savePanel hand out panels that start in directory, as a
// platform's panel starts wherever it chooses; the factories are restored when it goes.
class PanelsStartIn {
 public:
  explicit PanelsStartIn(const std::string &directory);
  ~PanelsStartIn();
};
// A panel's start directory, standardized.
std::string StartDirectory(NSSavePanel *panel);

// A new empty directory in the temporary folder, removed when the program ends, holding the given
// (empty) files; returns its path, with symbolic links resolved.
std::string MakeTemporaryDirectory(const std::vector<std::string> &files);

std::string ToString(NSString *string);
std::vector<std::string> ToStrings(NSArray *strings);

#endif
