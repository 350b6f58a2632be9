// Trees a user or an installer could make, carried through whole rounds:
// names that a shell or the command interpreter would act on, huge
// folders, names and nesting at and past the path limit, links out of the
// tree, unreadable folders. Each ends with its documented outcome, nothing
// lost, and no permission changed outside the All Users Start Menu.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/grant_log.h"
#include "support/menu_lines.h"
#include "support/run_program.h"
#include "support/sandbox.h"
#include "support/snapshot_image.h"
#include "support/temp_tree.h"
#include "support/tree_state.h"

#ifndef _WIN32
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace {

const int64_t kThen = UtcSeconds(2001, 6, 15, 12, 0, 0);

std::string User(const Sandbox& sandbox, const std::string& relative) {
  return PathBelow(sandbox.user_menu, relative);
}

std::string AllUsers(const Sandbox& sandbox, const std::string& relative) {
  return PathBelow(sandbox.all_users_menu, relative);
}

void Put(const std::string& path, const std::string& content, int64_t seconds) {
  WriteFile(path, content);
  SetWriteTime(path, seconds);
}

void TakeSnapshot(const Sandbox& sandbox) {
  const RunResult run = sandbox.Run({});
  ASSERT_EQ(run.exit_status, 0u);
  ASSERT_EQ(run.out, "");
  ASSERT_TRUE(fs::exists(sandbox.snapshot));
}

// A copy run that ends with 0, uses up the snapshot and prints lines.
void ExpectCopyRun(const Sandbox& sandbox, const std::vector<std::string>& environment, const std::string& lines) {
  const RunResult run = sandbox.Run({"/c"}, environment);
  EXPECT_EQ(run.out, Text(lines));
  EXPECT_EQ(run.exit_status, 0u);
  EXPECT_FALSE(fs::exists(sandbox.snapshot));
}

std::string MovedFile(const Sandbox& sandbox, const std::string& relative) {
  return MovingFileLine(User(sandbox, relative), AllUsers(sandbox, relative)) + ExecLine(AllUsers(sandbox, relative));
}

std::string MovedDir(const Sandbox& sandbox, const std::string& relative) {
  return MovingDirLine(User(sandbox, relative), AllUsers(sandbox, relative)) + ExecLine(AllUsers(sandbox, relative));
}

// Names the interpreter would expand or act on even inside double quotes
// (%NAME%, a variable whose value holds quotes, !NAME!), and that a shell
// would; on POSIX also control characters, wildcards and bytes that are
// not UTF-8. Windows allows none of  \ / : * ? " < > |  nor control
// characters in a name.
std::vector<std::string> HostileNames() {
  std::vector<std::string> names = {
      "%SystemRoot%.lnk",
      "x%PATH%y%UserProfile%.lnk",
      "%CMDCMDLINE%&mkdir pwned5&.lnk",
      "!PATH! %% a%b.lnk",
      "-rf ; $HOME `id` $(mkdir pwned6).lnk",
  };
#ifndef _WIN32
  names.push_back("cr\rtab\tlf\n.lnk");
  names.push_back("glob*?[a]\\back.lnk");
  names.push_back("latin1 \xE9\xFF\xFE.lnk");
  names.push_back("'\"'\"\".lnk");
#endif
  return names;
}

TEST(HostileTrees, NamesReachTheGrantByteForByteAndNothingIsInterpreted) {
  Sandbox sandbox;
  Put(User(sandbox, "Help.lnk"), "help", kThen);
  fs::create_directories(sandbox.all_users_menu);
  GrantLog grants;
  for (const std::string& name : HostileNames()) {
    for (const bool as_folder : {false, true}) {
      SCOPED_TRACE(name + (as_folder ? " as a folder" : " as a file"));
      TakeSnapshot(sandbox);
      const std::string item = as_folder ? name + ".d" : name;
      const std::string file = as_folder ? item + "/inside.lnk" : item;
      Put(User(sandbox, file), "bytes of " + item, kThen + 60);
      const std::size_t earlier = grants.Records().size();
      ExpectCopyRun(sandbox, grants.Environment(sandbox),
                    as_folder ? MovedDir(sandbox, item) : MovedFile(sandbox, item));
      EXPECT_EQ(ReadFile(AllUsers(sandbox, file)), "bytes of " + item);
      const std::vector<std::vector<std::string>> records = grants.Records();
      ASSERT_EQ(records.size(), earlier + 1);
      EXPECT_EQ(records.back(), GrantLog::GrantOf(AllUsers(sandbox, item)));
    }
  }
  EXPECT_EQ(ListTree(sandbox.user_menu), "Help.lnk\n");
  for (const fs::path& place : {sandbox.root.path(), fs::current_path(), fs::path(BuiltProgramFolder())}) {
    for (const char* pwned : {"pwned5", "pwned6"}) EXPECT_FALSE(fs::exists(place / pwned)) << (place / pwned);
  }
}

}  // namespace
