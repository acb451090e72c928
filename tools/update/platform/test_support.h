// What the tests need from the system beyond the product's primitives: fresh
// temporary folders, entries held open by another handle, and starting a
// program with an exact command line.
#pragma once

#include <string>

namespace test_support {

// A new empty folder for one test; its path ends in "/" and uses "/".
std::string make_temp_folder();

// Removes a folder tree, read-only entries included; quiet on failure.
void remove_tree(const std::string& path);

// Writes text to a file (binary, exact bytes); creates or truncates it.
void write_file(const std::string& path, const std::string& content);
// The whole content of a file; empty when it cannot be read.
std::string read_file(const std::string& path);
bool exists(const std::string& path);

// Keeps a file or folder open the way a running application would: without
// sharing delete, so that it can be neither moved nor deleted on Windows.
struct HeldEntry;
HeldEntry* hold_open(const std::string& path);
void release(HeldEntry* held);

// Starts a program with exactly this command line (Windows: CreateProcessA;
// POSIX: through /bin/sh) and waits for it. The exit code, or -1.
int run_process(const std::string& command_line);

// A program started without waiting for it, and the wait for its end (the
// exit code, or -1).
struct StartedProcess;
StartedProcess* start_process(const std::string& command_line);
int wait_process(StartedProcess* process);

// Makes an entry immutable, so that not even its owner can change, move or
// delete it (Linux as root: chattr +i), or mutable again. False where the
// system cannot do this.
bool set_immutable(const std::string& path, bool on);

// Mounts a small file system of its own on the folder path, or unmounts it
// (Linux as root: tmpfs). False where this cannot be done.
bool mount_scratch_file_system(const std::string& path, bool on);

// Makes link a symbolic link to target (a file or a folder; relative to the
// link's folder unless absolute): on POSIX, and under Wine a Unix link made
// by the Unix ln (an absolute target in its Unix name). False where the
// system makes none.
bool make_link(const std::string& link, const std::string& target);

// How many files, folders and other system objects this process holds open
// (POSIX: its file descriptors; Windows: its handles); -1 where that cannot be
// told. Lets a test prove that every folder listing was closed.
int open_handle_count();


// Sets (or, with an empty value, removes) an environment variable of this
// process; programs it starts inherit it.
void set_environment(const std::string& name, const std::string& value);

// Gives this process, and the programs it starts, a home folder of its own
// while the record lives: HOME is set to home, and the caller's desktop
// settings (XDG_CONFIG_HOME, XDG_DOCUMENTS_DIR) are cleared, so that a test
// never creates folders in the home of whoever runs it. The old values come
// back when the record goes.
struct OwnHome {
  explicit OwnHome(const std::string& home);
  ~OwnHome();
  OwnHome(const OwnHome&) = delete;
  OwnHome& operator=(const OwnHome&) = delete;
  std::string saved[3];
};

// The program under test, as the test program must name it.
std::string program_path();

// The command line that starts the program under test with this run
// parameter, as run_corvane uses it.
std::string corvane_command_line(const std::string& run_parameter);

// Runs the program under test with this run parameter and waits: on Windows
// the exact command line is the quoted program path, two blanks and the
// parameter; on POSIX the parameter is its one argument. The exit code.
int run_corvane(const std::string& run_parameter);

// The same, with the shell-folder library unavailable to the program: under
// Windows a copy of it for which the library is disabled (Wine's per-program
// DLL overrides); on POSIX with a home folder that does not exist.
int run_corvane_without_shell_library(const std::string& run_parameter);

// Under Wine: a copy of the program at path, in the temporary folder under
// the file name name, that Wine runs as Windows 98 (its per-program Version
// setting), so that the program takes its Windows 9x roads. Empty elsewhere.
std::string copy_as_windows_98(const std::string& path, const std::string& name);

// Makes link a link to the folder target: a symbolic link on POSIX; on
// Windows a folder symbolic link or else a junction, and under Wine, which
// makes neither, a Unix symbolic link (which Wine shows as a reparse point).
// True when the system now reports link as a link to a folder.
bool make_folder_link(const std::string& link, const std::string& target);
// Removes a link made by make_link or make_folder_link itself, never what it
// points to (under Wine with the Unix rm). True when it went.
bool remove_link(const std::string& link);

// Asks the system something that makes it meet an access violation and handle
// it itself (Windows: IsBadReadPtr on an unmapped address). True when it
// answered as it should; POSIX has no such call and answers true.
bool system_handles_own_fault();

// The line end that a text-mode file gets on disk: CR LF on Windows, LF on POSIX.
extern const char* const kTextLineEnd;
// True in the Windows build (tests of drive letters and attributes).
extern const bool kWindows;
}  // namespace test_support
