// Tour steps for the file dialogs: open with a filter pop-up, multiple selection, folders, save with
// a type pop-up that rewrites the name, and the asynchronous forms delivering to a callback.
#include "Tour.h"

#include "EventLog.h"

static void onDialogResult(const char *result) {
  EventLog("callback received %s", Quoted(result).c_str());
  EventLogPaths("  path", result);
}

static void makeMedia(TourStepContext &step) {
  for (NSString *name in @[@"cover.png", @"photo.jpg", @"notes.txt", @"readme.md", @"song.mp3"]) {
    step.MakeFile([@"Media" stringByAppendingPathComponent:name]);
  }
}

static std::string pathOf(TourStepContext &step, NSString *relative) { return step.FileC(relative); }

static void openWithFilter(TourStepContext &step) {
  makeMedia(step);
  auto open = step.Export<decltype(&DialogOpenFilePanel)>("DialogOpenFilePanel");
  const char *filters = "Images;png,jpg|Text;txt,md|All files;*";
  PanelAnswer answer;
  answer.popUpPick = 1;
  answer.choose = {pathOf(step, @"Media/notes.txt")};
  step.AnswerPanel(answer);
  EventLog("DialogOpenFilePanel(\"Choose a file to play\", %s, \"%s\", false)", step.FileC(@"Media"), filters);
  const char *result = open("Choose a file to play", step.FileC(@"Media"), filters, false);
  EventLog("DialogOpenFilePanel returned %s", Quoted(result).c_str());
  if (step.interactive()) return;
  step.Check(step.HasLine("picked \"Text (*.txt,*.md)\" in the pop-up: file types now [txt, md]"),
             "the pick in the pop-up allowed txt and md");
  step.Check(result && answer.choose[0] == result, "the chosen file came back");
}

static void openSeveral(TourStepContext &step) {
  for (NSString *name in @[@"1 Intro.mp3", @"2 Theme.mp3", @"3 Finale.mp3", @"cover.png"]) {
    step.MakeFile([@"Album" stringByAppendingPathComponent:name]);
  }
  auto open = step.Export<decltype(&DialogOpenFilePanel)>("DialogOpenFilePanel");
  const char *filters = "Music;mp3,ogg|All files;*";
  PanelAnswer answer;
  answer.choose = {pathOf(step, @"Album/1 Intro.mp3"), pathOf(step, @"Album/2 Theme.mp3"),
                   pathOf(step, @"Album/3 Finale.mp3")};
  step.AnswerPanel(answer);
  EventLog("DialogOpenFilePanel(\"Choose tracks\", %s, \"%s\", true)", step.FileC(@"Album"), filters);
  const char *result = open("Choose tracks", step.FileC(@"Album"), filters, true);
  EventLog("DialogOpenFilePanel returned %s", Quoted(result).c_str());
  EventLogPaths("  path", result);
  if (step.interactive()) return;
  std::string expected = answer.choose[0] + DB_LIST_SEPARATOR + answer.choose[1] + DB_LIST_SEPARATOR + answer.choose[2];
  step.Check(result && expected == result, "three paths joined by the separator, in order");
}

static void openFolder(TourStepContext &step) {
  step.MakeFile(@"Album/cover.png");
  step.MakeFile(@"Media/cover.png");
  auto open = step.Export<decltype(&DialogOpenFolderPanel)>("DialogOpenFolderPanel");
  PanelAnswer answer;
  answer.choose = {pathOf(step, @"Album")};
  step.AnswerPanel(answer);
  EventLog("DialogOpenFolderPanel(\"Choose a music folder\", %s, false)", step.FileC(@""));
  const char *result = open("Choose a music folder", step.FileC(@""), false);
  EventLog("DialogOpenFolderPanel returned %s", Quoted(result).c_str());
  if (step.interactive()) return;
  step.Check(result && answer.choose[0] == result, "the chosen folder came back");
}

static void saveWithType(TourStepContext &step) {
  step.MakeFile(@"Playlists/old.m3u");
  auto save = step.Export<decltype(&DialogSaveFilePanel)>("DialogSaveFilePanel");
  const char *filters = "Playlist;m3u,m3u8|Plain text;txt|All files;*";
  PanelAnswer answer;
  answer.popUpPick = 1;
  step.AnswerPanel(answer);
  EventLog("DialogSaveFilePanel(\"Save the playlist\", %s, \"party\", \"%s\")", step.FileC(@"Playlists"), filters);
  const char *result = save("Save the playlist", step.FileC(@"Playlists"), "party", filters);
  EventLog("DialogSaveFilePanel returned %s", Quoted(result).c_str());
  if (step.interactive()) return;
  step.Check(step.HasLine("picked \"Plain text (*.txt)\" in the pop-up: name now \"party.txt\", file types [txt]"),
             "the pick in the pop-up rewrote the name to party.txt");
  step.Check(result && pathOf(step, @"Playlists/party.txt") == result, "the save path came back");
}

