#pragma once
// Cacls: the access-control editor dravonel runs on each item it moved, for
// systems that have none. It does with permission bits what the command
// line asks of an access list:
//
//   Cacls <path> [/T] [/E] /G Everyone:perm [...]
//
//  /T  the path and, for a directory, everything below it.
//  /E  edit: add the granted bits to those already there. Without it the
//      permission bits become exactly what is granted (setuid, setgid and
//      sticky cleared), as a replaced access list would.
//  /G  one or more grants, each "Everyone:perm", perm one of R (read),
//      W (write), C (change: read and write) or F (full: read, write and
//      execute). Everyone is owner, group and others alike. On a directory
//      read brings search permission with it.
//
// Switches, the user name and the perm letter match without regard to
// ASCII case. The path is always the first argument, so an absolute path
// is not mistaken for a switch; a first argument of "/" and one letter is
// taken as a switch, the path missing.
//
// Each item is looked up once, never through a link, and held by an
// O_PATH descriptor: nothing is opened before it is known to be a regular
// file or a directory (a device is never opened, a FIFO never waited on).
// Its new mode comes from what that descriptor holds and is set through
// it (reopened to read through /proc, or held as it is where the runner
// cannot read it), so a file renamed over the name meanwhile is not
// changed. Names on the lines Cacls prints are shown as dravonel shows
// them: on POSIX control bytes and the backslash escaped.
//
// A symbolic link is never followed: one given as the path is left alone
// (success), one met below is passed over, so a link can never lend its
// target the grant. Only directories and regular files with a single name
// are changed. A file with other names (hard links) is not: it may be
// anyone's, lent a name in the tree for the grant to reach it. Nor is a
// FIFO, a socket or a device. Each of these, as the path or below it, gets
// a line on standard error, in dravonel's words ("Cacls: <path>: It is a
// FIFO", messages.h), and
// makes the status 2, which dravonel reports as a grant not done.
// Trailing slashes of the path are dropped, so "link/" names the link,
// not its target.
//
// An absolute path is found by the system, through any links on its way,
// as a person typing one expects. A relative path is walked from the
// current directory one name at a time, and a folder on the way that is a
// symbolic link (or no folder, or gone) is not entered: nothing is
// changed, one line on standard error names it, and the status is 2. This
// is how dravonel runs it: from the All Users Start Menu, with the moved
// item's path relative to it, so that a folder below swapped for a link
// to elsewhere can never lend what it points to the grant. "." and ".."
// are taken as they are: neither is a link.
//
// On an edit that grants write permission, a regular file loses setuid and
// setgid, as it would when written by another user: a grant never leaves a
// set-id program writable by all. Directories keep their setgid (group
// inheritance) and sticky bits on an edit.
//
// Prints nothing on success. Exit status 0; 1 (kCaclsUsage) for a command
// line it does not support, with the usage text on standard error and
// nothing changed; 2 (kCaclsFailed) when the path cannot be found or
// changed, when a folder on the way of a relative path is a link, when
// it or an item below it is not changed for what it is (above), or when
// any item below it could not be changed (one line on standard error
// each; the walk goes on with the rest).

#include <sys/types.h>

#include <string>

constexpr int kCaclsSuccess = 0;
constexpr int kCaclsUsage = 1;
constexpr int kCaclsFailed = 2;

constexpr const char* kCaclsUsageText =
    "Usage: Cacls <path> [/T] [/E] /G Everyone:perm [...]\n"
    "  /T  the path and everything below it\n"
    "  /E  add to the permissions instead of replacing them\n"
    "  perm: R (read), W (write), C (change), F (full)\n";

// Why a folder on the way of a relative path was not entered, when it is
// a symbolic link.
constexpr const char* kCaclsLinkOnTheWay = "a symbolic link, not followed";


// What a grant adds, combined over all grants of a command line.
constexpr unsigned kGrantRead = 1;
constexpr unsigned kGrantWrite = 2;
constexpr unsigned kGrantExecute = 4;

struct CaclsRequest {
  std::string path;
  bool tree = false;    // /T
  bool edit = false;    // /E
  unsigned grants = 0;  // kGrant* bits; never 0 in a parsed request
};

// Reads argv[1..argc-1] into request. Returns 0, or -1 for anything not
// supported: no path, no grant, another user, an unknown perm or switch.
int ParseCaclsArguments(int argc, const char* const* argv, CaclsRequest& request);

// The permission bits grants give a directory or another file.
mode_t GrantedBits(unsigned grants, bool directory);

// The mode bits (07777) an item with mode old_mode gets.
mode_t NewMode(mode_t old_mode, unsigned grants, bool edit, bool directory);

// Carries out request; returns kCaclsSuccess or kCaclsFailed, with a line
// on standard error for each item that could not be changed or reached.
// The walk
// below a directory keeps a single directory open at a time, so no depth
// of tree exhausts descriptors or stack.
int ApplyCacls(const CaclsRequest& request);
