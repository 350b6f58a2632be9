// What Windows does not offer under the names the program uses. All other
// platform calls are the system's own (platform.h).

#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "driver/platform.h"

namespace {

bool IsAbsolute(const char* folder, std::size_t length) {
  const bool drive = length >= 3 && folder[1] == ':' && (folder[2] == '\\' || folder[2] == '/');
  return drive || (length >= 2 && folder[0] == '\\' && folder[1] == '\\');
}

// Cacls.exe in the first absolute entry of PATH that holds it, in found
// (MAX_PATH bytes). Neither the current directory nor a relative entry is
// searched: a Start Menu or an installer may control those, and a Cacls
// planted there would run with the rights of whoever runs this program.
// Allocates nothing; an entry too long for the path is passed over.
bool FindGrantCommand(char (&found)[MAX_PATH]) {
  const char* entry = LookupEnvironment("PATH");
  if (entry == nullptr) return false;
  for (;;) {
    const char* end = std::strchr(entry, ';');
    if (end == nullptr) end = entry + std::strlen(entry);
    const char* folder = entry;
    std::size_t length = static_cast<std::size_t>(end - entry);
    if (length >= 2 && folder[0] == '"' && folder[length - 1] == '"') {
      ++folder;
      length -= 2;
    }
    const bool separated = length > 0 && (folder[length - 1] == '\\' || folder[length - 1] == '/');
    if (IsAbsolute(folder, length) && length < MAX_PATH) {
      const int written = std::snprintf(found, sizeof found, "%.*s%sCacls.exe", static_cast<int>(length), folder,
                                        separated ? "" : "\\");
      const DWORD attributes = written > 0 && static_cast<std::size_t>(written) < sizeof found
                                   ? GetFileAttributesA(found)
                                   : INVALID_FILE_ATTRIBUTES;
      if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) return true;
    }
    if (*end == '\0') return false;
    entry = end + 1;
  }
}

}  // namespace

const char* LookupEnvironment(const char* name) {
  // The runtime's environment already matches names without regard to case.
  return std::getenv(name);
}

bool IsFullPath(const char* path) {
  return IsAbsolute(path, std::strlen(path));
}

void RunGrantCommand(const char* command_line, const char*) {
  // Started directly, never through the command interpreter: it expands
  // %NAME% even inside double quotes, so a name such as "%CMDCMDLINE%&x"
  // (whose value holds quotes) could turn the rest of a file name into a
  // command of its own. Cacls gets the very command line that was printed.
  char program[MAX_PATH];
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
  char line[MAX_PATH];  // CreateProcessA may write into its command line
  std::snprintf(line, sizeof line, "%s", command_line);
  PROCESS_INFORMATION process{};
  if (CreateProcessA(program, line, nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &process)) {
    WaitForSingleObject(process.hProcess, INFINITE);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
  }
  if (error != nullptr) CloseHandle(error);
  CloseHandle(null_device);
}

void DescribeError(DWORD code, char* text, std::size_t size) {
  if (size == 0) return;
  const DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0,
                                      text, static_cast<DWORD>(size), nullptr);
  if (length == 0 || length >= size) {
    std::snprintf(text, size, "error %lu", code);
    return;
  }
  // One line, as the program prints it: the system's text ends in ".\r\n",
  // and a long one may break in between.
  std::size_t end = length;
  while (end > 0 && (text[end - 1] == '\r' || text[end - 1] == '\n' || text[end - 1] == ' ')) --end;
  if (end > 0 && text[end - 1] == '.') --end;
  text[end] = '\0';
  for (std::size_t i = 0; i < end; ++i) {
    if (text[i] == '\r' || text[i] == '\n') text[i] = ' ';
  }
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
