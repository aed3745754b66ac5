#include "launcher/command_line.h"

#include <gtest/gtest.h>

#include <random>

#include "platform/command_line.h"
#include "tests/support/child_process.h"

namespace quillwave {
namespace {

using platform::QuoteArgument;
using platform::QuoteArgumentIfNeeded;

TEST(UserDataDirFromArguments, TakesTheFirstNonEmptyExactlySpelledArgument) {
  EXPECT_EQ(UserDataDirFromArguments({L"--user-data-dir=D:\\p"}), L"D:\\p");
  EXPECT_EQ(UserDataDirFromArguments({L"--x", L"--user-data-dir=a", L"--user-data-dir=b"}), L"a");
  EXPECT_EQ(UserDataDirFromArguments({L"--user-data-dir=", L"--user-data-dir=b"}), L"b");
  EXPECT_EQ(UserDataDirFromArguments({L"--User-Data-Dir=D:\\p"}), L"");
  EXPECT_EQ(UserDataDirFromArguments({L"--user-data-dir"}), L"");
  EXPECT_EQ(UserDataDirFromArguments({L"x--user-data-dir=D:\\p"}), L"");
  EXPECT_EQ(UserDataDirFromArguments({}), L"");
}

TEST(LauncherDataFolderIn, AppendsCorvaneWithSeparators) {
  EXPECT_EQ(LauncherDataFolderIn(L""), L"");
#ifdef _WIN32
  EXPECT_EQ(LauncherDataFolderIn(L"C:\\Users\\u\\AppData\\Local"), L"C:\\Users\\u\\AppData\\Local\\Corvane\\");
#else
  EXPECT_EQ(LauncherDataFolderIn(L"/home/u/.local/share"), L"/home/u/.local/share/Corvane/");
#endif
}

TEST(QuoteArgument, LeavesPlainArgumentsAloneAndQuotesTheRest) {
  EXPECT_EQ(QuoteArgumentIfNeeded(L"--lang=de"), L"--lang=de");
  EXPECT_EQ(QuoteArgumentIfNeeded(L"C:\\dir\\"), L"C:\\dir\\");  // backslashes alone are literal
  EXPECT_EQ(QuoteArgumentIfNeeded(L""), L"\"\"");
  EXPECT_EQ(QuoteArgumentIfNeeded(L"a b"), L"\"a b\"");
  EXPECT_EQ(QuoteArgumentIfNeeded(L"a\"b"), L"\"a\\\"b\"");
  EXPECT_EQ(QuoteArgumentIfNeeded(L"a\\\"b"), L"\"a\\\\\\\"b\"");
  EXPECT_EQ(QuoteArgumentIfNeeded(L"C:\\my dir\\"), L"\"C:\\my dir\\\\\"");
  EXPECT_EQ(QuoteArgument(L"chrome://version"), L"\"chrome://version\"");
}

// Whatever an argument holds, the split gives it back (against the system's
// own splitter on Windows).
TEST(QuoteArgument, RoundTripsRandomArgumentLists) {
  std::mt19937 random(20261208);
  const std::wstring alphabet = L"ab \t\"\\=-x\u00e9";
  for (int round = 0; round < 2000; ++round) {
    std::vector<std::wstring> arguments{L"prog.exe"};
    std::wstring command_line = L"\"prog.exe\"";
    const int count = 1 + static_cast<int>(random() % 4);
    for (int i = 0; i < count; ++i) {
      std::wstring argument;
      const int length = static_cast<int>(random() % 8);
      for (int k = 0; k < length; ++k) argument += alphabet[random() % alphabet.size()];
      arguments.push_back(argument);
      command_line += L" " + QuoteArgumentIfNeeded(argument);
    }
    ASSERT_EQ(test::SplitWindowsCommandLine(command_line), arguments) << command_line;
  }
}

}  // namespace
}  // namespace quillwave
