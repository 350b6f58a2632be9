#pragma once
// The lines a copy run prints for each item it relocates, and paths below a
// Start Menu written with "/" in the tests and the system's separator here.

#include <string>

#ifdef _WIN32
#include <windows.h>
#endif

#include "platform/errors.h"
#include "platform/shown_name.h"
#include "support/temp_tree.h"

inline std::string PathBelow(const std::string& base, const std::string& relative) {
  std::string path = base;
  if (relative.empty()) return path;
  path += Sep();
  for (char c : relative) path += c == '/' ? Sep() : std::string(1, c);
  return path;
}

// The system's text for an error, as a line with a reason gives it.
inline std::string ErrorText(DWORD error) {
  char text[kErrorTextSize];
  DescribeError(error, text, sizeof text);
  return text;
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

// The preview's last line.
inline const std::string kPreviewLine = "Preview only: nothing was moved or granted, and the snapshot is kept.\n";

// Everyone as the grant names it: on Windows the name the system's lookup
// gives the well-known SID S-1-1-0, in double quotes when it holds a space.
inline std::string GrantedGroup() {
#ifdef _WIN32
  BYTE sid[SECURITY_MAX_SID_SIZE];
  DWORD sid_size = sizeof sid;
  char name[256];
  char domain[256];
  DWORD name_size = sizeof name;
  DWORD domain_size = sizeof domain;
  SID_NAME_USE use;
  if (CreateWellKnownSid(WinWorldSid, nullptr, sid, &sid_size) &&
      LookupAccountSidA(nullptr, sid, name, &name_size, domain, &domain_size, &use)) {
    const std::string group = name;
    return group.find(' ') == std::string::npos ? group : "\"" + group + "\"";
  }
#endif
  return "Everyone";
}

// The grant's command line for target, as run (on Windows) and printed.
inline std::string GrantCommand(const std::string& target) {
  return "Cacls \"" + target + "\" /T /E /G " + GrantedGroup() + ":R";
}

inline std::string ExecLine(const std::string& target) { return "Exec '" + Shown(GrantCommand(target)) + "'\n"; }
