// What Windows does not offer under the names the program uses. All other
// platform calls are the system's own (platform.h).

#include <cstdio>
#include <cstdlib>

#include "driver/platform.h"

const char* LookupEnvironment(const char* name) {
  // The runtime's environment already matches names without regard to case.
  return std::getenv(name);
}

void RunGrantCommand(const char* command_line, const char*) {
  // The command interpreter looks in the current directory before the
  // search path; a Cacls planted there must never run in our place.
  static bool current_directory_barred = false;
  if (!current_directory_barred) {
    // Both the runtime's copy of the environment and the system's, since
    // which one the interpreter inherits is the runtime's business.
    _putenv("NoDefaultCurrentDirectoryInExePath=1");
    SetEnvironmentVariableA("NoDefaultCurrentDirectoryInExePath", "1");
    current_directory_barred = true;
  }
  // Our lines must reach the console before anything the command writes.
  std::fflush(stdout);
  FILE* output = _popen(command_line, "rb");
  if (output == nullptr) return;
  // Read to the end rather than close early: a command whose pipe is closed
  // under it may be cut short before it has done its work.
  char discarded[1024];
  while (std::fread(discarded, 1, sizeof discarded, output) > 0) {
  }
  _pclose(output);
}
