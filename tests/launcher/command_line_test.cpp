#include "launcher/command_line.h"

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

}  // namespace
}  // namespace quillwave
