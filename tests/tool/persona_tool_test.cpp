// The persona tool in-process: what check finds in a persona, and one clear
// line for every bad command line.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/json_writer.h"
#include "platform/encoding.h"
#include "tests/support/temp_dir.h"
#include "tool/persona_check.h"
#include "tool/persona_tool.h"

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
  const char* persona;
  std::vector<std::string> findings;
};

TEST(PersonaCheck, FindsWhatIsIgnoredMisreadOrFatal) {
  const std::string profiles = R"({"p1": {"x": 1}})";
  const CheckRow rows[] = {
      {R"({"proxy-server": "socks5://127.0.0.1:1080", "auto-timezone": true, "_note": "x"})", {}},
      // Discovery through a proxy curl cannot use; a port outside the range.
      {R"({"proxy-server": "http://p:8080", "auto-lang": 1, "cdp-tcp-port": "70000"})",
       {"error proxy-server 1:2", "error cdp-tcp-port 1:51"}},
      // No proxy: the lookup goes out directly. "9222abc" is read as 9222.
      {R"({"auto-geo": true, "cdp-tcp-port": "9222abc"})", {"warning cdp-tcp-port 1:20", "warning proxy-server 0:0"}},
      // A misspelt key, booleans the launcher reads as false.
      {"{\"auto-timezon\": true,\n \"webrtc-no-leak\": \"yes\", \"auto-lang\": True}",
       {"warning auto-timezon 1:2", "warning webrtc-no-leak 2:2", "warning auto-lang 2:27"}},
      // A duplicate (the first wins) and a key read from inside another object.
      {R"({"lang": "de", "lang": "fr", "chrome-command-line": {"start-page": "https://a.example"}})",
       {"warning lang 1:16", "warning start-page 1:54"}},
      // Storage kinds: unknown, hyphenated, quoted.
      {R"({"granular-storage-reset": {"cookie": true, "local-storage": true, "indexeddb": "true", "websql": false}})",
       {"warning granular-storage-reset 1:29", "warning granular-storage-reset 1:45",
        "warning granular-storage-reset 1:68"}},
      // A WebGL profile that is not in the file; a zone that is no zone name;
      // coordinates out of range; a port written as a number; a start page the
      // engine would take for a switch.
      {R"({"webgl-profile": "p2", "timezone-override": "Berlin time", "geo-lat": 91, "geo-lng": "x",
           "cdp-tcp-port": 9222, "start-page": "--x"})",
       {"warning webgl-profile 1:2", "warning timezone-override 1:25", "warning geo-lat 1:61", "warning geo-lng 1:76",
        "warning cdp-tcp-port 2:12", "warning start-page 2:34"}},
      {R"({"webgl-profile": "p1", "on-proxy-fail": "Fallback"})", {"warning on-proxy-fail 1:25"}},
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

struct ToolRun {
  int exit_code;
  std::string out;
  std::string err;
};

ToolRun RunTool(const std::vector<std::wstring>& arguments, const std::wstring& launcher_dir = L"") {
  ToolRun run{0, {}, {}};
  ToolEnvironment environment;
  environment.launcher_dir = launcher_dir;
  environment.probe = [](const std::string&, const std::string&, const platform::Cancellation&) {
    return ProbeOutcome{};
  };
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

TEST(PersonaTool, EveryBadCommandLineGivesOneLine) {
  test::ScopedTempDir dir;
  const std::wstring folder = dir.wpath();
  const std::wstring missing = (dir.path() / "missing").wstring();
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
      {{L"switches", folder, L"--assume-ip"}, 64, "quillwave-persona switches: --assume-ip needs a value\n"},
      {{L"check", L"--yaml", folder}, 64, "quillwave-persona check: unknown option --yaml\n"},
      {{L"check"}, 64, "quillwave-persona check: no PATH given\n"},
      {{L"probe", folder, folder},
       64,
       "quillwave-persona probe: one path only (\"" + Narrow(folder) + "\" is a second one)\n"},
      {{L"check", missing}, 3, "quillwave-persona check: no such file or folder: " + Narrow(missing) + "\n"},
      {{L"switches", missing}, 3, "quillwave-persona switches: no such folder: " + Narrow(missing) + "\n"},
  };
  for (const auto& row : rows) {
    const ToolRun run = RunTool(row.arguments);
    EXPECT_EQ(run.exit_code, row.exit_code) << row.err;
    EXPECT_EQ(run.err, row.err);
    EXPECT_EQ(run.out, "");
  }
}

}  // namespace
}  // namespace quillwave
