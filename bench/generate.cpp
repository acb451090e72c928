// Makes one benchmark workload in a fresh folder: an installed application,
// an unpacked release holding a new version of every name, the update
// configuration that lists those names, and names.txt (one name a line) for
// the baselines.
//
//   generate <root> files <names> [log]
//       <names> top-level files of 1 KiB to 64 KiB each.
//   generate <root> folders <folders> <files> <bytes> [log]
//       <folders> top-level folders, each with four sub-folders, holding
//       <files> files and about <bytes> bytes in all.
//
// "log" also creates an empty update.log, which switches the program's log on.
// Layout below <root>: app/, tmp/unzipTemp/, data/update_config.xml,
// data/updateLog/, names.txt.
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

// Writes the old and the new version of one file.
void write_pair(const std::string& root, const std::string& name, std::size_t size) {
  write_file(root + "/app/" + name, size, 'o');
  write_file(root + "/tmp/unzipTemp/" + name, size, 'n');
}

std::vector<std::string> make_files(const std::string& root, unsigned count) {
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

std::vector<std::string> make_folders(const std::string& root, unsigned folders, unsigned files,
                                      std::uint64_t bytes) {
  constexpr unsigned kSubFolders = 4;
  std::vector<std::string> names;
  std::uint64_t state = 11;
  std::uint64_t average = bytes / files;
  unsigned made = 0;
  for (unsigned f = 0; f < folders; ++f) {
    char name[32];
    std::snprintf(name, sizeof name, "folder%02u", f);
    names.push_back(name);
    for (const char* side : {"/app/", "/tmp/unzipTemp/"}) {
      make_folder(root + side + name);
      for (unsigned s = 0; s < kSubFolders; ++s)
        make_folder(root + side + name + "/part" + std::to_string(s));
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

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) {
    std::fprintf(stderr, "usage: generate <root> files <names> [log]\n"
                         "       generate <root> folders <folders> <files> <bytes> [log]\n");
    return 2;
  }
  std::string root = argv[1];
  std::string kind = argv[2];
  bool folders = kind == "folders";
  if (!folders && kind != "files") {
    std::fprintf(stderr, "generate: unknown workload %s\n", kind.c_str());
    return 2;
  }
  int next = folders ? 6 : 4;
  if (argc < next) {
    std::fprintf(stderr, "generate: missing counts\n");
    return 2;
  }
  bool log = argc > next && std::strcmp(argv[next], "log") == 0;

  for (const char* folder : {"", "/app", "/tmp", "/tmp/unzipTemp", "/data", "/data/updateLog"})
    make_folder(root + folder);
  std::vector<std::string> names =
      folders ? make_folders(root, static_cast<unsigned>(std::strtoul(argv[3], nullptr, 10)),
                             static_cast<unsigned>(std::strtoul(argv[4], nullptr, 10)),
                             std::strtoull(argv[5], nullptr, 10))
              : make_files(root, static_cast<unsigned>(std::strtoul(argv[3], nullptr, 10)));

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
               "  <current_run_config orbiq_app_path=\"%s/app/\" update_temp_path=\"%s/tmp/\"\n"
               "      current_version=\"2.0\" current_version_type=\"release\" language_name=\"en\"\n"
               "      allow_beta=\"true\" auto_check=\"true\" orbiq_modulename=\"bench\"/>\n"
               "  <last_run_config current_version=\"1.0\" current_version_type=\"release\"/>\n"
               "  <copy_config file_names=\"%s\"/>\n"
               "</run_config>\n",
               root.c_str(), root.c_str(), list.c_str());
  if (std::fclose(config) != 0) fail("write update_config.xml");
  std::FILE* names_file = std::fopen((root + "/names.txt").c_str(), "w");
  if (!names_file || std::fputs(lines.c_str(), names_file) < 0 || std::fclose(names_file) != 0)
    fail("write names.txt");
  if (log) write_file(root + "/data/updateLog/update.log", 0, 0);
  return 0;
}
