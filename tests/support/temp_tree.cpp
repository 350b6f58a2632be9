#include "support/temp_tree.h"

#include "support/file_time.h"

#include <gtest/gtest.h>


#include <algorithm>
#include <fstream>
#include <random>
#include <sstream>
#include <vector>

#ifndef _WIN32
#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#endif

TempDir::TempDir() : TempDir(fs::temp_directory_path()) {
  if (path_.empty()) ADD_FAILURE() << "cannot make a temporary directory";
}

TempDir::TempDir(const fs::path& base) {
  std::error_code error;
  if (!fs::is_directory(base, error)) return;
  std::random_device seed;
  std::mt19937_64 random(seed());
  for (int attempt = 0; attempt < 100; ++attempt) {
    fs::path candidate = base / ("dravonel-test-" + std::to_string(random()));
    if (fs::create_directory(candidate, error)) {
      path_ = fs::canonical(candidate);
      return;
    }
  }
}

#ifdef _WIN32
ShmDir::ShmDir() : TempDir(fs::path("Z:\\dev\\shm")) {}
#else
ShmDir::ShmDir() : TempDir(fs::path("/dev/shm")) {}

bool ShmDir::OnAnotherDeviceThan(const std::string& path) const {
  struct stat shm;
  struct stat other;
  return !str().empty() && stat(str().c_str(), &shm) == 0 && stat(path.c_str(), &other) == 0 &&
         shm.st_dev != other.st_dev;
}
#endif

TempDir::~TempDir() {
  if (path_.empty()) return;
  std::error_code error;
  // Tests may leave unreadable directories behind; give access back first.
  for (auto it = fs::recursive_directory_iterator(path_, fs::directory_options::skip_permission_denied, error);
       !error && it != fs::recursive_directory_iterator(); it.increment(error)) {
    if (it->is_directory(error) && !it->is_symlink(error)) {
      fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, error);
    }
  }
  fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, error);
  fs::remove_all(path_, error);
}

std::string Sep() {
#ifdef _WIN32
  return "\\";
#else
  return "/";
#endif
}

fs::path Utf8Path(const std::string& path) {
#ifdef _WIN32
  return fs::path(std::u8string(path.begin(), path.end()));
#else
  return fs::path(path);
#endif
}

void WriteFile(const fs::path& path, const std::string& content) {
  fs::create_directories(path.parent_path());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << content;
  ASSERT_TRUE(out.good()) << "cannot write " << path;
}

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

int64_t UtcSeconds(int year, int month, int day, int hour, int minute, int second) {
  using namespace std::chrono;
  const sys_days date = year_month_day{std::chrono::year{year}, std::chrono::month{static_cast<unsigned>(month)},
                                       std::chrono::day{static_cast<unsigned>(day)}};
  return date.time_since_epoch().count() * 86400 + hour * 3600 + minute * 60 + second;
}

void SetWriteTime(const fs::path& path, int64_t seconds, int64_t nanoseconds) {
  ASSERT_TRUE(SetExactWriteTime(path.string(), seconds, nanoseconds)) << "cannot set the time of " << path;
}

#ifndef _WIN32
unsigned Mode(const fs::path& path) {
  struct stat status;
  return lstat(path.c_str(), &status) == 0 ? status.st_mode & 07777u : 0xFFFFFFFFu;
}

void SetMode(const fs::path& path, unsigned mode) {
  ASSERT_EQ(chmod(path.c_str(), static_cast<mode_t>(mode)), 0) << path;
}

void HandOverToNobody(const fs::path& root) {
  if (geteuid() != 0) return;
  ASSERT_EQ(lchown(root.c_str(), 65534, 65534), 0) << root;
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    ASSERT_EQ(lchown(entry.path().c_str(), 65534, 65534), 0) << entry.path();
  }
}

bool TrueForAnUnprivilegedUser(const std::function<bool()>& check) {
  const pid_t child = fork();
  if (child == 0) {
    if (geteuid() == 0 && (setgroups(0, nullptr) != 0 || setgid(65534) != 0 || setuid(65534) != 0)) _exit(2);
    _exit(check() ? 0 : 1);
  }
  int status = 0;
  while (child > 0 && waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  if (child < 0 || !WIFEXITED(status) || WEXITSTATUS(status) == 2) {
    ADD_FAILURE() << "cannot run a check as the user nobody";
    return false;
  }
  return WEXITSTATUS(status) == 0;
}
#endif

std::string ListTree(const fs::path& root) {
  std::vector<std::string> entries;
  std::error_code error;
  for (auto it = fs::recursive_directory_iterator(root, fs::directory_options::skip_permission_denied, error);
       !error && it != fs::recursive_directory_iterator(); it.increment(error)) {
    std::string relative = fs::relative(it->path(), root).generic_string();
    if (it->is_directory() && !it->is_symlink()) relative += "/";
    entries.push_back(relative);
  }
  std::sort(entries.begin(), entries.end());
  std::string listing;
  for (const std::string& entry : entries) listing += entry + "\n";
  return listing;
}
