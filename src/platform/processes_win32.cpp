// The grant command on Windows: Cacls.exe started directly with the
// command line the program printed, and waited for.

#include <cstdio>

#include "platform/messages.h"
#include "platform/processes.h"

bool IsRunnableFile(const char* path) {
  const DWORD attributes = GetFileAttributesA(path);
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

namespace {

// The system's text for the last error in reason; -1, for the caller to
// return.
int DescribeLastError(char* reason, std::size_t size) {
  DescribeError(GetLastError(), reason, size);
  return -1;
}

}  // namespace

int RunGrantCommand(const char* target, char* reason, std::size_t size) {
  // Started directly, never through the command interpreter: it expands
  // %NAME% even inside double quotes, so a name such as "%CMDCMDLINE%&x"
  // (whose value holds quotes) could turn the rest of a file name into a
  // command of its own. Cacls gets the very command line that was printed.
  // Our lines must reach the console before anything the command writes.
  std::fflush(stdout);
  char program[MAX_PATH];
  if (!FindGrantCommand(program, sizeof program)) {
    std::snprintf(reason, size, "%s", kGrantNotFoundReason);
    return -1;
  }
  char line[MAX_PATH];  // CreateProcessA may write into its command line
  const int length = std::snprintf(line, sizeof line, kGrantCommand, target);
  if (length < 0 || static_cast<std::size_t>(length) >= sizeof line) {
    SetLastError(ERROR_FILENAME_EXCED_RANGE);
    return DescribeLastError(reason, size);
  }

  // Its output is not ours to print; only its error output reaches the
  // user, as through the interpreter.
  SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  const HANDLE null_device = CreateFileA("NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                         &inheritable, OPEN_EXISTING, 0, nullptr);
  if (null_device == INVALID_HANDLE_VALUE) return DescribeLastError(reason, size);
  HANDLE error = nullptr;
  const HANDLE own_error = GetStdHandle(STD_ERROR_HANDLE);
  if (own_error == nullptr || own_error == INVALID_HANDLE_VALUE ||
      !DuplicateHandle(GetCurrentProcess(), own_error, GetCurrentProcess(), &error, 0, TRUE, DUPLICATE_SAME_ACCESS)) {
    error = nullptr;
  }

  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = null_device;
  startup.hStdOutput = null_device;
  startup.hStdError = error != nullptr ? error : null_device;
  PROCESS_INFORMATION process{};
  int result = 0;
  if (!CreateProcessA(program, line, nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &process)) {
    result = DescribeLastError(reason, size);
  } else {
    DWORD status = 0;
    if (WaitForSingleObject(process.hProcess, INFINITE) != WAIT_OBJECT_0 ||
        !GetExitCodeProcess(process.hProcess, &status)) {
      result = DescribeLastError(reason, size);
    } else if (status != 0) {
      std::snprintf(reason, size, kGrantStatusReason, static_cast<unsigned long>(status));
      result = -1;
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
  }
  if (error != nullptr) CloseHandle(error);
  CloseHandle(null_device);
  return result;
}
