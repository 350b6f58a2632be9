// The wrappers call the real platform functions: this file is built without
// the redirections.
#include "faults/switchboard.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <new>
#include "platform/errors.h"
#include "platform/held_file.h"

namespace {

struct Switch {
  int calls = 0;
  int fail_at = 0;  // 0: never
  DWORD error = ERROR_SUCCESS;
  int change_at = 0;  // 0: never
  TreeChange change = TreeChange::kRemove;
  std::string path;
  std::string link_target;
};

Switch Switches[static_cast<int>(Operation::kCount)];
bool GrantsSkipped = false;
bool AllocationsWatched = false;

Switch& SwitchOf(Operation operation) { return Switches[static_cast<int>(operation)]; }

void MakeChange(const Switch& s) {
  namespace fs = std::filesystem;
  // The test's doing, not the program's.
  const bool watched = AllocationsWatched;
  AllocationsWatched = false;
  std::error_code error;
  if (s.change == TreeChange::kMoveAsideForLink) {
    fs::rename(s.path, s.path + " (aside)", error);
  } else {
    fs::remove_all(s.path, error);
  }
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
    case TreeChange::kMoveAsideForLink:
      fs::create_symlink(s.link_target, s.path, error);
      break;
  }
  AllocationsWatched = watched;
}

// Fails the call when it is the one armed, leaving its error.
bool Fails(Operation operation) {
  if (!ShouldFail(operation)) return false;
  SetLastError(SwitchOf(operation).error);
  return true;
}

void* Allocate(std::size_t size) noexcept {
  if (AllocationsWatched && ShouldFail(Operation::kAllocate)) return nullptr;
  return std::malloc(size == 0 ? 1 : size);
}

void* AllocateOrThrow(std::size_t size) {
  void* memory = Allocate(size);
  if (memory == nullptr) throw std::bad_alloc();
  return memory;
}

}  // namespace

