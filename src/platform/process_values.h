#pragma once
// The process-wide values: the run mode and the fixed paths. The driver sets
// them once, before any mode runs; every other part of the program only
// reads them (tests set them directly). They are defined on the platform
// floor, whose POSIX side reads the two Start Menu roots to tell the paths
// below them, which it reaches without following links.

#include <cstdint>

#include "platform/path_buffer.h"

constexpr int32_t kSnapshotMode = 0;
constexpr int32_t kCopyMode = 1;
// A copy run that only says what it would do: relocation prints the same
// lines and moves, grants and deletes nothing.
constexpr int32_t kPreviewMode = 2;

extern int32_t RunMode;                // kSnapshotMode, kCopyMode or kPreviewMode
extern PathBuffer SnapshotPath;        // $UserProfile\Dravonel.Dat
extern PathBuffer UserStartMenu;       // $UserProfile\Start Menu, or the shell's
extern PathBuffer AllUsersStartMenu;   // $SystemRoot\Profiles\All Users\Start Menu, or the shell's
extern int32_t UserStartMenuLength;    // bytes in UserStartMenu
