// The run sequence in-process: every end of a launch over the null window,
// a scripted probe and an engine start that only records what it was given.
#include "launcher/run_sequence.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "platform/encoding.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "report/result_record.h"
#include "tests/support/profile_holder.h"
#include "tests/support/temp_dir.h"
#include "ui/null_progress_window.h"

#ifdef _WIN32
#include <windows.h>

#include <cstdio>

#include "platform/win32/unique_handle.h"
#else
#include <fcntl.h>
#include <linux/fs.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>

#include "tests/support/posix/unprivileged.h"
#endif

namespace quillwave {
namespace {

namespace fs = std::filesystem;

struct End {
  const char* name;
  std::string persona;
  bool engine_present = true;
  NullWindowScript window;
  std::optional<ProbeOutcome> probe;  // nothing: the probe must not run
  bool engine_starts = true;
  int exit_code = 0;
  std::wstring engine_gets;              // the last argument; empty: no start
  std::string status;                    // of the result record; empty: none written
  std::wstring error;                    // the start of what the person is shown
  bool engine_runs = false;              // an engine already holds the profile
  std::optional<std::string> message{};  // of the result record, when checked
};

ProbeOutcome Found() {
  ProbeOutcome outcome;
  outcome.ip = "203.0.113.9";
  outcome.timezone = "Europe/Berlin";
  return outcome;
}

ProbeOutcome Unreachable() {
  ProbeOutcome outcome;
  outcome.error_code = "PROXY_UNREACHABLE";
  return outcome;
}

constexpr char kDiscovers[] = R"({"auto-timezone": true, "proxy-server": "socks5://127.0.0.1:1"})";
constexpr char kFallsBack[] =
    R"({"auto-timezone": true, "webrtc-no-leak": true, "on-proxy-fail": "fallback", "proxy-server": "socks5://127.0.0.1:1"})";
const std::string kNoWindow = "no progress window (no display); discovery ran without it";
// A toolkit that takes longer than the launch waits for its window (made
// short here: 50 ms).
constexpr std::chrono::milliseconds kSlowToolkit{300};

// ASCII text as Windows Notepad saves "Unicode": UTF-16 after a byte-order mark.
std::string Utf16(std::string_view ascii, bool little_endian) {
  std::string bytes = little_endian ? "\xFF\xFE" : "\xFE\xFF";
  for (const char c : ascii) bytes += little_endian ? std::string{c, '\0'} : std::string{'\0', c};
  return bytes;
}
constexpr char kResetsAll[] = R"({"start-page": "about:blank", "granular-storage-reset": {"all": true}})";
constexpr char kDiscoversAndResets[] = R"({"auto-timezone": true, "granular-storage-reset": {"all": true}})";

TEST(RunLauncher, TakesEachEndWithItsExitCodeRecordAndEngineStart) {
  const End ends[] = {
      {"engine missing", "{}", false, {}, {}, true, 1, L"", "", L"Quillwave\nEngine binary not found:\n"},
      {"direct", R"({"start-page": "about:blank"})", true, {}, {}, true, 0, L"about:blank", "passthrough", L""},
      // Without a window the same lookup decides; the record says why there was none.
      // clang-format off
      {"no window, ok", kDiscovers, true, {false}, Found(), true, 0, L"chrome://version", "ok", L"", false, kNoWindow},
      {"no window, blocked", kDiscovers, true, {false}, Unreachable(), true, 42, L"", "blocked", L"", false,
       "see .corvane-launcher-error.json for details; " + kNoWindow},
      {"no window, fallback", kFallsBack, true, {false}, Unreachable(), true, 0, L"chrome://version", "ok", L"", false,
       kNoWindow},
      // clang-format on
      {"cancelled", kDiscovers, true, {true, true}, Found(), true, 0, L"", "", L""},
      {"blocked", kDiscovers, true, {}, Unreachable(), true, 42, L"", "blocked", L""},
      {"ok", kDiscovers, true, {}, Found(), true, 0, L"chrome://version", "ok", L""},
      {"ok, UTF-16 LE", Utf16(kDiscovers, true), true, {}, Found(), true, 0, L"chrome://version", "ok", L""},
      {"ok, UTF-16 BE", Utf16(kDiscovers, false), true, {}, Found(), true, 0, L"chrome://version", "ok", L""},
      // clang-format off
      {"engine cannot start", "{}", true, {}, {}, false, 1, L"chrome://version", "passthrough",
       L"Quillwave\nEngine could not be started:\n"},
      // clang-format on
      {"profile in use", kResetsAll, true, {}, {}, true, 0, L"about:blank", "passthrough", L"", true},
      // clang-format off
      {"window too late", kDiscovers, true, {true, false, "", SummaryRowsShown(1080), kSlowToolkit}, Found(), true, 0,
       L"chrome://version", "ok", L"", false,
       "no progress window (window did not appear within 2 s); discovery ran without it"},
      {"profile in use, no window", kDiscoversAndResets, true, {false, false, "window creation failed"}, Found(), true,
       0, L"chrome://version", "ok", L"", true,
       "no progress window (window creation failed); discovery ran without it; profile in use; housekeeping skipped"},
      // clang-format on
  };
  for (const End& end : ends) {
    SCOPED_TRACE(end.name);
    test::ScopedTempDir dir;
    const fs::path app = dir.path() / "app", profile = dir.path() / "profile";
    fs::create_directories(app);
    if (end.engine_runs) {
      test::PlaceEngineOfThisProcess(app / fs::path(platform::kEngineFileName));
    } else if (end.engine_present) {
      test::WriteTextFile(app / fs::path(platform::kEngineFileName), "engine");
    }
    test::WriteTextFile(profile / "command-line.json", end.persona);
    test::WriteTextFile(profile / "Default" / "Cookies", "kept while an engine runs");
    std::optional<test::ProfileHolder> engine;
    if (end.engine_runs) engine.emplace(profile);

    auto log = std::make_shared<NullWindowLog>();
    std::vector<platform::ProcessLaunch> starts;
    LaunchEnvironment environment;
    environment.launcher_dir = app.wstring();
    environment.window = NullProgressWindow(end.window, log);
    const bool window_late = end.window.create_takes > std::chrono::milliseconds::zero();
    if (window_late) environment.window_limit = std::chrono::milliseconds(50);
    environment.probe = [&end](const std::string&, const std::string&, const platform::Cancellation&) {
      EXPECT_TRUE(end.probe.has_value()) << "the probe ran";
      return end.probe.value_or(ProbeOutcome{});
    };
    int pauses = 0;
    environment.pause = [&pauses](std::chrono::milliseconds, const platform::Cancellation&) { ++pauses; };
    environment.start = [&](const platform::ProcessLaunch& launch) {
      starts.push_back(launch);
      return platform::SpawnResult{end.engine_starts, end.engine_starts ? L"" : L"not a program"};
    };
    const std::wstring user_data = L"--user-data-dir=" + profile.wstring();

    EXPECT_EQ(RunLauncher({user_data, {user_data}}, environment), end.exit_code);

    ASSERT_EQ(starts.size(), end.engine_gets.empty() ? 0u : 1u);
    if (!starts.empty()) {
      EXPECT_EQ(starts[0].program, (app / fs::path(platform::kEngineFileName)).wstring());
      EXPECT_EQ(starts[0].arguments.back().text, end.engine_gets);
      EXPECT_EQ(starts[0].own_arguments.list, std::vector<std::wstring>{user_data});
      const auto has = [&](const wchar_t* item) {
        return std::any_of(starts[0].arguments.begin(), starts[0].arguments.end(),
                           [&](const auto& a) { return a.text == item; });
      };
      EXPECT_EQ(has(L"--timezone-override=Europe/Berlin"), end.status == "ok" && end.probe && !end.probe->ip.empty());
      EXPECT_EQ(has(L"--force-webrtc-ip-handling-policy=default"), end.persona == kFallsBack);
    }
    // Nobody reads the narration of a launch without a window.
    if (!end.window.opens || window_late) {
      EXPECT_EQ(pauses, 0);
    }
    const fs::path record = profile / ".corvane-launcher-result.json";
    EXPECT_EQ(fs::exists(record), !end.status.empty());
    if (!end.status.empty()) {
      EXPECT_NE(test::ReadTextFile(record).find("\"status\":\"" + end.status + "\""), std::string::npos);
    }
    if (end.message) {
      const std::string text = test::ReadTextFile(record);
      EXPECT_NE(text.find("\"message\":\"" + *end.message + "\","), std::string::npos) << text;
    }
    if (end.engine_runs) {
      EXPECT_TRUE(fs::exists(profile / "Default" / "Cookies"));
      EXPECT_NE(test::ReadTextFile(record).find("profile in use; housekeeping skipped\""), std::string::npos);
    }
    ASSERT_EQ(log->errors.size(), end.error.empty() ? 0u : 1u);
    if (!end.error.empty()) {
      EXPECT_EQ(log->errors[0].rfind(end.error, 0), 0u) << Narrow(log->errors[0]);
    }
  }
}

// A direct launch of the engine at `app` on `user_data`, the start only
// recorded; the result record's message.
std::string MessageOfDirectLaunch(const fs::path& app, const std::wstring& user_data) {
  LaunchEnvironment environment;
  environment.launcher_dir = app.wstring();
  environment.window = NullProgressWindow({}, std::make_shared<NullWindowLog>());
  environment.start = [](const platform::ProcessLaunch&) { return platform::SpawnResult{true, L""}; };
  const std::wstring argument = L"--user-data-dir=" + user_data;
  if (RunLauncher({argument, {argument}}, environment) != 0) return "the launch failed";
  const auto record = platform::ReadFileBytes(user_data + platform::kPathSeparator + Widen(kResultRecordName));
  if (!record) return "no record";
  const std::size_t from = record->find("\"message\":\"") + 11, to = record->find("\",\"launcher_version\"");
  return from < to && to != std::string::npos ? record->substr(from, to - from) : std::string();
}

constexpr char kResetsIndexedDb[] = R"({"granular-storage-reset": {"indexeddb": true}})";

#ifndef _WIN32
// What the reset has to leave is named in the record: a folder nobody may
// remove, and file systems mounted inside the profile, which the reset never
// enters (a tmpfs, and a folder of the same file system bound in).
TEST(RunLauncher, AnIncompleteResetIsNamedInTheRecord) {
  test::ScopedTempDir dir;
  const fs::path app = dir.path() / "app", profile = dir.path() / "profile", outside = dir.path() / "outside";
  const fs::path indexed_db = profile / "Default" / "IndexedDB";
  test::WriteTextFile(app / fs::path(platform::kEngineFileName), "engine");
  test::WriteTextFile(profile / "command-line.json", kResetsIndexedDb);
  for (const char* folder : {"a", "locked", "mnt-bound", "mnt-tmpfs"})
    test::WriteTextFile(indexed_db / folder / "LOG", "x");
  test::WriteTextFile(outside / "keep", "x");
  // Root ignores permission bits: the launch runs as nobody, in nobody's tree.
  if (::geteuid() == 0) {
    ASSERT_EQ(::chown(dir.path().c_str(), test::kNobody, test::kNobody), 0);
    for (const auto& entry : fs::recursive_directory_iterator(dir.path())) {
      ASSERT_EQ(::lchown(entry.path().c_str(), test::kNobody, test::kNobody), 0);
    }
  }
  ASSERT_EQ(::chmod((indexed_db / "locked").c_str(), 0), 0);
  bool mounted = false;  // in the child, in a mount namespace of its own that ends with it
  const auto mount_inside = [&] {
    mounted = ::unshare(CLONE_NEWNS) == 0 && ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0 &&
              ::mount(outside.c_str(), (indexed_db / "mnt-bound").c_str(), nullptr, MS_BIND, nullptr) == 0 &&
              ::mount("tmpfs", (indexed_db / "mnt-tmpfs").c_str(), "tmpfs", 0, "uid=65534,gid=65534") == 0;
    if (mounted) test::WriteTextFile(indexed_db / "mnt-tmpfs" / "keep", "x");
    return std::string();
  };
  const std::string report = test::RunUnprivileged(
      [&] {
        std::string seen = MessageOfDirectLaunch(app, profile.wstring());
        if (fs::exists(indexed_db / "a")) seen += "; a removable folder stayed";
        if (mounted && !fs::exists(indexed_db / "mnt-tmpfs" / "keep")) seen += "; the tmpfs was emptied";
        return (mounted ? "mounted: " : "") + seen;
      },
      std::chrono::seconds(10), mount_inside);
  if (report.rfind("mounted: ", 0) == 0) {
    EXPECT_EQ(report, "mounted: storage reset incomplete: 3 kept, first Default/IndexedDB/locked");
  } else {
    std::printf("no mount allowed here: file systems inside the profile go unchecked\n");
    EXPECT_EQ(report, "storage reset incomplete: 1 kept, first Default/IndexedDB/locked");
  }
  EXPECT_TRUE(fs::exists(outside / "keep"));
  fs::permissions(indexed_db / "locked", fs::perms::owner_all, fs::perm_options::add);
  EXPECT_TRUE(fs::exists(indexed_db / "locked" / "LOG"));
}

// A file nobody may remove, root included (chattr +i), until it goes.
class ImmutableFile {
 public:
  explicit ImmutableFile(const fs::path& path) : file_(::open(path.c_str(), O_RDONLY | O_CLOEXEC)) {
    int flags = 0;
    set_ = file_.valid() && ::ioctl(file_.get(), FS_IOC_GETFLAGS, &flags) == 0 &&
           ::ioctl(file_.get(), FS_IOC_SETFLAGS, &(flags |= FS_IMMUTABLE_FL)) == 0;
  }
  ~ImmutableFile() {
    int flags = 0;
    if (set_ && ::ioctl(file_.get(), FS_IOC_GETFLAGS, &flags) == 0) {
      ::ioctl(file_.get(), FS_IOC_SETFLAGS, &(flags &= ~FS_IMMUTABLE_FL));
    }
  }
  bool set() const { return set_; }