void ArmFault(Operation operation, int nth, DWORD error) {
  Switch& s = SwitchOf(operation);
  s.fail_at = nth == 0 ? 0 : s.calls + nth;
  s.error = error;
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

void WatchAllocations(bool watch) { AllocationsWatched = watch; }

int CallCount(Operation operation) { return SwitchOf(operation).calls; }

bool ShouldFail(Operation operation) {
  Switch& s = SwitchOf(operation);
  ++s.calls;
  if (s.change_at != 0 && s.calls == s.change_at) MakeChange(s);
  return s.fail_at != 0 && s.calls == s.fail_at;
}

int FaultyOpenMenuRoot(const MenuRoot& root, MenuFolder& folder) {
  folder = MenuFolder{INVALID_HANDLE_VALUE, root.path};
  return Fails(Operation::kOpenFolder) ? -1 : OpenMenuRoot(root, folder);
}

int FaultyOpenSubfolder(const MenuFolder& parent, const char* name, const char* path, MenuFolder& folder) {
  folder = MenuFolder{INVALID_HANDLE_VALUE, path};
  return Fails(Operation::kOpenFolder) ? -1 : OpenSubfolder(parent, name, path, folder);
}

HANDLE FaultyListFolder(const MenuFolder& folder, WIN32_FIND_DATAA* entry) {
  return Fails(Operation::kListFolder) ? INVALID_HANDLE_VALUE : ListFolder(folder, entry);
}

BOOL FaultyNextFolderEntry(HANDLE search, WIN32_FIND_DATAA* entry) {
  return Fails(Operation::kNextFolderEntry) ? FALSE : NextFolderEntry(search, entry);
}

BOOL FaultyFileTimeToSystemTime(const FILETIME* file_time, SYSTEMTIME* system_time) {
  return Fails(Operation::kFileTimeToSystemTime) ? FALSE : FileTimeToSystemTime(file_time, system_time);
}

HANDLE FaultyCreateFileA(const char* path, DWORD access, DWORD share_mode, SecurityArgument security,
                         DWORD disposition, DWORD flags, HANDLE template_file) {
  if (Fails(Operation::kCreateFile)) return INVALID_HANDLE_VALUE;
  return CreateFileA(path, access, share_mode, security, disposition, flags, template_file);
}

BOOL FaultyWriteFile(HANDLE file, const void* buffer, DWORD count, DWORD* written, OverlappedArgument overlapped) {
  if (Fails(Operation::kWriteFile)) {
    if (written != nullptr) *written = 0;
    return FALSE;
  }
  return WriteFile(file, buffer, count, written, overlapped);
}

BOOL FaultyReadFile(HANDLE file, void* buffer, DWORD count, DWORD* read, OverlappedArgument overlapped) {
  if (Fails(Operation::kReadFile)) {
    if (read != nullptr) *read = 0;
    return FALSE;
  }
  return ReadFile(file, buffer, count, read, overlapped);
}

DWORD FaultyGetFileSize(HANDLE file, DWORD* high) {
  return Fails(Operation::kGetFileSize) ? INVALID_FILE_SIZE : GetFileSize(file, high);
}

BOOL FaultySetEndOfFile(HANDLE file) {
  return Fails(Operation::kSetEndOfFile) ? FALSE : SetEndOfFile(file);
}

BOOL FaultyCloseHandle(HANDLE handle) {
  // A failed close still lets go of the handle, as on Windows, where the
  // data may be lost but the handle is gone.
  const BOOL closed = CloseHandle(handle);
  return Fails(Operation::kCloseHandle) ? FALSE : closed;
}

DWORD FaultyGetFileAttributesA(const char* path) {
  return Fails(Operation::kGetFileAttributes) ? INVALID_FILE_ATTRIBUTES : GetFileAttributesA(path);
}

BOOL FaultyDeleteFileA(const char* path) {
  return Fails(Operation::kDeleteFile) ? FALSE : DeleteFileA(path);
}

BOOL FaultyDeleteHeldFile(HANDLE file, const char* path) {
  // A failed delete still lets go of the handle, as the real one does.
  if (!ShouldFail(Operation::kDeleteHeldFile)) return DeleteHeldFile(file, path);
  CloseHandle(file);
  SetLastError(SwitchOf(Operation::kDeleteHeldFile).error);
  return FALSE;
}

void FaultyMoveItem(const MenuRoot& from, const char* source, const MenuRoot& to, const char* destination,
                    DWORD flags, MoveOutcome& outcome) {
  if (Fails((flags & MOVEFILE_REPLACE_EXISTING) != 0 ? Operation::kMoveFile : Operation::kMoveFolder)) {
    outcome.result = MoveResult::kFailed;
    outcome.error = GetLastError();
    outcome.leftover[0] = '\0';
    return;
  }
  MoveItem(from, source, to, destination, flags, outcome);
  if (Fails(Operation::kLeftover)) {
    std::snprintf(outcome.leftover, sizeof outcome.leftover, "%s%c%s.dravonel-keep-test", to.path, kPathSeparator,
                  destination);
    outcome.leftover_error = GetLastError();
  }
}

int FaultyRunGrantCommand(const MenuRoot& root, const char* item, const char* target, char* reason,
                          std::size_t size) {
  if (Fails(Operation::kRunGrantCommand)) {
    DescribeError(GetLastError(), reason, size);
    return -1;
  }
  return GrantsSkipped ? 0 : RunGrantCommand(root, item, target, reason, size);
}

// Every form of new and delete, so that all meet on malloc and free (the
// sanitizers check that what one allocates the other frees).
void* operator new(std::size_t size) { return AllocateOrThrow(size); }
void* operator new[](std::size_t size) { return AllocateOrThrow(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return Allocate(size); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return Allocate(size); }
void operator delete(void* memory) noexcept { std::free(memory); }
void operator delete[](void* memory) noexcept { std::free(memory); }
void operator delete(void* memory, std::size_t) noexcept { std::free(memory); }
void operator delete[](void* memory, std::size_t) noexcept { std::free(memory); }
void operator delete(void* memory, const std::nothrow_t&) noexcept { std::free(memory); }
void operator delete[](void* memory, const std::nothrow_t&) noexcept { std::free(memory); }
