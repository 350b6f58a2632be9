#pragma once
// The process-wide values: the fixed paths. The driver sets them once,
// before any mode runs; every other part of the program only reads them
// (tests set them directly).

#include <cstdint>

#include "platform/path_buffer.h"

extern PathBuffer SnapshotPath;        // $UserProfile\Dravonel.Dat
extern PathBuffer UserStartMenu;       // $UserProfile\Start Menu, or the shell's
extern PathBuffer AllUsersStartMenu;   // $SystemRoot\Profiles\All Users\Start Menu, or the shell's
extern int32_t UserStartMenuLength;    // bytes in UserStartMenu
