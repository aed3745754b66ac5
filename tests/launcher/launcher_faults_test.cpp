// The launcher as a black box under hostile input: bytes no argument can
// carry, a persona that cannot be read, descriptors it must not pass on.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "platform/encoding.h"
#include "tests/launcher/launcher_fixture.h"

#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace quillwave {
namespace {

using namespace std::string_literals;

// Why the launcher of these tests has no window: on Linux no window module
// lies beside it, under Wine without a display the window cannot be made.
#ifdef _WIN32
const std::string kNoWindowHere = "window creation failed";
#else
const std::string kNoWindowHere = "window module missing";
#endif

class LauncherFaults : public LauncherFixture {
 protected:
  LauncherFaults() : LauncherFixture(QUILLWAVE_LAUNCHER_PATH) {}
};

// NUL bytes and invalid UTF-8 in the persona and the WebGL profiles: every
// value stays one argument, ends at a NUL on both systems (a NUL would end
// a whole Windows command line), and broken bytes become U+FFFD.
TEST_F(LauncherFaults, NulAndInvalidUtf8StayInsideTheirOwnArguments) {
  test::WriteTextFile(profile() / "command-line.json",
                      "{\"webgl-profile\": \"gpu\", \"x\0\": \"\xFF\", \"start-page\": "
                      "\"http://a.test/\xC3(\xFF?q=1\0 --renderer-cmd-prefix=x\"}"s);
  test::WriteTextFile(
      app() / "corvane-webgl-profiles.json",
      "{\"gpu\": {\"gl-vendor\": \"Ven\0dor --renderer-cmd-prefix=x\", \"gl-renderer\": \"R\xE9nderer\"}}"s);
  const auto result = Run({user_data_arg()});
  EXPECT_EQ(result.exit_code, 0);
  std::vector<std::wstring> switches = MachineSwitches();
  switches.insert(switches.end(),
                  {L"--gl-renderer=R\uFFFDnderer", L"--gl-vendor=Ven", L"http://a.test/\uFFFD(\uFFFD?q=1"});
  EXPECT_EQ(EngineArguments(), Expected({user_data_arg()}, switches));
  EXPECT_EQ(StripTimestamp(test::ReadTextFile(profile() / ".corvane-launcher-result.json")), kPassthrough);
}

// A start page the engine would read as a switch (it could run a program),
// or one longer than the system lets its command line be, is set aside: the
// engine opens the default page, the record says why, and previous tabs are
// still closed as the persona asked.
TEST_F(LauncherFaults, StartPageThatReadsAsASwitchOrIsTooLongIsNotUsed) {
  const std::string ignored = "start-page ignored: it would be read as an engine switch";
  const std::string too_long = "start-page ignored: longer than the engine's command line allows";
  struct Case {
    std::string start_page;  // JSON text
    std::wstring engine_gets;
    std::string extra;  // more persona members
    std::string record;
    std::wstring caller_argument = {};  // given to the launcher after the profile
  };
  std::vector<Case> cases = {
      {"--renderer-cmd-prefix=x", L"chrome://version", "", RecordWith("passthrough", "", ignored)},
      {"-x", L"chrome://version", "", RecordWith("passthrough", "", ignored)},
      {" --x", L"chrome://version", "", RecordWith("passthrough", "", ignored)},
      {"\\t--x", L"chrome://version", "", RecordWith("passthrough", "", ignored)},
      {"\u00a0--x", L"chrome://version", "", RecordWith("passthrough", "", ignored)},
      {"https://example.org/--x", L"https://example.org/--x", "", kPassthrough},
      // Without a window the lookup runs all the same (here it fails, and the
      // persona falls back): both notes, in the order they arose.
      {"--x", L"chrome://version",
       R"(, "auto-timezone": true, "proxy-server": "socks5://127.0.0.1:1", "on-proxy-fail": "fallback")",
       std::regex_replace(
           RecordWith("ok", "", "no progress window (" + kNoWindowHere + "); discovery ran without it; " + ignored),
           std::regex("\"elapsed_ms\":0,\"provider\":\"\""), "\"elapsed_ms\":MS,\"provider\":\"scnd\"")}};
#ifdef _WIN32
  cases.push_back({"/x", L"chrome://version", "", RecordWith("passthrough", "", ignored)});
  // The whole command line may hold 32 766 characters.
  const std::string longest = "https://a.test/" + std::string(30000, 'x');
  cases.push_back({longest, Widen(longest), "", kPassthrough});
  cases.push_back({longest + std::string(2767, 'x'), L"chrome://version", "", RecordWith("passthrough", "", too_long)});
#else
  // One argument may hold 128 KiB with its terminating NUL.
  const std::string longest = "https://a.test/" + std::string(128 * 1024 - 16, 'x');
  cases.push_back({longest, Widen(longest), "", kPassthrough});
  cases.push_back({longest + "x", L"chrome://version", "", RecordWith("passthrough", "", too_long)});
  // Bytes that are no UTF-8 count once each, as the engine receives them.
  cases.push_back(
      {"https://a.test/", L"https://a.test/", "", kPassthrough, platform::BytesToWide(std::string(50000, '\xFF'))});
#endif
  for (const auto& c : cases) {
    fs::remove(engine_run());
    test::WriteTextFile(profile() / "Default" / "Current Tabs", "tabs");
    test::WriteTextFile(profile() / "command-line.json", "{\"start-page\": \"" + c.start_page + "\"" + c.extra + "}");
    std::vector<std::wstring> arguments{user_data_arg()};
    if (!c.caller_argument.empty()) arguments.push_back(c.caller_argument);
    EXPECT_EQ(Run(arguments).exit_code, 0) << c.start_page;
    const auto received = EngineArguments();
    ASSERT_FALSE(received.empty());
    EXPECT_EQ(received.back(), c.engine_gets) << c.start_page;
    EXPECT_EQ(StripElapsed(test::ReadTextFile(profile() / ".corvane-launcher-result.json")), StripElapsed(c.record))
        << c.start_page;
    EXPECT_FALSE(fs::exists(profile() / "Default" / "Current Tabs")) << c.start_page;
  }
}

// A persona path that is a folder (or, on Linux, a FIFO, which must not
// block the launch, or a link to nothing or to itself), a persona too large
// to be one, or one that never ends is a persona that cannot be read: the
// defaults apply, never the persona of the launcher data folder.
TEST_F(LauncherFaults, PersonaThatIsNoRegularFileGivesTheDefaults) {
  test::WriteTextFile(data_folder() / "command-line.json", R"({"granular-storage-reset": {"all": true}})");
  test::WriteTextFile(profile() / "Default" / "Cookies", "x");
  std::vector<std::wstring> switches = MachineSwitches();
  switches.push_back(L"chrome://version");
  fs::create_directories(profile() / "command-line.json" / "inside");
  const auto result = Run({user_data_arg()}, {{L"DISPLAY", L""}}, 20s);
  EXPECT_FALSE(result.timed_out);
  EXPECT_EQ(EngineArguments(), Expected({user_data_arg()}, switches));
#ifndef _WIN32
  fs::remove_all(profile() / "command-line.json");
  fs::remove(engine_run());
  ASSERT_EQ(::mkfifo((profile() / "command-line.json").c_str(), 0644), 0);
  const auto fifo_result = Run({user_data_arg()}, {{L"DISPLAY", L""}}, 20s);
  EXPECT_FALSE(fifo_result.timed_out);
  EXPECT_EQ(EngineArguments(), Expected({user_data_arg()}, switches));
  // A persona that never ends.
  fs::remove(profile() / "command-line.json");
  fs::remove(engine_run());
  fs::create_symlink("/proc/self/pagemap", profile() / "command-line.json");
  EXPECT_EQ(Run({user_data_arg()}).exit_code, 0);
  EXPECT_EQ(EngineArguments(), Expected({user_data_arg()}, switches));
  for (const fs::path& target : {dir_.path() / "missing.json", profile() / "command-line.json"}) {
    fs::remove(profile() / "command-line.json");
    fs::remove(engine_run());
    fs::create_symlink(target, profile() / "command-line.json");
    EXPECT_EQ(Run({user_data_arg()}).exit_code, 0);
    EXPECT_EQ(EngineArguments(), Expected({user_data_arg()}, switches));
  }
#endif
  // A persona that claims a terabyte: too large to be a persona.
  fs::remove_all(profile() / "command-line.json");
  fs::remove(engine_run());
  test::WriteTextFile(profile() / "command-line.json", R"({"start-page": "about:blank"})");
#ifdef _WIN32
  fs::resize_file(profile() / "command-line.json", std::uintmax_t{1} << 30);  // the MinGW runtime stops below 2 GiB
#else
  fs::resize_file(profile() / "command-line.json", std::uintmax_t{1} << 40);
#endif
  EXPECT_EQ(Run({user_data_arg()}).exit_code, 0);
  EXPECT_EQ(EngineArguments(), Expected({user_data_arg()}, switches));
  EXPECT_EQ(StripTimestamp(test::ReadTextFile(profile() / ".corvane-launcher-result.json")), kPassthrough);
  EXPECT_TRUE(fs::exists(profile() / "Default" / "Cookies"));
}

#ifndef _WIN32
// Linux folder names are bytes: a profile ending in byte E9 is not the one
// ending in the bytes of U+FFFD beside it. The engine gets the caller's
// bytes, and the other folder's persona, files and record stay untouched.
TEST_F(LauncherFaults, ProfileNamedInBytesThatAreNoUtf8IsThatFolder) {
  const fs::path named = profile().string() + "\xE9";
  const fs::path lookalike = profile().string() + "\xEF\xBF\xBD";
  for (const fs::path& folder : {named, lookalike}) {
    test::WriteTextFile(folder / "command-line.json", R"({"start-page": "about:)" +
                                                          std::string(folder == named ? "named" : "lookalike") +
                                                          R"(", "granular-storage-reset": {"cookies": true}})");
    test::WriteTextFile(folder / "Default" / "Cookies", "x");
  }
  const std::string argument = "--user-data-dir=" + named.string();
  EXPECT_EQ(Run({platform::BytesToWide(argument)}).exit_code, 0);
  EngineArguments();
  const std::string received = test::ReadFileOnceReadable(engine_run(), 5s);
  EXPECT_NE(received.find('\0' + argument + '\0'), std::string::npos) << received;
  EXPECT_TRUE(received.ends_with("\0about:named\0"s)) << received;
  EXPECT_FALSE(fs::exists(named / "Default" / "Cookies"));
  EXPECT_EQ(StripTimestamp(test::ReadTextFile(named / ".corvane-launcher-result.json")), kPassthrough);
  EXPECT_TRUE(fs::exists(lookalike / "Default" / "Cookies"));
  EXPECT_FALSE(fs::exists(lookalike / ".corvane-launcher-result.json"));
}

// The launcher itself may be handed stray descriptors; the engine gets none
// of them, only standard input, output and error.
TEST_F(LauncherFaults, EngineInheritsOnlyTheThreeStandardDescriptors) {
  test::WriteTextFile(profile() / "command-line.json", R"({"start-page": "about:blank"})");
  const int opened = ::open(profile().c_str(), O_RDONLY | O_DIRECTORY);
  ASSERT_GE(opened, 0);
  const int stray = ::dup2(opened, 57);  // dup2 leaves close-on-exec off
  ::close(opened);
  ASSERT_EQ(stray, 57);
  const auto result = Run({user_data_arg()});
  ::close(stray);
  EXPECT_EQ(result.exit_code, 0);
  EngineArguments();
  std::vector<std::string> numbers;
  std::istringstream lines(test::ReadTextFile(app() / "engine-fds.txt"));
  for (std::string line; std::getline(lines, line);) numbers.push_back(line.substr(0, line.find(' ')));
  EXPECT_EQ(numbers, (std::vector<std::string>{"0", "1", "2"})) << test::ReadTextFile(app() / "engine-fds.txt");
}
#endif

}  // namespace
}  // namespace quillwave
