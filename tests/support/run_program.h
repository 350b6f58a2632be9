#pragma once
// Runs a built program as its users meet it: its own argument vector, a
// complete environment of our choosing, a working directory, and its
// standard output and error captured byte for byte.

#include <cstdint>
#include <string>
#include <vector>

struct RunResult {
  uint32_t exit_status;  // as the parent sees it: 255 or 0xFFFFFFFF for -1
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
// current one when empty).
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
#endif
