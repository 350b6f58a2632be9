// Folder listings on POSIX: an open folder read whole and delivered in the
// order NTFS gives. A folder is read with
// getdents64 on its descriptor: opendir would look at the folder once
// more, for nothing the listing uses.

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>
#include <vector>

#include "platform/ascii_case.h"
#include "platform/posix.h"
#include "platform/walk.h"

namespace {

// NTFS order: bytes compared after upper-casing ASCII letters (so "_"
// sorts after every letter's capital); names equal so folded fall back to
// plain bytes, so the order never depends on readdir. Only bytes that
// differ are folded: most of two names' common start is the same bytes.
bool ListsBefore(const char* a, std::size_t a_length, const char* b, std::size_t b_length) {
  const std::size_t common = std::min(a_length, b_length);
  for (std::size_t i = 0; i < common; ++i) {
    if (a[i] == b[i]) continue;
    const auto fa = static_cast<unsigned char>(UpperAsciiCase(a[i]));
    const auto fb = static_cast<unsigned char>(UpperAsciiCase(b[i]));
    if (fa != fb) return fa < fb;
  }
  if (a_length != b_length) return a_length < b_length;
  return std::memcmp(a, b, a_length) < 0;
}

// A name of the listing and what was found of its entry when the
// directory was read: the names lie one after another, each terminated,
// in one buffer of the search, so that a name costs no allocation of its
// own.
struct Listed {
  std::size_t offset;  // of the name in Search::names
  uint32_t length;
  DWORD attributes;
  FILETIME last_write;
};

struct Search {
  std::vector<char> names;
  std::vector<Listed> listed;
  std::size_t next;
  int error;  // the first errno that kept an entry from the listing, or 0
};

// Fills entry with the next entry of the search. Every field is set but
// the bytes of cFileName after its terminator.
bool DeliverNextEntry(Search& search, WIN32_FIND_DATAA* entry) {
  if (search.next >= search.listed.size()) return false;
  const Listed& listed = search.listed[search.next++];
  entry->dwFileAttributes = listed.attributes;
  entry->ftLastWriteTime = listed.last_write;
  std::memcpy(entry->cFileName, search.names.data() + listed.offset, listed.length + 1);
  return true;
}

// What the listing says of one entry of folder. A directory the listing
// already knows as one is not looked at: its times are left zero, since
// nothing reads them, and a stat for each would cost as much again as the
// whole walk of the directories. False for an entry gone since it was
// read, or one that cannot be looked at (its error kept for the end of the
// listing).
bool LookAt(Search& search, int folder, const char* name, unsigned char type, Listed& listed) {
  listed.attributes = FILE_ATTRIBUTE_DIRECTORY;
  listed.last_write = FILETIME{0, 0};
  if (type == DT_DIR) return true;
  struct stat status;
  if (fstatat(folder, name, &status, AT_SYMLINK_NOFOLLOW) != 0) {
    if (errno != ENOENT && search.error == 0) search.error = errno;
    return false;
  }
  if (S_ISLNK(status.st_mode)) {
    listed.attributes = FILE_ATTRIBUTE_REPARSE_POINT;
  } else if (!S_ISDIR(status.st_mode)) {
    listed.attributes = FILE_ATTRIBUTE_NORMAL;
  }
  if (!S_ISDIR(status.st_mode)) {
    listed.last_write = FileTimeFromTimespec(status.st_mtim);
  }
  return true;
}

// Reads every entry of folder with getdents64, looking at each as it
// comes: the search holds everything it delivers and needs the folder no
// longer. An error while reading ends the reading: the entries read so
// far are delivered, and the listing fails at its end.
void ReadEntries(Search& search, int folder) {
  try {
    // Room for a folder of a few dozen entries from the start: growing one
    // entry at a time would copy and free again and again.
    search.names.reserve(2048);
    search.listed.reserve(64);
    // The records getdents64 fills in are laid out as struct dirent64.
    alignas(struct dirent64) char buffer[32768];
    for (;;) {
      const long got = syscall(SYS_getdents64, folder, buffer, sizeof buffer);
      if (got <= 0) {
        if (got < 0) search.error = errno;
        break;
      }
      for (long at = 0; at < got;) {
        const auto* item = reinterpret_cast<const struct dirent64*>(buffer + at);
        at += item->d_reclen;
        // Longer names cannot be handed over in cFileName; POSIX names are
        // at most 255 bytes, so this only guards against the impossible.
        const std::size_t length = std::strlen(item->d_name);
        Listed listed{search.names.size(), static_cast<uint32_t>(length), 0, {}};
        if (length >= MAX_PATH || !LookAt(search, folder, item->d_name, item->d_type, listed)) continue;
        search.names.insert(search.names.end(), item->d_name, item->d_name + length + 1);
        search.listed.push_back(listed);
      }
    }
  } catch (const std::bad_alloc&) {
    search.error = ENOMEM;
  }
}

}  // namespace

HANDLE ListFolder(const MenuFolder& folder, WIN32_FIND_DATAA* entry) {
  // From its start, should the folder have been listed before.
  const int fd = HandleToFd(folder.handle);
  if (lseek(fd, 0, SEEK_SET) != 0) {
    KeepErrno();
    return INVALID_HANDLE_VALUE;
  }
  Search* search = new (std::nothrow) Search{{}, {}, 0, 0};
  if (search == nullptr) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return INVALID_HANDLE_VALUE;
  }
  ReadEntries(*search, fd);
  const char* names = search->names.data();
  std::sort(search->listed.begin(), search->listed.end(), [names](const Listed& a, const Listed& b) {
    return ListsBefore(names + a.offset, a.length, names + b.offset, b.length);
  });
  if (!DeliverNextEntry(*search, entry)) {
    const DWORD error = search->error != 0 ? CodeOfErrno(search->error) : ERROR_FILE_NOT_FOUND;
    CloseFolderListing(search);
    SetLastError(error);
    return INVALID_HANDLE_VALUE;
  }
  return search;
}

BOOL NextFolderEntry(HANDLE handle, WIN32_FIND_DATAA* entry) {
  Search& search = *static_cast<Search*>(handle);
  if (DeliverNextEntry(search, entry)) return TRUE;
  SetLastError(search.error != 0 ? CodeOfErrno(search.error) : ERROR_NO_MORE_FILES);
  return FALSE;
}

void CloseFolderListing(HANDLE handle) { delete static_cast<Search*>(handle); }
