#pragma once
// Forced into every source of the program's code when the fault tests
// build it: each platform call becomes the switchboard's wrapper. The
// platform header comes first, so that the system's own declarations keep
// their names.

#include "platform/platform.h"
#include "faults/switchboard.h"

#define SetCurrentDirectoryA FaultySetCurrentDirectoryA
#define GetCurrentDirectoryA FaultyGetCurrentDirectoryA
#define FindFirstFileA FaultyFindFirstFileA
#define FindNextFileA FaultyFindNextFileA
#define FileTimeToSystemTime FaultyFileTimeToSystemTime
#define CreateFileA FaultyCreateFileA
#define WriteFile FaultyWriteFile
#define ReadFile FaultyReadFile
#define GetFileSize FaultyGetFileSize
#define SetEndOfFile FaultySetEndOfFile
#define CloseHandle FaultyCloseHandle
#define GetFileAttributesA FaultyGetFileAttributesA
#define DeleteFileA FaultyDeleteFileA
#define DeleteHeldFile FaultyDeleteHeldFile
#define MoveItem FaultyMoveItem
#define TakeLeftoverName FaultyTakeLeftoverName
#define RunGrantCommand FaultyRunGrantCommand
#define TakeLeftoverName FaultyTakeLeftoverName
