#pragma once
// The grant recorder (grant_recorder_main.cpp) put in Cacls's place for a
// run, and what it recorded: which item each grant reached, byte for byte.

#include <string>
#include <vector>

#include "support/menu_lines.h"
#include "support/run_program.h"
#include "support/sandbox.h"
#include "support/temp_tree.h"

struct GrantLog {
  GrantLog() {
    fs::copy_file(BuiltProgram("grant_recorder"), Command());
  }

  // The sandbox's environment with the recorder first on PATH; on POSIX
  // the recorder passes each grant on to the real Cacls.
  std::vector<std::string> Environment(const Sandbox& sandbox) const {
    std::vector<std::string> environment = sandbox.Environment();
    for (std::string& variable : environment) {
      if (variable.rfind("PATH=", 0) == 0) variable = "PATH=" + folder.str() + kListSeparator + variable.substr(5);
    }
    environment.push_back("DRAVONEL_GRANT_LOG=" + Log());
#ifndef _WIN32
    environment.push_back("DRAVONEL_REAL_CACLS=" + BuiltProgram("Cacls"));
#endif
    return environment;
  }

  // What each grant was started with, in order: on Windows one string, its
  // command line; on POSIX its arguments.
  std::vector<std::vector<std::string>> Records() const {
    std::vector<std::vector<std::string>> records;
    std::vector<std::string> record;
    const std::string bytes = ReadFile(Log());
    std::size_t start = 0;
    while (start < bytes.size()) {
      const std::size_t end = bytes.find('\0', start);
      if (end == std::string::npos) break;
      if (end == start) {
        records.push_back(record);
        record.clear();
      } else {
        record.push_back(bytes.substr(start, end - start));
      }
      start = end + 1;
    }
    return records;
  }

  // The record of a grant of the item at relative ("/"-separated) below
  // the sandbox's All Users Start Menu as the program makes it: on POSIX
  // Cacls runs there and gets the path relative to it.
  static std::vector<std::string> GrantOf(const Sandbox& sandbox, const std::string& relative) {
#ifdef _WIN32
    return {GrantCommand(AllUsers(sandbox, relative))};
#else
    static_cast<void>(sandbox);
    return {relative, "/T", "/E", "/G", "Everyone:R"};
#endif
  }

  TempDir folder;

 private:
#ifdef _WIN32
  static constexpr char kListSeparator = ';';
  std::string Command() const { return folder.str() + "\\Cacls.exe"; }
#else
  static constexpr char kListSeparator = ':';
  std::string Command() const { return folder.str() + "/Cacls"; }
#endif
  std::string Log() const { return folder.str() + Sep() + "grants.log"; }
};