 private:
  platform::UniqueFd file_;
  bool set_ = false;
};

// Every step names what it had to keep, and no name can pass for a note of
// its own: the notes are split where a reader splits them.
TEST(RunLauncher, WhatEachStepKeptIsNamedAndNamesCannotForgeNotes) {
  test::ScopedTempDir dir;
  const fs::path app = dir.path() / "app", profile = dir.path() / "profile";
  test::WriteTextFile(app / fs::path(platform::kEngineFileName), "engine");
  test::WriteTextFile(profile / "command-line.json",
                      R"({"close-previous-tabs": true, "granular-storage-reset": {"indexeddb": true}})");
  const fs::path session = profile / "Default" / "Current Session";
  const fs::path stuck = profile / "Default" / "IndexedDB" / "x; profile in use; housekeeping skipped" / "stuck";
  test::WriteTextFile(session, "tabs");
  test::WriteTextFile(stuck, "x");
  const ImmutableFile immutable_session(session), immutable_entry(stuck);
  if (!immutable_session.set() || !immutable_entry.set()) GTEST_SKIP() << "no immutable files here (chattr +i)";

  const std::string message = MessageOfDirectLaunch(app, profile.wstring());
  EXPECT_EQ(message,
            "previous tabs kept: 1, first Default/Current Session; storage reset incomplete: 1 kept, first "
            "Default/IndexedDB/x%3B profile in use%3B housekeeping skipped/stuck");
  for (std::size_t from = 0, to = 0; to != std::string::npos; from = to + 2) {
    to = message.find("; ", from);
    EXPECT_NE(message.substr(from, to - from), "profile in use") << message;
  }
}
#else
// A name Windows refuses but a Unix folder holds ("a*b"), made where Wine
// runs the test: its "\\?\unix\" paths name Unix files as they are. False
// elsewhere.
bool MakeUnixOnlyName(const std::wstring& folder, std::wstring_view name) {
  using UnixFileName = char*(CDECL*)(const wchar_t*);
  const auto unix_file_name = reinterpret_cast<UnixFileName>(
      reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"kernel32"), "wine_get_unix_file_name")));
  char* unix_folder = unix_file_name != nullptr ? unix_file_name(folder.c_str()) : nullptr;
  if (unix_folder == nullptr) return false;
  std::wstring path = L"\\\\?\\unix" + Widen(unix_folder) + L"/" + std::wstring(name);
  ::HeapFree(::GetProcessHeap(), 0, unix_folder);
  std::replace(path.begin(), path.end(), L'/', L'\\');
  return platform::UniqueFileHandle(
             ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr))
      .valid();
}

