// Whole rounds of the built program on real temporary trees: a snapshot
// run, changes made with explicit file times, then a copy run ("/c").

#ifdef _WIN32
// Pseudo consoles came with Windows 10 version 1809.
#define NTDDI_VERSION 0x0A000006
#include <windows.h>
#else
#include <sys/stat.h>
#endif

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "platform/errors.h"
#include "platform/win32.h"
#include "support/grant_log.h"
#include "support/menu_lines.h"
#include "support/run_program.h"
#include "support/sandbox.h"
#include "support/snapshot_image.h"
#include "support/temp_tree.h"
#include "support/tree_state.h"

namespace {

// The line of a move that failed while its source stayed, with the reason
// the system gives for error.
std::string CannotMove(const Sandbox& sandbox, const std::string& relative, DWORD error) {
  return "Cannot move " + User(sandbox, relative) + ": " + ErrorText(error) + "\n";
}

TEST(CopyRun, CarriesAnInstallOverAndGrantsReadAccess) {
  Sandbox sandbox;
  Put(User(sandbox, "Help.lnk"), "help", kThen);
  Put(User(sandbox, "Programs/Accessories/Calculator.lnk"), "calculator 1", kThen);
  Put(User(sandbox, "Programs/Accessories/Notes.lnk"), "notes", kThen);
  // Replaced whatever its age.
  Put(AllUsers(sandbox, "Programs/Accessories/Calculator.lnk"), "shared calculator", kThen + 86400);
  TakeSnapshot(sandbox);

  // The install: a new program folder with a folder of its own, and one
  // existing shortcut rewritten.
  Put(User(sandbox, "Programs/Tool/Tool.lnk"), "tool", kThen + 60);
  Put(User(sandbox, "Programs/Tool/Docs/Readme.lnk"), "readme", kThen + 60);
  Put(User(sandbox, "Programs/Accessories/Calculator.lnk"), "calculator 2", kThen + 3600);
#ifndef _WIN32
  SetMode(User(sandbox, "Programs/Tool"), 0700);
  SetMode(User(sandbox, "Programs/Tool/Docs"), 0700);
  SetMode(User(sandbox, "Programs/Tool/Tool.lnk"), 0600);
  SetMode(User(sandbox, "Programs/Tool/Docs/Readme.lnk"), 0600);
  SetMode(User(sandbox, "Programs/Accessories/Calculator.lnk"), 0600);
#endif

  // The new folder goes whole; its subfolder, gone with it, is tried and
  // fails.
  ExpectCopyRun(sandbox, MovedFile(sandbox, "Programs/Accessories/Calculator.lnk") +
                             MovedDir(sandbox, "Programs/Tool") + UnmovedDir(sandbox, "Programs/Tool/Docs"));
  EXPECT_EQ(ListTree(sandbox.user_menu), "Help.lnk\nPrograms/\nPrograms/Accessories/\nPrograms/Accessories/Notes.lnk\n");
  EXPECT_EQ(ListTree(sandbox.all_users_menu),
            "Programs/\nPrograms/Accessories/\nPrograms/Accessories/Calculator.lnk\n"
            "Programs/Tool/\nPrograms/Tool/Docs/\nPrograms/Tool/Docs/Readme.lnk\nPrograms/Tool/Tool.lnk\n");
  EXPECT_EQ(ReadFile(AllUsers(sandbox, "Programs/Accessories/Calculator.lnk")), "calculator 2");
  EXPECT_EQ(ReadFile(AllUsers(sandbox, "Programs/Tool/Docs/Readme.lnk")), "readme");
#ifndef _WIN32
  EXPECT_EQ(Mode(AllUsers(sandbox, "Programs/Accessories/Calculator.lnk")), 0644u);
  EXPECT_EQ(Mode(AllUsers(sandbox, "Programs/Tool")), 0755u);
  EXPECT_EQ(Mode(AllUsers(sandbox, "Programs/Tool/Docs")), 0755u);
  EXPECT_EQ(Mode(AllUsers(sandbox, "Programs/Tool/Tool.lnk")), 0644u);
  EXPECT_EQ(Mode(AllUsers(sandbox, "Programs/Tool/Docs/Readme.lnk")), 0644u);
#endif

  // The snapshot is used up: a second copy run fails without a word.
  const RunResult again = sandbox.Run({"/c"});
  EXPECT_EQ(again.out, "");
  EXPECT_EQ(again.exit_status, kFailureStatus);
}

TEST(CopyRun, TimesEqualToTheSecondOrEarlierStayPut) {
  Sandbox sandbox;
  fs::create_directories(sandbox.all_users_menu);
  Put(User(sandbox, "Same.lnk"), "same", kThen, 100000000);
  Put(User(sandbox, "Millis.lnk"), "millis", kThen, 100000000);
  Put(User(sandbox, "Backwards.lnk"), "backwards", kThen);
  Put(User(sandbox, "Programs/Rewritten.lnk"), "before", kThen);
  TakeSnapshot(sandbox);

  Put(User(sandbox, "Millis.lnk"), "millis", kThen, 900000000);
  Put(User(sandbox, "Backwards.lnk"), "backwards", kThen - 3600);
  Put(User(sandbox, "Programs/Rewritten.lnk"), "after, same second", kThen);
  // Nothing new or newer: nothing printed, the snapshot still deleted.
  ExpectCopyRun(sandbox, "");
  EXPECT_EQ(ListTree(sandbox.user_menu), "Backwards.lnk\nMillis.lnk\nPrograms/\nPrograms/Rewritten.lnk\nSame.lnk\n");
  EXPECT_EQ(ListTree(sandbox.all_users_menu), "");
}

TEST(CopyRun, RootsFirstFilesAreMovedOneByOne) {
  Sandbox sandbox;
  Put(User(sandbox, "Programs/Tool.lnk"), "tool", kThen);
  fs::create_directories(AllUsers(sandbox, "Programs"));
  TakeSnapshot(sandbox);

  Put(User(sandbox, "First.lnk"), "first", kThen + 60);
  Put(User(sandbox, "Second.lnk"), "second", kThen + 60);
  ExpectCopyRun(sandbox, MovedFile(sandbox, "First.lnk") + MovedFile(sandbox, "Second.lnk"));
  EXPECT_EQ(ListTree(sandbox.user_menu), "Programs/\nPrograms/Tool.lnk\n");
  EXPECT_EQ(ListTree(sandbox.all_users_menu), "First.lnk\nPrograms/\nSecond.lnk\n");
}

TEST(CopyRun, RootsFirstFilesNeverTakeTheStartMenuAlong) {
  Sandbox sandbox;
  // No All Users Start Menu at all: moving the root whole would succeed
  // and carry the user's entire Start Menu away.
  Put(User(sandbox, "Programs/Tool.lnk"), "tool", kThen);
  TakeSnapshot(sandbox);

  Put(User(sandbox, "First.lnk"), "first", kThen + 60);
  ExpectUnfinishedCopyRun(sandbox, UnmovedFile(sandbox, "First.lnk") + CannotMove(sandbox, "First.lnk", ERROR_PATH_NOT_FOUND),
                          true);
  EXPECT_EQ(ListTree(sandbox.user_menu), "First.lnk\nPrograms/\nPrograms/Tool.lnk\n");
  EXPECT_FALSE(fs::exists(sandbox.all_users_menu));

  // Once the All Users Start Menu is there, a rerun carries it over.
  fs::create_directories(sandbox.all_users_menu);
  ExpectCopyRun(sandbox, MovedFile(sandbox, "First.lnk"));
  EXPECT_EQ(ListTree(sandbox.all_users_menu), "First.lnk\n");
}

// Each move that cannot be made is named with the system's reason, and
// leaves both trees as they were; what a folder that cannot be moved holds
// is held back with it, never merged into its namesake; the snapshot
// waits, and once each cause is mended a rerun carries over exactly what
// was left, the held folder whole. A preview first prints the copy run's
// very lines, foreseen by the same checks, Exec lines included, and
// leaves every byte where it was.
TEST(CopyRun, FailedMovesAreNamedForeseenByThePreviewAndARerunFinishesOnceMended) {
  Sandbox sandbox;
  Put(User(sandbox, "Games/Old.lnk"), "old", kThen);
  Put(User(sandbox, "Programs/Tool.lnk"), "tool 1", kThen);
  Put(User(sandbox, "Programs/Done.lnk"), "done 1", kThen);
  Put(User(sandbox, "Apps/Old.lnk"), "old", kThen);
  Put(User(sandbox, "Deep/Sub/Old.lnk"), "old", kThen);
  // A folder where the newer file would go, and a folder that already
  // has a namesake under All Users; Games is missing there altogether.
  // Done.lnk's namesake, newer still, is replaced. A file where a new
  // file's folder should be, and one two levels up.
  Put(AllUsers(sandbox, "Programs/Tool.lnk/inside.lnk"), "inside", kThen);
  Put(AllUsers(sandbox, "Programs/Shared/Other.lnk"), "other", kThen);
  Put(AllUsers(sandbox, "Programs/Done.lnk"), "shared done", kThen + 86400);
  Put(AllUsers(sandbox, "Apps"), "a file", kThen);
  Put(AllUsers(sandbox, "Deep"), "a file", kThen);
#ifndef _WIN32
  // A folder under All Users that is a link to elsewhere.
  Put(User(sandbox, "Links/Old.lnk"), "old", kThen);
  TempDir elsewhere;
  fs::create_directory_symlink(elsewhere.path(), AllUsers(sandbox, "Links"));
#endif
  TakeSnapshot(sandbox);

  Put(User(sandbox, "Games/Chess.lnk"), "chess", kThen + 60);
  Put(User(sandbox, "Games/Cards/Cards.lnk"), "cards", kThen + 60);
  Put(User(sandbox, "Programs/Done.lnk"), "done 2", kThen + 60);
  Put(User(sandbox, "Programs/Tool.lnk"), "tool 2", kThen + 60);
  Put(User(sandbox, "Programs/Shared/Shared.lnk"), "shared", kThen + 60);
  Put(User(sandbox, "Programs/Shared/Help/Help.lnk"), "help", kThen + 60);
  // A new folder whose own new folder goes with it.
  Put(User(sandbox, "Programs/Kit/Docs/Readme.lnk"), "readme", kThen + 60);
  Put(User(sandbox, "Apps/App.lnk"), "app", kThen + 60);
  Put(User(sandbox, "Deep/Sub/Deep.lnk"), "deep", kThen + 60);
#ifdef _WIN32
  const DWORD file_on_the_way = ERROR_PATH_NOT_FOUND;
  const std::string linked = "";
#else
  const DWORD file_on_the_way = ERROR_DIRECTORY;
  Put(User(sandbox, "Links/Link.lnk"), "link", kThen + 60);
  const std::string linked =
      UnmovedFile(sandbox, "Links/Link.lnk") + CannotMove(sandbox, "Links/Link.lnk", ERROR_FILE_NOT_FOUND);
#endif

  const std::string lines =
      UnmovedFile(sandbox, "Apps/App.lnk") + CannotMove(sandbox, "Apps/App.lnk", file_on_the_way) +
      UnmovedFile(sandbox, "Deep/Sub/Deep.lnk") + CannotMove(sandbox, "Deep/Sub/Deep.lnk", file_on_the_way) +
      UnmovedFile(sandbox, "Games/Chess.lnk") + CannotMove(sandbox, "Games/Chess.lnk", ERROR_PATH_NOT_FOUND) +
      UnmovedDir(sandbox, "Games/Cards") + CannotMove(sandbox, "Games/Cards", ERROR_PATH_NOT_FOUND) + linked +
      MovedFile(sandbox, "Programs/Done.lnk") + UnmovedFile(sandbox, "Programs/Tool.lnk") +
      CannotMove(sandbox, "Programs/Tool.lnk", ERROR_ACCESS_DENIED) + MovedDir(sandbox, "Programs/Kit") +
      UnmovedDir(sandbox, "Programs/Kit/Docs") + UnmovedDir(sandbox, "Programs/Shared") +
      CannotMove(sandbox, "Programs/Shared", ERROR_ALREADY_EXISTS) + "Holding back " +
      User(sandbox, "Programs/Shared/Help") + ": " + User(sandbox, "Programs/Shared") + " was not moved\n";
  // On Windows the All Users Start Menu is the Wine prefix's, outside.
  const TreeContents before = ReadTreeContents(sandbox.root.path());
#ifdef _WIN32
  const std::string user_linked = "";
#else
  const std::string user_linked = "Links/\nLinks/Link.lnk\nLinks/Old.lnk\n";
#endif
  const TreeContents all_users_before = ReadTreeContents(sandbox.all_users_menu);
  for (const char* argument : {"/l", "/L", "/list"}) {
    const RunResult preview = sandbox.Run({argument});
    EXPECT_EQ(preview.out, Text(lines + kPreviewLine));
    EXPECT_EQ(preview.exit_status, 0u);
    EXPECT_EQ(preview.err, "");
    EXPECT_EQ(ReadTreeContents(sandbox.root.path()), before);
    EXPECT_EQ(ReadTreeContents(sandbox.all_users_menu), all_users_before);
  }

  ExpectUnfinishedCopyRun(sandbox, lines, true);
  EXPECT_EQ(ListTree(sandbox.user_menu), "Apps/\nApps/App.lnk\nApps/Old.lnk\nDeep/\nDeep/Sub/\nDeep/Sub/Deep.lnk\n"
                                         "Deep/Sub/Old.lnk\nGames/\nGames/Cards/\nGames/Cards/Cards.lnk\nGames/Chess.lnk\n"
                                         "Games/Old.lnk\n" + user_linked + "Programs/\nPrograms/Shared/\n"
                                         "Programs/Shared/Help/\nPrograms/Shared/Help/Help.lnk\n"
                                         "Programs/Shared/Shared.lnk\nPrograms/Tool.lnk\n");
  EXPECT_EQ(ListTree(AllUsers(sandbox, "Programs")), "Done.lnk\nKit/\nKit/Docs/\nKit/Docs/Readme.lnk\nShared/\n"
                                                      "Shared/Other.lnk\nTool.lnk/\nTool.lnk/inside.lnk\n");
  EXPECT_EQ(ReadFile(AllUsers(sandbox, "Apps")), "a file");
  EXPECT_EQ(ReadFile(AllUsers(sandbox, "Deep")), "a file");
  EXPECT_EQ(ReadFile(User(sandbox, "Programs/Tool.lnk")), "tool 2");
  EXPECT_EQ(ReadFile(AllUsers(sandbox, "Programs/Tool.lnk/inside.lnk")), "inside");

  // Mended: Games made, the folder in the file's way, the files in the
  // folders' ways and the namesake folder moved aside. What arrived
  // already is not moved again; the folder held back goes whole.
  fs::create_directories(AllUsers(sandbox, "Games"));
  fs::rename(AllUsers(sandbox, "Programs/Tool.lnk"), AllUsers(sandbox, "Tool folder"));
  fs::rename(AllUsers(sandbox, "Programs/Shared"), AllUsers(sandbox, "Shared before"));
  fs::remove(AllUsers(sandbox, "Apps"));
  fs::remove(AllUsers(sandbox, "Deep"));
  fs::create_directories(AllUsers(sandbox, "Apps"));
  fs::create_directories(AllUsers(sandbox, "Deep/Sub"));
  std::string relinked;
#ifndef _WIN32
  fs::remove(AllUsers(sandbox, "Links"));
  fs::create_directories(AllUsers(sandbox, "Links"));
  relinked = MovedFile(sandbox, "Links/Link.lnk");
#endif
  ExpectCopyRun(sandbox, MovedFile(sandbox, "Apps/App.lnk") + MovedFile(sandbox, "Deep/Sub/Deep.lnk") +
                             MovedFile(sandbox, "Games/Chess.lnk") + MovedDir(sandbox, "Games/Cards") + relinked +
                             MovedFile(sandbox, "Programs/Tool.lnk") + MovedDir(sandbox, "Programs/Shared") +
                             UnmovedDir(sandbox, "Programs/Shared/Help"));
  EXPECT_EQ(ReadFile(AllUsers(sandbox, "Programs/Tool.lnk")), "tool 2");
  EXPECT_EQ(ReadFile(AllUsers(sandbox, "Programs/Done.lnk")), "done 2");
  EXPECT_EQ(ListTree(AllUsers(sandbox, "Programs/Shared")), "Help/\nHelp/Help.lnk\nShared.lnk\n");
  EXPECT_EQ(ReadFile(AllUsers(sandbox, "Apps/App.lnk")), "app");
}

// A grant that does not happen is named with why; the item stays where it
// arrived, and with nothing left to carry over the snapshot is used up.
TEST(CopyRun, GrantsThatDoNotHappenAreNamedAndTheItemsStayMoved) {
  Sandbox sandbox;
  fs::create_directories(sandbox.all_users_menu);
  TempDir empty;
  struct Case {
    const char* name;
    std::string reason;
  };
  for (const Case& grant : {Case{"Missing.lnk", "Cacls is not on PATH"}, Case{"Failing.lnk", "Cacls ended with exit status 3"}}) {
    SCOPED_TRACE(grant.name);
    Put(User(sandbox, "Help.lnk"), "help", kThen);
    TakeSnapshot(sandbox);
    Put(User(sandbox, grant.name), "new", kThen + 60);
    // No Cacls on PATH at all; or one that ends with 3.
    GrantLog log;
    std::vector<std::string> environment = log.Environment(sandbox);
    for (std::string& variable : environment) {
      if (variable.rfind("PATH=", 0) == 0 && grant.reason == "Cacls is not on PATH") variable = "PATH=" + empty.str();
    }
    environment.push_back("DRAVONEL_GRANT_STATUS=3");
    const std::string cannot_grant = "Cannot grant " + AllUsers(sandbox, grant.name) + ": " + grant.reason + "\n";
    // A preview foresees the Cacls that is not there, not one that fails.
    const RunResult preview = sandbox.Run({"/l"}, environment);
    EXPECT_EQ(preview.out, Text(MovedFile(sandbox, grant.name) + (grant.reason == "Cacls is not on PATH" ? cannot_grant : "") +
                                kPreviewLine));
    ExpectUnfinishedCopyRun(sandbox, MovedFile(sandbox, grant.name) + cannot_grant, false, environment);
    EXPECT_EQ(ReadFile(AllUsers(sandbox, grant.name)), "new");
    EXPECT_FALSE(fs::exists(User(sandbox, grant.name)));
  }
}

TEST(CopyRun, DirectoryRenamedOnlyInCaseIsNotNew) {
  Sandbox sandbox;
  Put(User(sandbox, "Programs/Tool/Tool.lnk"), "tool", kThen);
  fs::create_directories(AllUsers(sandbox, "Programs"));
  TakeSnapshot(sandbox);

  // Through another name: Wine takes a rename to the same name in other
  // letters for a rename onto itself and does nothing.
  fs::rename(User(sandbox, "Programs/Tool"), User(sandbox, "Programs/Tool.renaming"));
  fs::rename(User(sandbox, "Programs/Tool.renaming"), User(sandbox, "Programs/TOOL"));
  ExpectCopyRun(sandbox, "");
  EXPECT_EQ(ListTree(sandbox.user_menu), "Programs/\nPrograms/TOOL/\nPrograms/TOOL/Tool.lnk\n");
  EXPECT_EQ(ListTree(sandbox.all_users_menu), "Programs/\n");
}

TEST(CopyRun, SnapshotOfAnotherProfileMakesEveryDirectoryNew) {
  Sandbox sandbox;
  const std::string other = sandbox.root.str() + Sep() + "other";
  for (const std::string& menu : {sandbox.user_menu, PathBelow(other, "Start Menu")}) {
    Put(PathBelow(menu, "Help.lnk"), "help", kThen);
    Put(PathBelow(menu, "Programs/Accessories/Notes.lnk"), "notes", kThen);
  }
  fs::create_directories(AllUsers(sandbox, "Programs"));
  std::vector<std::string> environment = BaseEnvironment();
  environment.push_back("UserProfile=" + other);
  environment.push_back("SystemRoot=" + sandbox.system);
  ASSERT_EQ(sandbox.Run({}, environment).exit_status, 0u);
  fs::copy_file(PathBelow(other, "Dravonel.Dat"), sandbox.snapshot);

  // The root's files count as new one by one; Programs exists under All
  // Users already, and is never merged: Accessories stays with it.
  ExpectUnfinishedCopyRun(sandbox,
                          MovedFile(sandbox, "Help.lnk") + UnmovedDir(sandbox, "Programs") +
                              CannotMove(sandbox, "Programs", ERROR_ALREADY_EXISTS) + "Holding back " +
                              User(sandbox, "Programs/Accessories") + ": " + User(sandbox, "Programs") +
                              " was not moved\n",
                          true);
  EXPECT_EQ(ListTree(sandbox.user_menu), "Programs/\nPrograms/Accessories/\nPrograms/Accessories/Notes.lnk\n");
  EXPECT_EQ(ListTree(sandbox.all_users_menu), "Help.lnk\nPrograms/\n");
}

// Names in any script are the program's own bytes on every system (UTF-8,
// on Windows through the program's manifest): in the snapshot, in the
// lines it prints and in its moves. Three bytes a character can make a
// path too long for its 260-byte buffer although its characters would
// fit: that item is skipped whole, never cut.
TEST(CopyRun, NamesInAnyScriptTravelWhole) {
  Sandbox sandbox;
  Put(User(sandbox, "Help.lnk"), "help", kThen);
  Put(User(sandbox, "Programs/Café/Café.lnk"), "café 1", kThen);
  Put(AllUsers(sandbox, "Programs/Café/Café.lnk"), "shared café", kThen + 86400);
  std::string deep = "Programs/";
  while (User(sandbox, deep).size() + 3 <= 259) deep += "長";
  fs::create_directories(Utf8Path(User(sandbox, deep)));
  TakeSnapshot(sandbox);
  SnapshotImage image;
  ASSERT_EQ(DecodeSnapshotImage(ReadFile(sandbox.snapshot), image), "");
  const ImageTime then{2001, 6, 5, 15, 12, 0, 0, 0};
  EXPECT_EQ(DescribeSnapshotImage(image),
            DescribeSnapshotImage({{sandbox.user_menu, {{"Help.lnk", 1, then}}},
                                   {User(sandbox, "Programs"), {}},
                                   {User(sandbox, "Programs/Café"), {{"Café.lnk", 1, then}}},
                                   {User(sandbox, deep), {}}}));

  Put(User(sandbox, "Programs/日本語/日本語.lnk"), "japanese", kThen + 60);
  Put(User(sandbox, "Programs/Ελληνικά.lnk"), "greek", kThen + 60);
  Put(User(sandbox, "Programs/😀.lnk"), "emoji", kThen + 60);
  Put(User(sandbox, "Programs/Café/Café.lnk"), "café 2", kThen + 3600);
  Put(User(sandbox, deep + "/名前.lnk"), "too long", kThen + 60);
  ExpectUnfinishedCopyRun(sandbox,
                          MovedFile(sandbox, "Programs/Ελληνικά.lnk") + MovedFile(sandbox, "Programs/😀.lnk") +
                              MovedFile(sandbox, "Programs/Café/Café.lnk") + MovedDir(sandbox, "Programs/日本語") +
                              "Skipping File " + User(sandbox, deep + "/名前.lnk") + ": path too long\n",
                          true);
  EXPECT_EQ(ListTree(sandbox.all_users_menu),
            "Programs/\nPrograms/Café/\nPrograms/Café/Café.lnk\nPrograms/Ελληνικά.lnk\n"
            "Programs/日本語/\nPrograms/日本語/日本語.lnk\nPrograms/😀.lnk\n");
  EXPECT_EQ(ListTree(sandbox.user_menu), "Help.lnk\nPrograms/\nPrograms/Café/\n" + deep + "/\n" + deep + "/名前.lnk\n");
  EXPECT_EQ(ReadFile(Utf8Path(AllUsers(sandbox, "Programs/Café/Café.lnk"))), "café 2");
  EXPECT_EQ(ReadFile(Utf8Path(AllUsers(sandbox, "Programs/日本語/日本語.lnk"))), "japanese");
}

#ifdef _WIN32
// A run of the built program from a prompt: standard output and error are
// a console, of a pseudo console that the test joins through a waiting
// interpreter (a test has no console of its own). What the console shows,
// a line a row, and its output code page after the run, which was
// code_page before it.
struct ConsoleRun {
  std::string screen;
  UINT code_page_after;
  DWORD exit_status;
};

ConsoleRun RunInConsole(const Sandbox& sandbox, const std::string& arguments, UINT code_page) {
  ConsoleRun run{"", 0, 0xFFFFFFFEu};
  SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  // Input that never comes, for the console and the interpreter alike, and
  // rendered output that is never read: the pipe holds every screen.
  HANDLE silence, silence_end, shown_end, shown;
  CreatePipe(&silence, &silence_end, &inheritable, 0);
  CreatePipe(&shown_end, &shown, nullptr, 1 << 20);
  HPCON console = nullptr;
  EXPECT_EQ(CreatePseudoConsole(COORD{400, 50}, silence, shown, 0, &console), S_OK);
  SIZE_T size = 0;
  InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
  std::vector<char> attributes(size);
  auto* list = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(attributes.data());
  InitializeProcThreadAttributeList(list, 1, 0, &size);
  UpdateProcThreadAttribute(list, 0, PROC_THREAD_ATTRIBUTE_PSEUDOCONSOLE, console, sizeof console, nullptr, nullptr);
  STARTUPINFOEXA waiting{};
  waiting.StartupInfo.cb = sizeof waiting;
  waiting.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
  waiting.StartupInfo.hStdInput = silence;
  waiting.lpAttributeList = list;
  std::string line = "cmd.exe /q /k";
  PROCESS_INFORMATION keeper{};
  EXPECT_TRUE(CreateProcessA(nullptr, line.data(), nullptr, nullptr, TRUE, EXTENDED_STARTUPINFO_PRESENT, nullptr,
                             nullptr, &waiting.StartupInfo, &keeper));
  FreeConsole();
  bool attached = false;
  for (int attempt = 0; attempt < 3000 && !attached; ++attempt) {
    attached = AttachConsole(keeper.dwProcessId);  // once the interpreter has started
    if (!attached) Sleep(10);
  }
  EXPECT_TRUE(attached);
  if (attached) {
    SetConsoleOutputCP(code_page);
    const HANDLE screen = CreateFileA("CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                      &inheritable, OPEN_EXISTING, 0, nullptr);
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = startup.hStdError = screen;
    std::string block;
    for (const std::string& variable : sandbox.Environment()) block += variable + '\0';
    block += '\0';
    line = "dravonel " + arguments;
    PROCESS_INFORMATION process{};
    EXPECT_TRUE(CreateProcessA(BuiltProgram("dravonel").c_str(), line.data(), nullptr, nullptr, TRUE, 0,
                               block.data(), nullptr, &startup, &process));
    WaitForSingleObject(process.hProcess, INFINITE);
    GetExitCodeProcess(process.hProcess, &run.exit_status);
    run.code_page_after = GetConsoleOutputCP();
    CONSOLE_SCREEN_BUFFER_INFO info{};
    GetConsoleScreenBufferInfo(screen, &info);
    std::wstring row(static_cast<std::size_t>(info.dwSize.X), L' ');
    for (SHORT y = 0; y < info.dwCursorPosition.Y; ++y) {
      DWORD read = 0;
      ReadConsoleOutputCharacterW(screen, row.data(), static_cast<DWORD>(row.size()), COORD{0, y}, &read);
      run.screen += fs::path(row.substr(0, row.find_last_not_of(L' ') + 1)).string() + "\n";
    }
    for (HANDLE handle : {process.hThread, process.hProcess, screen}) CloseHandle(handle);
    FreeConsole();
  }
  TerminateProcess(keeper.hProcess, 0);
  WaitForSingleObject(keeper.hProcess, INFINITE);
  ClosePseudoConsole(console);
  for (HANDLE handle : {keeper.hThread, keeper.hProcess, silence, silence_end, shown_end, shown}) CloseHandle(handle);
  return run;
}

// At a prompt the names show as they were named, and the console gets its
// own code page back however the program ends.
TEST(CopyRun, ConsoleShowsNamesAsNamedAndKeepsItsCodePage) {
  Sandbox sandbox;
  Put(User(sandbox, "Help.lnk"), "help", kThen);
  fs::create_directories(sandbox.all_users_menu);
  TakeSnapshot(sandbox);

  Put(User(sandbox, "Ελληνικά 日本語 😀.lnk"), "new", kThen + 60);
  std::string shown = MovedFile(sandbox, "Ελληνικά 日本語 😀.lnk");
  shown.erase(shown.find(" \n"), 1);  // a row keeps no trailing space
  const ConsoleRun copy = RunInConsole(sandbox, "/c", 850);
  EXPECT_EQ(copy.screen, shown);
  EXPECT_EQ(copy.code_page_after, 850u);
  EXPECT_EQ(copy.exit_status, 0u);
  // The snapshot is used up: -1 at once.
  const ConsoleRun failed = RunInConsole(sandbox, "/c", 437);
  EXPECT_EQ(failed.code_page_after, 437u);
  EXPECT_EQ(failed.exit_status, kFailureStatus);
}

// Rounds in a Wine prefix's own Start Menus, laid out as on Windows Vista to
// 11, with nothing set but what Wine sets: ctest gives them a fresh prefix.
struct PrefixFolders {
  ~PrefixFolders() {
    std::error_code error;
    for (const std::string& path : {nt4_user_menu, system + "\\Profiles", PathBelow(common_menu, "Programs/Notes.lnk"),
                                    PathBelow(common_menu, "Programs/Sketch Pad")}) {
      fs::remove_all(path, error);
    }
  }
  std::string profile = std::getenv("USERPROFILE");
  std::string system = std::getenv("SystemRoot");
  std::string user_menu = std::string(std::getenv("APPDATA")) + "\\Microsoft\\Windows\\Start Menu";
  std::string common_menu = std::string(std::getenv("ProgramData")) + "\\Microsoft\\Windows\\Start Menu";
  std::string nt4_user_menu = profile + "\\Start Menu";
  std::string nt4_common_menu = system + "\\Profiles\\All Users\\Start Menu";
};

// A snapshot; an install of a new folder and of a newer file whose namesake
// is in the common Start Menu; a copy run moving both there.
void ExpectRound(const PrefixFolders& prefix, const std::string& from, const std::string& to) {
  std::vector<std::string> environment = BaseEnvironment();
  environment.insert(environment.end(), {"UserProfile=" + prefix.profile, "SystemRoot=" + prefix.system});
  const auto run = [&](const std::vector<std::string>& arguments) {
    return RunProgram(BuiltProgram("dravonel"), DravonelArguments(arguments), environment);
  };
  Put(PathBelow(from, "Programs/Notes.lnk"), "notes 1", kThen);
  Put(PathBelow(to, "Programs/Notes.lnk"), "shared notes", kThen + 86400);
  EXPECT_EQ(run({}).exit_status, 0u);
  Put(PathBelow(from, "Programs/Notes.lnk"), "notes 2", kThen + 3600);
  Put(PathBelow(from, "Programs/Sketch Pad/Sketch Pad.lnk"), "sketch pad", kThen + 60);
  const RunResult copy = run({"/c"});
  const std::string notes = PathBelow(to, "Programs/Notes.lnk");
  const std::string pad = PathBelow(to, "Programs/Sketch Pad");
  EXPECT_EQ(copy.out, Text(MovingFileLine(PathBelow(from, "Programs/Notes.lnk"), notes) + ExecLine(notes) +
                           MovingDirLine(PathBelow(from, "Programs/Sketch Pad"), pad) + ExecLine(pad)));
  EXPECT_EQ(copy.exit_status, 0u);
  EXPECT_EQ(ReadFile(notes), "notes 2");
  EXPECT_EQ(ReadFile(pad + "\\Sketch Pad.lnk"), "sketch pad");
}

TEST(ShellFolders, AnInstallIntoTheAppDataStartMenuArrivesInTheProgramDataOne) {
  const PrefixFolders prefix;
  ASSERT_FALSE(fs::exists(prefix.nt4_user_menu) || fs::exists(prefix.nt4_common_menu));
  ExpectRound(prefix, prefix.user_menu, prefix.common_menu);
}

TEST(ShellFolders, TheNt4FoldersWinWhereTheyExist) {
  const PrefixFolders prefix;
  fs::create_directories(PathBelow(prefix.nt4_user_menu, "Programs"));
  fs::create_directories(PathBelow(prefix.nt4_common_menu, "Programs"));
  ExpectRound(prefix, prefix.nt4_user_menu, prefix.nt4_common_menu);
}
#endif

// Names that a shell or the command interpreter would act on. On Windows a
// file name cannot hold a double quote (nor < > |), so the quoted command
// line keeps everything else literal there.
#ifdef _WIN32
const char* const kHostileFile = "a$(touch pwned1)`touch pwned2`;x & mkdir pwned3 & ^'q'.lnk";
const char* const kHostileDir = "d&mkdir pwned4";
#else
const char* const kHostileFile = "a\"$(touch pwned1)`touch pwned2`;x.lnk";
const char* const kHostileDir = "d;touch pwned4 &";
#endif

TEST(CopyRun, HostileNamesAreMovedAndGrantedWithNothingInterpreted) {
  Sandbox sandbox;
  Put(User(sandbox, "Help.lnk"), "help", kThen);
  fs::create_directories(sandbox.all_users_menu);
  TakeSnapshot(sandbox);

  Put(User(sandbox, kHostileFile), "hostile", kThen + 60);
  Put(User(sandbox, std::string(kHostileDir) + "/x.lnk"), "x", kThen + 60);
#ifndef _WIN32
  const std::string newline = "new\nline $HOME 'q'.lnk";
  Put(User(sandbox, newline), "newline", kThen + 60);
  SetMode(User(sandbox, kHostileFile), 0600);
  SetMode(User(sandbox, newline), 0600);
  SetMode(User(sandbox, kHostileDir), 0700);
  ExpectCopyRun(sandbox, MovedFile(sandbox, kHostileFile) + MovedFile(sandbox, newline) +
                             MovedDir(sandbox, kHostileDir));
  EXPECT_EQ(ListTree(sandbox.all_users_menu), std::string(kHostileFile) + "\n" + kHostileDir + "/\n" +
                                                  kHostileDir + "/x.lnk\n" + newline + "\n");
  EXPECT_EQ(Mode(AllUsers(sandbox, kHostileFile)), 0644u);
  EXPECT_EQ(Mode(AllUsers(sandbox, newline)), 0644u);
  EXPECT_EQ(Mode(AllUsers(sandbox, kHostileDir)), 0755u);
#else
  ExpectCopyRun(sandbox, MovedFile(sandbox, kHostileFile) + MovedDir(sandbox, kHostileDir));
  EXPECT_EQ(ListTree(sandbox.all_users_menu), std::string(kHostileFile) + "\n" + kHostileDir + "/\n" +
                                                  kHostileDir + "/x.lnk\n");
#endif
  EXPECT_EQ(ListTree(sandbox.user_menu), "Help.lnk\n");
  for (const fs::path& place : {sandbox.root.path(), fs::current_path(), fs::path(BuiltProgramFolder())}) {
    for (const char* pwned : {"pwned1", "pwned2", "pwned3", "pwned4"}) {
      EXPECT_FALSE(fs::exists(place / pwned)) << (place / pwned);
    }
  }
  // Nor anywhere below the sandbox (the names themselves hold "pwned").
  for (const auto& entry : fs::recursive_directory_iterator(sandbox.root.path())) {
    EXPECT_NE(entry.path().filename().string().rfind("pwned", 0), 0u) << entry.path();
  }
}

}  // namespace
