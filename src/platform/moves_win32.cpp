// Moves on Windows are the system's own; they leave no name of ours behind.

#include "platform/platform.h"

bool TakeLeftoverName(char*, std::size_t, DWORD*) { return false; }
