// What Windows does not offer under the names the program uses. All other
// platform calls are the system's own (platform.h).

#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "driver/platform.h"

namespace {

bool IsAbsolute(const std::string& folder) {
  const bool drive = folder.size() >= 3 && folder[1] == ':' && (folder[2] == '\\' || folder[2] == '/');
  return drive || folder.rfind("\\\\", 0) == 0;
}

// Cacls.exe in the first absolute entry of PATH that holds it. Neither the
// current directory nor a relative entry is searched: a Start Menu or an
// installer may control those, and a Cacls planted there would run with
// the rights of whoever runs this program.
bool FindGrantCommand(std::string& found) {
  const char* path = LookupEnvironment("PATH");
  if (path == nullptr) return false;
  const std::string entries(path);
  std::size_t start = 0;
  while (start <= entries.size()) {
    std::size_t end = entries.find(';', start);
    if (end == std::string::npos) end = entries.size();
    std::string folder = entries.substr(start, end - start);
    start = end + 1;
    if (folder.size() >= 2 && folder.front() == '"' && folder.back() == '"') folder = folder.substr(1, folder.size() - 2);
    if (!IsAbsolute(folder)) continue;
    if (folder.back() != '\\' && folder.back() != '/') folder += '\\';
    const std::string candidate = folder + "Cacls.exe";
    const DWORD attributes = GetFileAttributesA(candidate.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
      found = candidate;
      return true;
    }
  }
  return false;
}

}  // namespace

const char* LookupEnvironment(const char* name) {
  // The runtime's environment already matches names without regard to case.
  return std::getenv(name);
}

void RunGrantCommand(const char* command_line, const char*) {
  // Started directly, never through the command interpreter: it expands
  // %NAME% even inside double quotes, so a name such as "%CMDCMDLINE%&x"
  // (whose value holds quotes) could turn the rest of a file name into a
  // command of its own. Cacls gets the very command line that was printed.
  std::string program;
  if (!FindGrantCommand(program)) return;
  // Our lines must reach the console before anything the command writes.
  std::fflush(stdout);

  // Its output is not ours to print; only its error output reaches the
  // user, as through the interpreter.
  SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  const HANDLE null_device = CreateFileA("NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                         &inheritable, OPEN_EXISTING, 0, nullptr);
  if (null_device == INVALID_HANDLE_VALUE) return;
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
  std::string line(command_line);  // CreateProcessA may write into its command line
  PROCESS_INFORMATION process{};
  if (CreateProcessA(program.c_str(), line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &process)) {
    WaitForSingleObject(process.hProcess, INFINITE);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
  }
  if (error != nullptr) CloseHandle(error);
  CloseHandle(null_device);
}

// Standard output on a console.

namespace {

// The console's output code page before the run; 0 while it is unchanged.
UINT console_code_page_before = 0;

// Whole lines for the console: see SetUpConsoleOutput.
char console_output_buffer[1 << 16];

BOOL WINAPI RestoreConsoleOnInterrupt(DWORD) {
  RestoreConsoleOutput();
  return FALSE;  // the system's own handler then ends the process
}

}  // namespace

void SetUpConsoleOutput() {
  DWORD mode = 0;
  // Redirected output: its bytes are already the names' own.
  if (!GetConsoleMode(GetStdHandle(STD_OUTPUT_HANDLE), &mode)) return;
  const UINT before = GetConsoleOutputCP();
  if (before == 0 || !SetConsoleOutputCP(GetACP())) return;
  console_code_page_before = before;
  SetConsoleCtrlHandler(RestoreConsoleOnInterrupt, TRUE);
  // The bytes go to the console as they are, whole lines at a time. In
  // text mode a runtime may pass them through its own locale first (Wine's
  // turns each byte of a UTF-8 name into a character of its own), and an
  // unbuffered stream reaches the console a few bytes at a time, cutting
  // characters in two. A console starts a new line at a line feed alone.
  _setmode(_fileno(stdout), _O_BINARY);
  std::setvbuf(stdout, console_output_buffer, _IOFBF, sizeof console_output_buffer);
}

void RestoreConsoleOutput() {
  std::fflush(stdout);
  if (console_code_page_before != 0) SetConsoleOutputCP(console_code_page_before);
}
