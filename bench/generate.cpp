// Makes one benchmark workload in a fresh folder: an installed application,
// an unpacked release holding a new version of every name, the update
// configuration that lists those names, and names.txt (one name a line) for
// the baselines. Old versions are filled with 'o', new ones with 'n', so
// check_update can tell them apart.
//
//   generate [options] <root> files <names>
//       <names> top-level files of 1 KiB to 64 KiB each.
//   generate [options] <root> folders <folders> <files> <bytes>
//       <folders> top-level folders, each with four sub-folders, holding
//       <files> files and about <bytes> bytes in all.
//
// Options:
//   --log         also creates an empty update.log, which switches the log on.
//   --tmp <dir>   puts the release's folder (update_temp_path) at <dir>
//                 instead of <root>/tmp, for a release on another file system.
//   --drive <d>   writes the configuration's paths with <d> in front (Z: for
//                 the Windows build under Wine, which sees / as Z:).
// Layout: <root>/app/, <tmp>/unzipTemp/, <root>/data/update_config.xml,
// <root>/data/updateLog/, <root>/names.txt.
#include <sys/stat.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

// A small deterministic generator, so every run gets the same sizes.
std::uint64_t next_random(std::uint64_t& state) {
  state = state * 6364136223846793005ULL + 1442695040888963407ULL;
  return state >> 33;
}

[[noreturn]] void fail(const std::string& what) {
  std::fprintf(stderr, "generate: %s: %s\n", what.c_str(), std::strerror(errno));
  std::exit(1);
}

void make_folder(const std::string& path) {
  if (mkdir(path.c_str(), 0777) != 0 && errno != EEXIST) fail("mkdir " + path);
}

void write_file(const std::string& path, std::size_t size, char fill) {
  static std::vector<char> block;
  if (block.size() < size) block.resize(size);
  std::memset(block.data(), fill, size);
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (!file) fail("create " + path);
  if (std::fwrite(block.data(), 1, size, file) != size) fail("write " + path);
  if (std::fclose(file) != 0) fail("close " + path);
}

// Where the two versions of a name go.
struct Layout {
  std::string app;      // the installed application, ending in "/"
  std::string release;  // the unpacked release, ending in "/"
};

// Writes the old and the new version of one file.
void write_pair(const Layout& layout, const std::string& name, std::size_t size) {
  write_file(layout.app + name, size, 'o');
  write_file(layout.release + name, size, 'n');
}

std::vector<std::string> make_files(const Layout& root, unsigned count) {
  std::vector<std::string> names;
  std::uint64_t state = 9;
  for (unsigned i = 0; i < count; ++i) {
    char name[32];
    std::snprintf(name, sizeof name, "file%05u.dat", i);
    std::size_t size = 1024 + next_random(state) % (63 * 1024 + 1);
    write_pair(root, name, size);
    names.push_back(name);
  }
  return names;
}

std::vector<std::string> make_folders(const Layout& root, unsigned folders, unsigned files,
                                      std::uint64_t bytes) {
  constexpr unsigned kSubFolders = 4;
  std::vector<std::string> names;
  std::uint64_t state = 11;
  std::uint64_t average = files ? bytes / files : 0;
  unsigned made = 0;
  for (unsigned f = 0; f < folders; ++f) {
    char name[32];
    std::snprintf(name, sizeof name, "folder%02u", f);
    names.push_back(name);
    for (const std::string& side : {root.app, root.release}) {
      make_folder(side + name);
      for (unsigned s = 0; s < kSubFolders; ++s) make_folder(side + name + "/part" + std::to_string(s));
    }
    // The files spread evenly over the folders and their sub-folders.
    unsigned in_folder = files / folders + (f < files % folders ? 1 : 0);
    for (unsigned i = 0; i < in_folder; ++i, ++made) {
      std::string path = std::string(name) + "/part" + std::to_string(i % kSubFolders) + "/f" +
                         std::to_string(made) + ".dat";
      // Sizes from half to one and a half times the average.
      std::size_t size = average / 2 + next_random(state) % (average + 1);
      write_pair(root, path, size);
    }
  }
  return names;
}

int usage() {
  std::fprintf(stderr, "usage: generate [--log] [--tmp <dir>] [--drive <d>] <root> files <names>\n"
                       "       generate [--log] [--tmp <dir>] [--drive <d>] <root> folders <folders> <files> <bytes>\n");
  return 2;
}

unsigned count_argument(const char* text) { return static_cast<unsigned>(std::strtoul(text, nullptr, 10)); }

}  // namespace

int main(int argc, char** argv) {
  bool log = false;
  std::string tmp;
  std::string drive;
  int next = 1;
  for (; next < argc && std::strncmp(argv[next], "--", 2) == 0; ++next) {
    std::string option = argv[next];
    if (option == "--log") {
      log = true;
    } else if ((option == "--tmp" || option == "--drive") && next + 1 < argc) {
      (option == "--tmp" ? tmp : drive) = argv[++next];
    } else {
      return usage();
    }
  }
  if (argc - next < 3) return usage();
  std::string root = argv[next];
  std::string kind = argv[next + 1];
  bool folders = kind == "folders";
  if (!folders && kind != "files") return usage();
  if (argc - next != (folders ? 5 : 3)) return usage();
  if (tmp.empty()) tmp = root + "/tmp";

  for (const char* folder : {"", "/app", "/data", "/data/updateLog"}) make_folder(root + folder);
  make_folder(tmp);
  make_folder(tmp + "/unzipTemp");
  Layout layout{root + "/app/", tmp + "/unzipTemp/"};
  std::vector<std::string> names =
      folders ? make_folders(layout, count_argument(argv[next + 2]), count_argument(argv[next + 3]),
                             std::strtoull(argv[next + 4], nullptr, 10))
              : make_files(layout, count_argument(argv[next + 2]));

  std::string list;
  std::string lines;
  for (const std::string& name : names) {
    list += name + ";";
    lines += name + "\n";
  }
  std::FILE* config = std::fopen((root + "/data/update_config.xml").c_str(), "w");
  if (!config) fail("create update_config.xml");
  std::fprintf(config,
               "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
               "<run_config>\n"
               "  <current_run_config orbiq_app_path=\"%s%s/app/\" update_temp_path=\"%s%s/\"\n"
               "      current_version=\"2.0\" current_version_type=\"release\" language_name=\"en\"\n"
               "      allow_beta=\"true\" auto_check=\"true\" orbiq_modulename=\"bench\"/>\n"
               "  <last_run_config current_version=\"1.0\" current_version_type=\"release\"/>\n"
               "  <copy_config file_names=\"%s\"/>\n"
               "</run_config>\n",
               drive.c_str(), root.c_str(), drive.c_str(), tmp.c_str(), list.c_str());
  if (std::fclose(config) != 0) fail("write update_config.xml");
  std::FILE* names_file = std::fopen((root + "/names.txt").c_str(), "w");
  if (!names_file || std::fputs(lines.c_str(), names_file) < 0 || std::fclose(names_file) != 0)
    fail("write names.txt");
  if (log) write_file(root + "/data/updateLog/update.log", 0, 0);
  return 0;
}
