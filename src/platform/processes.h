#pragma once
// What the two backends' grant command code share: finding the command on
// PATH. Nothing outside src/platform includes this.

#include <cstddef>

#include "platform/win32.h"

#ifdef _WIN32
constexpr char kPathListSeparator = ';';
constexpr const char* kGrantCommandFile = "Cacls.exe";
// Windows takes a PATH entry in double quotes, such as one with a ';'.
constexpr bool kPathEntriesMayBeQuoted = true;
#else
constexpr char kPathListSeparator = ':';
constexpr const char* kGrantCommandFile = "Cacls";
constexpr bool kPathEntriesMayBeQuoted = false;
#endif

// The grant command in the first absolute entry of PATH that holds it as
// a file that can be run, in found (size bytes). Neither the current
// directory nor an empty or relative entry is searched: a Start Menu or
// an installer may control those, and a Cacls planted there would run
// with the rights of whoever runs this program. An entry too long for
// found is passed over. Allocates nothing.
bool FindGrantCommand(char* found, std::size_t size);

// True when path is a file (not a directory) that can be started.
bool IsRunnableFile(const char* path);

// The name the system gives the group Everyone, looked up the first time
// and kept for the run; null when there is none to look up (POSIX) or the
// lookup failed.
const char* EveryoneGroupName();
