#include "cacls/cacls.h"

#include <gtest/gtest.h>

#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <functional>
#include <string>
#include <system_error>
#include <vector>

#include "support/temp_tree.h"

namespace {

// Parses {"Cacls", arguments...}; returns ParseCaclsArguments's result.
int Parse(const std::vector<std::string>& arguments, CaclsRequest& request) {
  std::vector<const char*> argv{"Cacls"};
  for (const std::string& argument : arguments) argv.push_back(argument.c_str());
  return ParseCaclsArguments(static_cast<int>(argv.size()), argv.data(), request);
}

TEST(CaclsArguments, TheGrantDravonelRunsIsUnderstood) {
  CaclsRequest request;
  ASSERT_EQ(Parse({"/abs/Start Menu/x", "/T", "/E", "/G", "Everyone:R"}, request), 0);
  EXPECT_EQ(request.path, "/abs/Start Menu/x");  // the first argument, though it begins with "/"
  EXPECT_TRUE(request.tree);
  EXPECT_TRUE(request.edit);
  EXPECT_EQ(request.grants, kGrantRead);
}

TEST(CaclsArguments, SwitchesUserAndPermIgnoreCaseAndMayComeInAnyOrder) {
  CaclsRequest request;
  ASSERT_EQ(Parse({"p", "/g", "EVERYONE:f", "/e"}, request), 0);
  EXPECT_FALSE(request.tree);
  EXPECT_TRUE(request.edit);
  EXPECT_EQ(request.grants, kGrantRead | kGrantWrite | kGrantExecute);

  ASSERT_EQ(Parse({"p", "/G", "everyone:w", "Everyone:c", "/t"}, request), 0);
  EXPECT_TRUE(request.tree);
  EXPECT_FALSE(request.edit);
  EXPECT_EQ(request.grants, kGrantRead | kGrantWrite);
}

TEST(CaclsArguments, AnythingUnsupportedIsRefused) {
  const std::vector<std::vector<std::string>> refused{
      {},                                      // no path
      {""},                                    // empty path
      {"/T", "/G", "Everyone:R"},              // a switch where the path belongs
      {"p"},                                   // nothing granted
      {"p", "/G"},                             // a grant switch with no grant
      {"p", "/G", "/T"},                       // ditto, followed by a switch
      {"p", "/G", "Everyone:R", "/G"},         // the second /G empty
      {"p", "/G", "root:R"},                   // another user
      {"p", "/G", "Everyone"},                 // no perm
      {"p", "/G", "Everyone:RW"},              // two perms
      {"p", "/G", "Everyone:N"},               // an unknown perm
      {"p", "/G", "Everyone:R:R"},             // junk after the perm
      {"p", "/G", ":R"},                       // no user
      {"p", "Everyone:R"},                     // a grant without /G
      {"p", "q", "/G", "Everyone:R"},          // a second path
      {"p", "/G", "Everyone:R", "/D", "x"},    // deny
      {"p", "/P", "Everyone:R"},               // replace one user's entry
      {"p", "/C", "/G", "Everyone:R"},         // continue on errors
      {"p", "/TE", "/G", "Everyone:R"},        // switches run together
      {"p", "/", "/G", "Everyone:R"},          // a lone slash
      {"p", "-T", "/G", "Everyone:R"},         // another switch character
  };
  for (const std::vector<std::string>& arguments : refused) {
    CaclsRequest request;
    std::string shown;
    for (const std::string& argument : arguments) shown += "[" + argument + "]";
    EXPECT_EQ(Parse(arguments, request), -1) << shown;
  }
}

TEST(CaclsMode, ReadGivesEveryoneReadAndDirectoriesSearch) {
  EXPECT_EQ(NewMode(S_IFREG | 0600, kGrantRead, true, false), 0644u);
  EXPECT_EQ(NewMode(S_IFDIR | 0700, kGrantRead, true, true), 0755u);
  // Edit only adds: a write bit already there stays, no execute appears.
  EXPECT_EQ(NewMode(S_IFREG | 0620, kGrantRead, true, false), 0664u);
  EXPECT_EQ(NewMode(S_IFREG | 0000, kGrantRead, true, false), 0444u);
}

TEST(CaclsMode, EachPermGivesItsBits) {
  EXPECT_EQ(GrantedBits(kGrantWrite, false), 0222u);
  EXPECT_EQ(GrantedBits(kGrantWrite, true), 0222u);
  EXPECT_EQ(GrantedBits(kGrantRead | kGrantWrite, false), 0666u);
  EXPECT_EQ(GrantedBits(kGrantRead | kGrantWrite, true), 0777u);
  EXPECT_EQ(GrantedBits(kGrantRead | kGrantWrite | kGrantExecute, false), 0777u);
}

TEST(CaclsMode, ReplaceLeavesExactlyWhatIsGranted) {
  EXPECT_EQ(NewMode(S_IFREG | 0777, kGrantRead, false, false), 0444u);
  EXPECT_EQ(NewMode(S_IFDIR | 0700, kGrantRead, false, true), 0555u);
  EXPECT_EQ(NewMode(S_IFREG | S_ISUID | S_ISGID | 0755, kGrantRead, false, false), 0444u);
  EXPECT_EQ(NewMode(S_IFDIR | S_ISVTX | S_ISGID | 0777, kGrantRead, false, true), 0555u);
}

TEST(CaclsMode, EditKeepsSpecialBitsUnlessAFileBecomesWritable) {
  EXPECT_EQ(NewMode(S_IFREG | S_ISUID | S_ISGID | 0750, kGrantRead, true, false),
            static_cast<mode_t>(S_ISUID | S_ISGID | 0754));
  // A set-id program writable by all would hand its privileges to anyone.
  EXPECT_EQ(NewMode(S_IFREG | S_ISUID | S_ISGID | 0755, kGrantWrite, true, false), 0777u);
  EXPECT_EQ(NewMode(S_IFDIR | S_ISVTX | S_ISGID | 0700, kGrantRead | kGrantWrite, true, true),
            static_cast<mode_t>(S_ISVTX | S_ISGID | 0777));
}

// This test program's own fstat and fstatat come before the C library's:
// right after the first of them that finds the inode LookedAt, AfterLook.
ino_t LookedAt = 0;
std::function<void()> AfterLook;

int Looked(int result, const struct stat* status) {
  if (result == 0 && LookedAt != 0 && status->st_ino == LookedAt) {
    LookedAt = 0;
    AfterLook();
  }
  return result;
}

}  // namespace

