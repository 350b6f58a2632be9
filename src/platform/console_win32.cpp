// Standard output on a Windows console: the program's narrow bytes shown
// in the code page they are in, and the console given back as it was.

#include <fcntl.h>
#include <io.h>

#include <cstdarg>
#include <cstdio>

#include "platform/console.h"

namespace {

// The console's output code page before the run; 0 while it is unchanged.
UINT console_code_page_before = 0;

// Whole prints for the console: see SetUpConsoleOutput.
char console_output_buffer[1 << 16];
bool flush_each_print = false;

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
  // The bytes go to the console as they are, a whole print at a time. In
  // text mode a runtime may pass them through its own locale first (Wine's
  // turns each byte of a UTF-8 name into a character of its own), and an
  // unbuffered stream reaches the console a few bytes at a time, cutting
  // characters in two. The runtime has no line buffering (_IOLBF is full
  // buffering there), so PrintOutput flushes after each print: every print
  // is whole lines. A console starts a new line at a line feed alone.
  _setmode(_fileno(stdout), _O_BINARY);
  std::setvbuf(stdout, console_output_buffer, _IOFBF, sizeof console_output_buffer);
  flush_each_print = true;
}

void RestoreConsoleOutput() {
  std::fflush(stdout);
  if (console_code_page_before != 0) SetConsoleOutputCP(console_code_page_before);
}

void PrintOutput(const char* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  std::vprintf(format, arguments);
  va_end(arguments);
  if (flush_each_print) std::fflush(stdout);
}