static void openAsync(TourStepContext &step) {
  makeMedia(step);
  auto open = step.Export<decltype(&DialogOpenFilePanelAsync)>("DialogOpenFilePanelAsync");
  PanelAnswer answer;
  answer.choose = {pathOf(step, @"Media/cover.png")};
  step.AnswerPanel(answer);
  EventLog("DialogOpenFilePanelAsync(\"Choose a cover\", %s, \"Images;png,jpg|All files;*\", false, callback)",
           step.FileC(@"Media"));
  open("Choose a cover", step.FileC(@"Media"), "Images;png,jpg|All files;*", false, onDialogResult);
  EventLog("DialogOpenFilePanelAsync returned%s", [NSApp modalWindow] ? " (a panel is up)" : "; the panel follows");
  step.Check(!step.HasLine("callback received"), "the export returned before the result");
  bool delivered = step.WaitForLine("callback received", step.interactive() ? 600 : 20);
  step.Require(delivered, "the callback was called");
  if (step.interactive()) return;
  step.Check(step.HasLine(("callback received " + Quoted(answer.choose[0].c_str())).c_str()),
             "the callback received the chosen file");
}

static void folderAsyncCancelled(TourStepContext &step) {
  auto open = step.Export<decltype(&DialogOpenFolderPanelAsync)>("DialogOpenFolderPanelAsync");
  PanelAnswer answer;
  answer.cancel = true;
  step.AnswerPanel(answer);
  EventLog("DialogOpenFolderPanelAsync(\"Choose a folder\", %s, true, callback)", step.FileC(@""));
  open("Choose a folder", step.FileC(@""), true, onDialogResult);
  step.Require(step.WaitForLine("callback received", step.interactive() ? 600 : 20), "the callback was called");
  if (step.interactive()) return;
  step.Check(step.HasLine("callback received \"\""), "a cancelled dialog delivers the empty string");
}

static void saveAsync(TourStepContext &step) {
  auto save = step.Export<decltype(&DialogSaveFilePanelAsync)>("DialogSaveFilePanelAsync");
  step.MakeFile(@"Saved/earlier.md");
  PanelAnswer answer;
  answer.saveName = "tour-notes.md";
  step.AnswerPanel(answer);
  EventLog("DialogSaveFilePanelAsync(\"Save the notes\", %s, \"notes\", \"Markdown;md|All files;*\", callback)",
           step.FileC(@"Saved"));
  save("Save the notes", step.FileC(@"Saved"), "notes", "Markdown;md|All files;*", onDialogResult);
  step.Require(step.WaitForLine("callback received", step.interactive() ? 600 : 20), "the callback was called");
  if (step.interactive()) return;
  step.Check(step.HasLine(("callback received " + Quoted(step.FileC(@"Saved/tour-notes.md"))).c_str()),
             "the callback received the save path");
}

static const TourStep kDialogSteps[] = {
    {"open-filter", "Open panel with a filter specification and its \"File type:\" pop-up", "DialogOpenFilePanel",
     openWithFilter},
    {"open-multiple", "Open panel with multiple selection: paths joined by the separator", "DialogOpenFilePanel",
     openSeveral},
    {"open-folder", "Folder panel", "DialogOpenFolderPanel", openFolder},
    {"save-type", "Save panel: \"Save as type:\" rewrites the name", "DialogSaveFilePanel", saveWithType},
    {"open-async", "Asynchronous open panel: the result goes to a callback", "DialogOpenFilePanelAsync", openAsync},
    {"folder-async-cancel", "Asynchronous folder panel, cancelled: the callback gets \"\"",
     "DialogOpenFolderPanelAsync", folderAsyncCancelled},
    {"save-async", "Asynchronous save panel", "DialogSaveFilePanelAsync", saveAsync},
};

TourStepList DialogTourSteps(void) {
  return {kDialogSteps, sizeof kDialogSteps / sizeof kDialogSteps[0], __FILE__};
}
