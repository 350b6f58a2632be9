#pragma once
// Standard output: the console set up and given back, and the lines the
// run prints, each name on them shown as shown_name.h says.

#include "platform/errors.h"
#include "platform/win32.h"
#include "platform/shown_name.h"

// Standard output on a console. The program prints names as the narrow
// calls give them: in the system's narrow code page, which the manifest
// makes UTF-8 on Windows 10 version 1903 and later. While standard output
// is a console, SetUpConsoleOutput has the console read the program's
// bytes in that code page, and RestoreConsoleOutput flushes standard
// output and gives the console back the code page it had before; Ctrl+C,
// Ctrl+Break and closing the console give it back too. Output that is
// redirected is left exactly as it is. On POSIX a terminal shows the
// bytes as they are; SetUpConsoleOutput ignores SIGPIPE there, so that a
// closed output makes writes fail (the driver then ends with -1) instead
// of killing the run between a move and its grant. Called from main,
// around everything else.
void SetUpConsoleOutput();
void RestoreConsoleOutput();

// Prints to standard output as printf does. The lines a run prints while
// it goes on come through here: on a Windows console each print reaches
// the screen at once, whole (a character is never cut in two), rather
// than when a buffer fills; output that is redirected, and POSIX output,
// keep the C library's buffering. Failures show in ferror(stdout).
void PrintOutput(const char* format, ...);

// PrintOutput of a line whose arguments, up to three "%s", are names,
// paths or a command line that holds one: each is shown as ShowName shows
// it, so that a name can never be read as anything but a name. Allocates
// nothing.
inline void PrintNames(const char* format, const char* first, const char* second = "", const char* third = "") {
  char shown[3][kShownNameSize];
  PrintOutput(format, ShowName(first, shown[0], kShownNameSize), ShowName(second, shown[1], kShownNameSize),
              ShowName(third, shown[2], kShownNameSize));
}

// PrintNames of a line that takes a path and a reason ("Cannot read %s:
// %s\n"), the reason being the system's text for error.
inline void PrintWithReason(const char* format, const char* path, DWORD error) {
  char reason[kErrorTextSize];
  DescribeError(error, reason, sizeof reason);
  PrintNames(format, path, reason);
}
