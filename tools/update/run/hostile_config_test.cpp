// Hostile configurations through the real program: names that try to leave
// the application folder, paths too long for the program's buffers, huge and
// malformed configuration files. Each run must end (a run that hangs fails
// at the test's time limit; how fast it ends is the benchmark's business),
// touch nothing outside the application folder and the unpacked release (the
// backup folder lies inside the application folder), and say in the log
// what it did.
#include <gtest/gtest.h>

#include <cctype>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <string>

#include "platform/platform.h"
#include "platform/test_support.h"
#include "testing/trees.h"

namespace {

namespace fs = std::filesystem;
using test_support::read_file;
using test_support::write_file;
using testing_trees::Tree;

// The folders of one case, below a fresh temporary folder:
//   app/            the application folder
//   upd/unzipTemp/  the unpacked release; upd/ also holds a file of its own
//   data/           the configuration and updateLog/update.log
//   outside.txt, elsewhere/  entries no run may touch
struct Layout {
  std::string root, app, temp, release, data;
  std::string config() const { return data + "update_config.xml"; }
  std::string log() const { return data + "updateLog/update.log"; }
};

// A configuration for the layout with the given list and application folder.
std::string config_text(const Layout& layout, const std::string& file_names, const std::string& app_path) {
  return "<?xml version=\"1.0\"?>\n<run_config>\n  <current_run_config orbiq_app_path=\"" + app_path +
         "\" update_temp_path=\"" + layout.temp + "\" allow_beta=\"true\"/>\n  <copy_config file_names=\"" +
         file_names + "\"/>\n</run_config>\n";
}

void put(const std::string& path, const std::string& content) {
  fs::create_directories(fs::path(path).parent_path());
  write_file(path, content);
}

// A name of about 300 characters: three nested steps of 99.
std::string long_name() {
  std::string step(99, 'n');
  return step + "/" + step + "/" + step + ".txt";
}

// Every entry below root, except the application folder, the unpacked release
// and the log, which a run may change.
Tree outside_snapshot(const Layout& layout) {
  Tree tree = testing_trees::snapshot(layout.root);
  auto relative = [&](const std::string& path) { return path.substr(layout.root.size()); };
  for (const std::string& inside : {relative(layout.app), relative(layout.release)}) {
    std::string folder = inside.substr(0, inside.size() - 1);  // without its "/"
    for (auto it = tree.lower_bound(folder); it != tree.end() && it->first.compare(0, folder.size(), folder) == 0;)
      it = it->first.size() == folder.size() || it->first[folder.size()] == '/' ? tree.erase(it) : std::next(it);
  }
  tree.erase(relative(layout.log()));
  return tree;
}

// One hostile case: what it puts in place (the configuration included) and a
// line that the log must hold afterwards (empty: none required).
struct HostileCase {
  const char* what;
  std::function<void(const Layout&)> prepare;
  std::function<std::string(const Layout&)> expected_line;
  bool posix_only;
};

std::string refused(const std::string& name) {
  return "Name refused, it leads outside the application folder: " + name;
}

// Lists the name and the plain file a.txt (old and new present), so that
// every case also shows the run goes on to the end of the list.
void with_names(const Layout& layout, const std::string& names) {
  write_file(layout.config(), config_text(layout, names + "a.txt;", layout.app));
}

const HostileCase kCases[] = {
    {"a step up out of both folders",
     [](const Layout& l) {
       put(l.temp + "outside.txt", "release neighbour");
       with_names(l, "../outside.txt;");
     },
     [](const Layout&) { return refused("../outside.txt"); }, false},
    {"a step up in the middle, with backslashes",
     [](const Layout& l) {
       put(l.release + "lib/x", "x");
       with_names(l, "lib\\..\\..\\outside.txt;");
     },
     [](const Layout&) { return refused("lib\\..\\..\\outside.txt"); }, false},
    {"a step up that Windows trims to one",
     [](const Layout& l) { with_names(l, "... /outside.txt;"); },
     [](const Layout&) { return refused("... /outside.txt"); }, false},
    {"an absolute name",
     [](const Layout& l) {
       std::string name = l.root + "outside.txt";
       // A release that holds the path below itself (a name with a drive
       // letter cannot be a path below another one on Windows).
       if (!test_support::kWindows) put(l.release + name, "new outside");
       with_names(l, name + ";");
     },
     [](const Layout& l) { return refused(l.root + "outside.txt"); }, false},
    {"a root and a network name",
     [](const Layout& l) { with_names(l, "/outside.txt;\\\\server\\share\\x;"); },
     [](const Layout&) { return refused("\\\\server\\share\\x"); }, false},
    {"a drive letter",
     [](const Layout& l) { with_names(l, "C:outside.txt;"); },
     [](const Layout&) { return refused("C:outside.txt"); }, false},
    {"a name of 300 characters, old and new present",
     [](const Layout& l) {
       put(l.app + long_name(), "long old");
       put(l.release + long_name(), "long new");
       with_names(l, long_name() + ";");
     },
     [](const Layout&) { return std::string(); }, false},
    {"an application folder longer than a path holds",
     [](const Layout& l) {
       // 300 characters on Windows; 4136 on Linux, where it cannot be made.
       std::string app = l.app + testing_trees::path_of_length(platform::kPathMax + 39 - l.app.size(), 'a') + "/";
       std::error_code error;
       fs::create_directories(app, error);
       if (!error) write_file(app + "a.txt", "deep old");
       write_file(l.config(), config_text(l, "a.txt;", app));
     },
     [](const Layout&) { return std::string(); }, false},
    {"a file_names of a million characters",
     [](const Layout& l) {
       std::string names;
       while (names.size() < 1000000) names += "absent-00;";
       with_names(l, names);
     },
     [](const Layout& l) { return "Copy file: " + l.release + "a.txt"; }, false},
    {"a configuration that is a folder",
     [](const Layout& l) {
       fs::create_directories(l.config());
       put(l.config() + "/inner.xml", config_text(l, "a.txt;", l.app));
     },
     [](const Layout&) { return std::string("Load config file failed."); }, false},
    {"a configuration that is a pipe",
     [](const Layout& l) { ASSERT_EQ(test_support::run_process("mkfifo '" + l.config() + "'"), 0); },
     [](const Layout&) { return std::string("Load config file failed."); }, true},
    {"a configuration of 50 MB",
     [](const Layout& l) {
       std::ofstream file(l.config(), std::ios::binary);
       file << "<?xml version=\"1.0\"?>\n<!--";
       std::string block(1 << 20, ' ');
       for (int i = 0; i < 50; ++i) file << block;
       file << "-->\n" << config_text(l, "a.txt;", l.app).substr(22);
     },
     [](const Layout& l) { return "Copy file: " + l.release + "a.txt"; }, false},
    {"an XML bomb of nested entities",
     [](const Layout& l) {
       std::string bomb = "<?xml version=\"1.0\"?>\n<!DOCTYPE run_config [\n<!ENTITY l0 \"lol;\">\n";
       for (int i = 1; i < 10; ++i)
         bomb += "<!ENTITY l" + std::to_string(i) + " \"" + [&] {
           std::string ten;
           for (int j = 0; j < 10; ++j) ten += "&l" + std::to_string(i - 1) + ";";
           return ten;
         }() + "\">\n";
       bomb += "]>\n<run_config><current_run_config orbiq_app_path=\"" + l.app + "\" update_temp_path=\"" +
               l.temp + "\"/><copy_config file_names=\"&l9;a.txt;\"/></run_config>\n";
       write_file(l.config(), bomb);
     },
     // The reader skips the document type: the entities are never expanded,
     // and the file holds no configuration it can read.
     [](const Layout&) { return std::string(); }, false},
};

class HostileConfigTest : public ::testing::TestWithParam<HostileCase> {
 protected:
  void SetUp() override {
    layout_.root = test_support::make_temp_folder();
    layout_.app = layout_.root + "app/";
    layout_.temp = layout_.root + "upd/";
    layout_.release = layout_.temp + "unzipTemp/";
    layout_.data = layout_.root + "data/";
    put(layout_.app + "a.txt", "a old");
    put(layout_.release + "a.txt", "a new");
    put(layout_.root + "outside.txt", "victim");
    put(layout_.root + "elsewhere/file.txt", "elsewhere");
    put(layout_.temp + "beside.txt", "beside the release");
    put(layout_.log(), "");
  }
  void TearDown() override { test_support::remove_tree(layout_.root); }

