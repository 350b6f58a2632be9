#pragma once
// Unit tests of the walk, the moves and change propagation: the two Start
// Menus as real temporary folders, held as a run holds them, the driver's
// process-wide paths pointed at them, and standard output captured so that
// the printed lines can be compared.

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "platform/process_values.h"
#include "platform/walk.h"
#include "support/menu_lines.h"
#include "support/temp_tree.h"

// A folder held as a Start Menu root for a test's scans and moves, and let
// go again at the end (on Windows a held folder cannot be removed).
struct HeldMenu {
  explicit HeldMenu(const std::string& folder) : path(folder) {
    HoldStartMenu(root, path.c_str(), MenuOwner::kAdministrator);
  }
  ~HeldMenu() { LetGoOfStartMenu(root); }
  HeldMenu(const HeldMenu&) = delete;
  HeldMenu& operator=(const HeldMenu&) = delete;

  std::string path;
  MenuRoot root{};
};

struct StartMenus {
  StartMenus()
      : user(root.str() + Sep() + "user" + Sep() + "Start Menu"),
        all_users(root.str() + Sep() + "system" + Sep() + "All Users" + Sep() + "Start Menu") {
    std::strcpy(UserStartMenu, user.c_str());
    std::strcpy(AllUsersStartMenu, all_users.c_str());
    UserStartMenuLength = static_cast<int32_t>(user.size());
    fs::create_directories(user);
    fs::create_directories(all_users);
    HoldStartMenu(user_root, UserStartMenu, MenuOwner::kUser);
    HoldStartMenu(all_users_root, AllUsersStartMenu, MenuOwner::kAdministrator);
  }
  ~StartMenus() {
    LetGoOfStartMenu(user_root);
    LetGoOfStartMenu(all_users_root);
    UserStartMenu[0] = '\0';
    AllUsersStartMenu[0] = '\0';
    UserStartMenuLength = 0;
  }
  StartMenus(const StartMenus&) = delete;
  StartMenus& operator=(const StartMenus&) = delete;

  // A path below either menu, from "/"-separated parts.
  std::string User(const std::string& relative) const { return PathBelow(user, relative); }
  std::string AllUsers(const std::string& relative) const { return PathBelow(all_users, relative); }

  TempDir root;
  std::string user;
  std::string all_users;
  MenuRoot user_root{};
  MenuRoot all_users_root{};
};

inline void StartCapture() {
  std::fflush(stdout);
  testing::internal::CaptureStdout();
}

// What was printed since StartCapture, line breaks as "\n" on every system.
inline std::string CapturedLines() {
  std::fflush(stdout);
  std::string lines;
  for (char c : testing::internal::GetCapturedStdout()) {
    if (c != '\r') lines += c;
  }
  return lines;
}
