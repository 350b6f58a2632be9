#pragma once
// Forced into every source of the program's code when the fault tests
// build it: each platform call becomes the switchboard's wrapper. The
// platform headers come first, so that the system's own declarations keep
// their names.

#include "platform/grant.h"
#include "platform/held_file.h"
#include "platform/moves.h"
#include "platform/win32.h"
#include "platform/walk.h"
#include "faults/switchboard.h"

#define OpenMenuRoot FaultyOpenMenuRoot
#define OpenSubfolder FaultyOpenSubfolder
#define ListFolder FaultyListFolder
#define NextFolderEntry FaultyNextFolderEntry
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
#define RunGrantCommand FaultyRunGrantCommand
