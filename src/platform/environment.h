#pragma once
// The environment: variables, the folders the shell keeps, and which
// paths name the same place from anywhere.

#include "platform/path_buffer.h"

// The value of an environment variable, or null when it is not set. Names
// match without regard to ASCII case; on POSIX, where several variables
// differ only in case, an exact match wins.
const char* LookupEnvironment(const char* name);

// The folders the shell keeps for the running user and system, wherever
// this Windows version lays profiles out: the user's profile and Start
// Menu, the Windows folder, and the Start Menu common to all users.
enum class ShellFolder { kProfile, kStartMenu, kWindows, kCommonStartMenu };

// Copies the shell's current path for folder (redirected, if it is) into
// path, whether or not the folder exists; asking creates nothing. Returns
// 0, or -1 with path empty when the shell knows no such folder. POSIX has
// no shell folders: there it always returns -1.
int GetShellFolder(ShellFolder folder, PathBuffer path);

// True when path names the same place whatever the current directory is:
// on Windows a drive with its root ("C:\") or a UNC path ("\\server\share";
// "\Folder" and "C:Folder" depend on the current drive and its directory),
// on POSIX a path from "/".
bool IsFullPath(const char* path);
