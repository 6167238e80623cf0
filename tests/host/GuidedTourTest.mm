// The sample host's guided tour, run unattended as the README's main command runs it: every step
// runs (none skipped) and leaves its expected lines in the event log, under its own step; what it
// did is on disk; the screenshots it names are PNG files shown in the index page; what it leaves of
// the user's kind (trashed files, user defaults) stays out of the user's own folders.
#include <gtest/gtest.h>
#include "PanelDriver.h"
#include "Subprocess.h"

#include <dirent.h>
#include <pwd.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <regex>
#include <sstream>

namespace {

struct StepExpectation {
  const char *name;
  std::vector<std::string> lines;  // prefixes of lines the step must log ($F: the scratch folder, $O: the output)
};

std::string Replace(std::string text, const std::string &from, const std::string &to) {
  for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
    text.replace(at, from.size(), to);
  }
  return text;
}

std::string ReadFile(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

bool IsPng(const std::string &path) {
  std::string bytes = ReadFile(path);
  return bytes.size() > 1000 && bytes.compare(0, 8, "\x89PNG\r\n\x1a\n") == 0;
}

// The user's home folder as GNUstep takes it: the password entry's, not HOME.
std::string UserHome() {
  const struct passwd *user = getpwuid(getuid());
  return user && user->pw_dir ? user->pw_dir : "";
}

// The records in the user's home Trash of files that came from folder.
std::vector<std::string> UserTrashEntriesFrom(const std::string &folder) {
  std::vector<std::string> found;
  std::string info = UserHome() + "/.local/share/Trash/info";
  DIR *dir = UserHome().empty() ? nullptr : opendir(info.c_str());
  if (dir == nullptr) return found;
  while (struct dirent *entry = readdir(dir)) {
    std::string path = info + "/" + entry->d_name;
    std::ifstream record(path);
    std::string line;
    while (std::getline(record, line)) {
      if (line.compare(0, 5 + folder.size() + 1, "Path=" + folder + "/") == 0) found.push_back(path);
    }
  }
  closedir(dir);
  return found;
}

class GuidedTour : public ::testing::Test {
 protected:
  // The tour answers its open panels by selecting files in them.
  static const char *CannotRun() { return PanelDriverCannotDo(PanelAction::SelectFiles); }

  static void SetUpTestSuite() {
    if (CannotRun()) return;
    char folder[] = "/tmp/db-tour-test-XXXXXX";
    ASSERT_NE(mkdtemp(folder), nullptr);
    output_ = new std::string(folder);
    mkdir((*output_ + "/launch").c_str(), 0755);
    std::ofstream(*output_ + "/launch/Welcome.m3u") << "#EXTM3U\n";
    std::vector<std::string> argv = {PLAYER_EXECUTABLE};
    for (const std::string &arg : GuiArguments()) argv.push_back(arg);
    argv.insert(argv.end(), {"-PlayerTour", "YES", "-PlayerTourOutput", *output_});
    for (const std::string &arg : OpenAtLaunchArguments(*output_ + "/launch/Welcome.m3u")) argv.push_back(arg);
    run_ = new SubprocessResult(RunSubprocess(argv, 400));
  }
  static void TearDownTestSuite() {
    if (output_ == nullptr) return;
    std::string command = "rm -rf '" + *output_ + "'";
    if (system(command.c_str()) != 0) fprintf(stderr, "could not remove %s\n", output_->c_str());
    delete run_;
    delete output_;
    output_ = nullptr;
  }
  void SetUp() override {
    if (const char *cannot = CannotRun()) GTEST_SKIP() << "the tour cannot run unattended: " << cannot;
  }

  // The lines filed under one step: from its heading to its outcome.
  static std::vector<std::string> StepLines(const std::string &name) {
    std::vector<std::string> lines = SplitLines(run_->out), section;
    std::regex heading("\\[player\\] tour: step [0-9]+/[0-9]+ " + name + ": .*");
    bool inside = false;
    for (const std::string &line : lines) {
      if (!inside && std::regex_match(line, heading)) inside = true;
      if (inside) section.push_back(line);
      if (inside && line.compare(0, 16 + name.size(), "[player] tour: " + name + " ") == 0) break;
    }
    return section;
  }

  static bool HasPrefix(const std::vector<std::string> &lines, const std::string &prefix) {
    for (const std::string &line : lines) {
      if (line.compare(0, prefix.size(), prefix) == 0) return true;
    }
    return false;
  }

  static std::string *output_;
  static SubprocessResult *run_;
};

std::string *GuidedTour::output_ = nullptr;
SubprocessResult *GuidedTour::run_ = nullptr;

const std::vector<StepExpectation> &Expectations() {
  static const std::vector<StepExpectation> steps = {
      {"open-filter",
       {"picked \"Text (*.txt,*.md)\" in the pop-up: file types now [txt, md]",
        "DialogOpenFilePanel returned \"$F/Media/notes.txt\""}},
      {"open-multiple",
       {"DialogOpenFilePanel returned \"$F/Album/1 Intro.mp3<1C>$F/Album/2 Theme.mp3<1C>$F/Album/3 Finale.mp3\""}},
      {"open-folder", {"DialogOpenFolderPanel returned \"$F/Album\""}},
      {"save-type",
       {"picked \"Plain text (*.txt)\" in the pop-up: name now \"party.txt\", file types [txt]",
        "DialogSaveFilePanel returned \"$F/Playlists/party.txt\""}},
      {"open-async",
       {"DialogOpenFilePanelAsync returned; the panel follows", "callback received \"$F/Media/cover.png\""}},
      {"folder-async-cancel", {"pressing Cancel", "callback received \"\""}},
      {"save-async", {"callback received \"$F/Saved/tour-notes.md\""}},
      {"menu-bar",
       {"addMenuItem(0, 0, \"Tour\", 40, \"\", -1, true) -> true", "menu selected: tag=40 title=\"Tour\"",
        "menu selected: tag=41 title=\"Play\""}},
      {"menu-check",
       {"setMenuItemChecked(0, 40, 43, true); isMenuItemChecked(0, 40, 43) -> true",
        "menu selected: tag=43 title=\"Shuffle\"",
        "setMenuItemChecked(0, 40, 43, false); isMenuItemChecked(0, 40, 43) -> false"}},
      {"menu-submenu",
       {"menu selected: tag=44 title=\"Speed\"", "menu selected: tag=442 title=\"Double\""}},
      {"menu-edit",
       {"removeMenuItem(0, 40, 42) -> true", "removeMenuItem(0, 40, 42) -> false",
        "addMenuItem(5, 6, \"Nowhere\", 99, \"\", -1, false) -> false", "menu selected: tag=41 title=\"Pause\""}},
      {"dock-menu",
       {"menu selected: tag=7 title=\"Play Next\"", "removeAllMenuItems(0, 1): dock menu now has 0 items"}},
      {"drop",
       {"the main view takes drags of: ", "drag entered", "drop at x=120 y=80", "  dropped $F/Drops/Sunrise.mp3", "  dropped $F/Drops/c.mp3",
        "drag exited"}},
      {"open-file",
       {"open-file request at launch: getOpenFilename() -> \"$O/launch/Welcome.m3u\"",
        "open file: $F/Playlists/Road trip.m3u",
        "getOpenFilename() -> \"$F/Playlists/Road trip.m3u\"; savedFilename holds the same pointer"}},
      {"window-title",
       {"setWindowTitle(\"Player \xe2\x80\x94 Road trip\"): the window is titled \"Player \xe2\x80\x94 Road trip\""}},
      {"scale-factor", {"getScaleFactor() -> 1.0"}},
      {"bring-to-front",
       {"window miniaturized: yes", "bringToFront(): window miniaturized: no, visible: yes"}},
      {"trash",
       {"trashFile($F/Old playlist.m3u) -> true; the file is gone",
#if defined(GNUSTEP)
        "in the tour's own Trash: $O/user-data/data/Trash/files/Old playlist.m3u",
#endif
        "trashFile(the same path) -> false"}},
      {"uuid", {"getUUID() -> "}},
      {"app-version", {"getAppVersion() -> \"1234\""}},
      {"autosave", {"setAutoRestore(): the frame of "}},
      {"launch-app", {"second instance: pid "}},
      {"process-output",
       {"  output: to standard output", "  output: to standard error", "  output: [two words]", "  output: []",
        "  output: [it's]"}},
      {"process-failure",
       {"createProcess(\"/nonexistent/player-tool\", \"\", NULL, true, &output) -> -1"}},
      {"process-detached", {"the detached child wrote detached.txt and ended"}},
  };
  return steps;
}

TEST_F(GuidedTour, RunsToTheEndAndExitsZero) {
  ASSERT_FALSE(run_->timedOut) << run_->out << run_->err;
  EXPECT_EQ(run_->exitStatus, 0) << run_->out << run_->err;
  std::vector<std::string> lines = SplitLines(run_->out);
  EXPECT_TRUE(HasPrefix(lines, "[player] tour: index page " + *output_ + "/index.html")) << run_->out;
  EXPECT_TRUE(HasPrefix(lines, "[player] quitting")) << run_->out;
}

TEST_F(GuidedTour, RunsEveryStepThatThisTestKnows) {
  std::regex heading("\\[player\\] tour: step ([0-9]+)/([0-9]+) ([a-z-]+): .*");
  std::vector<std::string> ran;
  for (const std::string &line : SplitLines(run_->out)) {
    std::smatch match;
    if (std::regex_match(line, match, heading)) ran.push_back(match[3]);
  }
  std::vector<std::string> known;
  for (const StepExpectation &step : Expectations()) known.push_back(step.name);
  EXPECT_EQ(ran, known) << "a step without expectations here, or one that did not run";
}

TEST_F(GuidedTour, EveryStepLogsWhatItShows) {
  EXPECT_TRUE(HasPrefix(SplitLines(run_->out), "[player] handlers grafted onto the host: PlayerAppDelegate "
                                               "applicationDockMenu:, PlayerAppDelegate application:openFile:, "
                                               "PlayerWindowView draggingEntered:"))
      << run_->out;
  EXPECT_EQ(run_->out.find(" skipped: "), std::string::npos) << "every export is built: no step may be skipped";
  for (const StepExpectation &step : Expectations()) {
    SCOPED_TRACE(step.name);
    std::vector<std::string> section = StepLines(step.name);
    ASSERT_FALSE(section.empty()) << "no step " << step.name << " in\n" << run_->out;
    EXPECT_EQ(section.back(), "[player] tour: " + std::string(step.name) + " ok");
    for (const std::string &line : step.lines) {
      std::string expected = Replace(Replace("[player] " + line, "$F", *output_ + "/files"), "$O", *output_);
      EXPECT_TRUE(HasPrefix(section, expected)) << "missing: " << expected;
    }
  }
}

TEST_F(GuidedTour, EffectsAreRealOnDisk) {
  std::string files = *output_ + "/files";
  EXPECT_NE(access((files + "/Old playlist.m3u").c_str(), F_OK), 0) << "the trashed file is still there";
  EXPECT_EQ(ReadFile(files + "/detached.txt"), "finished\n");
  std::string report = ReadFile(files + "/second-instance.txt");
  std::smatch pid;
  ASSERT_TRUE(std::regex_search(report, pid, std::regex("^pid ([0-9]+)"))) << report;
  EXPECT_NE(std::stoi(pid[1]), 0);
  std::regex uuid("getUUID\\(\\) -> (\"[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}\"|\\(null\\))");
  EXPECT_TRUE(std::regex_search(run_->out, uuid)) << run_->out;
}

TEST_F(GuidedTour, LeavesTheUsersDataAlone) {
  // Nothing in the user's freedesktop Trash came from this tour's folder.
  EXPECT_EQ(UserTrashEntriesFrom(*output_), std::vector<std::string>{});
#if defined(GNUSTEP)
  // The trashed file and its record are in the tour's own Trash, inside its output folder.
  std::string trash = *output_ + "/user-data/data/Trash";
  EXPECT_EQ(ReadFile(trash + "/files/Old playlist.m3u"), "#EXTM3U\n");
  EXPECT_NE(ReadFile(trash + "/info/Old playlist.m3u.trashinfo").find("Path="), std::string::npos);
  // Where the tests give GNUstep a configuration of their own, the host's saved window frame is
  // found in its defaults folder, not the user's ~/GNUstep.
  if (const char *config = getenv("GNUSTEP_CONFIG_FILE")) {
    std::string folder = std::string(config).substr(0, std::string(config).rfind('/'));
    EXPECT_NE(ReadFile(folder + "/GNUstep/Defaults/Player.plist").find("PlayerMainWindow"), std::string::npos)
        << "no saved frame in " << folder;
  }
#endif
}

TEST_F(GuidedTour, IndexPageShowsEveryScreenshotBesideItsStep) {
  std::string index = ReadFile(*output_ + "/index.html");
  ASSERT_FALSE(index.empty());
  std::regex screenshotLine("\\[player\\] screenshot: ([^ ]+\\.png)");
  size_t shots = 0;
  for (std::sregex_iterator it(run_->out.begin(), run_->out.end(), screenshotLine), end; it != end; ++it, ++shots) {
    std::string file = (*it)[1];
    EXPECT_TRUE(IsPng(*output_ + "/" + file)) << file;
    EXPECT_NE(index.find("<img src=\"" + file + "\""), std::string::npos) << file;
  }
  // Each dialog and each menu is photographed as it is shown.
  for (const char *file : {"01-open-filter-1-panel.png", "01-open-filter-2-picked.png", "02-open-multiple-1-panel.png",
                           "03-open-folder-1-panel.png", "04-save-type-1-panel.png", "04-save-type-2-picked.png",
                           "05-open-async-1-panel.png", "06-folder-async-cancel-1-panel.png", "07-save-async-1-panel.png",
                           "08-menu-bar-1-menu.png", "09-menu-check-1-checked.png", "10-menu-submenu-1-submenu.png",
                           "11-menu-edit-1-edited.png", "12-dock-menu-1-dock.png", "13-drop-1-drop.png"}) {
    EXPECT_NE(run_->out.find(std::string("[player] screenshot: ") + file), std::string::npos) << file;
  }
  for (const StepExpectation &step : Expectations()) {
    EXPECT_NE(index.find("<section id=\"" + std::string(step.name) + "\">"), std::string::npos) << step.name;
  }
  // Each step links to the file that holds its code, by a path relative to the page.
  std::regex codeLink("<p class=code>Code: <a href=\"([^\"]+)\">(host/tour/Tour[A-Za-z]+Steps\\.mm)</a></p>");
  size_t links = 0;
  for (std::sregex_iterator it(index.begin(), index.end(), codeLink), end; it != end; ++it, ++links) {
    std::string href = (*it)[1];
    EXPECT_NE(href[0], '/') << href;
    EXPECT_EQ(href.find(':'), std::string::npos) << href;
    EXPECT_EQ(href.substr(href.size() - (*it)[2].length()), (*it)[2]) << href;
    std::string path;  // the link with its %XX escapes decoded
    for (size_t i = 0; i < href.size(); i++) {
      if (href[i] == '%' && i + 2 < href.size()) {
        path += (char)std::stoi(href.substr(i + 1, 2), nullptr, 16);
        i += 2;
      } else {
        path += href[i];
      }
    }
    EXPECT_EQ(access((*output_ + "/" + path).c_str(), R_OK), 0) << href;
  }
  EXPECT_EQ(links, Expectations().size());
  // Log lines stand in the page, escaped.
  EXPECT_NE(index.find("picked &quot;Text (*.txt,*.md)&quot; in the pop-up"), std::string::npos);
  EXPECT_GT(shots, 0u);
}

}  // namespace
