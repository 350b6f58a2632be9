#pragma once
// PathBuffer: every path, file name and command line of the program lives in
// one of these fixed 260-byte buffers (MAX_PATH), NUL-terminated, in the
// system's narrow character set.

#include <cstddef>

constexpr std::size_t kMaxPath = 260;
using PathBuffer = char[kMaxPath];

// Writes first, second and third one after another into out, which holds
// size bytes. Returns 0, or -1 when the result and its terminator would not
// fit; out is then the empty string, so that a cut-off path is never used
// by mistake. first may be out itself: a path extended in place.
int JoinPathInto(char* out, std::size_t size, const char* first, const char* second,
                 const char* third = "");

// The same into a PathBuffer.
inline int JoinPath(PathBuffer out, const char* first, const char* second, const char* third = "") {
  return JoinPathInto(out, kMaxPath, first, second, third);
}

// The rest of path after folder and the separator that follows it, byte
// for byte; null when path does not lie below folder (is folder itself,
// or a name that only begins as folder's does) or folder is empty.
const char* PartBelow(const char* path, const char* folder);

// Length of a string known to lie in a PathBuffer-sized field, or kMaxPath
// when no terminator lies within its kMaxPath bytes.
std::size_t BoundedLength(const char* text);
