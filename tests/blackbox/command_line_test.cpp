// The command line and the environment, as a user meets them.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/run_program.h"
#include "support/sandbox.h"
#include "support/temp_tree.h"

namespace {

#ifdef _WIN32
const char* const kUntouched = "profile/\n";
#else
const char* const kUntouched = "profile/\nsystem/\n";
#endif

std::string Usage(const std::string& program_name) {
  return Text("Syntax:\n\t" + program_name +
              " [ /c | /l | /? ]\n\n"
              "\t - Use with out parameter to capture a snapshot of the\n"
              "\t   Current User start menu.\n"
              "\t - Use with /c to copy any changes from the snapshot to the\n"
              "\t   All Users start menu.\n"
              "\t - Use with /l to list what /c would do, without moving,\n"
              "\t   granting or deleting anything.\n"
#ifndef _WIN32
              // Nothing sets the two variables on POSIX.
              "\t - Export UserProfile=$HOME, SystemRoot=<dir with Profiles/All Users/Start Menu>; put Cacls on PATH.\n"
#endif
  );
}

RunResult Dravonel(const std::vector<std::string>& arguments, const std::vector<std::string>& environment) {
  return RunProgram(BuiltProgram("dravonel"), DravonelArguments(arguments), environment);
}

// Help asked for is the usage text and success; anything else that selects
// no run is the usage text and failure.
TEST(CommandLine, HelpAndWrongArgumentsPrintTheUsageText) {
  Sandbox sandbox;
  struct Row {
    std::vector<std::string> arguments;
    uint32_t status;
  };
  const Row rows[] = {{{"a", "b"}, kFailureStatus}, {{"/c", "/c"}, kFailureStatus}, {{"c"}, kFailureStatus},
                      {{"-c"}, kFailureStatus},     {{"/"}, kFailureStatus},        {{""}, kFailureStatus},
                      {{"/x"}, kFailureStatus},     {{"/?"}, 0u},                   {{"/?", "x"}, kFailureStatus},
                      {{"/??"}, kFailureStatus},    {{"-?"}, kFailureStatus},       {{"?"}, kFailureStatus},
                      {{"/l", "/c"}, kFailureStatus}, {{"-l"}, kFailureStatus},   {{"l"}, kFailureStatus}};
  for (const Row& row : rows) {
    const RunResult run = Dravonel(row.arguments, sandbox.Environment());
    EXPECT_EQ(run.out, Usage("dravonel")) << row.arguments[0];
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.exit_status, row.status) << row.arguments[0];
  }
  // Nothing was written anywhere.
  EXPECT_EQ(ListTree(sandbox.root.path()), kUntouched);
}

TEST(CommandLine, UsageNamesTheProgramAsInvoked) {
  Sandbox sandbox;
  const RunResult run =
      RunProgram(BuiltProgram("dravonel"), {"some name", "x"}, sandbox.Environment());
  EXPECT_EQ(run.out, Usage("some name"));
}

TEST(CommandLine, CopyAndPreviewSwitchesLookAtTwoCharactersOnlyAndWantASnapshot) {
  Sandbox sandbox;
  for (const char* argument : {"/c", "/C", "/cxyz", "/copy", "/l", "/L", "/list"}) {
    // No snapshot file: a copy run, and its preview, print nothing and fail.
    const RunResult run = Dravonel({argument}, sandbox.Environment());
    EXPECT_EQ(run.out, "") << argument;
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.exit_status, kFailureStatus) << argument;
  }
}

// An empty value is no folder: it would put the snapshot at the root.
TEST(Environment, UnsetOrEmptyUserProfileStopsBeforeSystemRootIsConsulted) {
  for (const std::vector<std::string>& variables :
       std::vector<std::vector<std::string>>{{}, {"UserProfile="}, {"UserProfile=", "SystemRoot="}}) {
    std::vector<std::string> environment = BaseEnvironment();
    environment.insert(environment.end(), variables.begin(), variables.end());
    const RunResult run = Dravonel({}, environment);
    EXPECT_EQ(run.out, Text("%UserProfile% isn't set, exiting.\n")) << variables.size();
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.exit_status, kFailureStatus);
  }
}

