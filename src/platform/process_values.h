#pragma once
// The process-wide values: the run mode and the fixed paths. The driver sets
// them once, before any mode runs, and owns their definitions; every other
// part of the program only reads them (tests set them directly).

#include <cstdint>

#include "platform/path_buffer.h"

constexpr int32_t kSnapshotMode = 0;
constexpr int32_t kCopyMode = 1;

extern int32_t RunMode;                // kSnapshotMode or kCopyMode
extern PathBuffer SnapshotPath;        // $UserProfile\Dravonel.Dat
extern PathBuffer UserStartMenu;       // $UserProfile\Start Menu, or the shell's
extern PathBuffer AllUsersStartMenu;   // $SystemRoot\Profiles\All Users\Start Menu, or the shell's
extern int32_t UserStartMenuLength;    // bytes in UserStartMenu
