// The least work a snapshot run needs, as the floor the benchmark holds
// dravonel's runs against: each folder opened relative to its parent,
// listed with getdents64, one fstatat per file (none for a folder the
// listing already says is one), and a record of the snapshot's size for
// every folder and file written in one sequential stream. Nothing is
// sorted, kept or compared.
//
//   floor_walk ROOT OUTPUT

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

// The sizes of a folder's and a file's image in the snapshot.
constexpr std::size_t kFolderImage = 276;
constexpr std::size_t kFileImage = 284;

bool Dot(const char* name) { return name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0')); }

void Put(std::FILE* out, const char* text, std::size_t image, const struct timespec* when) {
  char record[kFileImage] = {};
  std::strncpy(record, text, 260);
  if (when != nullptr) std::memcpy(record + 264, when, sizeof *when);
  std::fwrite(record, 1, image, out);
}

void Walk(int parent, const char* name, std::string& path, std::FILE* out) {
  // The root may be reached through a link; nothing below it is.
  const int fd = openat(parent, name, O_RDONLY | O_DIRECTORY | O_CLOEXEC | (parent == AT_FDCWD ? 0 : O_NOFOLLOW));
  if (fd < 0) return;
  Put(out, path.c_str(), kFolderImage, nullptr);
  std::vector<std::string> folders;
  // getdents64 fills it with records laid out as struct dirent64.
  alignas(struct dirent64) char buffer[32768];
  for (;;) {
    const long got = syscall(SYS_getdents64, fd, buffer, sizeof buffer);
    if (got <= 0) break;
    for (long at = 0; at < got;) {
      const auto* entry = reinterpret_cast<const struct dirent64*>(buffer + at);
      at += entry->d_reclen;
      if (Dot(entry->d_name)) continue;
      if (entry->d_type == DT_DIR) {
        folders.emplace_back(entry->d_name);
        continue;
      }
      struct stat status;
      if (fstatat(fd, entry->d_name, &status, AT_SYMLINK_NOFOLLOW) != 0) continue;
      if (S_ISDIR(status.st_mode)) {
        folders.emplace_back(entry->d_name);
      } else {
        Put(out, entry->d_name, kFileImage, &status.st_mtim);
      }
    }
  }
  for (const std::string& folder : folders) {
    const std::size_t length = path.size();
    path += '/';
    path += folder;
    Walk(fd, folder.c_str(), path, out);
    path.resize(length);
  }
  close(fd);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: floor_walk ROOT OUTPUT\n");
    return 2;
  }
  // A new file, as a snapshot run after a copy run writes one: ext4
  // flushes a file emptied and written again when it is closed.
  std::remove(argv[2]);
  std::FILE* out = std::fopen(argv[2], "wb");
  if (out == nullptr) return 1;
  static char stream[1 << 16];
  std::setvbuf(out, stream, _IOFBF, sizeof stream);
  std::string path = argv[1];
  Walk(AT_FDCWD, argv[1], path, out);
  return std::fclose(out) == 0 ? 0 : 1;
}
