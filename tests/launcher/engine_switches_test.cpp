#include "launcher/engine_switches.h"

#include <gtest/gtest.h>

#include "launcher/engine_start.h"
#include "tests/support/child_process.h"

namespace quillwave {
namespace {

// The engine's command line on Windows, with the own arguments as their text.
std::wstring EngineCommandLine(const std::wstring& engine_path, const std::wstring& own_text,
                               const EngineSwitches& switches) {
  return platform::WindowsCommandLine(EngineLaunch(engine_path, {own_text, {}}, switches));
}

// Its argument list on POSIX, with the own arguments one by one.
std::vector<std::wstring> EngineArgv(const std::wstring& engine_path, const std::vector<std::wstring>& own_list,
                                     const EngineSwitches& switches) {
  return platform::PosixArgv(EngineLaunch(engine_path, {{}, own_list}, switches));
}

const MachineValues kMachine{L"16", L"8"};  // 15.9 GiB, 8 logical processors

TEST(DeviceMemoryBucket, ThresholdsAreInclusiveAndFifteenPointNineGibIsSixteen) {
  constexpr std::uint64_t kGiB = 1ull << 30;
  EXPECT_EQ(DeviceMemoryBucket(static_cast<std::uint64_t>(15.9 * kGiB)), 16);
  const std::pair<double, int> cases[] = {{0, 1}, {1.49, 1}, {1.5, 2}, {2.99, 2},  {3, 4},   {5.99, 4},
                                          {6, 8}, {11.9, 8}, {12, 16}, {23.9, 16}, {24, 32}, {1024, 32}};
  for (const auto& [gib, bucket] : cases) {
    EXPECT_EQ(DeviceMemoryBucket(static_cast<std::uint64_t>(gib * kGiB)), bucket) << gib << " GiB";
  }
  EXPECT_EQ(DeviceMemoryBucket(UINT64_MAX), 32);  // above 2^63 still converts exactly enough
  // What the system does not report is left out; one processor is a value.
  EXPECT_EQ(DeviceMemoryValue(std::nullopt), L"");
  EXPECT_EQ(DeviceMemoryValue(kGiB), L"1");
  EXPECT_EQ(HardwareConcurrencyValue(0), L"");
  EXPECT_EQ(HardwareConcurrencyValue(1), L"1");
}

TEST(DirectRecipe, GivesTheExactTextsOfAPlainPersona) {
  PersonaConfig persona;
  EXPECT_EQ(EngineSwitchesText(DirectRecipe(persona, kMachine, {}, {})),
            L"--device-memory=16 --hardware-concurrency=8 --speech-voices-preset=stock-chrome-windows "
            L"chrome://version");
  persona.cdpTcpPort = "9222";
  EXPECT_EQ(EngineSwitchesText(DirectRecipe(persona, kMachine, {}, {})),
            L"--remote-debugging-port=9222 --remote-debugging-address=127.0.0.1 --device-memory=16 "
            L"--hardware-concurrency=8 --speech-voices-preset=stock-chrome-windows chrome://version");
}

TEST(DirectRecipe, PersonaKeysAndUnknownMachineValuesLeaveTheirSwitchesOut) {
  PersonaConfig persona;
  persona.hasDeviceMemory = persona.hasHardwareConcurrency = persona.hasSpeechVoices = true;
  EXPECT_EQ(EngineSwitchesText(DirectRecipe(persona, kMachine, {}, {})), L"chrome://version");
  EXPECT_EQ(EngineSwitchesText(DirectRecipe(PersonaConfig{}, MachineValues{}, {}, {})),
            L"--speech-voices-preset=stock-chrome-windows chrome://version");
}

TEST(DirectRecipe, WebglItemsComeBeforeTheStartPage) {
  PersonaConfig persona;
  persona.startPage = "https://example.test/a b";
  persona.hasDeviceMemory = persona.hasHardwareConcurrency = true;
  EXPECT_EQ(EngineSwitchesText(DirectRecipe(persona, kMachine, {L"--a=16384", L"--b=x"}, {})),
            L"--speech-voices-preset=stock-chrome-windows --a=16384 --b=x \"https://example.test/a b\"");
  // No argument can carry a NUL: each item ends at its first.
  persona.startPage = std::string(
      "https://example.test/\x01"
      "a\0b",
      25);
  EXPECT_EQ(EngineSwitchesText(DirectRecipe(persona, kMachine, {std::wstring(L"--c=1\0--d", 9)}, {})),
            L"--speech-voices-preset=stock-chrome-windows --c=1 \"https://example.test/\x01"
            L"a\"");
}

TEST(RemoteDebuggingSwitches, ParsesThePortLikeTheStandardConversion) {
  const std::wstring kPair = L"--remote-debugging-port=9222 --remote-debugging-address=127.0.0.1";
  for (const char* valid : {"9222", " 9222", "9222abc", "09222", "+9222", "\t9222 "}) {
    EXPECT_EQ(RemoteDebuggingSwitches(valid, {}), kPair) << valid;
  }
  EXPECT_EQ(RemoteDebuggingSwitches("65535", {}),
            L"--remote-debugging-port=65535 --remote-debugging-address=127.0.0.1");
  EXPECT_EQ(RemoteDebuggingSwitches("1", {}), L"--remote-debugging-port=1 --remote-debugging-address=127.0.0.1");
  for (const char* invalid : {"0", "65536", "-1", "abc", "99999999999", "", "-", " ", "2147483648", "-2147483649"}) {
    EXPECT_EQ(RemoteDebuggingSwitches(invalid, {}), L"") << invalid;
  }
}

// The caller's port counts in every form the engine reads as that switch,
// and only where the engine reads switches.
TEST(RemoteDebuggingSwitches, TheCallersOwnPortWins) {
  const std::wstring kPair = L"--remote-debugging-port=9222 --remote-debugging-address=127.0.0.1";
  for (const std::vector<std::wstring>& own :
       std::vector<std::vector<std::wstring>>{{L"--user-data-dir=x", L"--remote-debugging-port=9333"},
                                              {L"-remote-debugging-port=9333"},
                                              {L" --remote-debugging-port"}}) {
    EXPECT_EQ(RemoteDebuggingSwitches("9222", own), L"") << own.back();
  }
  for (const std::vector<std::wstring>& own :
       std::vector<std::vector<std::wstring>>{{L"--remote-debugging"},
                                              {L"--remote-debugging-portal=1"},
                                              {L"--", L"--remote-debugging-port=9333"},
                                              {L"https://example.test/?--remote-debugging-port=9333"}}) {
    EXPECT_EQ(RemoteDebuggingSwitches("9222", own), kPair) << own.back();
  }
  // Windows reads "/" as a switch prefix and switch names in any letter case.
  const bool windows_reading = platform::kSwitchPrefixes.find(L'/') != std::wstring_view::npos;
  EXPECT_EQ(RemoteDebuggingSwitches("9222", {L"/Remote-Debugging-Port=9333"}), windows_reading ? L"" : kPair);
  PersonaConfig persona;
  persona.cdpTcpPort = "9222";
  EXPECT_EQ(EngineSwitchesText(DirectRecipe(persona, MachineValues{}, {}, {L"--remote-debugging-port=9333"})),
            L"--speech-voices-preset=stock-chrome-windows chrome://version");
}

TEST(DiscoveryRecipe, OrdersDiscoveredSwitchesFirstAndDebuggingBeforeTheStartUrl) {
  PersonaConfig persona;
  persona.webrtcNoLeak = true;
  persona.cdpTcpPort = "9222";
  DiscoveryResult found;
  found.webrtc_public_ip = L"203.0.113.7";
  found.timezone_override = L"Europe/Berlin";
  found.lang = L"de-DE";
  found.accept_language = L"de-DE,de;q=0.9,en;q=0.8";
  found.geo_lat = L"52.52";
  found.geo_lng = L"13.405";
  EngineSwitches switches = ProfileAndDiscoveredSwitches(persona, {L"--w=1"}, found);
  EXPECT_EQ(EngineSwitchesText(switches),
            L"--w=1 --webrtc-fake-public-ip=203.0.113.7 --force-webrtc-ip-handling-policy=default "
            L"--timezone-override=Europe/Berlin --lang=de-DE --accept-language=de-DE,de;q=0.9,en;q=0.8 "
            L"--geo-lat=52.52 --geo-lng=13.405 --geo-accuracy=100");
  AppendMachineDebuggingAndStartUrl(switches, persona, kMachine, {});
  EXPECT_TRUE(EngineSwitchesText(switches).ends_with(
      L"--geo-accuracy=100 --device-memory=16 --hardware-concurrency=8 --speech-voices-preset=stock-chrome-windows "
      L"--remote-debugging-port=9222 --remote-debugging-address=127.0.0.1 chrome://version"));
}

TEST(DiscoveryRecipe, OnlyLanguageFoundStartsWithLangAndHasNoGeoAccuracy) {
  PersonaConfig persona;
  DiscoveryResult found;
  found.lang = L"fr-FR";
  found.accept_language = L"fr-FR,fr;q=0.9,en;q=0.8";
  found.geo_lat = L"48.85";  // one coordinate alone adds no accuracy
  EngineSwitches switches = ProfileAndDiscoveredSwitches(persona, {}, found);
  AppendMachineDebuggingAndStartUrl(switches, persona, MachineValues{}, {});
  EXPECT_EQ(EngineSwitchesText(switches),
            L"--lang=fr-FR --accept-language=fr-FR,fr;q=0.9,en;q=0.8 --geo-lat=48.85 "
            L"--speech-voices-preset=stock-chrome-windows chrome://version");
}

TEST(EngineCommandLine, AssemblesPathFixedSwitchesOwnArgumentsAndSwitches) {
  const std::wstring fixed =
      L" --hide-crash-restore-bubble --disable-features=PasswordManagerOnboarding,AutofillEnableAccountWalletStorage"
      L" --disable-save-password-bubble";
  EXPECT_EQ(EngineCommandLine(L"C:\\Program Files\\Q\\quillwave-engine.exe", L"", {{L"chrome://version", false}}),
            L"\"C:\\Program Files\\Q\\quillwave-engine.exe\"" + fixed + L" chrome://version");
  EXPECT_EQ(EngineCommandLine(L"C:\\q.exe", L"--user-data-dir=\"D:\\my profile\" --disable-features=X",
                              {{L"--lang=de", false}, {L"chrome://version", false}}),
            L"\"C:\\q.exe\"" + fixed +
                L" --user-data-dir=\"D:\\my profile\" --disable-features=X --lang=de "
                L"chrome://version");
  // After the caller's "--" the engine opens every argument as a page: the
  // launcher's go before it.
  EXPECT_EQ(EngineCommandLine(L"C:\\q.exe", L"--user-data-dir=P  -- https://example.org --x",
                              {{L"--lang=de", false}, {L"chrome://version", false}}),
            L"\"C:\\q.exe\"" + fixed + L" --user-data-dir=P --lang=de chrome://version -- https://example.org --x");
  // So on Windows before "--single-argument", as the shell starts a browser
  // for a link: the engine takes the rest of its command line as that link.
  if (platform::kSwitchPrefixes.find(L'/') != std::wstring_view::npos) {
    EXPECT_EQ(EngineCommandLine(L"C:\\q.exe", L"--single-argument https://example.org/a b",
                                {{L"--lang=de", false}, {L"chrome://version", false}}),
              L"\"C:\\q.exe\"" + fixed + L" --lang=de chrome://version --single-argument https://example.org/a b");
  }
  // A tail that ends inside quotes is written anew from its own split.
  EXPECT_EQ(
      EngineCommandLine(L"C:\\q.exe", L"--user-data-dir=C:\\p2 \"--window-name=My Persona",
                        {{L"--lang=de", false}, {L"chrome://version", false}}),
      L"\"C:\\q.exe\"" + fixed + L" --user-data-dir=C:\\p2 \"--window-name=My Persona\" --lang=de chrome://version");
}

// Values from the persona file must stay single arguments: a quote in the
// start page must not end its quoting, and a blank in a WebGL value must not
// split it.
TEST(EngineCommandLine, HostileValuesStaySingleArguments) {
  PersonaConfig persona;
  persona.startPage = "http://127.0.0.1/\" --renderer-cmd-prefix=calc \"x\\";
  persona.hasDeviceMemory = persona.hasHardwareConcurrency = persona.hasSpeechVoices = true;
  const EngineSwitches switches =
      DirectRecipe(persona, MachineValues{}, {L"--gl-renderer=ANGLE (Intel, HD 620)", L"--x=a\\\"b", L"--y=C:\\"}, {});
  const std::wstring command_line =
      EngineCommandLine(L"C:\\q\\quillwave-engine.exe", L"--user-data-dir=D:\\p", switches);
  const std::vector<std::wstring> expected = {
      L"C:\\q\\quillwave-engine.exe",
      L"--hide-crash-restore-bubble",
      L"--disable-features=PasswordManagerOnboarding,AutofillEnableAccountWalletStorage",
      L"--disable-save-password-bubble",
      L"--user-data-dir=D:\\p",
      L"--gl-renderer=ANGLE (Intel, HD 620)",
      L"--x=a\\\"b",
      L"--y=C:\\",
      L"http://127.0.0.1/\" --renderer-cmd-prefix=calc \"x\\"};
  EXPECT_EQ(test::SplitWindowsCommandLine(command_line), expected) << command_line;
  // POSIX hands the same pieces over as separate arguments, nothing quoted.
  std::vector<std::wstring> expected_argv = expected;
  expected_argv[0] = L"/opt/q/quillwave-engine";
  EXPECT_EQ(EngineArgv(L"/opt/q/quillwave-engine", {L"--user-data-dir=D:\\p"}, switches), expected_argv);
}

// The engine trims white space from each argument and then reads a leading
// "-" (on Windows also "/") as a switch wherever the argument stands.
TEST(StartPageReadAsSwitch, LeadingSwitchPrefixAfterAnyWhiteSpace) {
#ifdef _WIN32
  constexpr bool kSlashIsSwitch = true;
#else
  constexpr bool kSlashIsSwitch = false;
#endif
  const std::pair<const char*, bool> cases[] = {{"--renderer-cmd-prefix=/tmp/x", true},
                                                {"-x", true},
                                                {" --x", true},
                                                {"\t--x", true},
                                                {"\xC2\xA0--x", true},  // no-break space
                                                {"\xE3\x80\x80\n-x", true},
                                                // the rest of White_Space, one of each
                                                {"\x0B\x0C\r\xC2\x85\xE1\x9A\x80\xE2\x80\x80\xE2\x80\x8A\xE2\x80\xA8"
                                                 "\xE2\x80\xA9\xE2\x80\xAF\xE2\x81\x9F-x",
                                                 true},
                                                {"\x0E-x", false},
                                                {"/x", kSlashIsSwitch},
                                                {"https://example.org/--x", false},
                                                {"about:blank", false},
                                                {"", false},
                                                {" ", false},
                                                {"\xE2\x80\x8B--x", false}};  // U+200B is no white space
  for (const auto& [start_page, is_switch] : cases) {
    EXPECT_EQ(StartPageReadAsSwitch(start_page), is_switch) << start_page;
  }
}

}  // namespace
}  // namespace quillwave
