#include <windows.h>

#include <cstdio>
#include <cstdlib>

#include "support/run_program.h"
#include "support/temp_tree.h"

const uint32_t kFailureStatus = 0xFFFFFFFFu;

std::string BuiltProgramFolder() {
  char module[MAX_PATH * 4];
  const DWORD length = GetModuleFileNameA(nullptr, module, sizeof module);
  return fs::path(std::string(module, length)).parent_path().string();
}

std::string BuiltProgram(const std::string& name) {
  return BuiltProgramFolder() + "\\" + name + ".exe";
}

std::vector<std::string> BaseEnvironment() {
  std::vector<std::string> environment;
  // Under Wine the interpreter, the system folders and the Wine settings
  // come from these; the program under test gets its own UserProfile and
  // SystemRoot from each test.
  for (const char* name : {"PATH", "COMSPEC", "windir", "WINEPREFIX", "WINEDEBUG", "TEMP", "TMP"}) {
    if (const char* value = std::getenv(name)) environment.push_back(std::string(name) + "=" + value);
  }
  return environment;
}

namespace {

// Quotes one argument the way the runtime's command-line parser reads it.
std::string QuoteArgument(const std::string& argument) {
  if (!argument.empty() && argument.find_first_of(" \t\"") == std::string::npos) return argument;
  std::string quoted = "\"";
  std::size_t backslashes = 0;
  for (char c : argument) {
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    if (c == '"') quoted.append(backslashes * 2 + 1, '\\');
    else quoted.append(backslashes, '\\');
    backslashes = 0;
    quoted += c;
  }
  quoted.append(backslashes * 2, '\\');
  return quoted + "\"";
}

HANDLE OpenCapture(const std::string& path) {
  SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  return CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inheritable,
                     CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
}

constexpr int kStartAttempts = 5;

// The errors with which CreateProcessA says the system is short of
// something for the moment; in every case the program never ran, so
// starting it again is safe. Wine gives ERROR_NOT_ENOUGH_MEMORY when it
// cannot fork, and ERROR_INTERNAL_ERROR when the new process ended before
// its start was complete: on a loaded machine about one start in ten
// thousand fails so, and the next one succeeds.
bool IsTransient(DWORD error) {
  return error == ERROR_NOT_ENOUGH_MEMORY || error == ERROR_OUTOFMEMORY || error == ERROR_NO_SYSTEM_RESOURCES ||
         error == ERROR_INTERNAL_ERROR;
}

std::string SystemMessage(DWORD error) {
  char text[512];
  DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error, 0,
                                text, sizeof text, nullptr);
  while (length > 0 && (text[length - 1] == '\r' || text[length - 1] == '\n' || text[length - 1] == ' ')) --length;
  return std::string(text, length);
}

RunResult WithoutStatus(const std::string& why, DWORD error) {
  RunResult result{0, "", ""};
  result.exit_status.no_status = why + ": " + std::to_string(error) + " " + SystemMessage(error);
  result.err = result.exit_status.no_status;
  return result;
}

}  // namespace

RunResult RunProgram(const std::string& program, const std::vector<std::string>& arguments,
                     const std::vector<std::string>& environment,
                     const std::string& working_directory) {
  const OutputFiles capture;

  std::string command_line;
  for (const std::string& argument : arguments) {
    if (!command_line.empty()) command_line += ' ';
    command_line += QuoteArgument(argument);
  }
  // The environment block: NAME=value strings, each ended by NUL, and one
  // more NUL at the end.
  std::string block;
  for (const std::string& variable : environment) block += variable + '\0';
  block += '\0';

  PROCESS_INFORMATION process{};
  for (int attempt = 1;; ++attempt) {
    HANDLE out = OpenCapture(capture.out);
    HANDLE err = OpenCapture(capture.err);
    SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    HANDLE in = CreateFileA("NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inheritable,
                            OPEN_EXISTING, 0, nullptr);
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = in;
    startup.hStdOutput = out;
    startup.hStdError = err;
    const BOOL started = CreateProcessA(program.c_str(), command_line.data(), nullptr, nullptr, TRUE, 0,
                                        block.data(),
                                        working_directory.empty() ? nullptr : working_directory.c_str(),
                                        &startup, &process);
    const DWORD error = started ? 0 : GetLastError();
    CloseHandle(in);
    CloseHandle(out);
    CloseHandle(err);
    if (started) break;
    if (!IsTransient(error) || attempt == kStartAttempts) return WithoutStatus("did not start", error);
    std::fprintf(stderr, "[ retry    ] %s did not start (%lu %s); trying again\n", program.c_str(), error,
                 SystemMessage(error).c_str());
    Sleep(50u << attempt);
  }

  DWORD status = 0;
  const bool ended = WaitForSingleObject(process.hProcess, INFINITE) == WAIT_OBJECT_0 &&
                     GetExitCodeProcess(process.hProcess, &status);
  const DWORD wait_error = ended ? 0 : GetLastError();
  CloseHandle(process.hProcess);
  CloseHandle(process.hThread);
  if (!ended) return WithoutStatus("cannot wait", wait_error);
  return RunResult{status, ReadFile(capture.out), ReadFile(capture.err)};
}
