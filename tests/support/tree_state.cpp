#include "support/tree_state.h"

#include <cstdio>

#ifndef _WIN32
#include <sys/stat.h>
#endif

namespace {

bool IsDirectoryKey(const std::string& key) { return !key.empty() && key.back() == '/'; }

std::string Quoted(const std::string& key) { return "\"" + key + "\""; }

}  // namespace

TreeContents ReadTreeContents(const fs::path& root) {
  TreeContents contents;
  std::error_code error;
  for (auto it = fs::recursive_directory_iterator(root, fs::directory_options::skip_permission_denied, error);
       !error && it != fs::recursive_directory_iterator(); it.increment(error)) {
    const std::string relative = fs::relative(it->path(), root).generic_string();
    if (it->is_symlink()) {
      contents[relative] = "-> " + fs::read_symlink(it->path()).string();
    } else if (it->is_directory()) {
      contents[relative + "/"] = "";
    } else {
      contents[relative] = ReadFile(it->path());
    }
  }
  return contents;
}

std::string FindLostOrDuplicated(const TreeContents& user_before, const TreeContents& all_users_before,
                                 const TreeContents& user_now, const TreeContents& all_users_now) {
  std::string problems;
  for (const auto& [key, bytes] : user_before) {
    const auto in_user = user_now.find(key);
    const auto in_all_users = all_users_now.find(key);
    if (IsDirectoryKey(key)) {
      if (in_user == user_now.end() && in_all_users == all_users_now.end()) problems += "lost " + Quoted(key) + "\n";
      continue;
    }
    const bool here = in_user != user_now.end();
    const bool there = in_all_users != all_users_now.end() && in_all_users->second == bytes;
    if (here && in_user->second != bytes) problems += "changed in the user's tree " + Quoted(key) + "\n";
    // A namesake that held the same bytes all along proves nothing.
    const auto namesake = all_users_before.find(key);
    const bool same_as_namesake = namesake != all_users_before.end() && namesake->second == bytes;
    if (here && there && !same_as_namesake) problems += "in both trees " + Quoted(key) + "\n";
    if (!here && !there) problems += "lost " + Quoted(key) + "\n";
  }
  for (const auto& [key, bytes] : user_now) {
    if (user_before.count(key) == 0) problems += "appeared in the user's tree " + Quoted(key) + "\n";
  }
  for (const auto& [key, bytes] : all_users_now) {
    const auto was = all_users_before.find(key);
    const auto came = user_before.find(key);
    if ((was == all_users_before.end() || was->second != bytes) && (came == user_before.end() || came->second != bytes)) {
      problems += "unexpected in All Users " + Quoted(key) + "\n";
    }
  }
  for (const auto& [key, bytes] : all_users_before) {
    if (all_users_now.count(key) == 0) problems += "gone from All Users " + Quoted(key) + "\n";
  }
  return problems;
}

#ifndef _WIN32
TreeModes ReadModes(const fs::path& root, const fs::path& except) {
  TreeModes modes;
  auto add = [&](const fs::path& path) {
    struct stat status;
    if (lstat(path.c_str(), &status) == 0) modes[path.string()] = status.st_mode & 07777u;
  };
  add(root);
  std::error_code error;
  for (auto it = fs::recursive_directory_iterator(root, fs::directory_options::skip_permission_denied, error);
       !error && it != fs::recursive_directory_iterator(); it.increment(error)) {
    if (it->path() == except) {
      it.disable_recursion_pending();
      continue;
    }
    add(it->path());
  }
  return modes;
}

std::string ChangedModes(const TreeModes& before, const TreeModes& after) {
  std::string changes;
  for (const auto& [path, mode] : before) {
    const auto now = after.find(path);
    if (now != after.end() && now->second != mode) {
      char line[64];
      std::snprintf(line, sizeof line, "%04o -> %04o ", mode, now->second);
      changes += line + Quoted(path) + "\n";
    }
  }
  return changes;
}
#endif
