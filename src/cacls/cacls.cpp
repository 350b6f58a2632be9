// The permission edit behind Cacls: the command line, the new mode of one
// item, and the walk that never follows a symbolic link.

#include "cacls/cacls.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <utility>
#include <vector>

#include "platform/ascii_case.h"
#include "platform/messages.h"
#include "platform/shown_name.h"

namespace {

bool EqualFolded(const std::string& a, const char* b) {
  if (a.size() != std::strlen(b)) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (FoldAsciiCase(a[i]) != FoldAsciiCase(b[i])) return false;
  }
  return true;
}

// "/" and one ASCII letter.
bool IsSwitch(const char* argument) {
  const char letter = FoldAsciiCase(argument[0] == '/' ? argument[1] : '\0');
  return letter >= 'a' && letter <= 'z' && argument[2] == '\0';
}

// The kGrant* bits of "Everyone:perm", or 0 when it is anything else.
unsigned ParseGrant(const char* argument) {
  const char* colon = std::strchr(argument, ':');
  if (colon == nullptr || colon[1] == '\0' || colon[2] != '\0') return 0;
  if (!EqualFolded(std::string(argument, colon), "everyone")) return 0;
  switch (FoldAsciiCase(colon[1])) {
    case 'r': return kGrantRead;
    case 'w': return kGrantWrite;
    case 'c': return kGrantRead | kGrantWrite;
    case 'f': return kGrantRead | kGrantWrite | kGrantExecute;
    default: return 0;
  }
}

void ReportText(const std::string& path, const char* text) {
  char shown[kShownNameSize];
  std::fprintf(stderr, "Cacls: %s: %s\n", ShowName(path.c_str(), shown, sizeof shown), text);
}

void Report(const std::string& path, int error) { ReportText(path, std::strerror(error)); }

void CloseKeepingErrno(int fd) {
  const int saved = errno;
  close(fd);
  errno = saved;
}

// An item opened once, never through a link: what fstat found there and
// the descriptor its change goes through. A name looked up twice may name
// two files, one of them renamed over it by a user meanwhile.
struct Item {
  int fd = -1;
  bool path_only = false;  // O_PATH: it can be neither read nor fchmod'ed
  struct stat status {};
};

// The regular file or directory held as item, opened to read, or -1: the
// same one whatever has been renamed over its name since, reached through
// /proc, or where there is none, opened by name and checked to be it.
// O_NONBLOCK: a lease on the file never holds the open.
int OpenToRead(int at, const char* name, const Item& item) {
  char held[32];
  std::snprintf(held, sizeof held, "/proc/self/fd/%d", item.fd);
  const int flags = O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
  int fd = open(held, flags);
  if (fd >= 0 || errno != ENOENT) return fd;
  fd = openat(at, name, flags | O_NOFOLLOW);
  struct stat opened;
  if (fd >= 0 && (fstat(fd, &opened) != 0 || opened.st_dev != item.status.st_dev ||
                  opened.st_ino != item.status.st_ino)) {
    close(fd);
    fd = -1;
  }
  return fd;
}

// Opens name in at as item. Returns 0, or -1 with errno set.
int OpenItem(int at, const char* name, Item& item) {
  // Looked at through O_PATH before anything opens it: a device is never
  // opened (a tape rewinds when it is), nor a FIFO waited on.
  item.fd = openat(at, name, O_PATH | O_NOFOLLOW | O_CLOEXEC);
  item.path_only = true;
  if (item.fd < 0) return -1;
  if (fstat(item.fd, &item.status) != 0) {
    CloseKeepingErrno(item.fd);
    item.fd = -1;
    return -1;
  }
  // What cannot be opened for reading (a user's file of mode 0200 for a
  // runner who is not root) stays held by O_PATH alone.
  if (S_ISREG(item.status.st_mode) || S_ISDIR(item.status.st_mode)) {
    const int readable = OpenToRead(at, name, item);
    if (readable >= 0) {
      close(item.fd);
      item.fd = readable;
      item.path_only = false;
    }
  }
  return 0;
}

// Why item is not changed, or null when it is. Only directories and
// regular files with a single name are: a file with another name may be
// anyone's, lent a name in the tree by a hard link; a FIFO, a socket or a
// device is no Start Menu item.
const char* Refusal(const Item& item) {
  const mode_t mode = item.status.st_mode;
  if (S_ISDIR(mode)) return nullptr;
  if (S_ISREG(mode)) return item.status.st_nlink > 1 ? kOtherNamesText : nullptr;
  if (S_ISFIFO(mode)) return kFifoText;
  if (S_ISSOCK(mode)) return kSocketText;
  return kDeviceText;
}

