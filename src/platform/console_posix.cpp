// Standard output on POSIX: a terminal shows the program's bytes as they
// are, and the C library line-buffers it there, so there is nothing to set
// up or give back but SIGPIPE.

#include <csignal>
#include <cstdarg>
#include <cstdio>

#include "platform/console.h"

void SetUpConsoleOutput() {
  // A reader that went away ("dravonel /c | head -1") would otherwise end
  // the run at its next line, between a move and its grant. Writes fail
  // instead; the driver sees it and ends with -1.
  std::signal(SIGPIPE, SIG_IGN);
}

void RestoreConsoleOutput() {}

void PrintOutput(const char* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  std::vprintf(format, arguments);
  va_end(arguments);
}
