#pragma once
// Runs a built program as its users meet it: its own argument vector, a
// complete environment of our choosing, a working directory, and its
// standard output and error captured byte for byte.

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#ifndef _WIN32
#include <spawn.h>
#endif

#include "support/temp_tree.h"

// Where a run's standard output and error go: two files in a folder of
// their own, read once the run has ended.
struct OutputFiles {
  TempDir folder;
  const std::string out = folder.str() + Sep() + "out";
  const std::string err = folder.str() + Sep() + "err";
};

// How a run ended as the parent sees it: the program's exit status (255 or
// 0xFFFFFFFF for -1; on POSIX 0x80000000 | signal for a run a signal
// ended), or why there is none: "did not start: <system error code>
// <message>", or "cannot wait: ..." when waiting for its end failed. A
// run without a status never compares equal to a status and prints its
// reason, so every assertion on a status says why it failed.
struct ExitStatus {
  // Implicit, so that a status is written as the number it is.
  ExitStatus(uint32_t program_status) : code(program_status) {}

  uint32_t code;
  std::string no_status;  // empty when code is the program's own
};

inline bool operator==(const ExitStatus& status, uint32_t code) {
  return status.no_status.empty() && status.code == code;
}

inline std::ostream& operator<<(std::ostream& out, const ExitStatus& status) {
  if (status.no_status.empty()) return out << status.code;
  return out << status.no_status;
}

struct RunResult {
  ExitStatus exit_status;
  std::string out;
  std::string err;
};

// The exit status of a program that returned -1 from main.
extern const uint32_t kFailureStatus;

// Path of a program built beside the test executable ("dravonel" becomes
// dravonel.exe on Windows).
std::string BuiltProgram(const std::string& name);

// The folder of the test executable, where the built programs are.
std::string BuiltProgramFolder();

// Runs program with arguments (argument 0 included) and exactly the
// variables in environment ("NAME=value"), in working_directory (the
// current one when empty), and waits for it to end. A start that fails
// because the system is short of something for a moment is tried again a
// few times; a program that started is never started again. When it never
// starts, exit_status says why and err holds the same text.
RunResult RunProgram(const std::string& program, const std::vector<std::string>& arguments,
                     const std::vector<std::string>& environment,
                     const std::string& working_directory = "");

// The variables a program needs to start at all on this system (PATH, and on
// Windows the interpreter and system folders); tests add theirs to these.
std::vector<std::string> BaseEnvironment();

#ifndef _WIN32
// Pointers to each string and a null after them, as exec and spawn calls
// take an argument vector or an environment; strings must outlive them.
std::vector<char*> NullTerminated(const std::vector<std::string>& strings);

// posix_spawn, tried again as RunProgram tries a start that fails for a
// passing reason. Returns 0 when the program started, or the error number.
int SpawnProgram(pid_t* child, const std::string& program, const posix_spawn_file_actions_t* actions,
                 const posix_spawnattr_t* attributes, char* const argv[], char* const envp[]);
#endif
