#pragma once
// The grant: the access-control editor run on each item a move carried
// over, granting Everyone read access, and the command line it is shown
// and (on Windows) run with.

#include <cstddef>

#include "platform/walk.h"

// The grant's command line for target, the one printed and, on Windows,
// the one run: kGrantCommand (messages.h) with the group Everyone by the
// name the system gives it. Windows names that group in its display
// language (Jeder, Tout le monde, Все), and cacls takes a name only, never
// a SID: the name of the well-known SID S-1-1-0 is looked up once, the
// first time a command line is made. POSIX, and a lookup that fails, give
// "Everyone". Returns 0, or -1 (line empty) when it does not fit size
// bytes. Allocates nothing.
int GrantCommandLine(char* line, std::size_t size, const char* target);

// The same, with group as the name the lookup gave (null when it failed):
// a name with a space or any byte other than an ASCII letter, digit, "-",
// "_", "." or a byte of a character outside ASCII is put in double quotes,
// the colon and the permission outside them, as cacls takes it
// ("Tout le monde":R); one holding a double quote or a control byte cannot
// be passed safely, and "Everyone" is granted instead.
int GrantCommandLineFor(char* line, std::size_t size, const char* target, const char* group);

// True when the access-control editor can be found: "Cacls" (Cacls.exe)
// in an absolute entry of PATH, never the current directory or a relative
// entry, which a Start Menu or an installer may control.
bool GrantCommandFound();

// Runs the access-control editor on the item item below root (relative,
// separated by kPathSeparator), whose full path is target, and waits until
// it has ended. No shell or command interpreter is involved (the
// interpreter would expand %NAME% inside the quoted path). On Windows
// Cacls.exe is started with GrantCommandLine for target, the line the
// program prints (in UTF-8, as every string of the program there); on
// POSIX with the argument vector {"Cacls", item, "/T", "/E", "/G",
// "Everyone:R"}, started in the folder root holds, so that Cacls walks
// item down from there one folder at a time, never through a link
// (cacls.h). On Windows each folder from root to the item, and the item
// itself, is opened without following a reparse point and held, deletion
// not shared, until Cacls has ended: none can be renamed, deleted or
// swapped for a link meanwhile, and a link or junction among them, or an
// item that is a file with other names, means no grant at all (Cacls.exe
// would follow or reach it). Its output goes to the null device, its error
// output to ours, and it starts with the default action for SIGPIPE.
// Standard output is flushed first.
//
// Returns 0 when the command ran and ended with exit status 0. Otherwise
// -1, with why in reason (size bytes, always terminated, one line): the
// command is not on PATH, could not be started or a folder on the way not
// opened (the system's reason), ended with another status (which; 2 from
// the POSIX Cacls when a folder on the way is a link or an entry it would
// not change) or, on POSIX, by a signal (which), or on Windows a link on
// the way (kGrantLinkReason). Allocates nothing: it runs between a move
// and the end of its grant, where the run must not end.
int RunGrantCommand(const MenuRoot& root, const char* item, const char* target, char* reason, std::size_t size);