TEST(Environment, NamesMatchWithoutRegardToCase) {
  Sandbox sandbox;
  std::vector<std::string> environment = BaseEnvironment();
  environment.push_back("USERPROFILE=" + sandbox.profile);
  environment.push_back("systemroot=" + sandbox.system);
  const RunResult run = Dravonel({"/c"}, environment);
  // Got past both lookups: the copy run fails only for want of a snapshot.
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.exit_status, kFailureStatus);
}

TEST(Environment, OverLongUserProfileIsRefusedAndNothingIsWritten) {
  Sandbox sandbox;
  // "\Start Menu" needs 11 bytes more; 249 + 11 = 260 leaves no room for the
  // terminator.
  std::string long_profile = sandbox.profile + Sep();
  long_profile += std::string(249 - long_profile.size(), 'p');
  std::vector<std::string> environment = BaseEnvironment();
  environment.push_back("UserProfile=" + long_profile);
  environment.push_back("SystemRoot=" + sandbox.system);
  for (const std::vector<std::string>& arguments : std::vector<std::vector<std::string>>{{}, {"/c"}}) {
    const RunResult run = Dravonel(arguments, environment);
    EXPECT_EQ(run.out, Text("%UserProfile% is too long, exiting.\n"));
    EXPECT_EQ(run.exit_status, kFailureStatus);
  }
  EXPECT_EQ(ListTree(sandbox.root.path()), kUntouched);
}

#ifndef _WIN32
// Wine puts its own SystemRoot into every child it starts.
TEST(Environment, OverLongSystemRootIsRefused) {
  Sandbox sandbox;
  std::vector<std::string> environment = BaseEnvironment();
  environment.push_back("UserProfile=" + sandbox.profile);
  environment.push_back("SystemRoot=" + sandbox.system + std::string(240, 's'));
  const RunResult run = Dravonel({}, environment);
  EXPECT_EQ(run.out, Text("%SystemRoot% is too long, exiting.\n"));
  EXPECT_EQ(run.exit_status, kFailureStatus);
  EXPECT_EQ(ListTree(sandbox.root.path()), kUntouched);
}

TEST(Environment, UnsetOrEmptySystemRootStopsTheRun) {
  Sandbox sandbox;
  for (const std::vector<std::string>& variables :
       std::vector<std::vector<std::string>>{{}, {"SystemRoot="}}) {
    std::vector<std::string> environment = BaseEnvironment();
    environment.push_back("UserProfile=" + sandbox.profile);
    environment.insert(environment.end(), variables.begin(), variables.end());
    const RunResult run = Dravonel({}, environment);
    EXPECT_EQ(run.out, "%SystemRoot% isn't set, exiting.\n") << variables.size();
    EXPECT_EQ(run.exit_status, kFailureStatus);
  }
  EXPECT_EQ(ListTree(sandbox.root.path()), kUntouched);
}

TEST(Environment, ExactNameWinsOverCaseVariants) {
  Sandbox sandbox;
  std::vector<std::string> environment = BaseEnvironment();
  environment.push_back("USERPROFILE=" + sandbox.root.str() + "/elsewhere" + std::string(300, 'x'));
  environment.push_back("UserProfile=" + sandbox.profile);
  environment.push_back("SystemRoot=" + sandbox.system);
  const RunResult run = Dravonel({"/c"}, environment);
  EXPECT_EQ(run.out, "");  // the over-long variant was never used
}
#endif

// The harness itself: a program that never started has no status, equals
// none of those a run can end with, and every assertion on it says why.
TEST(RunProgram, AProgramThatNeverStartedHasNoStatusAndSaysWhy) {
  TempDir temp;
  const RunResult run = RunProgram((temp.path() / "missing").string(), {"missing"}, BaseEnvironment());
  for (const uint32_t status : {0u, 1u, kFailureStatus, 0xFFFFFFFEu}) {
    EXPECT_FALSE(run.exit_status == status) << status;
  }
  EXPECT_EQ(run.exit_status.no_status.rfind("did not start: 2 ", 0), 0u) << run.exit_status;
  EXPECT_EQ(testing::PrintToString(run.exit_status), run.exit_status.no_status);
  EXPECT_EQ(run.err, run.exit_status.no_status);
}

}  // namespace
