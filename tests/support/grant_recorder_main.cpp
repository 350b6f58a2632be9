// The one stand-in for the access-control editor, for tests that must see
// what each grant was started with. Copied into a folder as "Cacls" (or
// Cacls.exe) and put on PATH, it appends a record to grants.log beside
// itself: on Windows its command line as the system handed it over, on
// POSIX the folder it runs in and then each argument after its name, in
// UTF-8; each field followed by a NUL, and one more NUL after the last.
// It writes a line to its standard output, which is never the program's
// to print. Further fields, each only where it applies:
// - POSIX: "SIGPIPE ignored" when it was started so.
// - Windows: with DRAVONEL_GRANT_RENAME naming a folder, "renamed" or
//   "held": whether that folder could be renamed (and back) while it ran.
// - POSIX: with DRAVONEL_GRANT_START set, that shell command runs first
//   (without the variable); its output and "status N" follow.
// With DRAVONEL_GRANT_STATUS set it then ends with that exit status,
// granting nothing. On POSIX it otherwise becomes the real Cacls named by
// DRAVONEL_REAL_CACLS, when that is set, so that the grant is still made.

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#endif

namespace {

void Field(std::ofstream& out, const std::string& text) {
  out.write(text.c_str(), static_cast<std::streamsize>(text.size() + 1));
}

#ifdef _WIN32
std::filesystem::path Own() {
  std::wstring own(32768, L'\0');
  own.resize(GetModuleFileNameW(nullptr, own.data(), static_cast<DWORD>(own.size())));
  return own;
}

void Record(std::ofstream& out, int, char**) {
  // As Cacls.exe receives it: the wide command line, in UTF-8 as the
  // program speaks, whatever this stand-in's own code page is.
  static char line[4 * 32768];
  if (WideCharToMultiByte(CP_UTF8, 0, GetCommandLineW(), -1, line, sizeof line, nullptr, nullptr) <= 0) line[0] = 0;
  Field(out, line);
  if (const char* folder = std::getenv("DRAVONEL_GRANT_RENAME")) {
    const std::string moved = std::string(folder) + "~";
    const bool renamed = MoveFileA(folder, moved.c_str()) != 0;
    if (renamed) MoveFileA(moved.c_str(), folder);
    Field(out, renamed ? "renamed" : "held");
  }
}
#else
std::filesystem::path Own() { return std::filesystem::read_symlink("/proc/self/exe"); }

void Record(std::ofstream& out, int argc, char** argv) {
  Field(out, std::filesystem::current_path().string());
  for (int i = 1; i < argc; ++i) Field(out, argv[i]);
  struct sigaction pipe_action;
  if (sigaction(SIGPIPE, nullptr, &pipe_action) == 0 && pipe_action.sa_handler == SIG_IGN) {
    Field(out, "SIGPIPE ignored");
  }
  if (const char* started = std::getenv("DRAVONEL_GRANT_START")) {
    const std::string command = started;
    unsetenv("DRAVONEL_GRANT_START");
    std::string output;
    int status = -1;
    if (FILE* pipe = popen(command.c_str(), "r")) {
      char chunk[4096];
      for (std::size_t got; (got = std::fread(chunk, 1, sizeof chunk, pipe)) > 0;) output.append(chunk, got);
      status = pclose(pipe);
    }
    Field(out, output);
    Field(out, "status " + std::to_string(WIFEXITED(status) ? WEXITSTATUS(status) : -1));
  }
}
#endif

}  // namespace

int main(int argc, char** argv) {
  {
    std::ofstream log(Own().replace_filename("grants.log"), std::ios::binary | std::ios::app);
    Record(log, argc, argv);
    log.put('\0');
  }
  std::printf("grant recorder: recorded\n");
  std::fflush(stdout);
  if (const char* status = std::getenv("DRAVONEL_GRANT_STATUS")) return std::atoi(status);
#ifndef _WIN32
  if (const char* real = std::getenv("DRAVONEL_REAL_CACLS")) {
    execv(real, argv);
    return 2;
  }
#endif
  return 0;
}
