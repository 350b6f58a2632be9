// The name the last move left behind, on both systems.

#include "platform/moves.h"

#include <cstdio>

namespace {

// "" when the last move left nothing. Room for a destination and a suffix
// of the move's own.
char LeftoverName[2 * kMaxPath];
DWORD LeftoverError = ERROR_SUCCESS;

}  // namespace

void ForgetLeftover() { LeftoverName[0] = '\0'; }

void RememberLeftover(const char* name, const char* suffix, DWORD error) {
  LeftoverError = error;
  if (std::snprintf(LeftoverName, sizeof LeftoverName, "%s%s", name, suffix) < 0) LeftoverName[0] = '\0';
}

bool TakeLeftoverName(char* path, std::size_t size, DWORD* error) {
  if (LeftoverName[0] == '\0') return false;
  std::snprintf(path, size, "%s", LeftoverName);
  *error = LeftoverError;
  LeftoverName[0] = '\0';
  return true;
}