// Gives item the mode request asks for. Returns 0, or -1 with errno set.
int ChangeMode(const Item& item, const CaclsRequest& request) {
  const mode_t old_mode = item.status.st_mode;
  const mode_t mode = NewMode(old_mode, request.grants, request.edit, S_ISDIR(old_mode));
  if (mode == (old_mode & 07777)) return 0;
  if (!item.path_only) return fchmod(item.fd, mode);
  // fchmod refuses an O_PATH descriptor; its /proc name reaches the very
  // file it holds, whatever has been renamed over the item's name since.
  char held[32];
  std::snprintf(held, sizeof held, "/proc/self/fd/%d", item.fd);
  return chmod(held, mode);
}

// Opens name in at and changes it, reporting under path what is not
// changed; a link is left alone. Returns kCaclsSuccess or kCaclsFailed.
// A directory's descriptor stays open in item for the caller to enter;
// item.fd is -1 otherwise.
int ChangeItem(int at, const char* name, const std::string& path, const CaclsRequest& request, Item& item) {
  if (OpenItem(at, name, item) != 0) {
    Report(path, errno);
    return kCaclsFailed;
  }
  int result = kCaclsSuccess;
  if (S_ISLNK(item.status.st_mode)) {
    // Left alone: a link never lends its target the grant.
  } else if (const char* refusal = Refusal(item)) {
    ReportText(path, refusal);
    result = kCaclsFailed;
  } else if (ChangeMode(item, request) != 0) {
    Report(path, errno);
    result = kCaclsFailed;
  }
  if (!S_ISDIR(item.status.st_mode)) {
    close(item.fd);
    item.fd = -1;
  }
  return result;
}

// The entry names of the open directory fd, "." and ".." left out.
// Returns 0, or -1 with errno set.
int ListNames(int fd, std::vector<std::string>& names) {
  const int own = dup(fd);  // closedir closes what fdopendir was given
  if (own < 0) return -1;
  DIR* stream = fdopendir(own);
  if (stream == nullptr) {
    CloseKeepingErrno(own);
    return -1;
  }
  errno = 0;
  while (const dirent* entry = readdir(stream)) {
    if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0) {
      names.emplace_back(entry->d_name);
    }
    errno = 0;
  }
  const int saved = errno;
  closedir(stream);
  errno = saved;
  return saved == 0 ? 0 : -1;
}

// A directory being walked: which one, what is left of it, and how long
// its path is in the messages' path.
struct Frame {
  dev_t dev;
  ino_t ino;
  std::vector<std::string> names;
  std::size_t next;
  std::size_t path_length;
};

