// Folder listings on Windows: read through the folder's own held handle
// (GetFileInformationByHandleEx), never by its path again, so that a
// folder path of any length the walk holds can be listed, and what is
// listed is the folder opened.

#include <new>

#include "platform/walk.h"

namespace {

struct Search {
  HANDLE folder;  // the walk's, not the search's
  FILE_INFO_BY_HANDLE_CLASS next_kind;
  DWORD offset;   // of the next entry in buffer
  bool buffered;  // buffer holds entries from offset on
  DWORD error;    // why the listing ended, once it has
  alignas(8) BYTE buffer[64 * 1024];
};

bool Refill(Search& search) {
  search.offset = 0;
  search.buffered = GetFileInformationByHandleEx(search.folder, search.next_kind, search.buffer, sizeof search.buffer);
  search.next_kind = FileIdBothDirectoryInfo;
  if (!search.buffered) search.error = GetLastError();
  return search.buffered;
}

// Fills entry with the next entry. A name whose narrow form does not fit
// cFileName ends the listing with ERROR_FILENAME_EXCED_RANGE: the folder
// could not be read whole.
bool Deliver(Search& search, WIN32_FIND_DATAA* entry) {
  if (!search.buffered && (search.error != ERROR_SUCCESS || !Refill(search))) return false;
  const auto* info = reinterpret_cast<const FILE_ID_BOTH_DIR_INFO*>(search.buffer + search.offset);
  const int length = WideCharToMultiByte(CP_ACP, 0, info->FileName, static_cast<int>(info->FileNameLength / 2),
                                         entry->cFileName, MAX_PATH - 1, nullptr, nullptr);
  if (length <= 0 && info->FileNameLength > 0) {
    search.error = ERROR_FILENAME_EXCED_RANGE;
    search.buffered = false;
    return false;
  }
  // The fields the program reads, as FindFirstFileA would fill them.
  entry->cFileName[length] = '\0';
  entry->dwFileAttributes = info->FileAttributes;
  entry->ftLastWriteTime = FILETIME{info->LastWriteTime.LowPart, static_cast<DWORD>(info->LastWriteTime.HighPart)};
  if (info->NextEntryOffset == 0) {
    search.buffered = false;
  } else {
    search.offset += info->NextEntryOffset;
  }
  return true;
}

}  // namespace

HANDLE ListFolder(const MenuFolder& folder, WIN32_FIND_DATAA* entry) {
  Search* search = new (std::nothrow) Search;
  if (search == nullptr) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return INVALID_HANDLE_VALUE;
  }
  // From the folder's start, should it have been listed before.
  search->folder = folder.handle;
  search->next_kind = FileIdBothDirectoryRestartInfo;
  search->offset = 0;
  search->buffered = false;
  search->error = ERROR_SUCCESS;
  if (!Deliver(*search, entry)) {
    const DWORD error = search->error == ERROR_NO_MORE_FILES ? ERROR_FILE_NOT_FOUND : search->error;
    delete search;
    SetLastError(error);
    return INVALID_HANDLE_VALUE;
  }
  return search;
}

BOOL NextFolderEntry(HANDLE listing, WIN32_FIND_DATAA* entry) {
  Search& search = *static_cast<Search*>(listing);
  if (Deliver(search, entry)) return TRUE;
  SetLastError(search.error);
  return FALSE;
}

void CloseFolderListing(HANDLE listing) { delete static_cast<Search*>(listing); }
