#include "support/sandbox.h"

#include <cstdlib>

#include <gtest/gtest.h>

#include "support/menu_lines.h"

namespace {

void EmptyFolder(const fs::path& folder) {
  std::error_code error;
  fs::remove_all(folder, error);
}

}  // namespace

Sandbox::Sandbox() {
  profile = root.str() + Sep() + "profile";
#ifdef _WIN32
  const char* wine_system = std::getenv("SystemRoot");
  system = wine_system != nullptr ? wine_system : "C:\\windows";
#else
  system = root.str() + Sep() + "system";
#endif
  user_menu = profile + Sep() + "Start Menu";
  all_users_menu = system + Sep() + "Profiles" + Sep() + "All Users" + Sep() + "Start Menu";
  snapshot = profile + Sep() + "Dravonel.Dat";
  EmptyFolder(all_users_menu);
  fs::create_directories(profile);
  fs::create_directories(system);
}

Sandbox::~Sandbox() {
#ifdef _WIN32
  EmptyFolder(all_users_menu);
#endif
}

std::vector<std::string> Sandbox::Environment() const {
  std::vector<std::string> environment = BaseEnvironment();
  environment.push_back("UserProfile=" + profile);
  environment.push_back("SystemRoot=" + system);
  return environment;
}

RunResult Sandbox::Run(const std::vector<std::string>& arguments,
                       const std::vector<std::string>& environment) const {
  return RunProgram(BuiltProgram("dravonel"), DravonelArguments(arguments),
                    environment.empty() ? Environment() : environment, root.str());
}

std::vector<std::string> DravonelArguments(const std::vector<std::string>& arguments) {
  std::vector<std::string> argv{"dravonel"};
  argv.insert(argv.end(), arguments.begin(), arguments.end());
  return argv;
}

const int64_t kThen = UtcSeconds(2001, 6, 15, 12, 0, 0);

std::string User(const Sandbox& sandbox, const std::string& relative) {
  return PathBelow(sandbox.user_menu, relative);
}

std::string AllUsers(const Sandbox& sandbox, const std::string& relative) {
  return PathBelow(sandbox.all_users_menu, relative);
}

void Put(const std::string& path, const std::string& content, int64_t seconds, int64_t nanoseconds) {
  WriteFile(Utf8Path(path), content);
  SetWriteTime(Utf8Path(path), seconds, nanoseconds);
}

void TakeSnapshot(const Sandbox& sandbox) {
  const RunResult run = sandbox.Run({});
  ASSERT_EQ(run.exit_status, 0u);
  ASSERT_EQ(run.out, "");
  ASSERT_TRUE(fs::exists(sandbox.snapshot));
}

std::string MovedFile(const Sandbox& sandbox, const std::string& relative) {
  return UnmovedFile(sandbox, relative) + ExecLine(AllUsers(sandbox, relative));
}

std::string MovedDir(const Sandbox& sandbox, const std::string& relative) {
  return UnmovedDir(sandbox, relative) + ExecLine(AllUsers(sandbox, relative));
}

std::string UnmovedFile(const Sandbox& sandbox, const std::string& relative) {
  return MovingFileLine(User(sandbox, relative), AllUsers(sandbox, relative));
}

std::string UnmovedDir(const Sandbox& sandbox, const std::string& relative) {
  return MovingDirLine(User(sandbox, relative), AllUsers(sandbox, relative));
}

void ExpectCopyRun(const Sandbox& sandbox, const std::string& lines, const std::vector<std::string>& environment) {
  const RunResult run = sandbox.Run({"/c"}, environment);
  EXPECT_EQ(run.out, Text(lines));
  EXPECT_EQ(run.exit_status, 0u);
#ifndef _WIN32
  EXPECT_EQ(run.err, "");
#endif
  EXPECT_FALSE(fs::exists(sandbox.snapshot));
}

void ExpectUnfinishedCopyRun(const Sandbox& sandbox, const std::string& lines, bool snapshot_kept,
                             const std::vector<std::string>& environment) {
  const RunResult run = sandbox.Run({"/c"}, environment);
  EXPECT_EQ(run.out, Text(lines));
  EXPECT_EQ(run.exit_status, kFailureStatus);
  EXPECT_EQ(fs::exists(sandbox.snapshot), snapshot_kept);
}

std::string Text(const std::string& lines) {
#ifdef _WIN32
  std::string crlf;
  for (char c : lines) {
    if (c == '\n') crlf += '\r';
    crlf += c;
  }
  return crlf;
#else
  return lines;
#endif
}
