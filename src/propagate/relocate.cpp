#include <cstdio>
#include <cstring>

#include "platform/messages.h"
#include "platform/path_buffer.h"
#include "platform/platform.h"
#include "platform/process_values.h"
#include "propagate/propagate.h"

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

void MoveDirToAllUsers(const DirRecord& d) {
  PathBuffer destination;
  if (MapToAllUsers(destination, d.path) != 0) {
    PrintOutput(kSkippingDirLine, d.path);
    return;
  }
  PrintOutput(kMovingDirLine, d.path, destination);
  // Never overwriting, nor across volumes: a namesake already under the
  // All Users Start Menu, or a missing parent there, makes the move fail,
  // and the directory stays where it is.
  if (MoveItem(d.path, destination, 0) == 0) GrantEveryoneRead(destination);
}

void MoveFileToAllUsers(const DirRecord& d, const FileRecord& f) {
  const std::size_t length = std::strlen(d.path);
  const bool has_separator = length > 0 && d.path[length - 1] == kPathSeparator;
  const char separator[] = {has_separator ? '\0' : kPathSeparator, '\0'};

  PathBuffer source;
  PathBuffer destination;
  if (JoinPath(source, d.path, separator, f.name) != 0) {
    PrintOutput(kSkippingFileLine, d.path, separator, f.name);
    return;
  }
  if (MapToAllUsers(destination, source) != 0) {
    PrintOutput(kSkippingFileLine, source, "", "");
    return;
  }
  PrintOutput(kMovingFileLine, source, destination);
  // One step: deleting the namesake first would lose it whenever the move
  // then failed. A directory at the destination is never replaced.
  if (MoveItem(source, destination, MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED) == 0) {
    GrantEveryoneRead(destination);
  }
}

void GrantEveryoneRead(const char* target) {
  PathBuffer command;
  const int length = std::snprintf(command, kMaxPath, kGrantCommand, target);
  if (length < 0 || static_cast<std::size_t>(length) >= kMaxPath) {
    PrintOutput(kSkippingGrantLine, target);
    return;
  }
  PrintOutput(kExecLine, command);
  char reason[kErrorTextSize];
  RunGrantCommand(target, reason, sizeof reason);
}
