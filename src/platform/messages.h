#pragma once
// Every fixed text of the program in one place, for every floor that
// prints: what it prints, the command it runs, the file it keeps and the
// statuses it ends with. All are printf formats, so "%%" prints one
// percent sign.

// Exit statuses: -1 comes out as 255 on POSIX, 0xFFFFFFFF on Windows.
constexpr int kExitSuccess = 0;
constexpr int kExitFailure = -1;

// Usage text: a print a line, the first with the program's name as
// invoked and every argument it takes. The next four say what the two runs
// do, as they always have; the rest tell what this program added.
constexpr const char* kUsageLines[] = {
    "Syntax:\n\t%s [ /c | /l | /? ]\n\n",
    "\t - Use with out parameter to capture a snapshot of the\n",
    "\t   Current User start menu.\n",
    "\t - Use with /c to copy any changes from the snapshot to the\n",
    "\t   All Users start menu.\n",
    "\t - Use with /l to list what /c would do, without moving,\n",
    "\t   granting or deleting anything.\n",
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
// The grant's command line: the target, then the group to grant, which is
// Everyone by the name the system gives it (GrantCommandLine).
constexpr const char* kGrantCommand = "Cacls \"%s\" /T /E /G %s:R";
constexpr const char* kEveryoneName = "Everyone";
// Why a grant did not happen, when the system gives no reason of its own.
constexpr const char* kGrantNotFoundReason = "Cacls is not on PATH";
constexpr const char* kGrantStatusReason = "Cacls ended with exit status %lu";
constexpr const char* kGrantSignalReason = "Cacls was ended by signal %d";
// On Windows, a folder on the way to the target, or the target itself, is
// a link or junction that Cacls.exe would follow: it is not started.
constexpr const char* kGrantLinkReason = "%s is a link or junction";

// An item whose source, destination or command line would not fit its
// 260-byte buffer is skipped with one of these, and the run goes on; so
// is a folder whose path the scan cannot record (the directory line). The
// file line takes the directory, the separator put before the name (empty
// when the directory already ends in one) and the name.
constexpr const char* kSkippingDirLine = "Skipping Dir %s: path too long\n";
constexpr const char* kSkippingFileLine = "Skipping File %s%s%s: path too long\n";
constexpr const char* kSkippingGrantLine = "Skipping Exec for %s: command too long\n";

// What the scan could not read (a folder, or an entry of one), a snapshot
// that another run holds, and a snapshot that could not be saved, each
// with the system's reason; the run then ends with -1. The scan names the
// folder it started in this way when it cannot read where that is.
constexpr const char* kCannotReadLine = "Cannot read %s: %s\n";
constexpr const char* kCannotSaveLine = "Cannot save %s: %s\n";
constexpr const char* kCurrentFolderName = "the current folder";

// Texts DescribeError gives where the system has none: an exclusive hold
// that another opener has, on POSIX (in Windows' own words, so that both
// builds say the same), and the codes of our own (platform.h) on both.
constexpr const char* kSharingViolationText =
    "The process cannot access the file because it is being used by another process";
constexpr const char* kNotRegularFileText = "Not a regular file";
constexpr const char* kUntrustedLinkText = "A link or junction another account owns, not followed";
constexpr const char* kAllUsersMenuText = "It is the All Users Start Menu itself";
constexpr const char* kOtherNamesText = "It has other names (hard links)";
constexpr const char* kFifoText = "It is a FIFO";
constexpr const char* kSocketText = "It is a socket";
constexpr const char* kDeviceText = "It is a device";

// What a copy run could not finish, each with the system's reason (the
// grant's from RunGrantCommand): a move that failed while its source is
// still in the user's Start Menu, a grant that did not happen, and a name
// left behind (a move's own temporary name, or the snapshot at the end).
// Any of them, and any Skipping line, makes a copy run end with -1.
constexpr const char* kCannotMoveLine = "Cannot move %s: %s\n";
constexpr const char* kCannotGrantLine = "Cannot grant %s: %s\n";
constexpr const char* kCannotDeleteLine = "Cannot delete %s: %s\n";
// An item the list has below a folder that could not be moved: it stays
// with its folder, which is never merged with a namesake, for a rerun to
// carry over whole. It counts as a move that failed.
constexpr const char* kHoldingBackLine = "Holding back %s: %s was not moved\n";

// The last line of a preview ("dravonel /l").
constexpr const char* kPreviewLine = "Preview only: nothing was moved or granted, and the snapshot is kept.\n";
