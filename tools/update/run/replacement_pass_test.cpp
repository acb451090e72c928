// The replacement pass, end to end through the real program: an installed
// application, an unpacked release and a configuration in a fresh folder.
// Whatever fails, every listed name ends as a whole old or a whole new
// version, every old version is in the application or its backup folder,
// and the log says what became of each name and why.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "platform/platform.h"
#include "platform/test_support.h"
#include "testing/log_lines.h"
#include "testing/trees.h"

namespace {

namespace fs = std::filesystem;
using test_support::exists;
using test_support::read_file;
using test_support::write_file;
using testing_trees::make_tree;
using testing_trees::path_of_length;
using testing_trees::snapshot;
using testing_trees::Tree;
using testing_logs::Lines;

// The folders of one test, below a fresh temporary folder:
//   app/            the application folder
//   tmp/unzipTemp/  the unpacked release (tmp/ is the configured temporary path)
//   data/           the configuration and updateLog/update.log
class ReplacementPassTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = test_support::make_temp_folder();
    app_ = root_ + "app/";
    temp_ = root_ + "tmp/";
    release_ = temp_ + "unzipTemp/";
    data_ = root_ + "data/";
    fs::create_directories(app_);
    fs::create_directories(release_);
    fs::create_directories(data_ + "updateLog");
    write_file(log_path(), "");
  }
  void TearDown() override {
    for (const std::string& path : immutable_) test_support::set_immutable(path, false);
    test_support::remove_tree(root_);
    if (!other_temp_.empty()) test_support::remove_tree(other_temp_);
  }

  std::string log_path() const { return data_ + "updateLog/update.log"; }
  std::string config_path() const { return data_ + "update_config.xml"; }

  void write_config(const std::string& file_names, const std::string& app_path, const std::string& temp_path,
                    const char* allow_beta = "false") {
    write_file(config_path(), "<?xml version=\"1.0\"?>\n<run_config>\n"
                              "  <current_run_config orbiq_app_path=\"" + app_path +
                                  "\" update_temp_path=\"" + temp_path + "\" allow_beta=\"" + allow_beta +
                                  "\"/>\n  <copy_config file_names=\"" + file_names + "\"/>\n</run_config>\n");
  }
  void write_config(const std::string& file_names) { write_config(file_names, app_, temp_); }

  int run() { return test_support::run_corvane(config_path()); }

  // The pass's log lines, without time prefixes and configuration lines.
  Lines log_lines() { return testing_logs::pass_log_lines(log_path()); }

  // Puts the temporary folder, with an empty release, on another file system
  // (the shared-memory one; under Wine through Z:), so that every new version
  // is copied rather than moved in one rename. Returns the temporary folder,
  // the old one where there is no other.
  std::string temp_on_other_file_system() {
    const std::string shm = test_support::kWindows ? "Z:/dev/shm/" : "/dev/shm/";
    if (!fs::is_directory(shm)) return temp_;
    other_temp_ = shm + fs::path(root_).parent_path().filename().string() + "/";
    fs::create_directories(other_temp_);
    test_support::remove_tree(temp_);
    temp_ = other_temp_;
    release_ = temp_ + "unzipTemp/";
    fs::create_directories(release_);
    return temp_;
  }

  // Makes an entry immutable for this test; false where that cannot be done.
  bool make_immutable(const std::string& path) {
    if (!test_support::set_immutable(path, true)) return false;
    immutable_.push_back(path);
    return true;
  }

  // The expected lines with "{app}" and "{release}" filled in.
  Lines expected(const Lines& lines) const {
    Lines filled;
    for (std::string line : lines) {
      for (const auto& [key, value] : {std::pair<std::string, std::string>{"{app}", app_}, {"{release}", release_}}) {
        for (std::size_t at = line.find(key); at != std::string::npos; at = line.find(key, at + value.size()))
          line.replace(at, key.size(), value);
      }
      filled.push_back(line);
    }
    return filled;
  }

  std::string root_, app_, temp_, release_, data_, other_temp_;
  std::vector<std::string> immutable_;
};

// The short (8.3) form of a folder path ending in a separator, where it
// differs from the path; empty where there is none (POSIX).
std::string short_spelling(const std::string& folder) {
  char buffer[platform::kPathBuffer];
  if (!platform::short_path(folder.c_str(), buffer, sizeof buffer).ok()) return std::string();
  std::string spelling = buffer;
  if (!spelling.empty() && !platform::is_path_separator(spelling.back())) spelling += '/';
  return spelling == folder ? std::string() : spelling;
}

