// The persona tool in-process: what check finds in a persona, and one clear
// line for every bad command line.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

#include "base/json_writer.h"
#include "base/version.h"
#include "persona/webgl_profile.h"
#include "platform/child_output.h"
#include "platform/encoding.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "report/error_codes.h"
#include "tests/support/temp_dir.h"
#include "tool/json_syntax.h"
#include "tool/persona_check.h"
#include "tool/persona_probe.h"
#include "tool/persona_tool.h"
#ifndef _WIN32
#include "tests/support/loopback.h"
#endif

namespace quillwave {
namespace {

// "severity key line:column" of each finding, in the order given.
std::vector<std::string> Brief(const std::vector<Finding>& findings) {
  std::vector<std::string> brief;
  for (const Finding& f : findings) {
    brief.push_back(f.severity + " " + f.key + " " + std::to_string(f.line) + ":" + std::to_string(f.column));
  }
  return brief;
}

struct CheckRow {
  std::string persona;
  std::vector<std::string> findings;
};

// ASCII text as Windows Notepad saves "Unicode": UTF-16 after a byte-order mark.
std::string Utf16(std::string_view ascii, bool little_endian) {
  std::string bytes = little_endian ? "\xFF\xFE" : "\xFE\xFF";
  for (const char c : ascii) bytes += little_endian ? std::string{c, '\0'} : std::string{'\0', c};
  return bytes;
}

TEST(PersonaCheck, FindsWhatIsIgnoredMisreadOrFatal) {
  const std::string profiles = R"({"p1": {"x": 1}})";
  const CheckRow rows[] = {
      {R"({"proxy-server": "socks5://127.0.0.1:1080", "auto-timezone": true, "_note": "x"})", {}},
      // Discovery through a proxy curl cannot use; a port outside the range.
      {R"({"proxy-server": "http://p:8080", "auto-lang": 1, "cdp-tcp-port": "70000"})",
       {"error proxy-server 1:2", "error cdp-tcp-port 1:51"}},
      // No proxy: the lookup goes out directly. "9222abc" is read as 9222.
      {R"({"auto-geo": true, "cdp-tcp-port": "9222abc"})", {"warning cdp-tcp-port 1:20", "warning proxy-server 0:0"}},
      // A misspelt key, booleans the launcher reads as false (True is no JSON either).
      {"{\"auto-timezon\": true,\n \"webrtc-no-leak\": \"yes\", \"auto-lang\": True}",
       {"warning auto-timezon 1:2", "warning webrtc-no-leak 2:2", "warning auto-lang 2:27", "warning  2:40"}},
      // A duplicate (the first wins) and a key read from inside another object.
      {R"({"lang": "de", "lang": "fr", "chrome-command-line": {"start-page": "https://a.example"}})",
       {"warning lang 1:16", "warning start-page 1:54"}},
      // Storage kinds: unknown, hyphenated, quoted.
      {R"({"granular-storage-reset": {"cookie": true, "local-storage": true, "indexeddb": "true", "websql": false}})",
       {"warning granular-storage-reset 1:29", "warning granular-storage-reset 1:45",
        "warning granular-storage-reset 1:68"}},
      // Escapes in a kind's name and before an unknown key.
      {R"({"granular-storage-reset": {"a\"b": true}})", {"warning granular-storage-reset 1:29"}},
      {R"({"start-page": "a\"b\\", "k": 1})", {"warning k 1:26"}},
      // A WebGL profile that is not in the file; a zone that is no zone name;
      // coordinates out of range; a port written as a number; a start page the
      // engine would take for a switch.
      {R"({"webgl-profile": "p2", "timezone-override": "Berlin time", "geo-lat": 91, "geo-lng": "x",
           "cdp-tcp-port": 9222, "start-page": "--x"})",
       {"warning webgl-profile 1:2", "warning timezone-override 1:25", "warning geo-lat 1:61", "warning geo-lng 1:76",
        "warning cdp-tcp-port 2:12", "warning start-page 2:34"}},
      {R"({"webgl-profile": "p1", "on-proxy-fail": "Fallback"})", {"warning on-proxy-fail 1:25"}},
      // Read as the launcher reads it, UTF-16 or not; a note says so.
      {Utf16("{\"auto-lang\": 1,\n \"cdp-tcp-port\": \"0\", \"proxy-server\": \"socks5://h:1\"}", true),
       {"error cdp-tcp-port 2:2", "note  0:0"}},
      {Utf16("{\"auto-lang\": 1,\n \"cdp-tcp-port\": \"0\", \"proxy-server\": \"socks5://h:1\"}", false),
       {"error cdp-tcp-port 2:2", "note  0:0"}},
      // No JSON at all: empty, a word, a persona cut short.
      {"", {"warning  0:0"}},
      {"hello", {"warning  1:1"}},
      {"{\"proxy-server\": \"socks5://h:1\", \"auto-lang\": true,\n\"start-page\": \"https://a.te",
       {"warning start-page 2:1", "warning  2:28"}},
      // User information curl would read as part of the address.
      {R"({"proxy-server": "socks5://u:p@ss@h:1"})", {"warning proxy-server 1:2"}},
      {R"({"chrome-command-line": {"--proxy-server": "socks5://a b:100%@h:1"}})", {"warning proxy-server 1:26"}},
      {R"({"proxy-server": "socks5://u:p%40ss@h:1"})", {}},
      {R"({"proxy-server": "socks5://u:pass%40@h:1"})", {}},
      {R"({"proxy-server": "socks5://u:p%3a%3A@h:1"})", {}},
      // Pinned: the proxy is no longer checked at launch.
      {R"({"proxy-server": "socks5://h:1", "auto-lang": false, "lang": "de", "accept-language": "de"})",
       {"note proxy-server 1:2"}},
      // A start page no command line can carry.
      {R"({"start-page": ")" + std::string(200 * 1024, 'x') + R"("})", {"error start-page 1:2"}},
  };
  for (const CheckRow& row : rows) {
    const PersonaCheck check = CheckPersona(row.persona, profiles);
    EXPECT_THAT(Brief(check.findings), ::testing::ElementsAreArray(row.findings)) << row.persona << "\n"
                                                                                  << PersonaCheckText(check);
  }
}

TEST(PersonaCheck, SuggestsTheClosestKeyAndSaysWhichDuplicateWins) {
  const PersonaCheck check = CheckPersona("{\"auto-timezon\": true,\n\"lang\": 1, \"lang\": 2}", std::nullopt);
  ASSERT_EQ(check.findings.size(), 2u);
  EXPECT_EQ(check.findings[0].message, "unknown key: the launcher ignores it; did you mean \"auto-timezone\"?");
  EXPECT_EQ(check.findings[1].message, "written 2 times; the launcher reads only the one at line 2, column 1");
}

// Where a text stops being JSON (RFC 8259): the byte and the kind, or
// nothing for well-formed text.
TEST(JsonSyntax, FindsTheFirstByteThatIsNoJson) {
  struct Row {
    std::string text;
    std::size_t offset;  // npos: well-formed
    std::string kind;
  };
  const std::size_t ok = std::string::npos;
  const std::vector<Row> rows = {
      {"\xEF\xBB\xBF {\"a\": [1, -0.5e+3, 2E9, true, false, null, {}, []], \"b\": \"\\u00e9\\n\xC3\xA9\"} ", ok, ""},
      {"[]", ok, ""},
      {"", 0, "unexpected end of text"},
      {"{\"a\": 1", 7, "unexpected end of text"},
      {"{} {}", 3, "text after the end of the JSON value"},
      {"{\"a\" 1}", 5, "expected ':'"},
      {"{\"a\": 1 \"b\": 2}", 8, "expected ',' or '}'"},
      {"[1 2]", 3, "expected ',' or ']'"},
      {"[1,]", 3, "expected a value"},
      {"{,}", 1, "expected a key in double quotes"},
      {"[tru]", 1, "expected a value"},
      {"[01]", 2, "expected ',' or ']'"},
      {"[-]", 2, "invalid number"},
      {"[1.]", 3, "invalid number"},
      {"[1e+]", 4, "invalid number"},
      {"[\"a\x01\"]", 3, "control character in a string"},
      {"[\"\\x\"]", 2, "invalid escape in a string"},
      {"[\"\\u12G4\"]", 2, "invalid escape in a string"},
      {"[\"\\uG234\"]", 2, "invalid escape in a string"},
      {"[\"\\", 3, "unexpected end of text"},
      {"[\"\xC3(\"]", 2, "invalid UTF-8"},
  };
  for (const Row& row : rows) {
    const std::optional<JsonSyntaxError> error = FindJsonSyntaxError(row.text);
    EXPECT_EQ(error ? error->offset : ok, row.offset) << row.text;
    EXPECT_EQ(error ? std::string(error->kind) : "", row.kind) << row.text;
  }
}

TEST(PersonaCheck, SaysWhereJsonBreaksAndHowToWriteTheProxy) {
  const auto message = [](std::string_view persona) { return CheckPersona(persona, std::nullopt).findings[0].message; };
  EXPECT_EQ(
      message("{\"lang\": \"de\",}"),
      "not well-formed JSON at 1:15: expected a key in double quotes; the launcher still reads the keys it finds, "
      "other programs may not");
  EXPECT_EQ(message("\xEF\xBB\xBF"), "the file is empty: every setting keeps its default");
  EXPECT_EQ(message(R"({"proxy-server": "socks5://a b:p@s/s@h:1"})"),
            "curl reads the user name and password as part of a URL, where some characters must be percent-encoded: "
            "write socks5://a%20b:***@h:1, with \"@\" as %40 and \"/\" as %2F in the password");
  EXPECT_EQ(message(std::string("\xFF\xFE{\0}\0", 6)),
            "UTF-16 (little-endian, with a byte-order mark): read converted to UTF-8, as the launcher reads it");
  EXPECT_EQ(message(R"({"geo-lat": 91})"), "written as 91, not a latitude between -90 and 90");
  EXPECT_EQ(message(R"({"webgl-profile": "x"})"),
            std::string("no ") + kWebglProfilesFileName + " beside the launcher: the profile adds no switches");
  EXPECT_EQ(message(R"({"granular-storage-reset": {"cookies": 1}})"),
            "\"cookies\" written as 1: only a bare true or false is read, so it is not cleared");
}

// Which machine a failed lookup lies with, by curl's exit code and words,
// and whether the lookup went through the proxy.
TEST(PersonaProbe, TellsWhichMachineAFailureLiesWith) {
  const struct {
    const char* error_code;
    int curl_exit_code;
    const char* curl_error;
    bool through_proxy;
    const char* at;
    std::string explanation;
  } rows[] = {
      {"", 0, "", true, "", ""},
      {kDiscoveryHttpError, 0, "", true, "endpoint", "the endpoint answered without a usable address"},
      {kProxyUnreachable, 6, "", true, "proxy", "the proxy's host name cannot be resolved"},
      {kInternal, 6, "", false, "endpoint", "the endpoint's host name cannot be resolved"},
      {kInternal, 7, "", false, "endpoint", "the endpoint cannot be reached"},
      {kInternal, 22, "", true, "endpoint", "the endpoint answered with an error status"},
      {kProxyUnreachable, 97, "Can't complete SOCKS5 connection to 192.0.2.10. (5)", true, "endpoint",
       "the proxy answered but could not reach the endpoint: connection refused"},
      {kProxyUnreachable, 97, "Can't complete SOCKS5 connection to 192.0.2.10. (8)", true, "endpoint",
       "the proxy answered but could not reach the endpoint: address type not supported"},
      {kProxyUnreachable, 97, "Can't complete SOCKS5 connection to 192.0.2.10. (9)", true, "endpoint",
       "the proxy answered but could not reach the endpoint"},
      {kProxyAuthFailed, 97, "User was rejected by the SOCKS5 server (1 2).", true, "proxy",
       "the proxy refused the login"},
      {kInternal, 97, "Received invalid version in initial SOCKS5 response.", true, "proxy",
       "the proxy answered, but not as a SOCKS5 proxy"},
      {kProxyAuthFailed, 56, "", true, "", ""},
  };
  for (const auto& row : rows) {
    ProbeOutcome outcome;
    outcome.error_code = row.error_code;
    outcome.curl_exit_code = row.curl_exit_code;
    outcome.curl_error = row.curl_error;
    const FailurePlace place = WhereItFailed(outcome, row.through_proxy);
    EXPECT_EQ(place.at, row.at) << row.curl_exit_code << " " << row.curl_error;
    EXPECT_EQ(place.explanation, row.explanation) << row.curl_exit_code << " " << row.curl_error;
  }
}

// Of one kind of finding the first hundred are listed, then their number.
TEST(PersonaCheck, ListsAHundredOfAKindThenCountsTheRest) {
  std::string persona = "{";
  for (int i = 0; i < 250; ++i) persona += "\"k" + std::to_string(i) + "\": 1, ";
  const PersonaCheck check = CheckPersona(persona + "\"granular-storage-reset\": {\"x\": true}}", std::nullopt);
  ASSERT_EQ(check.findings.size(), 102u);
  EXPECT_EQ(check.findings[99].key, "k99");
  EXPECT_EQ(check.findings[100].key, "granular-storage-reset");
  EXPECT_EQ(check.findings[101].message, "150 more unknown keys, not listed");
  // Storage kinds are counted apart.
  std::string kinds = "{\"granular-storage-reset\": {";
  for (int i = 0; i < 103; ++i) kinds += "\"x" + std::to_string(i) + "\": true, ";
  const PersonaCheck storage = CheckPersona(kinds + "\"cookies\": true}}", std::nullopt);
  ASSERT_EQ(storage.findings.size(), 101u);
  EXPECT_EQ(storage.findings[100].message, "3 more storage kinds the launcher ignores, not listed");
}

struct ToolRun {
  int exit_code;
  std::string out;
  std::string err;
};

ToolRun RunTool(
    const std::vector<std::wstring>& arguments, const std::wstring& launcher_dir = L"",
    ProbeFunction probe = [](const std::string&, const std::string&, const platform::Cancellation&) {
      return ProbeOutcome{};
    }) {
  ToolRun run{0, {}, {}};
  ToolEnvironment environment;
  environment.launcher_dir = launcher_dir;
  environment.probe = std::move(probe);
  environment.out = [&](std::string_view text) { run.out += text; };
  environment.err = [&](std::string_view text) { run.err += text; };
  run.exit_code = RunPersonaTool(arguments, environment);
  return run;
}

TEST(PersonaTool, CheckJsonIsOneObjectWithEveryField) {
  test::ScopedTempDir dir;
  test::WriteTextFile(dir.path() / "command-line.json", "{\"auto-lang\": true, \"lang\": \"de\", \"x\": 1}");
  const ToolRun run = RunTool({L"check", L"--json", dir.wpath()});
  EXPECT_EQ(run.exit_code, 1) << run.err;
  // The text of a persona without findings says so.
  test::WriteTextFile(dir.path() / "empty.json", "{}");
  EXPECT_TRUE(
      RunTool({L"check", dir.wpath() + platform::kPathSeparator + L"empty.json"}).out.ends_with("\nno findings\n"));
  const std::string file = EscapeJsonString(Narrow((dir.path() / "command-line.json").wstring()));
  EXPECT_EQ(run.out,
            "{\"file\":\"" + file +
                "\",\"discovery\":true,\"reasons\":[\"auto-lang is on and lang or accept-language is missing\"],"
                "\"fields\":{\"proxy-server\":{\"value\":\"\",\"line\":null,\"column\":null},"
                "\"webrtc-no-leak\":{\"value\":false,\"line\":null,\"column\":null},"
                "\"webrtc-fake-public-ip\":{\"value\":\"\",\"line\":null,\"column\":null},"
                "\"on-proxy-fail\":{\"value\":\"block\",\"line\":null,\"column\":null},"
                "\"auto-geo\":{\"value\":false,\"line\":null,\"column\":null},"
                "\"auto-lang\":{\"value\":true,\"line\":1,\"column\":2},"
                "\"auto-timezone\":{\"value\":false,\"line\":null,\"column\":null},"
                "\"geo-lat\":{\"value\":false,\"line\":null,\"column\":null},"
                "\"geo-lng\":{\"value\":false,\"line\":null,\"column\":null},"
                "\"lang\":{\"value\":true,\"line\":1,\"column\":21},"
                "\"accept-language\":{\"value\":false,\"line\":null,\"column\":null},"
                "\"timezone-override\":{\"value\":false,\"line\":null,\"column\":null},"
                "\"close-previous-tabs\":{\"value\":false,\"line\":null,\"column\":null},"
                "\"start-page\":{\"value\":\"\",\"line\":null,\"column\":null},"
                "\"cdp-tcp-port\":{\"value\":\"\",\"line\":null,\"column\":null},"
                "\"device-memory\":{\"value\":false,\"line\":null,\"column\":null},"
                "\"hardware-concurrency\":{\"value\":false,\"line\":null,\"column\":null},"
                "\"speech-voices\":{\"value\":false,\"line\":null,\"column\":null},"
                "\"granular-storage-reset\":{\"value\":{},\"line\":null,\"column\":null},"
                "\"webgl-profile\":{\"value\":\"\",\"line\":null,\"column\":null}},"
                "\"findings\":[{\"severity\":\"warning\",\"key\":\"x\",\"line\":1,\"column\":35,"
                "\"message\":\"unknown key: the launcher ignores it\"},"
                "{\"severity\":\"warning\",\"key\":\"proxy-server\",\"line\":null,\"column\":null,"
                "\"message\":\"no proxy: the lookup goes out directly, so the derived values follow this machine's own "
                "address\"}]}\n");
}

// Control characters of a file name, a key and a value reach the terminal
// escaped; the JSON output keeps them as JSON escapes.
TEST(PersonaTool, CheckTextIsSafeForATerminal) {
  test::ScopedTempDir dir;
  test::WriteTextFile(dir.path() / std::filesystem::path(u8"p\u009b.json"),
                      "{\"\x1b]0;t\x07\": \"\x1b[2J\", \"start-page\": \"a\xC2\x9B\x7F\"}");
  const std::wstring file = dir.wpath() + platform::kPathSeparator + L"p\u009b.json";
  const ToolRun run = RunTool({L"check", file});
  EXPECT_EQ(run.exit_code, 1) << run.err;
  std::string expected = "file: " + Narrow(dir.wpath() + platform::kPathSeparator) +
                         "p\\u009b.json\n"
                         "discovery: no\n"
                         "as the launcher reads it:\n";
  const char* fields[][2] = {{"proxy-server", "\"\""},
                             {"webrtc-no-leak", "false"},
                             {"webrtc-fake-public-ip", "\"\""},
                             {"on-proxy-fail", "\"block\""},
                             {"auto-geo", "false"},
                             {"auto-lang", "false"},
                             {"auto-timezone", "false"},
                             {"geo-lat", "false"},
                             {"geo-lng", "false"},
                             {"lang", "false"},
                             {"accept-language", "false"},
                             {"timezone-override", "false"},
                             {"close-previous-tabs", "true"},
                             {"start-page", "\"a\\u009b\\x7f\"  (line 1, column 20)"},
                             {"cdp-tcp-port", "\"\""},
                             {"device-memory", "false"},
                             {"hardware-concurrency", "false"},
                             {"speech-voices", "false"},
                             {"granular-storage-reset", "{}"},
                             {"webgl-profile", "\"\""}};
  for (const auto& [key, value] : fields) {
    std::string line = "  " + std::string(key) + std::string(24 - std::string_view(key).size(), ' ') + value;
    if (std::string_view(key) == "close-previous-tabs") {
      line += "  (a start-page always closes them)";
    } else if (std::string_view(key) != "start-page") {
      line += "  (not in the file: default)";
    }
    expected += line + "\n";
  }
  expected +=
      "warning: line 1, column 2: \\x1b]0;t\\x07: unknown key: the launcher ignores it\n"
      "warning: line 1, column 3: not well-formed JSON at 1:3: control character in a string; the launcher still "
      "reads the keys it finds, other programs may not\n";
  EXPECT_EQ(run.out, expected);
  const ToolRun json = RunTool({L"check", L"--json", file});
  EXPECT_NE(json.out.find("\"key\":\"\\u001b]0;t\\u0007\""), std::string::npos) << json.out;
}

TEST(PersonaTool, EveryBadCommandLineGivesOneLine) {
  test::ScopedTempDir dir;
  const std::wstring folder = dir.wpath();
  const std::wstring missing = (dir.path() / "missing").wstring();
  test::ScopedTempDir blocking;
  test::WriteTextFile(blocking.path() / "command-line.json",
                      R"({"proxy-server": "socks5://127.0.0.1:9", "auto-timezone": true, "on-proxy-fail": "block"})");
  const std::wstring persona = blocking.wpath() + platform::kPathSeparator + L"command-line.json";
  const struct {
    std::vector<std::wstring> arguments;
    int exit_code;
    std::string err;
  } rows[] = {
      {{L"switches", L"--assume-lat", L"abc", folder},
       64,
       "quillwave-persona switches: --assume-lat \"abc\" is not a decimal latitude from -90 to 90\n"},
      {{L"switches", L"--assume-ip", L"999.1.1.1", folder},
       64,
       "quillwave-persona switches: --assume-ip \"999.1.1.1\" is not an IPv4 or IPv6 address\n"},
      {{L"switches", L"--assume-country", L"DE", folder},
       64,
       "quillwave-persona switches: the other --assume- values need --assume-ip\n"},
      {{L"switches", L"--assume-ip", L"203.0.113.9", L"--assume-country", L"De", folder},
       64,
       "quillwave-persona switches: --assume-country \"De\" is not a two-letter country code such as DE\n"},
      {{L"switches", folder, L"--assume-ip"}, 64, "quillwave-persona switches: --assume-ip needs a value\n"},
      {{L"check", L"--yaml", folder}, 64, "quillwave-persona check: unknown option --yaml\n"},
      {{L"endpoints", folder}, 64, "quillwave-persona endpoints: takes no path (\"" + Narrow(folder) + "\")\n"},
      {{L"check"}, 64, "quillwave-persona check: no PATH given\n"},
      {{L"probe", folder, folder},
       64,
       "quillwave-persona probe: one path only (\"" + Narrow(folder) + "\" is a second one)\n"},
      {{L"check", missing}, 3, "quillwave-persona check: no such file or folder: " + Narrow(missing) + "\n"},
      {{L"switches", missing}, 3, "quillwave-persona switches: no such folder: " + Narrow(missing) + "\n"},
      {{L"check", missing + L"\u009b"},
       3,
       "quillwave-persona check: no such file or folder: " + Narrow(missing) + "\\u009b\n"},
      {{L"switches", persona}, 3, "quillwave-persona switches: not a folder: " + Narrow(persona) + "\n"},
      {{L"probe", persona}, 3, "quillwave-persona probe: not a folder: " + Narrow(persona) + "\n"},
      // The launcher's own message on one line.
      {{L"switches", blocking.wpath()},
       1,
       "quillwave-persona switches: Engine binary not found: " +
           Narrow(std::wstring(1, platform::kPathSeparator) + platform::kEngineFileName) + " Reinstall Quillwave.\n"},
  };
  for (const auto& row : rows) {
    const ToolRun run = RunTool(row.arguments);
    EXPECT_EQ(run.exit_code, row.exit_code) << row.err;
    EXPECT_EQ(run.err, row.err);
    EXPECT_EQ(run.out, "");
  }
  test::WriteTextFile(blocking.path() / platform::kEngineFileName, "engine");
  // What follows "--" is the launcher's own command line.
  const ToolRun refused = RunTool({L"switches", blocking.wpath(), L"--", L"--json"}, blocking.wpath());
  EXPECT_EQ(refused.exit_code, 42);
  EXPECT_EQ(refused.err,
            "quillwave-persona switches: the launcher would start no engine (exit 42): discovery is needed, no answer "
            "is assumed (--assume-ip), and on-proxy-fail \"block\" refuses the launch when discovery fails\n");
  // No command or an unknown one: the problem, then the usage that --help prints.
  const ToolRun help = RunTool({L"--help"});
  EXPECT_EQ(help.exit_code, 0);
  EXPECT_EQ(help.out.rfind("usage: quillwave-persona ", 0), 0u) << help.out;
  const ToolRun none = RunTool({});
  EXPECT_EQ(none.exit_code, 64);
  EXPECT_EQ(none.err, "quillwave-persona: no command given\n" + help.out);
  const ToolRun unknown = RunTool({L"chek", folder});
  EXPECT_EQ(unknown.exit_code, 64);
  EXPECT_EQ(unknown.err, "quillwave-persona: unknown command \"chek\"\n" + help.out);
  for (const wchar_t* version : {L"--version", L"version"}) {
    const ToolRun run = RunTool({version});
    EXPECT_EQ(run.exit_code, 0);
    EXPECT_EQ(run.out, std::string("quillwave-persona ") + kLauncherVersion + "\n");
  }
}

#ifndef _WIN32
// Two folders that differ only in a byte that is no UTF-8 never print the
// same: in text the byte shows as \xff, in JSON as those four characters.
TEST(PersonaTool, CheckAndSwitchesShowEveryByteThatIsNoUtf8) {
  test::ScopedTempDir dir;
  test::WriteTextFile(dir.path() / std::filesystem::path(platform::kEngineFileName), "engine");
  const std::string folder = Narrow(dir.wpath()) + "/p\xFF";
  test::WriteTextFile(std::filesystem::path(folder) / "command-line.json", "{\"start-page\": \"a\xFE\"}");
  const std::wstring wide_folder = platform::BytesToWide(folder);
  const std::string shown = Narrow(dir.wpath()) + "/p\\xff";
  const std::string in_json = EscapeJsonString(Narrow(dir.wpath())) + "/p\\\\xff";

  EXPECT_NE(RunTool({L"switches", wide_folder}, dir.wpath()).out.find("\n--user-data-dir=" + shown + "\n"),
            std::string::npos);
  const std::string switches_json = RunTool({L"switches", L"--json", wide_folder}, dir.wpath()).out;
  EXPECT_TRUE(switches_json.starts_with("{\"engine\":\"")) << switches_json;
  EXPECT_NE(switches_json.find("\"--user-data-dir=" + in_json + "\""), std::string::npos);
  const ToolRun text = RunTool({L"check", wide_folder});
  EXPECT_EQ(text.out.rfind("file: " + shown + "/command-line.json\n", 0), 0u) << text.out;
  EXPECT_NE(text.out.find("\"a\\xfe\""), std::string::npos) << text.out;
  const ToolRun json = RunTool({L"check", L"--json", wide_folder});
  EXPECT_EQ(json.out.rfind("{\"file\":\"" + in_json + "/command-line.json\",", 0), 0u) << json.out;
  EXPECT_NE(json.out.find("\"start-page\":{\"value\":\"a\\\\xfe\""), std::string::npos) << json.out;
}
#endif

// The test build carries the placeholders; of the key only its start shows.
TEST(PersonaTool, EndpointsNamesWhatThisBuildAsks) {
  const ToolRun text = RunTool({L"endpoints"});
  EXPECT_EQ(text.exit_code, 0);
  EXPECT_EQ(text.out,
            "primary:      http://192.0.2.10:65333/geo\n"
            "  shown as:   geo.primary.example\n"
            "secondary:    https://geoip.secondary.example/geoip?format=json\n"
            "  shown as:   geoip.secondary.example, and scnd once it has failed\n"
            "tertiary:     https://myip.tertiary.example/myip\n"
            "  shown as:   myip.tertiary.example\n"
            "api key:      7c3e... (the first 4 of its 40 digits)\n"
            "placeholders: yes: they reach nobody, so every lookup fails\n");
  const ToolRun json = RunTool({L"endpoints", L"--json"});
  EXPECT_EQ(json.exit_code, 0);
  EXPECT_EQ(json.out,
            "{\"primary\":{\"url\":\"http://192.0.2.10:65333/geo\",\"name\":\"geo.primary.example\"},"
            "\"secondary\":{\"url\":\"https://geoip.secondary.example/geoip?format=json\","
            "\"name\":\"geoip.secondary.example\",\"label\":\"scnd\"},"
            "\"tertiary\":{\"url\":\"https://myip.tertiary.example/myip\",\"name\":\"myip.tertiary.example\"},"
            "\"api_key_start\":\"7c3e\",\"placeholders\":true}\n");
}

// Every endpoint gives this outcome.
ProbeFunction Answering(ProbeOutcome outcome) {
  return [outcome](const std::string&, const std::string&, const platform::Cancellation&) { return outcome; };
}

// Fill against an egress in Berlin: only the members set or changed differ;
// a file it cannot edit safely, or a failed lookup, is left as it was.
TEST(PersonaTool, FillSetsTheDerivedKeysAndKeepsEveryOtherByte) {
  ProbeOutcome answer;
  answer.ip = "203.0.113.9";
  answer.country_code = "DE";
  answer.timezone = "Europe/Berlin";
  answer.latitude = "52.52";
  answer.longitude = "013.405";
  const ProbeFunction berlin = Answering(answer);
  ProbeOutcome failure;
  failure.error_code = "PROXY_UNREACHABLE";
  const ProbeFunction dead = Answering(failure);
  const std::string odd =
      "{ \"_note\" :\"x\",\r\n\t\"auto-geo\" : \"1\" ,\"own\": [1, {}],\r\n\t\"auto-lang\":true,"
      "\r\n\t\"lang\": \"fr-FR\", \"auto-timezone\": 1, \"webrtc-no-leak\": true\t}\r\n";
  const std::string filled =
      "{ \"_note\" :\"x\",\r\n\t\"auto-geo\" : \"1\" ,\"own\": [1, {}],\r\n\t\"auto-lang\":true,\r\n\t\"lang\": "
      "\"fr-FR\", "
      "\"auto-timezone\": 1, \"webrtc-no-leak\": true, \"timezone-override\" :\"Europe/Berlin\", "
      "\"accept-language\" :\"de-DE,de;q=0.9,en;q=0.8\", \"geo-lat\" :52.52, \"geo-lng\" :\"013.405\", "
      "\"webrtc-fake-public-ip\" :\"203.0.113.9\"\t}\r\n";
  const std::string pinned =
      "{\"auto-timezone\": false, \"auto-lang\": \"0\", \"timezone-override\": \"Europe/Berlin\"}";
  const struct {
    std::vector<std::wstring> options;
    std::string before;
    std::string after;  // empty: unchanged, no backup
    int exit_code = 0;
    const ProbeFunction* probe = nullptr;
  } rows[] = {
      // The kept "lang" does not fit the egress: a warning, as probe gives.
      {{}, odd, filled, 1},
      {{}, Utf16(odd, true), Utf16(filled, true), 1},
      {{L"--replace"},
       "{\"lang\": \"fr\", \"accept-language\": \"fr, en;q=0.5\", \"auto-lang\": true}",
       "{\"lang\": \"de-DE\", \"accept-language\": \"de-DE,de;q=0.9,en;q=0.8\", \"auto-lang\": true}"},
      {{L"--pin"}, "{\"auto-timezone\": \"true\", \"auto-lang\": \"0\"}", pinned},
      {{L"--pin"},
       Utf16("{\"auto-geo\": true}", false),
       Utf16("{\"auto-geo\": false,\"geo-lat\": 52.52,\"geo-lng\": \"013.405\"}", false)},
      {{}, "{\"auto-timezone\":1}", "{\"auto-timezone\":1,\"timezone-override\":\"Europe/Berlin\"}"},
      {{L"--dry-run"}, "{\"auto-timezone\": true}", ""},
      {{}, "{\"timezone-override\": \"Asia/Tokyo\", \"auto-timezone\": true}", "", 1},
      {{}, "{\"auto-timezone\": true,\n}", "", 2},
      {{}, "[{\"auto-timezone\": true}]", "", 2},
      {{}, "{\"auto-timezone\": true}", "", 2, &dead},
  };
  test::ScopedTempDir dir;
  const std::filesystem::path file = dir.path() / "command-line.json";
  const std::filesystem::path backup = dir.path() / "command-line.json.bak";
  for (const auto& row : rows) {
    std::filesystem::remove(backup);
    test::WriteTextFile(file, row.before);
    const auto owner_only = std::filesystem::perms::owner_read | std::filesystem::perms::owner_write;
    std::filesystem::permissions(file, owner_only);
    std::vector<std::wstring> arguments = {L"fill"};
    arguments.insert(arguments.end(), row.options.begin(), row.options.end());
    arguments.push_back(dir.wpath());
    const ToolRun run = RunTool(arguments, L"", row.probe ? *row.probe : berlin);
    EXPECT_EQ(run.exit_code, row.exit_code) << row.before << run.out << run.err;
    EXPECT_EQ(test::ReadTextFile(file), row.after.empty() ? row.before : row.after) << row.before << run.out;
    EXPECT_EQ(std::filesystem::exists(backup), !row.after.empty()) << row.before;
    if (!row.after.empty()) {
      EXPECT_EQ(test::ReadTextFile(backup), row.before);
#ifndef _WIN32
      // It may hold the proxy's password.
      EXPECT_EQ(std::filesystem::status(file).permissions(), owner_only);
      EXPECT_EQ(std::filesystem::status(backup).permissions(), owner_only);
#endif
    }
  }
  // A refusal concerns the whole file: it has no line or column.
  test::WriteTextFile(file, std::string("\xFF\xFE{\0\x3D\xD8}\0", 8));
  const ToolRun broken = RunTool({L"fill", L"--json", dir.wpath()}, L"", berlin);
  EXPECT_EQ(broken.exit_code, 2);
  EXPECT_NE(broken.out.find("\"line\":null,\"column\":null,\"message\":\"the file holds UTF-16 that is broken"),
            std::string::npos)
      << broken.out;
}

// The rehearsal shows each change among three lines of context, changes
// whose context meets in one hunk; in JSON the members it would set.
TEST(PersonaTool, FillDryRunShowsTheDiffItWouldApply) {
  test::ScopedTempDir dir;
  const std::string persona =
      "{\n \"auto-timezone\": true,\n \"a\": 1,\n \"b\": 2,\n \"c\": 3,\n \"d\": 4,\n"
      " \"e\": 5,\n \"f\": 6,\n \"g\": 7,\n \"webrtc-no-leak\": true}";
  test::WriteTextFile(dir.path() / "command-line.json", persona);
  ProbeOutcome answer;
  answer.ip = "203.0.113.9";
  answer.timezone = "Europe/Berlin";
  const ProbeFunction berlin = Answering(answer);
  const ToolRun text = RunTool({L"fill", L"--dry-run", L"--pin", dir.wpath()}, L"", berlin);
  const std::string file = Narrow(dir.wpath() + platform::kPathSeparator + L"command-line.json");
  EXPECT_EQ(
      text.out.substr(text.out.find("set ")),
      "set timezone-override: Europe/Berlin\n"
      "set webrtc-fake-public-ip: 203.0.113.9\n"
      "turned off auto-timezone\n"
      "note: launches no longer look up the proxy's exit: they start with these values even when the proxy is "
      "down, and no longer refuse to start under on-proxy-fail \"block\"\n"
      "--- " +
          file + "\n+++ " + file +
          "\n"
          "@@ -1,5 +1,5 @@\n {\n- \"auto-timezone\": true,\n+ \"auto-timezone\": false,\n  \"a\": 1,\n  \"b\": 2,\n"
          "  \"c\": 3,\n"
          "@@ -7,4 +7,6 @@\n  \"e\": 5,\n  \"f\": 6,\n  \"g\": 7,\n- \"webrtc-no-leak\": true}\n"
          "\\ No newline at end of file\n+ \"webrtc-no-leak\": true,\n+ \"timezone-override\": \"Europe/Berlin\",\n"
          "+ \"webrtc-fake-public-ip\": \"203.0.113.9\"}\n\\ No newline at end of file\n"
          "dry run: nothing written\n");
  const ToolRun json = RunTool({L"fill", L"--json", L"--dry-run", L"--pin", dir.wpath()}, L"", berlin);
  EXPECT_EQ(json.out.substr(0, json.out.find(",\"asked\":")),
            "{\"file\":\"" + EscapeJsonString(file) + "\"" +
                ",\"dry_run\":true,\"set\":[{\"key\":\"timezone-override\",\"value\":\"Europe/Berlin\","
                "\"replaced\":false},{\"key\":\"webrtc-fake-public-ip\",\"value\":\"203.0.113.9\",\"replaced\":false}],"
                "\"turned_off\":[\"auto-timezone\"],\"pinned\":true,\"launch_looks_up\":false,\"note\":\"launches no "
                "longer look up "
                "the proxy's exit: they start with these values even when the proxy is down, and no longer refuse to "
                "start under on-proxy-fail \\\"block\\\"\",\"written\":false,\"backup\":\"\"");
  EXPECT_EQ(test::ReadTextFile(dir.path() / "command-line.json"), persona);
  EXPECT_FALSE(std::filesystem::exists(dir.path() / "command-line.json.bak"));
#ifndef _WIN32
  // A link is left as it is: replacing it would cut it.
  test::ScopedTempDir linked;
  std::filesystem::create_symlink(dir.path() / "command-line.json", linked.path() / "command-line.json");
  EXPECT_EQ(RunTool({L"fill", linked.wpath()}, L"", berlin).exit_code, 2);
  EXPECT_TRUE(std::filesystem::is_symlink(linked.path() / "command-line.json"));
  EXPECT_EQ(test::ReadTextFile(dir.path() / "command-line.json"), persona);
#endif
}

#ifndef _WIN32
// An answer the persona does not fit: its lines, and what a site could notice.
TEST(PersonaTool, ProbeSaysWhereThePersonaDoesNotFitTheEgress) {
  test::ScopedTempDir dir;
  test::WriteTextFile(dir.path() / "command-line.json",
                      R"({"proxy-server": "socks5://127.0.0.1:1", "timezone-override": "Europe/Berlin",)"
                      R"( "geo-lat": 52.52, "geo-lng": 13.405})");
  ProbeOutcome answer;
  answer.ip = "203.0.113.9";
  answer.country_code = "IN";
  answer.timezone = "Asia/Kolkata";
  answer.latitude = "28.6139";
  answer.longitude = "77.209";
  const std::string out = RunTool({L"probe", dir.wpath()}, L"", Answering(answer)).out;
  EXPECT_NE(out.find("egress ip:   203.0.113.9\n"), std::string::npos) << out;
  EXPECT_NE(out.find("time zone:   Asia/Kolkata\ncoordinates: 28.6139, 77.209\n"), std::string::npos) << out;
  EXPECT_NE(out.find("the coordinates 52.52, 13.405 lie 5780 km from the egress location 28.6139, 77.209"),
            std::string::npos)
      << out;
#ifndef _WIN32
  // Berlin is an hour or two ahead of UTC by the season; Kolkata five and a half.
  EXPECT_NE(out.find("names Europe/Berlin while the egress is in Asia/Kolkata; today that is UTC+0"), std::string::npos)
      << out;
  EXPECT_NE(out.find(" against UTC+05:30"), std::string::npos) << out;
  // Another zone at the same offset today; names that are no zone of this
  // system's zone data, including paths to its files from elsewhere.
  for (const auto& [zone, said] : {std::pair{"Europe/Paris", "; both are at UTC+0"},
                                   std::pair{"Nowhere/Atlantis", "; this system has no zone data to compare"},
                                   std::pair{"Europe", "; this system has no zone data to compare"},
                                   std::pair{"../zoneinfo/Europe/Paris", "; this system has no zone data to compare"},
                                   std::pair{"/usr/share/zoneinfo/Europe/Paris", "; this system has no zone data"}}) {
    ProbeOutcome elsewhere = answer;
    elsewhere.timezone = zone;
    const std::string text = RunTool({L"probe", dir.wpath()}, L"", Answering(elsewhere)).out;
    EXPECT_NE(text.find(std::string("names Europe/Berlin while the egress is in ") + zone + said), std::string::npos)
        << text;
  }
  // Zones are looked at through TZ; the caller's own comes back.
  const char* const caller = ::getenv("TZ");
  const std::string before = caller == nullptr ? "" : caller;
  ::setenv("TZ", "Asia/Tokyo", 1);
  RunTool({L"probe", dir.wpath()}, L"", Answering(answer));
  EXPECT_STREQ(::getenv("TZ"), "Asia/Tokyo");
  if (caller == nullptr)
    ::unsetenv("TZ");
  else
    ::setenv("TZ", before.c_str(), 1);
#endif
  // A failure no machine can be named for still shows curl's own words.
  ProbeOutcome cut;
  cut.error_code = kProxyAuthFailed;
  cut.curl_exit_code = 56;
  cut.curl_error = "Recv failure: Connection reset by peer";
  EXPECT_NE(RunTool({L"probe", dir.wpath()}, L"", Answering(cut))
                .out.find("\n  curl: Recv failure: Connection reset by peer\n"),
            std::string::npos);
  // Without the egress's coordinates there is nothing to measure against.
  answer.latitude.clear();
  answer.longitude.clear();
  EXPECT_EQ(RunTool({L"probe", dir.wpath()}, L"", Answering(answer)).out.find(" km from "), std::string::npos);
}

// Real curl through microsocks on loopback, every endpoint sent to a closed
// port: a proxy that is not there, and one that answers but cannot reach
// the endpoint, are told apart for each endpoint asked.
TEST(PersonaTool, ProbeTellsAProxyNotThereFromOneThatCannotReachTheEndpoint) {
  const test::LoopbackPort closed_endpoint(false);
  const test::LoopbackPort closed_proxy(false);
  int proxy = 0;
  const auto microsocks = test::StartSocksProxy(proxy);
  ASSERT_TRUE(microsocks) << "microsocks did not start; scripts/install-deps.sh installs it";
  const std::wstring curl = platform::FindSystemCurl().path;
  const ProbeFunction to_closed_endpoint = [&](const std::string& through, const std::string&,
                                               const platform::Cancellation&) {
    return ProbeEgressWith(curl, through, "http://127.0.0.1:" + std::to_string(closed_endpoint.port()) + "/geo");
  };
  const struct {
    int proxy_port;
    std::string said;  // the line under each endpoint asked, from its start
    std::string failed_at;
  } rows[] = {
      {closed_proxy.port(),
       "  the proxy cannot be reached (curl: Failed to connect to 127.0.0.1 port " +
           std::to_string(closed_proxy.port()) + " ",
       "proxy"},
      {proxy,
       "  the proxy answered but could not reach the endpoint: connection refused (curl: Can't complete SOCKS5 "
       "connection to 127.0.0.1. (5))\n",
       "endpoint"},
  };
  test::ScopedTempDir dir;
  for (const auto& row : rows) {
    test::WriteTextFile(
        dir.path() / "command-line.json",
        "{\"proxy-server\": \"socks5://127.0.0.1:" + std::to_string(row.proxy_port) + "\", \"auto-timezone\": true}");
    const ToolRun text = RunTool({L"probe", dir.wpath()}, L"", to_closed_endpoint);
    EXPECT_EQ(text.exit_code, 2) << text.err;
    const std::string out = std::regex_replace(text.out, std::regex(" in [0-9]+ ms\n"), " in N ms\n");
    const std::string asked[] = {
        "\nasked primary geo.primary.example at http://192.0.2.10:65333/geo: PROXY_UNREACHABLE in N ms\n",
        "\nasked secondary geoip.secondary.example at https://geoip.secondary.example/geoip?format=json: "
        "PROXY_UNREACHABLE in N ms\n"};
    for (const std::string& line : asked) {
      const std::size_t at = out.find(line);
      ASSERT_NE(at, std::string::npos) << out;
      EXPECT_EQ(out.substr(at + line.size(), row.said.size()), row.said) << out;
    }
    const ToolRun json = RunTool({L"probe", L"--json", dir.wpath()}, L"", to_closed_endpoint);
    const std::string failed_at = "\"failed_at\":\"" + row.failed_at + "\"";
    EXPECT_NE(json.out.find(failed_at), json.out.rfind(failed_at)) << json.out;  // for both endpoints
  }
}
#endif

}  // namespace
}  // namespace quillwave
