// The wrappers call the real platform functions: this file is built without
// the redirections.
#include "faults/switchboard.h"

#include <filesystem>
#include <fstream>
#include <new>

namespace {

struct Switch {
  int calls = 0;
  int fail_at = 0;  // 0: never
  int change_at = 0;  // 0: never
  TreeChange change = TreeChange::kRemove;
  std::string path;
  std::string link_target;
};

Switch Switches[static_cast<int>(Operation::kCount)];
bool GrantsSkipped = false;

Switch& SwitchOf(Operation operation) { return Switches[static_cast<int>(operation)]; }

void MakeChange(const Switch& s) {
  namespace fs = std::filesystem;
  std::error_code error;
  fs::remove_all(s.path, error);
  switch (s.change) {
    case TreeChange::kRemove:
      break;
    case TreeChange::kMakeFolder:
      fs::create_directory(s.path, error);
      break;
    case TreeChange::kMakeFile:
      std::ofstream(s.path, std::ios::binary) << "changed";
      break;
    case TreeChange::kMakeLink:
      fs::create_symlink(s.link_target, s.path, error);
      break;
  }
}

}  // namespace

void ArmFault(Operation operation, int nth) {
  Switch& s = SwitchOf(operation);
  s.fail_at = nth == 0 ? 0 : s.calls + nth;
}

void ArmTreeChange(Operation operation, int nth, TreeChange change, const std::string& path,
                   const std::string& link_target) {
  Switch& s = SwitchOf(operation);
  s.change_at = s.calls + nth;
  s.change = change;
  s.path = path;
  s.link_target = link_target;
}

void DisarmFaults() {
  for (Switch& s : Switches) s = Switch{};
  GrantsSkipped = false;
}

void SkipGrantCommands(bool skip) { GrantsSkipped = skip; }

int CallCount(Operation operation) { return SwitchOf(operation).calls; }

bool ShouldFail(Operation operation) {
  Switch& s = SwitchOf(operation);
  ++s.calls;
  if (s.change_at != 0 && s.calls == s.change_at) MakeChange(s);
  return s.fail_at != 0 && s.calls == s.fail_at;
}

BOOL FaultySetCurrentDirectoryA(const char* path) {
  return ShouldFail(Operation::kSetCurrentDirectory) ? FALSE : SetCurrentDirectoryA(path);
}

DWORD FaultyGetCurrentDirectoryA(DWORD size, char* buffer) {
  return ShouldFail(Operation::kGetCurrentDirectory) ? 0 : GetCurrentDirectoryA(size, buffer);
}

HANDLE FaultyFindFirstFileA(const char* pattern, WIN32_FIND_DATAA* entry) {
  return ShouldFail(Operation::kFindFirstFile) ? INVALID_HANDLE_VALUE : FindFirstFileA(pattern, entry);
}

BOOL FaultyFindNextFileA(HANDLE search, WIN32_FIND_DATAA* entry) {
  return ShouldFail(Operation::kFindNextFile) ? FALSE : FindNextFileA(search, entry);
}

BOOL FaultyFileTimeToSystemTime(const FILETIME* file_time, SYSTEMTIME* system_time) {
  return ShouldFail(Operation::kFileTimeToSystemTime) ? FALSE : FileTimeToSystemTime(file_time, system_time);
}

HANDLE FaultyCreateFileA(const char* path, DWORD access, DWORD share_mode, SecurityArgument security,
                         DWORD disposition, DWORD flags, HANDLE template_file) {
  if (ShouldFail(Operation::kCreateFile)) return INVALID_HANDLE_VALUE;
  return CreateFileA(path, access, share_mode, security, disposition, flags, template_file);
}

BOOL FaultyWriteFile(HANDLE file, const void* buffer, DWORD count, DWORD* written, OverlappedArgument overlapped) {
  if (ShouldFail(Operation::kWriteFile)) {
    if (written != nullptr) *written = 0;
    return FALSE;
  }
  return WriteFile(file, buffer, count, written, overlapped);
}

BOOL FaultyReadFile(HANDLE file, void* buffer, DWORD count, DWORD* read, OverlappedArgument overlapped) {
  if (ShouldFail(Operation::kReadFile)) {
    if (read != nullptr) *read = 0;
    return FALSE;
  }
  return ReadFile(file, buffer, count, read, overlapped);
}

DWORD FaultyGetFileSize(HANDLE file, DWORD* high) {
  return ShouldFail(Operation::kGetFileSize) ? INVALID_FILE_SIZE : GetFileSize(file, high);
}

BOOL FaultyCloseHandle(HANDLE handle) {
  // A failed close still lets go of the handle, as on Windows, where the
  // data may be lost but the handle is gone.
  const BOOL closed = CloseHandle(handle);
  return ShouldFail(Operation::kCloseHandle) ? FALSE : closed;
}

DWORD FaultyGetFileAttributesA(const char* path) {
  return ShouldFail(Operation::kGetFileAttributes) ? INVALID_FILE_ATTRIBUTES : GetFileAttributesA(path);
}

BOOL FaultyDeleteFileA(const char* path) {
  return ShouldFail(Operation::kDeleteFile) ? FALSE : DeleteFileA(path);
}

BOOL FaultyMoveFileA(const char* source, const char* destination) {
  return ShouldFail(Operation::kMoveFile) ? FALSE : MoveFileA(source, destination);
}

BOOL FaultyMoveFileExA(const char* source, const char* destination, DWORD flags) {
  return ShouldFail(Operation::kMoveFileEx) ? FALSE : MoveFileExA(source, destination, flags);
}

void FaultyRunGrantCommand(const char* command_line, const char* target) {
  if (!ShouldFail(Operation::kRunGrantCommand) && !GrantsSkipped) RunGrantCommand(command_line, target);
}

// The program allocates its records with the nothrow new; this one can be
// told to fail like any platform call.
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  if (ShouldFail(Operation::kAllocate)) return nullptr;
  try {
    return ::operator new(size);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}
