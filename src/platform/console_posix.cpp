// Standard output on POSIX: a terminal shows the program's bytes as they
// are, so there is nothing to set up or give back.

#include "platform/platform.h"

void SetUpConsoleOutput() {}

void RestoreConsoleOutput() {}