// The reset reaches a user-data folder of 300 characters and every name the
// file system holds, clears read-only attributes, and names the file that
// another program holds open without delete sharing.
TEST(RunLauncher, TheResetReachesLongPathsAndEveryName) {
  test::ScopedTempDir dir;
  const fs::path app = dir.path() / "app";
  test::WriteTextFile(app / fs::path(platform::kEngineFileName), "engine");
  std::wstring profile = dir.wpath();
  std::replace(profile.begin(), profile.end(), L'/', L'\\');
  profile += L'\\';
  profile.append(300 - profile.size(), L'p');
  const auto at = [&](std::wstring_view below) { return L"\\\\?\\" + profile + std::wstring(below); };
  for (const wchar_t* folder : {L"", L"\\Default", L"\\Default\\IndexedDB"}) {
    ASSERT_TRUE(::CreateDirectoryW(at(folder).c_str(), nullptr)) << Narrow(folder);
  }
  const auto make_file = [&](std::wstring_view below, std::string_view content, DWORD attributes) {
    platform::UniqueFileHandle file(
        ::CreateFileW(at(below).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, attributes, nullptr));
    DWORD written = 0;
    return file.valid() &&
           ::WriteFile(file.get(), content.data(), static_cast<DWORD>(content.size()), &written, nullptr);
  };
  ASSERT_TRUE(make_file(L"\\command-line.json", kResetsIndexedDb, FILE_ATTRIBUTE_NORMAL));
  for (const wchar_t* name : {L"aux", L"con.txt", L"nul", L"held"}) {
    ASSERT_TRUE(make_file(L"\\Default\\IndexedDB\\" + std::wstring(name), "x", FILE_ATTRIBUTE_NORMAL)) << Narrow(name);
  }
  ASSERT_TRUE(make_file(L"\\Default\\IndexedDB\\read-only", "x", FILE_ATTRIBUTE_READONLY));
  if (!MakeUnixOnlyName(at(L"\\Default\\IndexedDB"), L"a*b")) std::printf("not under Wine: a*b not checked\n");
  platform::UniqueFileHandle held(::CreateFileW(at(L"\\Default\\IndexedDB\\held").c_str(), GENERIC_READ,
                                                FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                                FILE_ATTRIBUTE_NORMAL, nullptr));
  ASSERT_TRUE(held.valid());

  EXPECT_EQ(MessageOfDirectLaunch(app, profile), "storage reset incomplete: 1 kept, first Default/IndexedDB/held");
  std::vector<std::wstring> left;
  platform::ForEachFolderEntry(at(L"\\Default\\IndexedDB"), [&](const std::wstring& name) { left.push_back(name); });
  EXPECT_EQ(left, std::vector<std::wstring>{L"held"});
  held.Reset();
  platform::RemoveBelow(dir.wpath(), {std::wstring_view(profile).substr(profile.rfind(L'\\') + 1)},
                        platform::RemoveKind::kTree);
}
#endif

}  // namespace
}  // namespace quillwave
