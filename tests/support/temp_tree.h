#pragma once
// Real files for tests: a fresh temporary directory removed again at the
// end of the test, and helpers to fill it. Portable through std::filesystem,
// so the same tests run on POSIX and on Windows.

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>

namespace fs = std::filesystem;

class TempDir {
 public:
  TempDir();
  ~TempDir();
  // Below base instead of the system's temporary folder; none (path()
  // empty) when base is no folder.
  explicit TempDir(const fs::path& base);
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const fs::path& path() const { return path_; }
  // The path as the program's narrow strings spell it.
  std::string str() const { return path_.string(); }

 private:
  fs::path path_;
};

// A temporary directory on /dev/shm, a tmpfs (Wine shows it as
// Z:\dev\shm): another file system than the temporary folder's, where a
// move must copy, and the only kind here that holds a time before 1601.
// path() is empty when there is no /dev/shm.
struct ShmDir : TempDir {
  ShmDir();
#ifndef _WIN32
  // True when it is there, on another device than path.
  bool OnAnotherDeviceThan(const std::string& path) const;
#endif
};

// The separator the program puts between path parts on this system.
std::string Sep();

// A path from the bytes the program itself uses for it: UTF-8 on Windows
// too (the program's manifest asks for that). std::filesystem reads a
// narrow string there byte by byte, so a name outside ASCII needs this;
// std::filesystem gives UTF-8 back from string() and generic_string().
fs::path Utf8Path(const std::string& path);

// Writes content to path (creating parent directories).
void WriteFile(const fs::path& path, const std::string& content);
std::string ReadFile(const fs::path& path);

// Sets the last-write time of path exactly (a link's own time, not its
// target's), as seconds and nanoseconds since 1970-01-01 UTC; negative
// seconds for earlier times. Windows keeps 100 ns steps.
void SetWriteTime(const fs::path& path, int64_t seconds, int64_t nanoseconds = 0);

// 1970-based seconds of a UTC calendar time.
int64_t UtcSeconds(int year, int month, int day, int hour = 0, int minute = 0, int second = 0);

#ifndef _WIN32
// The permission bits of path itself (a link's own, never its target's),
// or 0xFFFFFFFF when nothing is there.
unsigned Mode(const fs::path& path);
void SetMode(const fs::path& path, unsigned mode);

// Gives root and everything below it (links themselves) to the user
// nobody, uid and gid 65534, when we are root; nothing otherwise.
void HandOverToNobody(const fs::path& root);

// What check answers, run in a child process as a user whom mode bits
// bind: ourselves, or nobody (no other groups) when we are root. False,
// and a failure of the test, when the child cannot become nobody.
bool TrueForAnUnprivilegedUser(const std::function<bool()>& check);
#endif

// Every path below root, relative, "/"-separated, sorted; directories end in "/".
std::string ListTree(const fs::path& root);

// Makes a directory current for the length of a test, and gives the one
// before back at its end.
struct InDirectory {
  explicit InDirectory(const fs::path& path) : previous(fs::current_path()) { fs::current_path(path); }
  ~InDirectory() {
    std::error_code error;
    fs::current_path(previous, error);
  }
  InDirectory(const InDirectory&) = delete;
  InDirectory& operator=(const InDirectory&) = delete;
  fs::path previous;
};
