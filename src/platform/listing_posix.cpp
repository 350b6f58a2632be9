// Directory listing on POSIX: the current directory, and FindFirstFileA
// and its search state, delivering entries in the order NTFS gives.

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

#include "platform/ascii_case.h"
#include "platform/posix.h"

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

// A name of the listing, and whether the directory entry already said it
// is a directory. The names lie one after another, each terminated, in
// one buffer of the search: a name costs no allocation of its own.
struct Listed {
  std::size_t offset;  // of the name in Search::names
  uint32_t length;
  bool directory;
};

struct Search {
  DIR* directory;
  std::vector<char> names;
  std::vector<Listed> listed;
  std::size_t next;
  int error;  // the first errno that kept an entry from the listing, or 0
};

// Fills entry with the next name of the search that still exists; entries
// that vanished since the listing are passed over, and so is one that
// cannot be looked at, its error kept for the end of the listing. A
// directory the listing already knows as one is not looked at again: its
// times are left zero, since nothing reads them, and a stat for each would
// cost as much again as the whole walk of the directories. Every field is
// set but the bytes of cFileName after its terminator.
bool DeliverNextEntry(Search& search, WIN32_FIND_DATAA* entry) {
  while (search.next < search.listed.size()) {
    const Listed& listed = search.listed[search.next++];
    const char* name = search.names.data() + listed.offset;
    entry->ftCreationTime = FILETIME{0, 0};
    entry->ftLastAccessTime = FILETIME{0, 0};
    entry->ftLastWriteTime = FILETIME{0, 0};
    entry->nFileSizeHigh = 0;
    entry->nFileSizeLow = 0;
    entry->dwReserved0 = 0;
    entry->dwReserved1 = 0;
    entry->cAlternateFileName[0] = '\0';
    std::memcpy(entry->cFileName, name, listed.length + 1);
    if (listed.directory) {
      entry->dwFileAttributes = FILE_ATTRIBUTE_DIRECTORY;
      return true;
    }
    struct stat status;
    if (fstatat(dirfd(search.directory), name, &status, AT_SYMLINK_NOFOLLOW) != 0) {
      if (errno != ENOENT && search.error == 0) search.error = errno;
      continue;
    }
    if (S_ISDIR(status.st_mode)) {
      entry->dwFileAttributes = FILE_ATTRIBUTE_DIRECTORY;
    } else if (S_ISLNK(status.st_mode)) {
      entry->dwFileAttributes = FILE_ATTRIBUTE_REPARSE_POINT;
    } else {
      entry->dwFileAttributes = FILE_ATTRIBUTE_NORMAL;
    }
    entry->ftLastWriteTime = FileTimeFromTimespec(status.st_mtim);
    entry->ftCreationTime = entry->ftLastWriteTime;
    entry->ftLastAccessTime = FileTimeFromTimespec(status.st_atim);
    const uint64_t size = static_cast<uint64_t>(status.st_size);
    entry->nFileSizeHigh = static_cast<DWORD>(size >> 32);
    entry->nFileSizeLow = static_cast<DWORD>(size & 0xFFFFFFFFu);
    return true;
  }
  return false;
}

// Reads every name of the search's directory. An error while reading ends
// the reading: the names read so far are delivered, and the listing fails
// at its end.
void ReadNames(Search& search) {
  try {
    // Room for a folder of a few dozen entries from the start: growing one
    // entry at a time would copy and free again and again.
    search.names.reserve(2048);
    search.listed.reserve(64);
    for (;;) {
      errno = 0;
      const dirent* item = readdir(search.directory);
      if (item == nullptr) {
        search.error = errno;
        break;
      }
      // Longer names cannot be handed over in cFileName; POSIX names are at
      // most 255 bytes, so this only guards against the impossible.
      const std::size_t length = std::strlen(item->d_name);
      if (length < MAX_PATH) {
        const std::size_t offset = search.names.size();
        search.names.insert(search.names.end(), item->d_name, item->d_name + length + 1);
        search.listed.push_back(Listed{offset, static_cast<uint32_t>(length), item->d_type == DT_DIR});
      }
    }
  } catch (const std::bad_alloc&) {
    search.error = ENOMEM;
  }
}

}  // namespace

BOOL SetCurrentDirectoryA(const char* path) {
  if (chdir(path) == 0) return TRUE;
  KeepErrno();
  return FALSE;
}

DWORD GetCurrentDirectoryA(DWORD size, char* buffer) {
  char* current = getcwd(nullptr, 0);
  if (current == nullptr) {
    KeepErrno();
    return 0;
  }
  const std::size_t length = std::strlen(current);
  DWORD result = 0;
  if (length + 1 > size) {
    result = static_cast<DWORD>(length + 1);
  } else {
    std::memcpy(buffer, current, length + 1);
    result = static_cast<DWORD>(length);
  }
  std::free(current);
  return result;
}

HANDLE FindFirstFileA(const char* pattern, WIN32_FIND_DATAA* entry) {
  if (std::strcmp(pattern, "*.*") != 0 && std::strcmp(pattern, "*") != 0) {
    return INVALID_HANDLE_VALUE;
  }
  // The directory stays open until FindClose: its entries are looked at
  // through it, whatever the current directory is by then.
  DIR* directory = opendir(".");
  if (directory == nullptr) {
    KeepErrno();
    return INVALID_HANDLE_VALUE;
  }
  Search* search = new (std::nothrow) Search{directory, {}, {}, 0, 0};
  if (search == nullptr) {
    closedir(directory);
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return INVALID_HANDLE_VALUE;
  }
  ReadNames(*search);
  const char* names = search->names.data();
  std::sort(search->listed.begin(), search->listed.end(), [names](const Listed& a, const Listed& b) {
    return ListsBefore(names + a.offset, a.length, names + b.offset, b.length);
  });
  if (!DeliverNextEntry(*search, entry)) {
    const DWORD error = search->error != 0 ? CodeOfErrno(search->error) : ERROR_FILE_NOT_FOUND;
    FindClose(search);
    SetLastError(error);
    return INVALID_HANDLE_VALUE;
  }
  return search;
}

BOOL FindNextFileA(HANDLE handle, WIN32_FIND_DATAA* entry) {
  if (handle == INVALID_HANDLE_VALUE || handle == nullptr) return FALSE;
  Search& search = *static_cast<Search*>(handle);
  if (DeliverNextEntry(search, entry)) return TRUE;
  SetLastError(search.error != 0 ? CodeOfErrno(search.error) : ERROR_NO_MORE_FILES);
  return FALSE;
}

BOOL FindClose(HANDLE handle) {
  if (handle == INVALID_HANDLE_VALUE || handle == nullptr) return FALSE;
  Search* search = static_cast<Search*>(handle);
  closedir(search->directory);
  delete search;
  return TRUE;
}