std::string upper_cased(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

// Compares log lines with expected ones, where an expected line that ends in
// " (*)" takes any reason in parentheses after its path.
::testing::AssertionResult LinesMatch(const Lines& actual, const Lines& expected) {
  bool same = actual.size() == expected.size();
  for (std::size_t i = 0; same && i < actual.size(); ++i) {
    const std::string& want = expected[i];
    const std::string& got = actual[i];
    const std::string any = " (*)";
    if (want.size() > any.size() && want.compare(want.size() - any.size(), any.size(), any) == 0) {
      std::string head = want.substr(0, want.size() - 3);  // up to and including " ("
      same = got.size() > head.size() + 1 && got.compare(0, head.size(), head) == 0 && got.back() == ')';
    } else {
      same = got == want;
    }
  }
  if (same) return ::testing::AssertionSuccess();
  auto show = [](const Lines& lines) {
    std::string text;
    for (const std::string& line : lines) text += "\n  " + line;
    return text;
  };
  return ::testing::AssertionFailure() << "log lines:" << show(actual) << "\nexpected:" << show(expected);
}

// One run from given trees to expected trees and log lines.
struct Scenario {
  const char* name;
  Tree app;
  Tree release;
  std::string file_names;
  Tree app_after;
  Tree release_after;
  Lines log;
};

const Scenario kScenarios[] = {
    {"a file and a folder replaced, the old ones in the backup",
     {{"app.exe", "app 1"}, {"plugins/a.plg", "a 1"}, {"plugins/old/x.plg", "x 1"}, {"readme.txt", "readme 1"}},
     {{"app.exe", "app 2"}, {"plugins/a.plg", "a 2"}, {"plugins/new/y.plg", "y 2"}},
     "app.exe;plugins;",
     {{"app.exe", "app 2"},
      {"plugins", "/"},
      {"plugins/a.plg", "a 2"},
      {"plugins/new", "/"},
      {"plugins/new/y.plg", "y 2"},
      {"readme.txt", "readme 1"},
      {"updateTemp", "/"},
      {"updateTemp/app.exe", "app 1"},
      {"updateTemp/plugins", "/"},
      {"updateTemp/plugins/a.plg", "a 1"},
      {"updateTemp/plugins/old", "/"},
      {"updateTemp/plugins/old/x.plg", "x 1"}},
     {},
     {"Copy file: {release}app.exe", "Copy folder: {release}plugins/"}},

    {"missing, new, duplicate and nested names",
     {{"kept.txt", "kept 1"}, {"twice.txt", "twice 1"}, {"lib/core.dll", "core 1"}, {"lib/other.dll", "other 1"}},
     {{"twice.txt", "twice 2"}, {"new.txt", "new 2"}, {"lib/core.dll", "core 2"}},
     "kept.txt;twice.txt;twice.txt;new.txt;lib/core.dll;",
     {{"kept.txt", "kept 1"},
      {"twice.txt", "twice 2"},
      {"new.txt", "new 2"},
      {"lib", "/"},
      {"lib/core.dll", "core 2"},
      {"lib/other.dll", "other 1"},
      {"updateTemp", "/"},
      {"updateTemp/twice.txt", "twice 1"},
      {"updateTemp/lib", "/"},
      {"updateTemp/lib/core.dll", "core 1"}},
     {{"lib", "/"}},
     {"Copy file: {release}twice.txt", "Name listed again, nothing done: twice.txt", "Copy file: {release}new.txt",
      "Copy file: {release}lib/core.dll"}},

    {"names the system would take for others are refused before anything moves",
     {{"app.exe", "app 1"}, {"plugins/a.plg", "a 1"}},
     {{"app.exe", "app 2"}, {"plugins/a.plg", "a 2"}},
     "./app.exe;plugins/.;plugins/./a.plg;",
     {{"app.exe", "app 1"}, {"plugins", "/"}, {"plugins/a.plg", "a 1"}},
     {{"app.exe", "app 2"}, {"plugins", "/"}, {"plugins/a.plg", "a 2"}},
     {"Name refused, the system would take it for another name: ./app.exe",
      "Name refused, the system would take it for another name: plugins/.",
      "Name refused, the system would take it for another name: plugins/./a.plg"}},

    {"new names create no backup folder",
     {},
     {{"new.txt", "new"}, {"newdir/a/b.txt", "b"}, {"sub/dir/file.txt", "f"}},
     "new.txt;newdir;sub/dir/file.txt;",
     {{"new.txt", "new"},
      {"newdir", "/"},
      {"newdir/a", "/"},
      {"newdir/a/b.txt", "b"},
      {"sub", "/"},
      {"sub/dir", "/"},
      {"sub/dir/file.txt", "f"}},
     {{"sub", "/"}, {"sub/dir", "/"}},
     {"Copy file: {release}new.txt", "Copy folder: {release}newdir/", "Copy file: {release}sub/dir/file.txt"}},

    {"an empty list still clears the old backup",
     {{"updateTemp/old.txt", "old"}, {"app.exe", "app 1"}},
     {},
     ";;",
     {{"app.exe", "app 1"}},
     {},
     {}},

    {"folder names with a trailing separator",
     {{"plugins/a.plg", "a 1"}, {"data/sub/x.bin", "x 1"}},
     {{"plugins/a.plg", "a 2"}, {"data/sub/x.bin", "x 2"}},
     "plugins/;data/sub/;",
     {{"plugins", "/"},
      {"plugins/a.plg", "a 2"},
      {"data", "/"},
      {"data/sub", "/"},
      {"data/sub/x.bin", "x 2"},
      {"updateTemp", "/"},
      {"updateTemp/plugins", "/"},
      {"updateTemp/plugins/a.plg", "a 1"},
      {"updateTemp/data", "/"},
      {"updateTemp/data/sub", "/"},
      {"updateTemp/data/sub/x.bin", "x 1"}},
     {{"data", "/"}},
     {"Copy folder: {release}plugins/", "Copy folder: {release}data/sub/"}},

    {"a file beside a folder whose name begins the same",
     {{"pack", "pack 1"}},
     {{"pack2/inner.txt", "inner"}, {"pack", "pack 2"}},
     "pack;",
     {{"pack", "pack 2"}, {"updateTemp", "/"}, {"updateTemp/pack", "pack 1"}},
     {{"pack2", "/"}, {"pack2/inner.txt", "inner"}},
     {"Copy file: {release}pack"}},

    {"a release entry named like a deleted folder's leftover is the release's own",
     {{"plugins/a.plg", "a 1"}},
     {{"plugins/a.plg", "a 2"}, {"plugins.deleted~/b.plg", "b 2"}},
     "plugins;",
     {{"plugins", "/"}, {"plugins/a.plg", "a 2"}, {"updateTemp", "/"}, {"updateTemp/plugins", "/"},
      {"updateTemp/plugins/a.plg", "a 1"}},
     {{"plugins.deleted~", "/"}, {"plugins.deleted~/b.plg", "b 2"}},
     {"Copy folder: {release}plugins/"}},

    {"a file named updateTemp blocks every backup",
     {{"updateTemp", "not a folder"}, {"app.exe", "app 1"}},
     {{"app.exe", "app 2"}},
     "app.exe;",
     {{"updateTemp", "not a folder"}, {"app.exe", "app 1"}},
     {{"app.exe", "app 2"}},
     {"Backup failed, not replaced: {app}app.exe (*)"}},

    {"a nested name listed before its folder takes the folder's backup path",
     {{"plugins/a.dll", "a 1"}, {"plugins/b.dll", "b 1"}},
     {{"plugins/a.dll", "a 2"}, {"plugins/b.dll", "b 2"}},
     "plugins/a.dll;plugins;",
     {{"plugins", "/"}, {"plugins/a.dll", "a 2"}, {"plugins/b.dll", "b 1"}, {"updateTemp", "/"},
      {"updateTemp/plugins", "/"}, {"updateTemp/plugins/a.dll", "a 1"}},
     {{"plugins", "/"}, {"plugins/b.dll", "b 2"}},
     {"Copy file: {release}plugins/a.dll", "Backup failed, not replaced: {app}plugins (*)"}},

    {"a new folder whose place cannot be made is a failed copy",
     {{"sub", "a file where a folder should be"}},
     {{"sub/dir/x.txt", "x 2"}},
     "sub/dir;",
     {{"sub", "a file where a folder should be"}},
     {{"sub", "/"}, {"sub/dir", "/"}, {"sub/dir/x.txt", "x 2"}},
     {"Copy folder failed: {release}sub/dir/ (*)"}},

    {"a new file whose folder cannot be made stays in the release",
     {{"lib", "a file where a folder should be"}},
     {{"lib/core.dll", "core 2"}},
     "lib/core.dll;",
     {{"lib", "a file where a folder should be"}},
     {{"lib", "/"}, {"lib/core.dll", "core 2"}},
     {"Copy file failed: {release}lib/core.dll (*)"}},
};

class ScenarioTest : public ReplacementPassTest, public ::testing::WithParamInterface<Scenario> {};

TEST_P(ScenarioTest, EndsAsExpected) {
  const Scenario& scenario = GetParam();
  make_tree(app_, scenario.app);
  make_tree(release_, scenario.release);
  write_config(scenario.file_names);

  EXPECT_EQ(run(), 1);

  EXPECT_EQ(snapshot(app_), scenario.app_after);
  EXPECT_EQ(snapshot(release_), scenario.release_after);
  EXPECT_TRUE(LinesMatch(log_lines(), expected(scenario.log)));
  // Nothing the pass set aside for deletion is left behind.
  EXPECT_FALSE(exists(temp_ + "deleteTemp"));
}

std::string scenario_name(const ::testing::TestParamInfo<Scenario>& info) {
  std::string name;
  bool upper = true;
  for (const char* c = info.param.name; *c; ++c) {
    if (std::isalnum(static_cast<unsigned char>(*c))) {
      name += upper ? static_cast<char>(std::toupper(static_cast<unsigned char>(*c))) : *c;
      upper = false;
    } else {
      upper = true;
    }
  }
  return name;
}

INSTANTIATE_TEST_SUITE_P(Pass, ScenarioTest, ::testing::ValuesIn(kScenarios), scenario_name);

TEST_F(ReplacementPassTest, AFailedLoadChangesNothing) {
  make_tree(app_, {{"updateTemp/old.txt", "old"}, {"app.exe", "app 1"}});
  make_tree(release_, {{"app.exe", "app 2"}});
  write_file(config_path(), "<run_config><copy_config file_names=\"app.exe;\"></run_config");
  Tree app_before = snapshot(app_);
  EXPECT_EQ(run(), 1);
  EXPECT_EQ(snapshot(app_), app_before);
  EXPECT_EQ(snapshot(release_), (Tree{{"app.exe", "app 2"}}));
  EXPECT_EQ(log_lines(), (Lines{"Load config file failed."}));
}

TEST_F(ReplacementPassTest, AFolderPathWithoutItsSeparatorIsRefusedAndTouchesNothing) {
  // Joined as it stands, "app" and "app.exe" would make "appapp.exe" beside
  // the application folder.
  make_tree(root_, {{"app/app.exe", "app 1"}, {"appupdateTemp/kept.txt", "kept"}});
  make_tree(release_, {{"app.exe", "app 2"}});
  make_tree(root_ + "tmpunzipTemp/", {{"app.exe", "other"}});
  struct Case {
    std::string app, temp, line;
  } cases[] = {
      {root_ + "app", temp_, "orbiq_app_path " + root_ + "app"},
      {app_, root_ + "tmp", "update_temp_path " + root_ + "tmp"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    Tree before = snapshot(root_);
    write_config("app.exe;", c.app, c.temp);
    before[fs::relative(config_path(), root_).generic_string()] = read_file(config_path());
    EXPECT_EQ(run(), 1);
    Tree after = snapshot(root_);
    after.erase(fs::relative(log_path(), root_).generic_string());
    before.erase(fs::relative(log_path(), root_).generic_string());
    EXPECT_EQ(after, before);
    EXPECT_EQ(log_lines(), (Lines{"Configuration refused, this folder path does not end in a separator: " + c.line}));
  }
}

TEST_F(ReplacementPassTest, AnApplicationFolderThatIsAFileTakesNothingFromTheRelease) {
  write_file(root_ + "not a folder", "x");
  make_tree(release_, {{"new.txt", "new"}});
  write_config("new.txt;", root_ + "not a folder/", temp_);
  EXPECT_EQ(run(), 1);
  EXPECT_EQ(read_file(release_ + "new.txt"), "new");
  EXPECT_EQ(read_file(root_ + "not a folder"), "x");
  EXPECT_TRUE(LinesMatch(log_lines(), {"Run lock not taken, going on: " + root_ + "not a folder/ (*)",
                                        "Copy file failed: " + release_ + "new.txt (*)"}));
}

TEST_F(ReplacementPassTest, AFailedFolderCopyPutsTheOldFolderBackAndKeepsTheReleaseWhole) {
  // The application folder's path is so long that one new file's path does
  // not fit there (past platform::kPathMax - 1 characters: 259 on Windows,
  // 4095 on Linux), while it fits in the release: that copy fails part way.
  const std::size_t kLimit = platform::kPathMax - 1;
  std::string long_app = root_ + path_of_length(kLimit - 109 - root_.size(), 'a') + "/";
  std::string long_name(kLimit - (long_app.size() + 8), 'n');  // fits below "plugins/" exactly
  std::string too_long_name = long_name + "xyz";
  ASSERT_LT(release_.size() + 8 + too_long_name.size(), kLimit);
  // Copied, not moved: one rename would take the long path along.
  write_config("plugins;", long_app, temp_on_other_file_system());
  make_tree(long_app, {{"plugins/old.plg", "old 1"}, {"plugins/ok.plg", "ok 1"}});
  Tree release = {{"plugins", "/"}, {"plugins/ok.plg", "ok 2"}, {"plugins/" + too_long_name, "long"}};
  make_tree(release_, release);

  // Twice in a row: the second run must find the same state, not a backup
  // emptied of the only old copy.
  for (int attempt = 0; attempt < 2; ++attempt) {
    SCOPED_TRACE(attempt);
    EXPECT_EQ(run(), 1);
    EXPECT_EQ(snapshot(long_app + "plugins"), (Tree{{"old.plg", "old 1"}, {"ok.plg", "ok 1"}}));
    EXPECT_EQ(snapshot(release_), release);
    EXPECT_TRUE(LinesMatch(log_lines(), {"Copy folder failed: " + release_ + "plugins/ (*)"}));
  }
}

// Linux takes paths as long as its system does (platform::kPathMax, 4096
// bytes): an application folder of 300 characters takes a new folder from
// another file system whose deepest file lies 350 characters below it (a
// node_modules tree), through updateStage/ and with the old one moved into
// updateTemp/. A name whose path in the application would pass the limit is
// refused with its line, and its new version stays in the release.
TEST_F(ReplacementPassTest, PathsUpToTheSystemLimitAreReplacedAndLongerOnesRefused) {
  if (platform::kPathMax < 1000) GTEST_SKIP() << "this build's paths hold 259 characters";
  if (temp_on_other_file_system() == root_ + "tmp/") GTEST_SKIP() << "no second file system here";
  app_ = root_ + path_of_length(300 - root_.size(), 'a') + "/";
  const std::string deepest = "node_modules/" + path_of_length(330, 'm') + "/main.js";
  const std::string past = "lib/" + path_of_length(platform::kPathMax - 4 - app_.size(), 'l') + ".so";
  ASSERT_GT(app_.size() + past.size(), platform::kPathMax - 1);
  ASSERT_LT(release_.size() + past.size(), platform::kPathMax - 1);
  make_tree(app_, {{"node_modules/old.js", "old"}});
  make_tree(release_, {{deepest, "deep"}, {past, "past"}});
  write_config("node_modules;" + past + ";");

  EXPECT_EQ(run(), 1);
  EXPECT_EQ(log_lines(), (Lines{"Copy folder: " + release_ + "node_modules/",
                                "Backup failed, not replaced: " + app_ + past + " (" +
                                    platform::describe(platform::too_long()) + ")"}));
  EXPECT_EQ(read_file(app_ + deepest), "deep");
  EXPECT_EQ(snapshot(app_ + "updateTemp/"), (Tree{{"node_modules", "/"}, {"node_modules/old.js", "old"}}));
  EXPECT_EQ(read_file(release_ + past), "past");
  EXPECT_FALSE(exists(app_ + "lib"));
  EXPECT_FALSE(exists(app_ + "updateStage"));
}

TEST_F(ReplacementPassTest, FromAnotherFileSystemEveryNewVersionIsMadeWholeBesideTheApplicationFirst) {
  // The release on another volume: each new version is copied into
  // updateStage/ and renamed in from there, with its mode and time. Under
  // Wine also with both on drive Z: but on two file systems, where only the
  // rename itself finds that out.
  std::string temp = temp_on_other_file_system();
  if (temp == root_ + "tmp/") GTEST_SKIP() << "no second file system here";
  std::vector<std::string> apps = {app_};
  const std::string z_app = "Z:/tmp/" + fs::path(root_).parent_path().filename().string() + "-app/";
  if (test_support::kWindows && fs::is_directory("Z:/tmp")) apps.push_back(z_app);
  for (const std::string& app : apps) {
    SCOPED_TRACE(app);
    app_ = app;
    make_tree(app_, {{"app.exe", "app 1"}, {"plugins/a.plg", "a 1"}});
    make_tree(release_, {{"app.exe", "app 2"}, {"plugins/a.plg", "a 2"}, {"plugins/sub/b.plg", "b 2"},
                         {"new.txt", "new 2"}});
    const auto old_time = fs::last_write_time(release_ + "app.exe") - std::chrono::hours(50);
    fs::last_write_time(release_ + "app.exe", old_time);
    const auto mode = fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec;
    if (!test_support::kWindows) fs::permissions(release_ + "app.exe", mode);
    write_config("app.exe;plugins;new.txt;", app_, temp);

    EXPECT_EQ(run(), 1);

    EXPECT_EQ(snapshot(app_), (Tree{{"app.exe", "app 2"},
                                    {"new.txt", "new 2"},
                                    {"plugins", "/"},
                                    {"plugins/a.plg", "a 2"},
                                    {"plugins/sub", "/"},
                                    {"plugins/sub/b.plg", "b 2"},
                                    {"updateTemp", "/"},
                                    {"updateTemp/app.exe", "app 1"},
                                    {"updateTemp/plugins", "/"},
                                    {"updateTemp/plugins/a.plg", "a 1"}}));
    EXPECT_EQ(snapshot(release_), Tree{});
    EXPECT_EQ(fs::last_write_time(app_ + "app.exe"), old_time);
    if (!test_support::kWindows) {
      EXPECT_EQ(fs::status(app_ + "app.exe").permissions(), mode);
    }
    EXPECT_TRUE(LinesMatch(log_lines(), expected({"Copy file: {release}app.exe", "Copy folder: {release}plugins/",
                                                  "Copy file: {release}new.txt"})));
    if (app == z_app) test_support::remove_tree(app);
  }
}

TEST_F(ReplacementPassTest, AStageFolderThatCannotBeEmptiedIsLoggedAndTheUpdateGoesOn) {
  // Something of a run cut short stays in updateStage/ (a scanner holds it):
  // each run says so, at its start and its end, and stages beside it.
  write_config("app.exe;plugins;", app_, temp_on_other_file_system());
  make_tree(app_, {{"updateStage/1", "stuck"}, {"app.exe", "app 1"}, {"plugins/a.plg", "a 1"}});
  make_tree(release_, {{"app.exe", "app 2"}, {"plugins/a.plg", "a 2"}});
  test_support::HeldEntry* held = nullptr;
  if (test_support::kWindows)
    held = test_support::hold_open(app_ + "updateStage/1");
  else if (!make_immutable(app_ + "updateStage/1"))
    GTEST_SKIP() << "no immutable files here (needs root and ext4)";
  EXPECT_EQ(run(), 1);
  test_support::release(held);
  EXPECT_EQ(read_file(app_ + "app.exe"), "app 2");
  EXPECT_EQ(read_file(app_ + "plugins/a.plg"), "a 2");
  EXPECT_EQ(read_file(app_ + "updateTemp/app.exe"), "app 1");
  EXPECT_EQ(read_file(app_ + "updateTemp/plugins/a.plg"), "a 1");
  EXPECT_TRUE(LinesMatch(log_lines(), expected({"Work folder not emptied: {app}updateStage/ (*)",
                                                "Copy file: {release}app.exe", "Copy folder: {release}plugins/",
                                                "Work folder not emptied: {app}updateStage/ (*)"})));
}

TEST_F(ReplacementPassTest, AnOldVersionThatCannotBeMovedBackIsNamedInTheLog) {
  // The rename of the new version fails (the tracer fails it). A file's old
  // version never left its name: the new one was to replace it in one step,
  // and the old one's second name in the backup goes again. A folder's old
  // version was moved into the backup, and the move back fails too (the
  // second and third rename of the run, the first being the backup): the
  // name is then empty, and the log names where its old version is.
  if (test_support::kWindows || test_support::run_process("strace -V >/dev/null 2>&1") != 0)
    GTEST_SKIP() << "needs strace to make renames fail";
  struct Case {
    const char* name;
    Tree app, release;
    const char* failed;  // what the tracer fails
    bool old_at_name;
    Lines log;
  } cases[] = {
      {"app.exe", {{"app.exe", "app 1"}}, {{"app.exe", "app 2"}}, "-e trace=renameat -e inject=renameat:error=EBUSY:when=1",
       true, {"Copy file failed: {release}app.exe (Device or resource busy)"}},
      {"plugins", {{"plugins/a.plg", "a 1"}}, {{"plugins/a.plg", "a 2"}},
       "-e trace=renameat2 -e inject=renameat2:error=EBUSY:when=2..3", false,
       {"Old version not put back, it is in: {app}updateTemp/plugins (Device or resource busy)",
        "Copy folder failed: {release}plugins/ (Device or resource busy)"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    test_support::remove_tree(app_);
    test_support::remove_tree(release_);
    make_tree(app_, c.app);
    make_tree(release_, c.release);
    write_config(std::string(c.name) + ";");
    Tree old_version = snapshot(app_);
    Tree new_version = snapshot(release_);
    std::string command = std::string("strace -f -qq -o /dev/null ") + c.failed + " " +
                          test_support::corvane_command_line(config_path());
    EXPECT_EQ(test_support::run_process(command), 1);
    if (c.old_at_name) {
      EXPECT_EQ(read_file(app_ + c.name), old_version[c.name]);
      EXPECT_EQ(snapshot(app_ + "updateTemp/"), Tree{});
    } else {
      EXPECT_FALSE(exists(app_ + c.name));
      EXPECT_EQ(snapshot(app_ + "updateTemp/"), old_version);
    }
    EXPECT_EQ(snapshot(release_), new_version);
    EXPECT_EQ(log_lines(), expected(c.log));
  }
}

TEST_F(ReplacementPassTest, ANewFileThatCannotBeMovedPutsTheOldOneBackRunAfterRun) {
  if (test_support::kWindows) GTEST_SKIP() << "the restart tests hold the new file open instead";
  make_tree(app_, {{"app.exe", "app 1"}, {"core.dll", "core 1"}});
  make_tree(release_, {{"app.exe", "app 2"}, {"core.dll", "core 2"}});
  if (!make_immutable(release_ + "app.exe")) GTEST_SKIP() << "no immutable files here (needs root and ext4)";
  write_config("app.exe;core.dll;");

  for (int attempt = 0; attempt < 2; ++attempt) {
    SCOPED_TRACE(attempt);
    EXPECT_EQ(run(), 1);
    EXPECT_EQ(read_file(app_ + "app.exe"), "app 1");
    EXPECT_EQ(read_file(release_ + "app.exe"), "app 2");
    EXPECT_FALSE(exists(app_ + "updateTemp/app.exe"));
    Lines lines = {"Copy file failed: " + release_ + "app.exe (Operation not permitted)"};
    if (attempt == 0) lines.push_back("Copy file: " + release_ + "core.dll");  // the second run finds it done
    EXPECT_TRUE(LinesMatch(log_lines(), lines));
    EXPECT_EQ(read_file(app_ + "core.dll"), "core 2");
  }
}

TEST_F(ReplacementPassTest, AnOldFileThatCannotBeMovedIsNotReplaced) {
  if (test_support::kWindows) GTEST_SKIP() << "an old file in use waits for the restart there";
  make_tree(app_, {{"app.exe", "app 1"}});
  make_tree(release_, {{"app.exe", "app 2"}});
  if (!make_immutable(app_ + "app.exe")) GTEST_SKIP() << "no immutable files here (needs root and ext4)";
  write_config("app.exe;");
  EXPECT_EQ(run(), 1);
  EXPECT_EQ(read_file(app_ + "app.exe"), "app 1");
  EXPECT_EQ(read_file(release_ + "app.exe"), "app 2");
  EXPECT_TRUE(LinesMatch(log_lines(), {"Backup failed, not replaced: " + app_ + "app.exe (Operation not permitted)"}));
}

TEST_F(ReplacementPassTest, ABackupFolderThatCannotBeEmptiedIsLogged) {
  make_tree(app_, {{"updateTemp/stuck.txt", "old backup"}, {"app.exe", "app 1"}});
  make_tree(release_, {{"app.exe", "app 2"}});
  test_support::HeldEntry* held = nullptr;
  if (test_support::kWindows)
    held = test_support::hold_open(app_ + "updateTemp/stuck.txt");
  else if (!make_immutable(app_ + "updateTemp/stuck.txt"))
    GTEST_SKIP() << "no immutable files here (needs root and ext4)";
  write_config("app.exe;");
  EXPECT_EQ(run(), 1);
  test_support::release(held);
  EXPECT_EQ(read_file(app_ + "app.exe"), "app 2");
  EXPECT_EQ(read_file(app_ + "updateTemp/app.exe"), "app 1");
  EXPECT_TRUE(LinesMatch(log_lines(), {"Backup folder not emptied: " + app_ + "updateTemp/ (*)",
                                        "Copy file: " + release_ + "app.exe"}));
}

// A folder whose deepest path fits in the application does not fit below
// updateTemp/, 11 characters longer: the next run empties the backup folder
// all the same, and replaces the folder again.
TEST_F(ReplacementPassTest, ABackupDeeperThanAPathHoldsIsEmptiedByTheNextRun) {
  // 255 characters on Windows, 4091 on Linux.
  const std::size_t kDeepest = platform::kPathMax - 5;
  std::string deep = "plugins/";
  while (app_.size() + deep.size() + 31 < kDeepest) deep += std::string(30, 'd') + "/";
  deep += std::string(kDeepest - app_.size() - deep.size(), 'f');
  ASSERT_EQ(app_.size() + deep.size(), kDeepest);
  make_tree(app_, {{deep, "old"}});
  write_config("plugins;");
  for (const char* version : {"new", "newer"}) {
    SCOPED_TRACE(version);
    make_tree(release_, {{"plugins/" + std::string(version) + ".txt", version}});
    EXPECT_EQ(run(), 1);
    EXPECT_TRUE(LinesMatch(log_lines(), {"Copy folder: " + release_ + "plugins/"}));
    EXPECT_EQ(read_file(app_ + "plugins/" + version + ".txt"), version);
  }
  EXPECT_EQ(snapshot(app_ + "updateTemp/"), (Tree{{"plugins", "/"}, {"plugins/new.txt", "new"}}));
}

// A folder copied from another file system keeps its source's permission
// bits (Windows: attributes) and modification time, as a file does: a private
// folder stays private.
TEST_F(ReplacementPassTest, ACopiedFolderKeepsItsModeAndTime) {
  write_config("data;", app_, temp_on_other_file_system());
  make_tree(app_, {{"data/old.txt", "old"}});
  make_tree(release_, {{"data/secret.txt", "secret"}, {"data/sub/x.txt", "x"}});
  if (test_support::kWindows) {
    ASSERT_TRUE(platform::set_attributes((release_ + "data").c_str(), platform::kAttrHidden));
  } else {
    fs::permissions(release_ + "data", fs::perms::owner_all);
    fs::permissions(release_ + "data/sub", fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec);
  }
  const auto data_time = fs::last_write_time(release_ + "data");
  const auto sub_time = fs::last_write_time(release_ + "data/sub");
  const fs::perms sub_mode = fs::status(release_ + "data/sub").permissions();
  std::this_thread::sleep_for(std::chrono::milliseconds(50));  // the copies' own times would be later

  EXPECT_EQ(run(), 1);
  EXPECT_TRUE(LinesMatch(log_lines(), {"Copy folder: " + release_ + "data/"}));
  EXPECT_EQ(read_file(app_ + "data/secret.txt"), "secret");
  EXPECT_EQ(fs::last_write_time(app_ + "data"), data_time);
  EXPECT_EQ(fs::last_write_time(app_ + "data/sub"), sub_time);
  if (test_support::kWindows) {
    EXPECT_NE(platform::file_attributes((app_ + "data").c_str()) & platform::kAttrHidden, 0u);
  } else {
    EXPECT_EQ(fs::status(app_ + "data").permissions(), fs::perms::owner_all);
    EXPECT_EQ(fs::status(app_ + "data/sub").permissions(), sub_mode);
  }
}

TEST_F(ReplacementPassTest, ALeftoverOfADeletionCutShortIsCleared) {
  make_tree(temp_ + "deleteTemp/1", {{"stale/b.plg", "b 0"}});
  make_tree(app_, {{"plugins/a.plg", "a 1"}});
  make_tree(release_, {{"plugins/a.plg", "a 2"}});
  write_config("plugins;");
  EXPECT_EQ(run(), 1);
  EXPECT_EQ(snapshot(app_ + "plugins"), (Tree{{"a.plg", "a 2"}}));
  EXPECT_FALSE(exists(temp_ + "deleteTemp"));
}

TEST_F(ReplacementPassTest, AConfigurationThatWouldDestroyItsOwnReleaseChangesNothing) {
  struct Case {
    const char* name;
    std::string app;   // relative to the test folder
    std::string temp;  // the configured temporary path, relative to the test folder
    std::string data;  // the configuration's folder, relative to the test folder
    std::string file_names;
    std::string refused;  // the path in the log line, relative to the test folder
    const char* line;
  } cases[] = {
      {"the release in the backup folder", "a/", "a/updateTemp/w/", "d/", "x;", "a/updateTemp/",
       "Configuration refused, this entry holds the release, the configuration or the log: "},
      {"the release in a listed folder", "a/", "a/update/", "d/", "x;update;", "a/update",
       "Configuration refused, this entry holds the release, the configuration or the log: "},
      {"the configuration and the log in a listed folder", "a/", "t/", "a/data/", "x;data/;", "a/data",
       "Configuration refused, this entry holds the release, the configuration or the log: "},
      {"the release holds the application", "t/unzipTemp/a/", "t/", "d/", "x;", "t/unzipTemp/",
       "Configuration refused, the release holds the application folder: "},
      {"the application in the set-aside folder", "t/deleteTemp/a/", "t/", "d/", "x;", "t/deleteTemp/",
       "Configuration refused, this work folder holds the application folder: "},
      {"the configuration and the log in the set-aside folder", "a/", "t/", "t/deleteTemp/d/", "x;",
       "t/deleteTemp/", "Configuration refused, this entry holds the release, the configuration or the log: "},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string folder = root_ + "case/";
    std::string app = folder + c.app, temp = folder + c.temp, data = folder + c.data;
    make_tree(app, {{"x", "x 1"}, {"updateTemp/earlier.txt", "e"}});
    make_tree(temp + "unzipTemp/", {{"x", "x 2"}});
    make_tree(data + "updateLog/", {{"update.log", ""}});
    write_file(data + "update_config.xml",
               "<run_config><current_run_config orbiq_app_path=\"" + app + "\" update_temp_path=\"" + temp +
                   "\"/><copy_config file_names=\"" + c.file_names + "\"/></run_config>");
    Tree before = snapshot(folder);

    EXPECT_EQ(test_support::run_corvane(data + "update_config.xml"), 1);

    Tree after = snapshot(folder);
    after.erase(after.find(fs::relative(data + "updateLog/update.log", folder).generic_string()));
    before.erase(before.find(fs::relative(data + "updateLog/update.log", folder).generic_string()));
    EXPECT_EQ(after, before);
    EXPECT_EQ(testing_logs::pass_log_lines(data + "updateLog/update.log"), (Lines{c.line + folder + c.refused}));
    test_support::remove_tree(folder);
  }
}

TEST_F(ReplacementPassTest, AFolderOfTheRunReachedThroughALinkIsFoundWhereItIs) {
  // The temporary folder, or the configuration's, is a link to a folder
  // inside the backup folder, which the run empties first: the release, or
  // the configuration and the log, would go with it. Compared along their
  // real paths, they are found there. Windows 98 (as Wine plays it) cannot
  // tell real paths: a path through a link is refused there.
  make_tree(app_, {{"app.exe", "app 1"}, {"updateTemp/t/unzipTemp/app.exe", "app 2"},
                   {"updateTemp/d/updateLog/update.log", ""}});
  if (!test_support::make_folder_link(root_ + "t", app_ + "updateTemp/t") ||
      !test_support::make_folder_link(root_ + "d", app_ + "updateTemp/d"))
    GTEST_SKIP() << "this system makes no links to folders";
  const std::string windows_98 = test_support::copy_as_windows_98(test_support::program_path(), "corvane-98.exe");
  struct Case {
    std::string temp, data;
    bool as_windows_98;
    std::string line;
  } cases[] = {
      {root_ + "t/", data_, false,
       "Configuration refused, this entry holds the release, the configuration or the log: " + app_ + "updateTemp/"},
      {temp_, root_ + "d/", false,
       "Configuration refused, this entry holds the release, the configuration or the log: " + app_ + "updateTemp/"},
      {root_ + "t/", data_, true,
       "Configuration refused, this path passes through a link that cannot be followed here: " + root_ +
           "t/unzipTemp/"},
  };
  for (const Case& c : cases) {
    if (c.as_windows_98 && windows_98.empty()) continue;  // no Windows 98 mode here
    SCOPED_TRACE(c.temp + " " + c.data + (c.as_windows_98 ? " as Windows 98" : ""));
    const std::string config = c.data + "update_config.xml";
    write_file(config, "<run_config><current_run_config orbiq_app_path=\"" + app_ + "\" update_temp_path=\"" +
                           c.temp + "\"/><copy_config file_names=\"app.exe;\"/></run_config>");
    Tree before = snapshot(app_);
    EXPECT_EQ(test_support::run_process(c.as_windows_98 ? "\"" + windows_98 + "\"  " + config
                                                        : test_support::corvane_command_line(config)),
              1);
    Tree after = snapshot(app_);
    after.erase("updateTemp/d/updateLog/update.log");
    before.erase("updateTemp/d/updateLog/update.log");
    EXPECT_EQ(after, before);
    EXPECT_EQ(testing_logs::pass_log_lines(c.data + "updateLog/update.log"), (Lines{c.line}));
  }
}

TEST_F(ReplacementPassTest, ARunFindingAnotherRunAtWorkChangesNothing) {
  make_tree(app_, {{"app.exe", "app 1"}, {"updateTemp/earlier.txt", "e"}});
  make_tree(release_, {{"app.exe", "app 2"}});
  Tree app_before = snapshot(app_);
  // This test holds the lock a run takes, as another run would. The lock is
  // the folder's, however the configuration spells it: as written, by its
  // short name, through a link, in other letters (Windows names are
  // case-blind).
  platform::Status why = platform::kOk;
  platform::FolderLock* lock = platform::lock_folder(app_.c_str(), &why);
  ASSERT_NE(lock, nullptr) << platform::describe(why);
  std::vector<std::string> spellings = {app_, short_spelling(app_)};
  if (test_support::make_folder_link(root_ + "link to app", app_)) spellings.push_back(root_ + "link to app/");
  if (test_support::kWindows) spellings.push_back(upper_cased(app_));

  for (const std::string& spelling : spellings) {
    if (spelling.empty()) continue;  // no short names here
    SCOPED_TRACE(spelling);
    write_config("app.exe;", spelling, temp_);
    EXPECT_EQ(run(), 1);
    EXPECT_EQ(snapshot(app_), app_before);
    EXPECT_EQ(snapshot(release_), (Tree{{"app.exe", "app 2"}}));
    EXPECT_EQ(log_lines(), (Lines{"Another run is updating this application, nothing changed: " + spelling}));
  }

  // Released, as when the other run ends: the next run does the update.
  platform::unlock_folder(lock);
  EXPECT_EQ(run(), 1);
  EXPECT_EQ(read_file(app_ + "app.exe"), "app 2");
}

TEST_F(ReplacementPassTest, TwoFileSystemsBehindOneDriveLetterHaveLocksOfTheirOwn) {
  // Under Wine one drive letter covers every Unix file system: the roots of
  // two of them (ext4 gives each root the index 2) can share the volume
  // serial and the file index. A run on the one must not find the other's
  // lock taken.
  const std::string first = "Z:/";
  const std::string second = "Z:/dev/shm/";
  platform::EntryIdentity one;
  platform::EntryIdentity other;
  if (!test_support::kWindows || !platform::entry_identity(first.c_str(), &one).ok() ||
      !platform::entry_identity(second.c_str(), &other).ok() || !(one == other))
    GTEST_SKIP() << "no two folders of different file systems share an identity here";
  platform::Status why = platform::kOk;
  platform::FolderLock* held = platform::lock_folder(first.c_str(), &why);
  ASSERT_NE(held, nullptr) << platform::describe(why);
  platform::FolderLock* second_lock = platform::lock_folder(second.c_str(), &why);
  EXPECT_NE(second_lock, nullptr) << platform::describe(why);
  platform::unlock_folder(second_lock);
  platform::unlock_folder(held);
}

TEST_F(ReplacementPassTest, OnWindows98TheLockHoldsForTheShortNameToo) {
  // Windows 9x has no folder identity: the lock takes the long form of the
  // path. A run as Windows 98 that names the folder by its short name finds
  // it held by another that names it in full.
  const std::string program = test_support::program_path();
  const std::string folder = program.substr(0, program.find_last_of("/\\") + 1);
  const std::string holder = test_support::copy_as_windows_98(folder + "hold_and_run.exe", "hold_and_run-98.exe");
  const std::string corvane = test_support::copy_as_windows_98(program, "corvane-98.exe");
  const std::string short_app = short_spelling(app_);
  if (holder.empty() || corvane.empty() || short_app.empty()) GTEST_SKIP() << "needs Wine's Windows 98 mode";
  make_tree(app_, {{"app.exe", "app 1"}});
  make_tree(release_, {{"app.exe", "app 2"}});
  write_config("app.exe;", short_app, temp_);
  write_file(root_ + "command.txt", "\"" + corvane + "\"  " + config_path());
  EXPECT_EQ(test_support::run_process("\"" + holder + "\" --lock \"" + app_ + "\" --command-file \"" + root_ +
                                      "command.txt\""),
            1);
  EXPECT_EQ(read_file(app_ + "app.exe"), "app 1");
  EXPECT_EQ(log_lines(), (Lines{"Another run is updating this application, nothing changed: " + short_app}));
}

TEST_F(ReplacementPassTest, TwoRunsAtOnceOnlyTheFirstUpdates) {
  // The first run is slowed down at every rename by the tracer, so that the
  // second surely starts while the first is at work.
  if (test_support::kWindows || test_support::run_process("strace -V >/dev/null 2>&1") != 0)
    GTEST_SKIP() << "needs strace to slow the first run down";
  Tree app, release;
  std::string names;
  for (int i = 0; i < 20; ++i) {
    std::string name = "file" + std::to_string(i) + ".dat";
    app[name] = "old " + std::to_string(i);
    release[name] = "new " + std::to_string(i);
    names += name + ";";
  }
  make_tree(app_, app);
  make_tree(release_, release);
  write_config(names);
  test_support::StartedProcess* first = test_support::start_process(
      "strace -f -qq -o /dev/null -e trace=renameat,renameat2 -e inject=renameat,renameat2:delay_exit=100000 " +
      test_support::corvane_command_line(config_path()));
  ASSERT_NE(first, nullptr);
  // The first run is at work once it has replaced its first file.
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (read_file(log_path()).find("Copy file: ") == std::string::npos && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_EQ(run(), 1);
  bool first_still_at_work = read_file(log_path()).find("file19.dat") == std::string::npos;
  EXPECT_EQ(test_support::wait_process(first), 1);

  EXPECT_TRUE(first_still_at_work) << "the first run ended before the second began: nothing was shown";
  std::string text = read_file(log_path());
  EXPECT_NE(text.find("Another run is updating this application, nothing changed: " + app_), std::string::npos);
  Tree app_after = snapshot(app_);
  for (int i = 0; i < 20; ++i) {
    std::string name = "file" + std::to_string(i) + ".dat";
    EXPECT_EQ(app_after[name], "new " + std::to_string(i));
    EXPECT_EQ(app_after["updateTemp/" + name], "old " + std::to_string(i));
  }
}

TEST_F(ReplacementPassTest, ALongConfigurationLineLeavesEveryOutcomeOnALineOfItsOwn) {
  // With allow_beta, the list itself is logged: 70 names make that line
  // longer than a log text holds, and it is cut.
  Tree release;
  std::string names;
  Lines outcomes;
  for (int i = 0; i < 70; ++i) {
    std::string name = "a-rather-long-file-name-" + std::to_string(i) + ".dat";
    release[name] = "new";
    names += name + ";";
    outcomes.push_back("Copy file: " + release_ + name);
  }
  make_tree(release_, release);
  write_config(names, app_, temp_, "true");
  EXPECT_EQ(run(), 1);
  EXPECT_EQ(log_lines(), outcomes);
}

// Links and mount points: a link never leads an update outside its folders.
TEST_F(ReplacementPassTest, NamesThatPassThroughALinkAreRefusedAndTouchNothing) {
  // In the release, lib leads to a folder outside; in the application,
  // shared leads to a folder that other programs share.
  make_tree(root_ + "outside/", {{"x", "outside x"}, {"sub/y", "outside y"}});
  make_tree(root_ + "shared/", {{"x", "shared x"}});
  if (!test_support::make_folder_link(release_ + "lib", root_ + "outside") ||
      !test_support::make_folder_link(app_ + "shared", root_ + "shared"))
    GTEST_SKIP() << "this system makes no links to folders";
  make_tree(release_, {{"shared/x", "new x"}});
  write_config("lib/x;lib/sub;shared/x;");
  EXPECT_EQ(run(), 1);
  EXPECT_EQ(snapshot(root_ + "outside/"), (Tree{{"x", "outside x"}, {"sub", "/"}, {"sub/y", "outside y"}}));
  EXPECT_EQ(snapshot(root_ + "shared/"), (Tree{{"x", "shared x"}}));
  EXPECT_EQ(read_file(release_ + "shared/x"), "new x");
  EXPECT_FALSE(exists(app_ + "updateTemp"));
  EXPECT_EQ(log_lines(), (Lines{"Name refused, it passes through a link: lib/x",
                                "Name refused, it passes through a link: lib/sub",
                                "Name refused, it passes through a link: shared/x"}));
  test_support::remove_link(release_ + "lib");
  test_support::remove_link(app_ + "shared");
}

TEST_F(ReplacementPassTest, AListedLinkIsReplacedAsALinkAndLinksInAFolderStayLinks) {
  if (test_support::kWindows) GTEST_SKIP() << "the Windows build makes no links: see the test of a package's shape";
  make_tree(root_ + "outside/", {{"secret", "outside content"}});
  // The release on another file system, so that the folder is copied, not moved.
  write_config("plugins;lib.so;", app_, temp_on_other_file_system());
  make_tree(release_, {{"plugins/libx.so.1", "x 2"}, {"lib.so.2", "lib 2"}});
  ASSERT_TRUE(test_support::make_link(release_ + "plugins/libx.so", "libx.so.1"));
  ASSERT_TRUE(test_support::make_link(release_ + "plugins/outside", root_ + "outside/secret"));
  ASSERT_TRUE(test_support::make_link(release_ + "lib.so", "lib.so.2"));
  make_tree(app_, {{"plugins/old.so", "old"}, {"lib.so", "lib 1"}});
  EXPECT_EQ(run(), 1);
  EXPECT_EQ(snapshot(app_), (Tree{{"plugins", "/"},
                       {"plugins/libx.so.1", "x 2"},
                       {"plugins/libx.so", "-> libx.so.1"},
                       {"plugins/outside", "-> " + root_ + "outside/secret"},
                       {"lib.so", "-> lib.so.2"},
                       {"updateTemp", "/"},
                       {"updateTemp/plugins", "/"},
                       {"updateTemp/plugins/old.so", "old"},
                       {"updateTemp/lib.so", "lib 1"}}));
  EXPECT_EQ(read_file(root_ + "outside/secret"), "outside content");
  EXPECT_TRUE(LinesMatch(log_lines(), {"Copy folder: " + release_ + "plugins/", "Copy file: " + release_ + "lib.so"}));
}

TEST_F(ReplacementPassTest, ALinkThatIsTheSameInBothVersionsIsReplacedAsTheLink) {
  // A package's shape (tzdata): a top-level absolute link that is the same in
  // both versions, and relative links inside a folder. Two links are one
  // entry only when they are the same link, so the update completes, with
  // the release beside the application and on another file system. The
  // Windows build makes no links: it refuses both names the same way on every
  // layout, and never touches what a link points to (under Wine, whose calls
  // all reach it).
  make_tree(root_ + "outside/", {{"zone", "the machine's zone"}});
  for (int layout = 0; layout < 2; ++layout) {
    const std::string temp = layout == 0 ? temp_ : temp_on_other_file_system();
    SCOPED_TRACE(temp);
    test_support::remove_tree(app_);
    make_tree(app_, {{"zoneinfo/Europe/Paris", "paris 1"}});
    make_tree(release_, {{"zoneinfo/Europe/Paris", "paris 2"}});
    for (const std::string& folder : {app_, release_}) {
      if (!test_support::make_link(folder + "localtime", root_ + "outside/zone")) GTEST_SKIP() << "no links here";
      ASSERT_TRUE(test_support::make_link(folder + "zoneinfo/Europe/Monaco", "Paris"));
      ASSERT_TRUE(test_support::make_link(folder + "zoneinfo/posix", "."));
    }
    write_config("localtime;zoneinfo;", app_, temp);
    const Tree app_before = snapshot(app_);
    const Tree release_before = snapshot(release_);
    EXPECT_EQ(run(), 1);
    EXPECT_EQ(read_file(root_ + "outside/zone"), "the machine's zone");
    if (test_support::kWindows) {
      EXPECT_EQ(snapshot(app_), app_before);
      EXPECT_EQ(snapshot(release_), release_before);
      EXPECT_TRUE(LinesMatch(log_lines(), expected({"Copy file failed: {release}localtime (*)",
                                                    "Copy folder failed: {release}zoneinfo/ (*)"})));
      continue;
    }
    EXPECT_EQ(snapshot(app_), (Tree{{"localtime", "-> " + root_ + "outside/zone"},
                                    {"zoneinfo", "/"},
                                    {"zoneinfo/Europe", "/"},
                                    {"zoneinfo/Europe/Paris", "paris 2"},
                                    {"zoneinfo/Europe/Monaco", "-> Paris"},
                                    {"zoneinfo/posix", "-> ."},
                                    {"updateTemp", "/"},
                                    {"updateTemp/localtime", "-> " + root_ + "outside/zone"},
                                    {"updateTemp/zoneinfo", "/"},
                                    {"updateTemp/zoneinfo/Europe", "/"},
                                    {"updateTemp/zoneinfo/Europe/Paris", "paris 1"},
                                    {"updateTemp/zoneinfo/Europe/Monaco", "-> Paris"},
                                    {"updateTemp/zoneinfo/posix", "-> ."}}));
    EXPECT_EQ(snapshot(release_), Tree{});
    EXPECT_EQ(log_lines(), expected({"Copy file: {release}localtime", "Copy folder: {release}zoneinfo/"}));
  }
}

TEST_F(ReplacementPassTest, LinksInTheApplicationGoAsThemselvesNeverWhatTheyPointTo) {
  // The old backup holds links to a file and to an empty folder outside, and
  // the listed name is a link in the application, replaced by a file. Linux
  // moves and deletes each link as itself. Under Wine every call on a link
  // would reach what it points to: each stays, and the log says so.
  make_tree(root_ + "outside/", {{"zone", "the machine's zone"}, {"empty/", "/"}});
  make_tree(app_, {{"updateTemp/old/kept.txt", "k"}});
  make_tree(release_, {{"config", "config 2"}});
  if (!test_support::make_link(app_ + "updateTemp/old/zone", root_ + "outside/zone") ||
      !test_support::make_link(app_ + "updateTemp/old/empty", root_ + "outside/empty") ||
      !test_support::make_link(app_ + "config", root_ + "outside/zone"))
    GTEST_SKIP() << "no links here";
  write_config("config;");
  const Tree app_before = snapshot(app_);
  EXPECT_EQ(run(), 1);
  EXPECT_EQ(snapshot(root_ + "outside/"), (Tree{{"zone", "the machine's zone"}, {"empty", "/"}}));
  if (test_support::kWindows) {
    Tree app_after = app_before;
    app_after.erase("updateTemp/old/kept.txt");  // deleted, as a plain file is
    EXPECT_EQ(snapshot(app_), app_after);
    EXPECT_TRUE(LinesMatch(log_lines(), expected({"Backup folder not emptied: {app}updateTemp/ (*)",
                                                  "Backup failed, not replaced: {app}config (*)"})));
  } else {
    EXPECT_EQ(snapshot(app_), (Tree{{"config", "config 2"},
                                    {"updateTemp", "/"},
                                    {"updateTemp/config", "-> " + root_ + "outside/zone"}}));
    EXPECT_EQ(log_lines(), expected({"Copy file: {release}config"}));
  }
}

TEST_F(ReplacementPassTest, ALinkWhoseTargetIsMissingIsStillALink) {
  // A listed link that leads nowhere is part of the release all the same,
  // and a folder holding one is copied with it (the release beside the
  // application on another file system). Wine shows neither: the listed one
  // is found by its name and refused, as the Windows build refuses links;
  // the one in a folder nothing can see, so the folder's copy goes in
  // without it and the release's folder cannot be deleted, which the log says.
  write_config("gone;plugins;", app_, temp_on_other_file_system());
  make_tree(release_, {{"plugins/a.plg", "a 2"}});
  if (!test_support::make_link(release_ + "gone", "nowhere") ||
      !test_support::make_link(release_ + "plugins/gone", "nowhere"))
    GTEST_SKIP() << "no links here";
  EXPECT_EQ(run(), 1);
  if (test_support::kWindows) {
    EXPECT_EQ(read_file(app_ + "plugins/a.plg"), "a 2");
    EXPECT_TRUE(LinesMatch(log_lines(), expected({"Copy file failed: {release}gone (*)",
                                                  "Copy folder: {release}plugins/",
                                                  "Work folder not emptied: " + temp_ + "deleteTemp/ (*)"})));
    // Nothing but the Unix rm removes what Wine does not show.
    EXPECT_TRUE(test_support::remove_link(release_ + "gone"));
    EXPECT_TRUE(test_support::remove_link(temp_ + "deleteTemp/1/gone"));
  } else {
    EXPECT_EQ(snapshot(app_), (Tree{{"gone", "-> nowhere"}, {"plugins", "/"}, {"plugins/a.plg", "a 2"},
                                    {"plugins/gone", "-> nowhere"}}));
    EXPECT_EQ(log_lines(), expected({"Copy file: {release}gone", "Copy folder: {release}plugins/"}));
  }
}

TEST_F(ReplacementPassTest, ARunWithTheCurrentFolderAsItsApplicationTakesItsLock) {
  // An empty orbiq_app_path is the current folder, which the program
  // inherits from this test: that folder is locked, so a second run there
  // changes nothing.
  make_tree(app_, {{"app.exe", "app 1"}});
  make_tree(release_, {{"app.exe", "app 2"}});
  write_config("app.exe;", "", temp_);
  platform::Status why = platform::kOk;
  platform::FolderLock* lock = platform::lock_folder(app_.c_str(), &why);
  ASSERT_NE(lock, nullptr) << platform::describe(why);
  struct InFolder {
    fs::path before = fs::current_path();
    explicit InFolder(const std::string& folder) { fs::current_path(folder); }
    ~InFolder() { fs::current_path(before); }
  } in_app(app_);
  EXPECT_EQ(run(), 1);
  EXPECT_EQ(read_file(app_ + "app.exe"), "app 1");
  EXPECT_EQ(log_lines(), (Lines{"Another run is updating this application, nothing changed: "}));
  platform::unlock_folder(lock);
  EXPECT_EQ(run(), 1);
  EXPECT_EQ(read_file(app_ + "app.exe"), "app 2");
}

TEST_F(ReplacementPassTest, ASourceThatIsTheTargetIsRefused) {
  make_tree(app_, {{"data/settings.ini", "settings"}});
  if (!test_support::make_folder_link(release_ + "data", app_ + "data"))
    GTEST_SKIP() << "this system makes no links to folders";
  write_config("data;");
  EXPECT_EQ(run(), 1);
  EXPECT_EQ(read_file(app_ + "data/settings.ini"), "settings");
  EXPECT_FALSE(exists(app_ + "updateTemp"));
  EXPECT_EQ(log_lines(), (Lines{"Name refused, source and target are the same entry: data"}));
  test_support::remove_link(release_ + "data");
}

TEST_F(ReplacementPassTest, AReleaseThatIsTheApplicationFolderIsRefused) {
  make_tree(app_, {{"app.exe", "app 1"}});
  test_support::remove_tree(release_);
  if (!test_support::make_folder_link(temp_ + "unzipTemp", root_ + "app"))
    GTEST_SKIP() << "this system makes no links to folders";
  write_config("app.exe;");
  EXPECT_EQ(run(), 1);
  EXPECT_EQ(snapshot(app_), (Tree{{"app.exe", "app 1"}}));
  EXPECT_EQ(log_lines(), (Lines{"Configuration refused, the release holds the application folder: " + release_}));
  test_support::remove_link(temp_ + "unzipTemp");
}

TEST_F(ReplacementPassTest, EmptyingTheBackupNeverLeavesItsFileSystem) {
  // A file system mounted below a replaced folder moves with it into the
  // backup; the next run empties the backup but leaves the mount alone.
  make_tree(app_, {{"data/old.txt", "old"}, {"data/mnt/", "/"}});
  if (!test_support::mount_scratch_file_system(app_ + "data/mnt", true))
    GTEST_SKIP() << "no file system can be mounted here (needs root)";
  write_file(app_ + "data/mnt/precious.txt", "on another file system");
  make_tree(release_, {{"data/new.txt", "new"}});
  write_config("data;");
  EXPECT_EQ(run(), 1);
  std::string mount = app_ + "updateTemp/data/mnt";
  bool moved = exists(mount + "/precious.txt");
  EXPECT_TRUE(moved);
  make_tree(release_, {{"data/new.txt", "newer"}});
  EXPECT_EQ(run(), 1);
  EXPECT_EQ(read_file(mount + "/precious.txt"), "on another file system");
  EXPECT_TRUE(LinesMatch(log_lines(), {"Backup folder not emptied: " + app_ + "updateTemp/ (*)",
                                        "Backup failed, not replaced: " + app_ + "data (*)"}));
  EXPECT_TRUE(test_support::mount_scratch_file_system(moved ? mount : app_ + "data/mnt", false));
}

// Faults of the disk, injected into the real program by a library loaded
// with LD_PRELOAD (platform/fault_shim_posix.cpp); set while the record lives.
using Faults = std::vector<std::pair<std::string, std::string>>;

class InjectedFaults {
 public:
  explicit InjectedFaults(const Faults& faults) : faults_(faults) {
    test_support::set_environment("LD_PRELOAD", CORVANE_FAULT_SHIM);
    // A program built with AddressSanitizer refuses to start when another
    // library is loaded before its runtime; the fault library only forwards
    // to the next definition, which may well be the sanitizer's.
    const char* asan = std::getenv("ASAN_OPTIONS");
    saved_asan_ = asan ? asan : "";
    test_support::set_environment("ASAN_OPTIONS", saved_asan_ + (saved_asan_.empty() ? "" : ":") +
                                                      "verify_asan_link_order=0");
    for (const auto& [name, value] : faults_) test_support::set_environment(name, value);
  }
  ~InjectedFaults() {
    test_support::set_environment("LD_PRELOAD", "");
    test_support::set_environment("ASAN_OPTIONS", saved_asan_);
    for (const auto& fault : faults_) test_support::set_environment(fault.first, "");
  }
  InjectedFaults(const InjectedFaults&) = delete;
  InjectedFaults& operator=(const InjectedFaults&) = delete;

 private:
  Faults faults_;
  std::string saved_asan_;
};

bool can_inject_faults() { return std::string(CORVANE_FAULT_SHIM).size() > 0; }

TEST_F(ReplacementPassTest, AReadOrFlushThatFailsKeepsTheOldVersionAndTheReleaseWhole) {
  // From another file system, where every new version is copied into
  // updateStage/: a listing or a read that ends early, or a copy that cannot
  // be flushed, is a failed copy, never a whole one.
  if (!can_inject_faults()) GTEST_SKIP() << "no fault library for this system";
  if (temp_on_other_file_system() == root_ + "tmp/") GTEST_SKIP() << "no second file system here";
  write_config("app.exe;plugins;");
  const Tree app = {{"app.exe", "app 1"}, {"plugins", "/"}, {"plugins/a.plg", "a 1"}};
  const Tree release = {{"app.exe", "app 2"}, {"plugins", "/"}, {"plugins/a.plg", "a 2"}, {"plugins/b.plg", "b 2"},
                        {"plugins/c.plg", "c 2"}, {"plugins/d.plg", "d 2"}};
  const std::string io_error = " (Input/output error)";
  struct Case {
    const char* what;
    Faults faults;
    std::vector<std::string> failed;  // the names not replaced
    Lines log;
  } cases[] = {
      {"the release folder's listing fails after two entries",
       {{"CORVANE_FAULT_LISTING", "unzipTemp/plugins:2"}},
       {"plugins"},
       {"Copy file: {release}app.exe", "Copy folder failed: {release}plugins/" + io_error}},
      {"a file ends before its size (in-kernel copy)",
       {{"CORVANE_FAULT_SHORT_READ", "unzipTemp/app.exe"}},
       {"app.exe"},
       {"Copy file failed: {release}app.exe" + io_error, "Copy folder: {release}plugins/"}},
      {"a file in a folder ends before its size (read and written)",
       {{"CORVANE_FAULT_SHORT_READ", "unzipTemp/plugins/c.plg"}, {"CORVANE_FAULT_NO_KERNEL_COPY", "1"}},
       {"plugins"},
       {"Copy file: {release}app.exe", "Copy folder failed: {release}plugins/" + io_error}},
      {"the staged copies cannot be flushed",
       {{"CORVANE_FAULT_FLUSH", "/updateStage"}},
       {"app.exe", "plugins"},
       {"Not flushed to the disk: {app}updateStage/" + io_error, "Copy file failed: {release}app.exe" + io_error,
        "Copy folder failed: {release}plugins/" + io_error}},
  };
  // The entries of a tree that belong to one name.
  auto of_name = [](const Tree& tree, const std::string& name) {
    Tree part;
    for (const auto& [path, content] : tree)
      if (path == name || path.rfind(name + "/", 0) == 0) part[path] = content;
    return part;
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    test_support::remove_tree(app_);
    make_tree(app_, app);
    test_support::remove_tree(release_);
    make_tree(release_, release);
    {
      InjectedFaults faults(c.faults);
      EXPECT_EQ(run(), 1);
    }
    EXPECT_EQ(log_lines(), expected(c.log));
    // Each name replaced whole, or its old version at its name and its new
    // one whole in the release; no partial copy left in the stage.
    EXPECT_FALSE(exists(app_ + "updateStage"));
    for (const std::string name : {"app.exe", "plugins"}) {
      const bool failed = std::find(c.failed.begin(), c.failed.end(), name) != c.failed.end();
      EXPECT_EQ(of_name(snapshot(app_), name), of_name(failed ? app : release, name)) << name;
      if (failed) {
        EXPECT_EQ(of_name(snapshot(release_), name), of_name(release, name)) << name;
      }
    }
  }
}

TEST_F(ReplacementPassTest, AFolderSwappedForALinkDuringTheRunNeverLeadsAMoveOrACopyOutside) {
  // Another user who may write in the application folder swaps a folder of
  // the run for a link to a folder outside, after a given rename or folder
  // made by the run: what goes into a work folder goes on into the folder
  // that was opened, and a name below a swapped folder is refused, also
  // when it was looked at before the swap. The folder outside never changes.
  if (!can_inject_faults()) GTEST_SKIP() << "no fault library for this system";
  const std::string not_followed = " (a link stands where a folder was, and it is not followed)";
  struct Case {
    const char* what;
    const char* names;
    bool release_elsewhere;  // on another file system: every new version staged
    const char* swapped;     // below the application folder
    int after_renames;
    Tree app, release;
    Tree moved;  // what the swapped folder holds in the end
    Lines log;
  } cases[] = {
      {"the backup folder, once it holds an old version", "a.dll;b.dll;c.dll;", false, "updateTemp", 2,
       {{"a.dll", "a 1"}, {"b.dll", "b 1"}, {"c.dll", "c 1"}},
       {{"a.dll", "a 2"}, {"b.dll", "b 2"}, {"c.dll", "c 2"}},
       {{"a.dll", "a 1"}, {"b.dll", "b 1"}, {"c.dll", "c 1"}},
       {"Copy file: {release}a.dll", "Copy file: {release}b.dll", "Copy file: {release}c.dll"}},
      {"the stage folder, once a copy went in from it", "a.dll;b.dll;c.dll;", true, "updateStage", 4,
       {{"a.dll", "a 1"}, {"b.dll", "b 1"}, {"c.dll", "c 1"}},
       {{"a.dll", "a 2"}, {"b.dll", "b 2"}, {"c.dll", "c 2"}},
       {},
       {"Copy file: {release}a.dll", "Copy file: {release}b.dll", "Copy file: {release}c.dll"}},
      {"a staged folder, once it is filled", "plugins;", true, "updateStage/1", 3,
       {{"plugins", "/"}, {"plugins/a.plg", "a 1"}},
       {{"plugins", "/"}, {"plugins/a.plg", "a 2"}, {"plugins/b.plg", "b 2"}},
       {},
       {"Copy folder failed: {release}plugins/ (another entry was put in its place)"}},
      {"a listed name's folder, after the name was looked at", "plugins/a.plg;plugins/b.plg;", false, "plugins", 2,
       {{"plugins", "/"}, {"plugins/a.plg", "a 1"}, {"plugins/b.plg", "b 1"}},
       {{"plugins", "/"}, {"plugins/a.plg", "a 2"}, {"plugins/b.plg", "b 2"}},
       {{"a.plg", "a 1"}, {"b.plg", "b 1"}},
       {"Backup failed, not replaced: {app}plugins/a.plg" + not_followed,
        "Name refused, it passes through a link: plugins/b.plg"}},
  };
  const std::string outside = root_ + "outside/";
  const Tree outside_tree = {{"keep.txt", "not the application's"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    if (c.release_elsewhere && temp_on_other_file_system() == root_ + "tmp/") continue;  // no second file system
    test_support::remove_tree(app_);
    test_support::remove_tree(outside);
    test_support::remove_tree(release_);
    make_tree(app_, c.app);
    make_tree(release_, c.release);
    make_tree(outside, outside_tree);
    write_config(c.names);
    {
      InjectedFaults faults(Faults{
          {"CORVANE_FAULT_SWAP", app_ + c.swapped + "|" + std::to_string(c.after_renames) + "|" + outside}});
      EXPECT_EQ(run(), 1);
    }
    EXPECT_EQ(snapshot(outside), outside_tree);
    EXPECT_EQ(log_lines(), expected(c.log));
    EXPECT_EQ(snapshot(app_ + c.swapped + ".moved/"), c.moved);
    // The swap was made (a swapped staged folder goes with the stage).
    if (std::string(c.swapped).find('/') == std::string::npos) {
      EXPECT_TRUE(exists(app_ + c.swapped + ".moved"));
    }
  }
}

TEST_F(ReplacementPassTest, AFailedFlushAfterACopyWentInKeepsItsSourceInTheRelease) {
  // The copies went in, but the application's file system did not write
  // them out: the release's copies stay, the only sure whole new versions.
  if (!can_inject_faults()) GTEST_SKIP() << "no fault library for this system";
  if (temp_on_other_file_system() == root_ + "tmp/") GTEST_SKIP() << "no second file system here";
  make_tree(app_, {{"app.exe", "app 1"}, {"plugins/a.plg", "a 1"}});
  const Tree release = {{"app.exe", "app 2"}, {"plugins", "/"}, {"plugins/a.plg", "a 2"}};
  make_tree(release_, release);
  write_config("app.exe;plugins;");
  {
    InjectedFaults faults(Faults{{"CORVANE_FAULT_FLUSH", app_.substr(0, app_.size() - 1)}});
    EXPECT_EQ(run(), 1);
  }
  EXPECT_EQ(snapshot(release_), release);
  EXPECT_EQ(snapshot(app_), (Tree{{"app.exe", "app 2"}, {"plugins", "/"}, {"plugins/a.plg", "a 2"},
                                  {"updateTemp", "/"}, {"updateTemp/app.exe", "app 1"}, {"updateTemp/plugins", "/"},
                                  {"updateTemp/plugins/a.plg", "a 1"}}));
  // One flush for all the copies that went in, after the last of them.
  EXPECT_TRUE(LinesMatch(log_lines(), expected({"Copy file: {release}app.exe", "Copy folder: {release}plugins/",
                                                "Not flushed to the disk: {app} (*)",
                                                "Source kept, the new version is not known to be on the disk: "
                                                "{release}app.exe",
                                                "Source kept, the new version is not known to be on the disk: "
                                                "{release}plugins/",
                                                "Not flushed to the disk: {app} (*)"})));
}

TEST_F(ReplacementPassTest, AStagedCopyGoesInWhetherOrNotTheFileSystemSwapsEntries) {
  // From another file system every new version is a staged copy, swapped
  // with its old entry in one step where the file system swaps; where it
  // refuses, the copy goes back to the stage and the two renames are made.
  // Either way each kind of old entry ends in the backup, nothing is left
  // in the work folders, and the release keeps none of the listed names.
  if (!can_inject_faults()) GTEST_SKIP() << "no fault library for this system";
  if (temp_on_other_file_system() == root_ + "tmp/") GTEST_SKIP() << "no second file system here";
  const Tree old_tree = {{"plugins", "/"}, {"plugins/a.plg", "a 1"}, {"to_folder", "t 1"},
                         {"to_file", "/"},  {"to_file/x", "x 1"},     {"lib", "/"},
                         {"lib/core.so", "c 1"}};
  const Tree new_tree = {{"plugins", "/"},   {"plugins/b.plg", "b 2"},    {"to_folder", "/"},
                         {"to_folder/y", "y 2"}, {"to_file", "f 2"},       {"lib", "/"},
                         {"lib/core.so", "c 2"}};
  for (bool swaps : {true, false}) {
    SCOPED_TRACE(swaps ? "the file system swaps" : "the file system does not swap");
    test_support::remove_tree(app_);
    test_support::remove_tree(release_);
    make_tree(app_, old_tree);
    make_tree(release_, new_tree);
    write_config("plugins;to_folder;to_file;lib/core.so;", app_, temp_);
    {
      InjectedFaults faults(swaps ? Faults{} : Faults{{"CORVANE_FAULT_NO_EXCHANGE", "1"}});
      EXPECT_EQ(run(), 1);
    }
    Tree expected_app = new_tree;
    expected_app["updateTemp"] = "/";
    for (const auto& [name, content] : old_tree) expected_app["updateTemp/" + name] = content;
    EXPECT_EQ(snapshot(app_), expected_app);
    EXPECT_EQ(snapshot(release_), (Tree{{"lib", "/"}}));
    EXPECT_EQ(log_lines(), expected({"Copy folder: {release}plugins/", "Copy folder: {release}to_folder/",
                                     "Copy file: {release}to_file", "Copy file: {release}lib/core.so"}));
  }
}

TEST_F(ReplacementPassTest, ASwapWhoseOldVersionCannotReachItsBackupPathIsUndoneOrNamed) {
  // The tracer fails the rename after the swap (the old version on to its
  // backup path): the swap is undone and the two renames replace the name.
  // When the undoing fails too, the name keeps its new version and the log
  // names where the old one is.
  if (test_support::kWindows || test_support::run_process("strace -V >/dev/null 2>&1") != 0)
    GTEST_SKIP() << "needs strace to make renames fail";
  if (temp_on_other_file_system() == root_ + "tmp/") GTEST_SKIP() << "no second file system here";
  struct Case {
    const char* failed;  // the renames the tracer fails: copy in, swap, on to the backup path, undo, ...
    const char* old_version_at;
    Lines log;
  } cases[] = {
      {"3", "updateTemp/plugins/a.plg", {"Copy folder: {release}plugins/"}},
      {"3..4", "updateTemp/updateStage/a.plg",
       {"Old version not put back, it is in: {app}updateTemp/updateStage (Device or resource busy)",
        "Copy folder: {release}plugins/"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.failed);
    test_support::remove_tree(app_);
    test_support::remove_tree(release_);
    make_tree(app_, {{"plugins/a.plg", "a 1"}});
    make_tree(release_, {{"plugins/a.plg", "a 2"}});
    write_config("plugins;");
    std::string command = std::string("strace -f -qq -o /dev/null -e trace=renameat2 -e inject=renameat2:error=EBUSY:when=") +
                          c.failed + " " + test_support::corvane_command_line(config_path());
    EXPECT_EQ(test_support::run_process(command), 1);
    EXPECT_EQ(read_file(app_ + "plugins/a.plg"), "a 2");
    EXPECT_EQ(read_file(app_ + c.old_version_at), "a 1");
    EXPECT_EQ(log_lines(), expected(c.log));
  }
}

TEST_F(ReplacementPassTest, AReleaseFileReplacedWhileItIsCopiedStaysInTheRelease) {
  // Another process renames a second version over the release's file while
  // it is copied: the first version went in, and the second, which nobody
  // copied, is not deleted as its source.
  if (!can_inject_faults()) GTEST_SKIP() << "no fault library for this system";
  if (temp_on_other_file_system() == root_ + "tmp/") GTEST_SKIP() << "no second file system here";
  make_tree(app_, {{"app.exe", "app 1"}});
  make_tree(release_, {{"app.exe", "app 2"}, {"app.exe.next", "app 3"}});
  write_config("app.exe;");
  {
    InjectedFaults faults(Faults{{"CORVANE_FAULT_REPLACED", "unzipTemp/app.exe"}});
    EXPECT_EQ(run(), 1);
  }
  EXPECT_EQ(snapshot(app_), (Tree{{"app.exe", "app 2"}, {"updateTemp", "/"}, {"updateTemp/app.exe", "app 1"}}));
  EXPECT_EQ(snapshot(release_), (Tree{{"app.exe", "app 3"}}));
  EXPECT_EQ(log_lines(), expected({"Copy file: {release}app.exe",
                                   "Source kept, it is not the file that was copied: {release}app.exe"}));
}

TEST_F(ReplacementPassTest, ANameListedTwiceIsDoneOnceEvenWhenItsSourceStays) {
  // The source of a copy that cannot be deleted stays in the release; the
  // second listing must not put it in again over the new version.
  if (!can_inject_faults()) GTEST_SKIP() << "no fault library for this system";
  if (temp_on_other_file_system() == root_ + "tmp/") GTEST_SKIP() << "no second file system here";
  make_tree(app_, {{"twice.txt", "twice 1"}});
  make_tree(release_, {{"twice.txt", "twice 2"}});
  write_config("twice.txt;twice.txt/;");
  {
    InjectedFaults faults(Faults{{"CORVANE_FAULT_UNLINK", "unzipTemp/twice.txt"}});
    EXPECT_EQ(run(), 1);
  }
  EXPECT_EQ(snapshot(app_),
            (Tree{{"twice.txt", "twice 2"}, {"updateTemp", "/"}, {"updateTemp/twice.txt", "twice 1"}}));
  EXPECT_EQ(log_lines(), expected({"Copy file: {release}twice.txt", "Name listed again, nothing done: twice.txt/"}));
}

TEST_F(ReplacementPassTest, ALogThatCannotGrowEndsAtItsLastWholeLineAndTheRunStops) {
  // The log's file system is full part way through a line: the part written
  // is undone, and no name changes after the log stopped taking lines.
  const std::string log_folder = data_ + "updateLog";
  if (test_support::kWindows || !test_support::mount_scratch_file_system(log_folder, true))
    GTEST_SKIP() << "no file system can be mounted here (needs root)";
  make_tree(app_, {{"a.txt", "a 1"}, {"b.txt", "b 1"}});
  write_config("a.txt;b.txt;");
  // What the run writes before its first outcome line, measured on a run
  // that finds no name in the release.
  write_file(log_path(), "");
  EXPECT_EQ(run(), 1);
  const std::size_t before_outcomes = read_file(log_path()).size();
  // The log fills its last page but for 10 bytes; the rest of the file
  // system is taken.
  const std::size_t page = 4096;
  const std::string earlier(page - before_outcomes - 10 - 1, 'x');
  write_file(log_path(), earlier + "\n");
  EXPECT_NE(test_support::run_process("dd if=/dev/zero of='" + log_folder + "/filler' bs=4096 2>/dev/null"), -1);
  make_tree(release_, {{"a.txt", "a 2"}, {"b.txt", "b 2"}});
  const std::string errors = root_ + "stderr.txt";
  EXPECT_EQ(test_support::run_process(test_support::corvane_command_line(config_path()) + " 2>'" + errors + "'"), 1);
  const std::string log = read_file(log_path());
  EXPECT_EQ(log.size(), earlier.size() + 1 + before_outcomes);
  EXPECT_EQ(log.back(), '\n');
  EXPECT_EQ(log_lines(), Lines{});
  // a.txt was replaced before its line could be written; b.txt never moved.
  EXPECT_EQ(read_file(app_ + "a.txt"), "a 2");
  EXPECT_EQ(read_file(app_ + "b.txt"), "b 1");
  EXPECT_EQ(read_file(release_ + "b.txt"), "b 2");
  EXPECT_EQ(read_file(errors).rfind("Log text not written: " + log_path() + " (No space left on device)", 0), 0u)
      << read_file(errors);
  EXPECT_TRUE(test_support::mount_scratch_file_system(log_folder, false));
}

TEST_F(ReplacementPassTest, ANameWhoseNewVersionHoldsTheConfigurationOrTheLogIsRefused) {
  // The configuration and its log inside the unpacked release: listing them
  // would move them into the application.
  make_tree(app_, {{"app.exe", "app 1"}});
  const Tree release = {{"app.exe", "app 2"}, {"updateLog", "/"}, {"updateLog/update.log", ""}};
  make_tree(release_, release);
  for (const char* name : {"update_config.xml", "updateLog", "updateLog/update.log"}) {
    SCOPED_TRACE(name);
    const std::string config = release_ + "update_config.xml";
    write_config("app.exe;" + std::string(name) + ";");
    fs::rename(config_path(), config);
    EXPECT_EQ(test_support::run_corvane(config), 1);
    EXPECT_EQ(snapshot(app_), (Tree{{"app.exe", "app 1"}}));
    EXPECT_EQ(testing_logs::pass_log_lines(release_ + "updateLog/update.log"),
              (Lines{"Configuration refused, this entry holds the release, the configuration or the log: " +
                     release_ + name}));
  }
}

TEST_F(ReplacementPassTest, AFolderOfTheUpdateByItsShortAliasIsRefused) {
  // Windows gives long names short aliases (UPDATE~1): the pending folder
  // listed by its alias would be moved into the backup.
  make_tree(app_, {{"updatePending/waiting.tmp", "copy"}});
  char buffer[platform::kPathBuffer];
  if (!platform::short_path((app_ + "updatePending").c_str(), buffer, sizeof buffer).ok())
    GTEST_SKIP() << "this system has no short names";
  std::string alias = fs::path(buffer).filename().string();
  if (alias == "updatePending") GTEST_SKIP() << "this volume makes no short names";
  make_tree(release_, {{alias + "/x.txt", "x"}});
  write_config(alias + ";");
  EXPECT_EQ(run(), 1);
  EXPECT_EQ(snapshot(app_), (Tree{{"updatePending", "/"}, {"updatePending/waiting.tmp", "copy"}}));
  EXPECT_EQ(log_lines(), (Lines{"Name refused, it is a folder of the update's own: " + alias}));
}

TEST_F(ReplacementPassTest, OnWindowsTrailingDotsAndBlanksAreRefused) {
  // Win32 drops them: "updateTemp." would name the backup folder itself.
  if (!test_support::kWindows) GTEST_SKIP() << "POSIX keeps dots and blanks in names";
  make_tree(app_, {{"app.exe", "app 1"}, {"plugins/a.plg", "a 1"}, {"updatePending/waiting.tmp", "copy"}});
  const Tree app = snapshot(app_);
  make_tree(release_, {{"app.exe", "app 2"}, {"plugins/a.plg", "a 2"}});
  const std::vector<std::string> names = {"app.exe.", "plugins ", "plugins./a.plg", "updatePending.",
                                          "updatePending "};
  std::string list;
  Lines lines;
  for (const std::string& name : names) {
    list += name + ";";
    lines.push_back("Name refused, the system would take it for another name: " + name);
  }
  write_config(list);
  EXPECT_EQ(run(), 1);
  EXPECT_EQ(snapshot(app_), app);
  EXPECT_EQ(log_lines(), lines);
}

}  // namespace
