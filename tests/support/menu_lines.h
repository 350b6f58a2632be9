#pragma once
// The lines a copy run prints for each item it relocates, and paths below a
// Start Menu written with "/" in the tests and the system's separator here.

#include <string>

#include "platform/shown_name.h"
#include "support/temp_tree.h"

inline std::string PathBelow(const std::string& base, const std::string& relative) {
  std::string path = base;
  if (relative.empty()) return path;
  path += Sep();
  for (char c : relative) path += c == '/' ? Sep() : std::string(1, c);
  return path;
}

// A name or path as the program prints it (escaped on POSIX).
inline std::string Shown(const std::string& name) {
  char shown[kShownNameSize];
  return ShowName(name.c_str(), shown, sizeof shown);
}

inline std::string MovingFileLine(const std::string& source, const std::string& destination) {
  return "Moving File " + Shown(source) + " \n         to " + Shown(destination) + "\n";
}

inline std::string MovingDirLine(const std::string& source, const std::string& destination) {
  return "Moving Dir " + Shown(source) + " \n        to " + Shown(destination) + "\n";
}

inline std::string ExecLine(const std::string& target) {
  return "Exec 'Cacls \"" + Shown(target) + "\" /T /E /G Everyone:R'\n";
}
