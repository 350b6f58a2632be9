// A stand-in for the access-control editor, for tests that must see which
// item each grant reached. Copied into a folder of its own as "Cacls" (or
// Cacls.exe) and put first on the program's PATH, it appends what it was
// started with to the file named by DRAVONEL_GRANT_LOG: on Windows its
// command line as the system handed it over, on POSIX each argument after
// its name, in UTF-8; each followed by a NUL, and one more NUL after the last. On
// POSIX it then becomes the real Cacls named by DRAVONEL_REAL_CACLS, when
// that is set, so that the grant is still made. With DRAVONEL_GRANT_STATUS
// set it ends with that exit status instead, granting nothing. On Windows,
// when DRAVONEL_GRANT_RENAME names a folder, it tries to rename that folder
// (to the same name with "~" added, and back) while it runs, and records
// "renamed" or "held" after the command line.

#include <cstdio>
#include <cstdlib>
#include <cstring>

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

int main(int argc, char** argv) {
  const char* log = std::getenv("DRAVONEL_GRANT_LOG");
  if (log != nullptr) {
    if (FILE* out = std::fopen(log, "ab")) {
#ifdef _WIN32
      // As Cacls.exe receives it: the wide command line, in UTF-8 as the
      // program speaks, whatever this stand-in's own code page is.
      char line[4 * 32768];
      const int length = WideCharToMultiByte(CP_UTF8, 0, GetCommandLineW(), -1, line, sizeof line, nullptr, nullptr);
      std::fwrite(line, 1, length > 0 ? static_cast<std::size_t>(length) : 1u, out);
      if (const char* folder = std::getenv("DRAVONEL_GRANT_RENAME")) {
        char moved[MAX_PATH];
        std::snprintf(moved, sizeof moved, "%s~", folder);
        const bool renamed = MoveFileA(folder, moved) != 0;
        if (renamed) MoveFileA(moved, folder);
        const char* outcome = renamed ? "renamed" : "held";
        std::fwrite(outcome, 1, std::strlen(outcome) + 1, out);
      }
#else
      for (int i = 1; i < argc; ++i) std::fwrite(argv[i], 1, std::strlen(argv[i]) + 1, out);
#endif
      std::fputc('\0', out);
      std::fclose(out);
    }
  }
  if (const char* status = std::getenv("DRAVONEL_GRANT_STATUS")) return std::atoi(status);
#ifndef _WIN32
  if (const char* real = std::getenv("DRAVONEL_REAL_CACLS")) {
    execv(real, argv);
    return 2;
  }
#else
  (void)argc;
  (void)argv;
#endif
  return 0;
}
