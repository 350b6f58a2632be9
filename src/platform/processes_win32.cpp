// The grant command on Windows: Cacls.exe started directly with the
// command line the program printed, and waited for.

#include <cstdio>
#include <cstring>

#include "platform/errors.h"
#include "platform/messages.h"
#include "platform/grant.h"
#include "platform/processes.h"

const char* EveryoneGroupName() {
  // Looked up once: the name stays the same for the run.
  static char name[256];
  static bool looked_up = false;
  static bool found = false;
  if (!looked_up) {
    looked_up = true;
    BYTE sid[SECURITY_MAX_SID_SIZE];
    DWORD sid_size = sizeof sid;
    char domain[256];
    DWORD name_size = sizeof name;
    DWORD domain_size = sizeof domain;
    SID_NAME_USE use;
    found = CreateWellKnownSid(WinWorldSid, nullptr, sid, &sid_size) &&
            LookupAccountSidA(nullptr, sid, name, &name_size, domain, &domain_size, &use);
  }
  return found ? name : nullptr;
}

bool IsRunnableFile(const char* path) {
  const DWORD attributes = GetFileAttributesA(path);
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

namespace {

// The system's text for the last error in reason; -1, for the caller to
// return.
int DescribeLastError(char* reason, std::size_t size) {
  DescribeError(GetLastError(), reason, size);
  return -1;
}

// The folders on the way from AllUsersStartMenu to target, and target
// itself, each opened without following a reparse point and without
// sharing deletion, so that none can be renamed, deleted or swapped for a
// link until they are let go; a folder that holds one of them cannot
// become a junction either, as only an empty one can. Share modes bind
// only opens that read, write or delete: each is opened to read (to list,
// for a folder), not just for its attributes. A path holds at most one
// name per two bytes.
struct HeldWay {
  HANDLE handles[MAX_PATH / 2];
  std::size_t count;
};

void LetGo(HeldWay& way) {
  while (way.count > 0) CloseHandle(way.handles[--way.count]);
}

// Holds the way to target below the root whose path takes root bytes of
// it. Returns 0, or -1 with why in reason and nothing held: a name on the
// way cannot be opened, or it is a link or junction, which Cacls.exe would
// follow, or the target a file with other names, which it would reach.
int HoldWay(const char* target, std::size_t root, HeldWay& way, char* reason, std::size_t size) {
  way.count = 0;
  char prefix[MAX_PATH];
  const std::size_t length = std::strlen(target);
  if (length >= sizeof prefix) return 0;  // the command line would not fit either
  std::memcpy(prefix, target, length + 1);
  for (std::size_t end = root + 1; end <= length; ++end) {
    if (end < length && target[end] != '\\') continue;
    if (target[end - 1] == '\\') continue;  // an empty name
    prefix[end] = '\0';
    const HANDLE handle = CreateFileA(prefix, FILE_READ_DATA | FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                      OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
                                      nullptr);
    BY_HANDLE_FILE_INFORMATION information;
    if (handle == INVALID_HANDLE_VALUE || !GetFileInformationByHandle(handle, &information)) {
      DescribeLastError(reason, size);
      if (handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
      LetGo(way);
      return -1;
    }
    way.handles[way.count++] = handle;
    if ((information.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
      std::snprintf(reason, size, kGrantLinkReason, prefix);
      LetGo(way);
      return -1;
    }
    // A file with another name: the grant would reach that name too,
    // wherever it lies.
    if (end == length && (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 &&
        information.nNumberOfLinks > 1) {
      DescribeError(kErrorOtherNames, reason, size);
      LetGo(way);
      return -1;
    }
    prefix[end] = target[end];
  }
  return 0;
}

// Starts Cacls.exe (program) with line as its command line and waits for
// its end. Returns 0 when it ended with status 0, or -1 with why in reason.
int StartAndWait(const char* program, char* line, char* reason, std::size_t size) {
  // Its output is not ours to print; only its error output reaches the
  // user, as through the interpreter.
  SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  const HANDLE null_device = CreateFileA("NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                         &inheritable, OPEN_EXISTING, 0, nullptr);
  if (null_device == INVALID_HANDLE_VALUE) return DescribeLastError(reason, size);
  HANDLE error = nullptr;
  const HANDLE own_error = GetStdHandle(STD_ERROR_HANDLE);
  if (own_error == nullptr || own_error == INVALID_HANDLE_VALUE ||
      !DuplicateHandle(GetCurrentProcess(), own_error, GetCurrentProcess(), &error, 0, TRUE, DUPLICATE_SAME_ACCESS)) {
    error = nullptr;
  }

  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = null_device;
  startup.hStdOutput = null_device;
  startup.hStdError = error != nullptr ? error : null_device;
  PROCESS_INFORMATION process{};
  int result = 0;
  if (!CreateProcessA(program, line, nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &process)) {
    result = DescribeLastError(reason, size);
  } else {
    DWORD status = 0;
    if (WaitForSingleObject(process.hProcess, INFINITE) != WAIT_OBJECT_0 ||
        !GetExitCodeProcess(process.hProcess, &status)) {
      result = DescribeLastError(reason, size);
    } else if (status != 0) {
      std::snprintf(reason, size, kGrantStatusReason, static_cast<unsigned long>(status));
      result = -1;
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
  }
  if (error != nullptr) CloseHandle(error);
  CloseHandle(null_device);
  return result;
}

}  // namespace

int RunGrantCommand(const MenuRoot& root, const char*, const char* target, char* reason, std::size_t size) {
  // Started directly, never through the command interpreter: it expands
  // %NAME% even inside double quotes, so a name such as "%CMDCMDLINE%&x"
  // (whose value holds quotes) could turn the rest of a file name into a
  // command of its own. Cacls gets the very command line that was printed.
  // Our lines must reach the console before anything the command writes.
  std::fflush(stdout);
  char program[MAX_PATH];
  if (!FindGrantCommand(program, sizeof program)) {
    std::snprintf(reason, size, "%s", kGrantNotFoundReason);
    return -1;
  }
  char line[MAX_PATH];  // CreateProcessA may write into its command line
  if (GrantCommandLine(line, sizeof line, target) != 0) {
    SetLastError(ERROR_FILENAME_EXCED_RANGE);
    return DescribeLastError(reason, size);
  }
  // Cacls.exe finds the target by name, following any link on the way: the
  // way is checked and held until it has ended. (Below a folder, /T is
  // Cacls.exe's own walk.)
  HeldWay way;
  if (HoldWay(target, std::strlen(root.path), way, reason, size) != 0) return -1;
  const int result = StartAndWait(program, line, reason, size);
  LetGo(way);
  return result;
}
