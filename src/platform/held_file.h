#pragma once
// The snapshot's file as the program holds it: only ever a regular file
// with one name, deleted through the handle that holds it.

#include "platform/win32.h"

// True when file, from CreateFileA, is a regular file with one name: on
// Windows a disk file that is neither a directory nor a reparse point (a
// link or junction that FILE_FLAG_OPEN_REPARSE_POINT opened itself), on
// POSIX S_ISREG. A second name (a hard link) is refused too: writing
// through this one would change a file somewhere else. Otherwise false,
// with the last error kErrorNotRegularFile, or the system's when the
// question itself failed.
bool IsRegularFile(HANDLE file);

// Deletes the file open as file and closes the handle. file came from
// CreateFileA of path with share mode 0 and DELETE access and has been
// held since, so no other opener can have read, replaced or deleted it in
// between, nor can one slip in before the delete. On Windows the file is
// marked for deletion through the handle and goes as it is closed; on
// POSIX path is unlinked while the lock is still held, once it is known to
// name the held file. Returns TRUE when the file is gone, FALSE when it
// stays (the last error says why); the handle is closed either way.
BOOL DeleteHeldFile(HANDLE file, const char* path);
