#pragma once
// What the trees hold, for tests that must show that nothing was lost,
// duplicated or let in: every entry with its bytes, and on POSIX the
// permission bits of everything outside the All Users Start Menu.

#include <map>
#include <string>

#include "support/temp_tree.h"

// Relative "/"-separated path of each entry below root: a directory's ends
// in "/" and maps to "", a link maps to "-> " and its target, a file to its
// bytes. Empty when root does not exist.
using TreeContents = std::map<std::string, std::string>;
TreeContents ReadTreeContents(const fs::path& root);

// One line for each way the two trees now differ from an outcome where
// every item of the user's tree is in exactly one of them with its bytes:
// an item found in neither, found in both, or changed; an entry that
// appeared in the user's tree; an entry of the All Users tree that is
// neither what it held nor an item of the user's; a file gone from it.
// Directories need only be in one tree or both. "" when all is well.
std::string FindLostOrDuplicated(const TreeContents& user_before, const TreeContents& all_users_before,
                                 const TreeContents& user_now, const TreeContents& all_users_now);

#ifndef _WIN32
// The permission bits (07777) of root and every entry below it, links'
// own, by absolute path; nothing at or below except.
using TreeModes = std::map<std::string, unsigned>;
TreeModes ReadModes(const fs::path& root, const fs::path& except);

// One line for each path of both whose bits differ; "" when none do.
std::string ChangedModes(const TreeModes& before, const TreeModes& after);
#endif
