#pragma once
// What the two backends' moves share: the name a move leaves behind, for
// TakeLeftoverName. Nothing outside src/platform includes this.

#include "platform/platform.h"

// Forgets what an earlier move left: each move starts with this.
void ForgetLeftover();

// Remembers name with suffix appended as what the current move leaves
// beside its destination, and error as why it stayed. Allocates nothing.
void RememberLeftover(const char* name, const char* suffix, DWORD error);