// Lists the directory item holds into a new frame, taking over item.fd.
// Returns the descriptor to walk it by, or -1 with errno set. An O_PATH one
// cannot be listed: "." through it is the same directory, opened to read
// (which the grant may just have allowed).
int EnterDirectory(const Item& item, Frame& frame) {
  int fd = item.fd;
  if (item.path_only) {
    fd = openat(item.fd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    CloseKeepingErrno(item.fd);
    if (fd < 0) return -1;
  }
  if (ListNames(fd, frame.names) != 0) {
    CloseKeepingErrno(fd);
    return -1;
  }
  frame.dev = item.status.st_dev;
  frame.ino = item.status.st_ino;
  frame.next = 0;
  return fd;
}

// Changes everything below the directory open as fd (whose own mode is
// done), closing fd. Only the innermost directory stays open: going back
// up is through "..", checked to be the directory we came from, so a tree
// moved during the walk stops it rather than sending it elsewhere.
int WalkBelow(int fd, Frame top, std::string path, const CaclsRequest& request) {
  int result = kCaclsSuccess;
  std::vector<Frame> stack;
  stack.push_back(std::move(top));
  while (!stack.empty()) {
    if (stack.back().next == stack.back().names.size()) {
      stack.pop_back();
      if (stack.empty()) break;
      const int parent = openat(fd, "..", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
      struct stat status;
      const bool same = parent >= 0 && fstat(parent, &status) == 0 &&
                        status.st_dev == stack.back().dev && status.st_ino == stack.back().ino;
      const int error = parent < 0 ? errno : ESTALE;
      close(fd);
      fd = parent;
      path.resize(stack.back().path_length);
      if (!same) {
        Report(path, error);
        if (parent >= 0) close(parent);
        return kCaclsFailed;
      }
      continue;
    }

    Frame& frame = stack.back();
    const std::string name = frame.names[frame.next++];
    path.resize(frame.path_length);
    if (path.empty() || path.back() != '/') path += '/';
    path += name;

    Item item;
    if (ChangeItem(fd, name.c_str(), path, request, item) != kCaclsSuccess) result = kCaclsFailed;
    if (item.fd < 0) continue;

    Frame child{};
    const int child_fd = EnterDirectory(item, child);
    if (child_fd < 0) {
      Report(path, errno);
      result = kCaclsFailed;
      continue;
    }
    if (child.names.empty()) {
      close(child_fd);
      continue;
    }
    close(fd);
    fd = child_fd;
    child.path_length = path.size();
    stack.push_back(std::move(child));
  }
  close(fd);
  return result;
}

// The directory that holds the last name of path, in at, and that name.
// The directory of an absolute path is left to the system, links on the
// way and all. A relative one is walked from the current directory one
// name at a time, never through a link. at is the directory opened last
// (AT_FDCWD for a single name, name the whole path for "/"), to be closed
// by the caller. Returns 0, or -1 after reporting the name that could not
// be entered (a link, not a directory, or gone).
int OpenParent(const std::string& path, int& at, std::string& name) {
  at = AT_FDCWD;
  name = path;
  if (path.empty()) return 0;
  if (path[0] == '/') {
    const std::size_t slash = path.rfind('/');
    if (slash + 1 == path.size()) return 0;  // "/" itself
    const std::string folder = slash == 0 ? "/" : path.substr(0, slash);
    const int parent = open(folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (parent < 0) {
      Report(path, errno);
      return -1;
    }
    at = parent;
    name = path.substr(slash + 1);
    return 0;
  }
  std::size_t begin = 0;
  for (std::size_t slash = path.find('/'); slash != std::string::npos; slash = path.find('/', begin)) {
    if (slash > begin) {
      const std::string folder = path.substr(begin, slash - begin);
      const int next = openat(at, folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
      const int error = errno;
      // A link answers ENOTDIR or ELOOP: say which it is.
      struct stat status;
      const bool link = next < 0 && fstatat(at, folder.c_str(), &status, AT_SYMLINK_NOFOLLOW) == 0 &&
                        S_ISLNK(status.st_mode);
      if (at != AT_FDCWD) close(at);
      if (next < 0) {
        if (link) {
          ReportText(path.substr(0, slash), kCaclsLinkOnTheWay);
        } else {
          Report(path.substr(0, slash), error);
        }
        return -1;
      }
      at = next;
    }
    begin = slash + 1;
  }
  name = path.substr(begin);
  return 0;
}

// Changes the item name in directory at, and with /T everything below it.
int ApplyAt(int at, const std::string& name, const std::string& path, const CaclsRequest& request) {
  Item item;
  const int result = ChangeItem(at, name.c_str(), path, request, item);
  if (item.fd < 0) return result;
  if (result != kCaclsSuccess || !request.tree) {
    close(item.fd);
    return result;
  }
  Frame top{};
  const int fd = EnterDirectory(item, top);
  if (fd < 0) {
    Report(path, errno);
    return kCaclsFailed;
  }
  top.path_length = path.size();
  return WalkBelow(fd, std::move(top), path, request);
}

}  // namespace

int ParseCaclsArguments(int argc, const char* const* argv, CaclsRequest& request) {
  request = CaclsRequest{};
  if (argc < 2 || argv[1][0] == '\0' || IsSwitch(argv[1])) return -1;
  request.path = argv[1];
  bool after_grant_switch = false;  // arguments are grants until the next switch
  bool grant_missing = false;       // a /G with no grant yet
  for (int i = 2; i < argc; ++i) {
    const char* argument = argv[i];
    if (argument[0] == '/') {
      if (grant_missing || !IsSwitch(argument)) return -1;
      switch (FoldAsciiCase(argument[1])) {
        case 't': request.tree = true; break;
        case 'e': request.edit = true; break;
        case 'g': grant_missing = true; break;
        default: return -1;
      }
      after_grant_switch = grant_missing;
      continue;
    }
    const unsigned grant = after_grant_switch ? ParseGrant(argument) : 0;
    if (grant == 0) return -1;
    request.grants |= grant;
    grant_missing = false;
  }
  return (grant_missing || request.grants == 0) ? -1 : 0;
}

mode_t GrantedBits(unsigned grants, bool directory) {
  mode_t bits = 0;
  if (grants & kGrantRead) bits |= directory ? 0555 : 0444;
  if (grants & kGrantWrite) bits |= 0222;
  if (grants & kGrantExecute) bits |= 0111;
  return bits;
}

mode_t NewMode(mode_t old_mode, unsigned grants, bool edit, bool directory) {
  const mode_t granted = GrantedBits(grants, directory);
  if (!edit) return granted;
  mode_t mode = (old_mode & 07777) | granted;
  if (!directory && (grants & kGrantWrite)) mode &= static_cast<mode_t>(~(S_ISUID | S_ISGID));
  return mode;
}

int ApplyCacls(const CaclsRequest& request) {
  std::string path = request.path;
  while (path.size() > 1 && path.back() == '/') path.pop_back();

  int at = AT_FDCWD;
  std::string name;
  if (OpenParent(path, at, name) != 0) return kCaclsFailed;
  const int result = ApplyAt(at, name, path, request);
  if (at != AT_FDCWD) close(at);
  return result;
}
