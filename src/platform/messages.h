#pragma once
// Every fixed text of the program in one place, for every floor that
// prints: what it prints, the command it runs, the file it keeps and the
// statuses it ends with. All are printf formats, so "%%" prints one
// percent sign.

// Exit statuses: -1 comes out as 255 on POSIX, 0xFFFFFFFF on Windows.
constexpr int kExitSuccess = 0;
constexpr int kExitFailure = -1;

// Usage text: five prints, the first with the program's name as invoked.
constexpr const char* kUsageLines[] = {
    "Syntax:\n\t%s { /c }\n\n",
    "\t - Use with out parameter to capture a snapshot of the\n",
    "\t   Current User start menu.\n",
    "\t - Use with /c to copy any changes from the snapshot to the\n",
    "\t   All Users start menu.\n",
};

// One more usage line, on POSIX only, where nothing sets the two
// variables: what a user exports first. Windows sets both itself.
#ifdef _WIN32
constexpr const char* kSetUpUsageLine = "";
#else
constexpr const char* kSetUpUsageLine =
    "\t - Export UserProfile=$HOME, SystemRoot=<dir with Profiles/All Users/Start Menu>; put Cacls on PATH.\n";
#endif

// An empty variable counts as unset.
constexpr const char* kUserProfileUnset = "%%UserProfile%% isn't set, exiting.\n";
constexpr const char* kSystemRootUnset = "%%SystemRoot%% isn't set, exiting.\n";
// A variable whose value would not fit a path into its 260-byte buffer.
constexpr const char* kUserProfileTooLong = "%%UserProfile%% is too long, exiting.\n";
constexpr const char* kSystemRootTooLong = "%%SystemRoot%% is too long, exiting.\n";

// The fixed names, each joined to its variable's value with the separator.
constexpr const char* kSnapshotFileName = "Dravonel.Dat";
constexpr const char* kUserStartMenuName = "Start Menu";
constexpr const char* kAllUsersStartMenuNames[] = {"Profiles", "All Users", "Start Menu"};

// Relocation's lines: a space before the first line break, eight spaces
// before "to" for a directory, nine for a file.
constexpr const char* kMovingDirLine = "Moving Dir %s \n        to %s\n";
constexpr const char* kMovingFileLine = "Moving File %s \n         to %s\n";
constexpr const char* kExecLine = "Exec '%s'\n";
constexpr const char* kGrantCommand = "Cacls \"%s\" /T /E /G Everyone:R";

// An item whose source, destination or command line would not fit its
// 260-byte buffer is skipped with one of these, and the run goes on. The
// file line takes the directory, the separator put before the name (empty
// when the directory already ends in one) and the name.
constexpr const char* kSkippingDirLine = "Skipping Dir %s: path too long\n";
constexpr const char* kSkippingFileLine = "Skipping File %s%s%s: path too long\n";
constexpr const char* kSkippingGrantLine = "Skipping Exec for %s: command too long\n";

// What the scan could not read (a folder, or an entry of one), and a
// snapshot that could not be saved, each with the system's reason; the run
// then ends with -1. The scan names the folder it started in this way when
// it cannot read where that is.
constexpr const char* kCannotReadLine = "Cannot read %s: %s\n";
constexpr const char* kCannotSaveLine = "Cannot save %s: %s\n";
constexpr const char* kCurrentFolderName = "the current folder";