  Layout layout_;
};

TEST_P(HostileConfigTest, EndsTouchesNothingOutsideAndSaysWhatItDid) {
  const HostileCase& hostile = GetParam();
  if (hostile.posix_only && test_support::kWindows) GTEST_SKIP() << "POSIX only";
  hostile.prepare(layout_);
  Tree before = outside_snapshot(layout_);

  EXPECT_EQ(test_support::run_corvane(layout_.config()), 1);
  EXPECT_EQ(outside_snapshot(layout_), before);
  std::string log = read_file(layout_.log());
  EXPECT_NE(log.find("Run param is: "), std::string::npos);
  std::string line = hostile.expected_line(layout_);
  if (!line.empty()) {
    EXPECT_NE(log.find(line), std::string::npos) << line << "\nnot in:\n" << log.substr(0, 4000);
  }
  // a.txt, listed last, is replaced exactly when the log says so, and
  // neither of its versions is lost.
  bool replaced = read_file(layout_.app + "a.txt") == "a new";
  EXPECT_EQ(log.find("Copy file: " + layout_.release + "a.txt") != std::string::npos, replaced);
  EXPECT_EQ(read_file(replaced ? layout_.app + "updateTemp/a.txt" : layout_.app + "a.txt"), "a old");
  if (!replaced) {
    EXPECT_EQ(read_file(layout_.release + "a.txt"), "a new");
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, HostileConfigTest, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<HostileCase>& info) {
                           std::string name;
                           for (const char* c = info.param.what; *c; ++c)
                             if (std::isalnum(static_cast<unsigned char>(*c))) name += *c;
                           return name;
                         });

}  // namespace
