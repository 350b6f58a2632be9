#pragma once
// The grant recorder (grant_recorder_main.cpp) put in Cacls's place, and
// what it recorded: what each grant was started with, byte for byte.

#include <string>
#include <vector>

#include "support/menu_lines.h"
#include "support/run_program.h"
#include "support/sandbox.h"
#include "support/temp_tree.h"

// What each grant was started with, in order: on Windows one string, its
// command line; on POSIX the folder it ran in, then its arguments. Then
// whatever else the recorder says it adds.
using GrantRecords = std::vector<std::vector<std::string>>;

struct GrantLog {
  GrantLog() { Install(folder.str()); }

  // Copies the recorder into where as Cacls (Cacls.exe); that copy records
  // into where's grants.log.
  static void Install(const std::string& where) {
    fs::copy_file(BuiltProgram("grant_recorder"), where + Sep() + kCommandFile);
  }

  // The sandbox's environment with the recorder first on PATH; on POSIX
  // the recorder passes each grant on to the real Cacls.
  std::vector<std::string> Environment(const Sandbox& sandbox) const {
    std::vector<std::string> environment = sandbox.Environment();
    for (std::string& variable : environment) {
      if (variable.rfind("PATH=", 0) == 0) variable = "PATH=" + folder.str() + kListSeparator + variable.substr(5);
    }
#ifndef _WIN32
    environment.push_back("DRAVONEL_REAL_CACLS=" + BuiltProgram("Cacls"));
#endif
    return environment;
  }

  // What the copy installed in where recorded; none when it never ran.
  static GrantRecords RecordsIn(const std::string& where) {
    GrantRecords records;
    std::vector<std::string> record;
    const std::string bytes = ReadFile(where + Sep() + "grants.log");
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
  GrantRecords Records() const { return RecordsIn(folder.str()); }

  // The record of a grant of the item at relative ("/"-separated) below
  // the All Users Start Menu all_users, as the program makes it: on POSIX
  // Cacls runs there and gets the path relative to it.
  static std::vector<std::string> GrantOf(const std::string& all_users, const std::string& relative) {
#ifdef _WIN32
    return {GrantCommand(PathBelow(all_users, relative))};
#else
    return {all_users, relative, "/T", "/E", "/G", "Everyone:R"};
#endif
  }

  TempDir folder;

 private:
#ifdef _WIN32
  static constexpr char kListSeparator = ';';
  static constexpr const char* kCommandFile = "Cacls.exe";
#else
  static constexpr char kListSeparator = ':';
  static constexpr const char* kCommandFile = "Cacls";
#endif
};
