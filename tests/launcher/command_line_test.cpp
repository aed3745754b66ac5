#include "launcher/own_arguments.h"

#include <gtest/gtest.h>

#include <random>

#include "platform/command_line.h"
#include "platform/encoding.h"
#include "tests/support/child_process.h"

namespace quillwave {
namespace {

using platform::QuoteArgument;
using platform::QuoteArgumentIfNeeded;

// The folder the engine opens: it takes the last value, reads switches only
// before "--", trims white space, and takes "-" (Windows also "/" and any
// letter case) for "--".
TEST(UserDataDirFromArguments, TakesTheFolderAsTheEngineReadsIt) {
#ifdef _WIN32
  const std::wstring on_windows = L"a";
#else
  const std::wstring on_windows;
#endif
  const std::pair<std::vector<std::wstring>, std::wstring> rows[] = {
      {{L"--user-data-dir=D:\\p"}, L"D:\\p"},
      {{L"--x", L"--user-data-dir=a", L"--user-data-dir=b"}, L"b"},
      {{L"--user-data-dir=", L"--user-data-dir=b"}, L"b"},
      {{L"--user-data-dir=a", L"--user-data-dir="}, L""},
      {{L"--user-data-dir=a", L"--user-data-dir"}, L""},
      {{L"-user-data-dir=a"}, L"a"},
      {{L" --user-data-dir=a\t"}, L"a"},
      {{L"--user-data-dir=a", L" -- ", L"--user-data-dir=b"}, L"a"},
      {{L"---user-data-dir=a"}, L""},
      {{L"x--user-data-dir=D:\\p"}, L""},
      {{L"--User-Data-Dir=a"}, on_windows},
      {{L"/user-data-dir=a"}, on_windows},
      {{L"/USER-DATA-DIR=a"}, on_windows},
      {{}, L""},
  };
  for (const auto& [arguments, folder] : rows) {
    EXPECT_EQ(UserDataDirFromArguments(arguments), folder) << (arguments.empty() ? "" : Narrow(arguments.back()));
  }
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

// Whatever tail the caller gives, the engine's split of its command line
// (the system's own on Windows) is the caller's own split, with the
// launcher's arguments before its first "--", never inside its quotes.
TEST(WindowsCommandLine, LaunchersArgumentsStayOutsideTheCallersQuotesAndBeforeItsDoubleDash) {
  std::mt19937 random(20261219);
  const std::wstring alphabet = L"a--  \t\"\"\\";
  for (int round = 0; round < 4000; ++round) {
    std::wstring tail;
    const int length = static_cast<int>(random() % 14);
    for (int k = 0; k < length; ++k) tail += alphabet[random() % alphabet.size()];
    std::vector<std::wstring> own = test::SplitWindowsCommandLine(L"p " + tail);
    own.erase(own.begin());
    const auto end = own.begin() + static_cast<std::ptrdiff_t>(platform::FirstSwitchEnd(own));
    std::vector<std::wstring> expected{L"e.exe", L"--fixed"};
    expected.insert(expected.end(), own.begin(), end);
    expected.insert(expected.end(), {L"--lang=de", L"chrome://version"});
    expected.insert(expected.end(), end, own.end());
    const platform::ProcessLaunch launch{L"e.exe",
                                         {{L"--fixed"}, {L"--lang=de"}, {L"chrome://version", true}},
                                         {tail, {}},
                                         1};
    ASSERT_EQ(test::SplitWindowsCommandLine(platform::WindowsCommandLine(launch)), expected) << Narrow(tail);
  }
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
