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
#include <string>

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#endif

namespace {

void Field(FILE* out, const char* text) { std::fwrite(text, 1, std::strlen(text) + 1, out); }

#ifdef _WIN32
FILE* OpenLog() {
  std::wstring path(32768, L'\0');
  path.resize(GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size())));
  path.replace(path.find_last_of(L'\\') + 1, std::wstring::npos, L"grants.log");
  return _wfopen(path.c_str(), L"ab");
}

void Record(FILE* out, int, char**) {
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
FILE* OpenLog() {
  char own[4096];
  const ssize_t length = readlink("/proc/self/exe", own, sizeof own);
  if (length <= 0 || static_cast<std::size_t>(length) == sizeof own) return nullptr;
  std::string path(own, static_cast<std::size_t>(length));
  path.replace(path.rfind('/') + 1, std::string::npos, "grants.log");
  return std::fopen(path.c_str(), "ab");
}

void Record(FILE* out, int argc, char** argv) {
  char folder[4096];
  Field(out, getcwd(folder, sizeof folder) != nullptr ? folder : "");
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
    Field(out, output.c_str());
    Field(out, ("status " + std::to_string(WIFEXITED(status) ? WEXITSTATUS(status) : -1)).c_str());
  }
}
#endif

}  // namespace

int main(int argc, char** argv) {
  if (FILE* out = OpenLog()) {
    Record(out, argc, argv);
    std::fputc('\0', out);
    std::fclose(out);
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