extern "C" int fstat(int fd, struct stat* status) noexcept {
  static const auto library = reinterpret_cast<int (*)(int, struct stat*)>(dlsym(RTLD_NEXT, "fstat"));
  return Looked(library(fd, status), status);
}

extern "C" int fstatat(int at, const char* name, struct stat* status, int flags) noexcept {
  static const auto library = reinterpret_cast<int (*)(int, const char*, struct stat*, int)>(dlsym(RTLD_NEXT, "fstatat"));
  return Looked(library(at, name, status, flags), status);
}

namespace {

// A user renames a hard link to another's file (mode 0660, their group)
// over an entry between Cacls's look at it and its change.
TEST(CaclsWalk, AFileRenamedOverAnEntryAfterTheLookIsNotChanged) {
  TempDir temp;
  const fs::path entry = temp.path() / "Menu" / "x.lnk";
  const fs::path outside = temp.path() / "outside";
  WriteFile(entry, "x");
  SetMode(entry, 0600);
  WriteFile(outside, "secret");
  SetMode(outside, 0660);
  fs::create_hard_link(outside, temp.path() / "spare");
  const int held = open(entry.c_str(), O_RDONLY | O_CLOEXEC);
  struct stat status;
  ASSERT_EQ(fstat(held, &status), 0);

  LookedAt = status.st_ino;
  AfterLook = [&] {
    std::error_code error;
    fs::rename(temp.path() / "spare", entry, error);
    EXPECT_FALSE(error) << error.message();
  };
  EXPECT_EQ(ApplyCacls(CaclsRequest{(temp.path() / "Menu").string(), true, true, kGrantRead}), kCaclsSuccess);
  EXPECT_EQ(LookedAt, 0u) << "the hook never struck";
  LookedAt = 0;
  EXPECT_EQ(Mode(outside), 0660u);
  ASSERT_EQ(fstat(held, &status), 0);
  EXPECT_EQ(status.st_mode & 07777u, 0644u) << "the entry looked at gets the grant";
  close(held);
}

}  // namespace
