// The two readers of a copy run's decisions: the copy run, which carries
// each out, and the preview, which foresees each with the same checks the
// move makes. Both print the same lines for the same outcome.

#include <cstring>

#include "platform/console.h"
#include "platform/errors.h"
#include "platform/grant.h"
#include "platform/messages.h"
#include "platform/moves.h"
#include "platform/path_buffer.h"
#include "platform/win32.h"
#include "platform/process_values.h"
#include "propagate/propagate.h"

namespace {

// One decision as both readers meet it: its two paths, and its part below
// both Start Menus, which is what the moves and the grant act on.
struct Item {
  PathBuffer source;
  PathBuffer destination;
  const char* relative;
  bool directory;
};

// The directory dealt with last: what the list has below it went with it
// (moved, or gone before), or is held back (it could not be moved).
struct Settled {
  PathBuffer path;  // "" before the first
  bool moved;
};

bool Below(const char* path, const Settled& settled) {
  return settled.path[0] != '\0' && PartBelow(path, settled.path) != nullptr;
}

// Fills item with decision d's paths. False when one does not fit: its
// "Skipping" line is printed, and it is left behind unless it went with a
// directory moved before it.
bool MakeItem(const MoveDecision& d, Item& item, const Settled& settled, RelocationTally& tally) {
  item.directory = d.file == nullptr;
  const char* path = d.dir->path;
  bool fits = true;
  if (item.directory) {
    std::memcpy(item.source, path, std::strlen(path) + 1);
    if (MapToAllUsers(item.destination, item.source) != 0) {
      PrintNames(kSkippingDirLine, path);
      fits = false;
    }
  } else {
    const std::size_t length = std::strlen(path);
    const char separator[] = {length > 0 && path[length - 1] == kPathSeparator ? '\0' : kPathSeparator, '\0'};
    if (JoinPath(item.source, path, separator, d.file->name) != 0) {
      PrintNames(kSkippingFileLine, path, separator, d.file->name);
      fits = false;
    } else if (MapToAllUsers(item.destination, item.source) != 0) {
      PrintNames(kSkippingFileLine, item.source);
      fits = false;
    }
  }
  if (!fits) {
    if (!(settled.moved && (Below(path, settled) || std::strcmp(path, settled.path) == 0))) ++tally.left_behind;
    return false;
  }
  item.relative = item.source + UserStartMenuLength;
  while (*item.relative == kPathSeparator) ++item.relative;
  return true;
}

// The reading of a list of decisions, one item after another, for both
// readers alike.
struct Reading {
  const MoveDecisions& decisions;
  std::size_t next;
  Settled settled;
  RelocationTally tally;
  Item item;  // the item to move, or to foresee the move of
};

// Goes on to the next item there is a move to make or foresee, printing
// its "Moving" line; the lines of those before it that needed none are
// printed on the way: one that does not fit, or that the list has below a
// directory dealt with already, which took it along or holds it back.
// False at the end of the list.
bool NextItem(Reading& reading) {
  Settled& settled = reading.settled;
  Item& item = reading.item;
  while (reading.next < reading.decisions.size()) {
    if (!MakeItem(reading.decisions[reading.next++], item, settled, reading.tally)) continue;
    if (Below(item.source, settled) && !settled.moved) {
      PrintNames(kHoldingBackLine, item.source, settled.path);
      ++reading.tally.left_behind;
      continue;
    }
    PrintNames(item.directory ? kMovingDirLine : kMovingFileLine, item.source, item.destination);
    if (!Below(item.source, settled)) return true;
  }
  return false;
}

// MoveItem's flags for the item (see CarryOutChanges).
DWORD MoveFlags(const Item& item) { return item.directory ? 0 : MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED; }

// The lines a move's outcome calls for, and the directory it settles.
void EndItem(Reading& reading, const MoveOutcome& outcome) {
  const Item& item = reading.item;
  if (outcome.result == MoveResult::kFailed) {
    PrintWithReason(kCannotMoveLine, item.source, outcome.error);
    ++reading.tally.left_behind;
  }
  // A name of the move's own that stayed beside the destination, whether
  // the move succeeded or not, holds a whole file that no one asked for.
  if (outcome.leftover[0] != '\0') {
    PrintWithReason(kCannotDeleteLine, outcome.leftover, outcome.leftover_error);
    ++reading.tally.unfinished;
  }
  if (item.directory) {
    std::memcpy(reading.settled.path, item.source, std::strlen(item.source) + 1);
    reading.settled.moved = outcome.result != MoveResult::kFailed;
  }
}

// The grant's "Exec" line for target into command; false, with the
// "Skipping Exec" line instead, when the command line does not fit.
bool PrintExecLine(const char* target, PathBuffer command) {
  if (GrantCommandLine(command, kMaxPath, target) != 0) {
    PrintNames(kSkippingGrantLine, target);
    return false;
  }
  PrintNames(kExecLine, command);
  return true;
}

}  // namespace

int MapToAllUsers(PathBuffer destination, const char* source) {
  // The cut is by length alone: every path of the fresh scan begins with
  // UserStartMenu. A shorter one cannot be mapped at all.
  const std::size_t cut = static_cast<std::size_t>(UserStartMenuLength);
  if (std::strlen(source) < cut) {
    destination[0] = '\0';
    return -1;
  }
  return JoinPath(destination, AllUsersStartMenu, source + cut);
}

RelocationTally CarryOutChanges(const MoveDecisions& decisions, const MenuRoot& user, const MenuRoot& all_users) {
  Reading reading{decisions, 0, {}, {}, {}};
  for (const Item& item = reading.item; NextItem(reading);) {
    MoveOutcome outcome;
    MoveItem(user, item.relative, all_users, item.relative, MoveFlags(item), outcome);
    EndItem(reading, outcome);
    if (outcome.result == MoveResult::kMoved && GrantEveryoneRead(all_users, item.relative, item.destination) != 0) {
      ++reading.tally.unfinished;
    }
  }
  return reading.tally;
}

void ForeseeChanges(const MoveDecisions& decisions, const MenuRoot& user, const MenuRoot& all_users) {
  Reading reading{decisions, 0, {}, {}, {}};
  for (const Item& item = reading.item; NextItem(reading);) {
    MoveOutcome outcome;
    ForeseeMove(user, item.relative, all_users, item.relative, MoveFlags(item), outcome);
    EndItem(reading, outcome);
    PathBuffer command;
    if (outcome.result == MoveResult::kMoved && PrintExecLine(item.destination, command) && !GrantCommandFound()) {
      PrintNames(kCannotGrantLine, item.destination, kGrantNotFoundReason);
    }
  }
}

int GrantEveryoneRead(const MenuRoot& root, const char* item, const char* target) {
  PathBuffer command;
  if (!PrintExecLine(target, command)) return -1;
  char reason[kErrorTextSize];
  if (RunGrantCommand(root, item, target, reason, sizeof reason) == 0) return 0;
  PrintNames(kCannotGrantLine, target, reason);
  return -1;
}
