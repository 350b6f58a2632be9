#pragma once
// A sandbox profile for black-box runs of the program: a temporary
// UserProfile with its Start Menu, and a SystemRoot whose All Users Start
// Menu receives what a copy run moves.
//
// Wine puts its own SystemRoot into every Windows child, whatever the
// parent passes, so on Windows the system folder is the Wine prefix's own;
// its All Users Start Menu is emptied before and after each test.

#include <cstdint>
#include <string>
#include <vector>

#include "support/run_program.h"
#include "support/temp_tree.h"

struct Sandbox {
  Sandbox();
  ~Sandbox();
  Sandbox(const Sandbox&) = delete;
  Sandbox& operator=(const Sandbox&) = delete;

  TempDir root;
  std::string profile;         // UserProfile
  std::string system;          // SystemRoot
  std::string user_menu;       // profile + "\Start Menu"
  std::string all_users_menu;  // system + "\Profiles\All Users\Start Menu"
  std::string snapshot;        // profile + "\Dravonel.Dat"

  // BaseEnvironment() with UserProfile and SystemRoot.
  std::vector<std::string> Environment() const;

  // Runs the built dravonel with these arguments (argument 0 is "dravonel")
  // in environment (Environment() when empty), inside the sandbox, so that
  // anything a command line might create in the folder it runs in would
  // be seen.
  RunResult Run(const std::vector<std::string>& arguments, const std::vector<std::string>& environment = {}) const;
};

// The argument vector of a run of dravonel: its name, then arguments.
std::vector<std::string> DravonelArguments(const std::vector<std::string>& arguments);

// The write time the black-box tests give their items unless a test says
// otherwise: 2001-06-15 12:00:00 UTC.
extern const int64_t kThen;

// Paths below the sandbox's two Start Menus, relative ones "/"-separated.
std::string User(const Sandbox& sandbox, const std::string& relative);
std::string AllUsers(const Sandbox& sandbox, const std::string& relative);

// Writes a file with an exact last-write time; path in UTF-8.
void Put(const std::string& path, const std::string& content, int64_t seconds, int64_t nanoseconds = 0);

// A snapshot run that succeeds silently and leaves a snapshot.
void TakeSnapshot(const Sandbox& sandbox);

// The lines of an item (relative, "/"-separated) that a copy run moved
// from the user's Start Menu to the All Users one and granted; Unmoved:
// whose move it tried and could not make.
std::string MovedFile(const Sandbox& sandbox, const std::string& relative);
std::string MovedDir(const Sandbox& sandbox, const std::string& relative);
std::string UnmovedFile(const Sandbox& sandbox, const std::string& relative);
std::string UnmovedDir(const Sandbox& sandbox, const std::string& relative);

// A copy run (in environment, as Sandbox::Run takes it) that printed
// exactly lines, ended with 0 and used up the snapshot; on POSIX, where
// our Cacls says nothing when it succeeds, with nothing on standard error.
void ExpectCopyRun(const Sandbox& sandbox, const std::string& lines,
                   const std::vector<std::string>& environment = {});

// A copy run that could not do everything: exactly lines, -1, and the
// snapshot kept when something is left for a rerun to carry over.
void ExpectUnfinishedCopyRun(const Sandbox& sandbox, const std::string& lines, bool snapshot_kept,
                             const std::vector<std::string>& environment = {});

// Standard output is a text stream: each "\n" becomes CR LF on Windows.
std::string Text(const std::string& lines);
