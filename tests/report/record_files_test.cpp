#include "report/record_files.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include "base/json_writer.h"
#include "platform/atomic_file.h"
#include "platform/encoding.h"
#include "tests/support/temp_dir.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <share.h>
#include <sys/stat.h>

#include <thread>

#include "tests/support/child_process.h"
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <memory>
#include <random>

#include "platform/files.h"
#include "platform/posix/unique_fd.h"
#include "tests/support/posix/unprivileged.h"
#endif

namespace quillwave {
namespace {

namespace fs = std::filesystem;
using platform::kReplaceAttempts;
using platform::RetryPause;
using platform::WriteFileAtomic;
using test::ReadTextFile;
using test::ScopedTempDir;
using test::WriteTextFile;
using ::testing::IsEmpty;

struct EscapeCase {
  const char* what;
  std::string input;
  std::string expected;
};

TEST(EscapeJsonStringTest, EscapesControlCharactersQuoteAndBackslashOnly) {
  const EscapeCase cases[] = {
      {"empty", "", ""},
      {"two-character escapes", "a\"b\\c\n\t", "a\\\"b\\\\c\\n\\t"},
      {"carriage return", "x\ry", "x\\ry"},
      {"escape byte", "\x1b", "\\u001b"},
      {"lowest and highest control", "\x01\x1f", "\\u0001\\u001f"},
      {"no short form for backspace or form feed", "\b\f", "\\u0008\\u000c"},
      {"zero byte", std::string("a\0b", 3), "a\\u0000b"},
      {"delete and solidus stay raw", "\x7f/", "\x7f/"},
      {"printable ASCII", " ~azAZ09{}[]:,", " ~azAZ09{}[]:,"},
  };
  for (const auto& c : cases) EXPECT_EQ(EscapeJsonString(c.input), c.expected) << c.what;
}

TEST(EscapeJsonStringTest, ValidMultiByteTextPassesByteForByte) {
  const std::string valid[] = {
      "\xC3\xA9",                          // e acute
      "\xC2\x80\xDF\xBF",                  // U+0080, U+07FF
      "\xE0\xA0\x80\xE2\x82\xAC",          // U+0800, euro sign
      "\xED\x9F\xBF\xEE\x80\x80",          // U+D7FF, U+E000 around the surrogates
      "\xEF\xBF\xBF\xEF\xBF\xBD",          // U+FFFF, U+FFFD itself
      "\xF0\x90\x80\x80\xF0\x9F\x98\x80",  // U+10000, an emoji
      "\xF4\x8F\xBF\xBF",                  // U+10FFFF
      "S\xC3\xA3o Paulo \xE6\x97\xA5\xE6\x9C\xAC",
  };
  for (const auto& text : valid) EXPECT_EQ(EscapeJsonString(text), text);
}

TEST(EscapeJsonStringTest, EachInvalidOrCutSequenceBecomesOneReplacementEscape) {
  const EscapeCase cases[] = {
      {"two-byte lead cut at the end", "ab\xC3", "ab\\ufffd"},
      {"three-byte character cut after two bytes", "ab\xE2\x82", "ab\\ufffd"},
      {"four-byte character cut after three bytes", "\xF0\x9F\x98", "\\ufffd"},
      {"cut character followed by a whole one", "\xE2\x82\xE2\x82\xAC", "\\ufffd\xE2\x82\xAC"},
      {"cut character followed by ASCII", "\xE2\x82x", "\\ufffdx"},
      {"cut character followed by a quote", "\xF0\x9F\x98\"", "\\ufffd\\\""},
      {"cut character followed by a line feed", "\xC3\n", "\\ufffd\\n"},
      {"lone continuation bytes", "\x80\xBF", "\\ufffd\\ufffd"},
      {"bytes that never start a character", "\xC0\xC1\xF5\xFE\xFF", "\\ufffd\\ufffd\\ufffd\\ufffd\\ufffd"},
      {"overlong two-byte slash", "\xC0\xAF", "\\ufffd\\ufffd"},
      {"overlong three-byte", "\xE0\x80\xAF", "\\ufffd\\ufffd\\ufffd"},
      {"overlong four-byte", "\xF0\x80\x80\xAF", "\\ufffd\\ufffd\\ufffd\\ufffd"},
      {"high surrogate", "\xED\xA0\x80", "\\ufffd\\ufffd\\ufffd"},
      {"low surrogate", "\xED\xBF\xBF", "\\ufffd\\ufffd\\ufffd"},
      {"above U+10FFFF", "\xF4\x90\x80\x80", "\\ufffd\\ufffd\\ufffd\\ufffd"},
      {"lead byte interrupted by another lead", "\xE2\xC3\xA9", "\\ufffd\xC3\xA9"},
  };
  for (const auto& c : cases) EXPECT_EQ(EscapeJsonString(c.input), c.expected) << c.what;
}

TEST(WidenNarrowTest, ConvertBetweenUtf8AndWide) {
  EXPECT_EQ(Widen(""), L"");
  EXPECT_EQ(Narrow(L""), "");
  EXPECT_EQ(Widen("de-DE"), L"de-DE");
  const std::wstring wide = L"S\u00e3o \u65e5\u672c \U0001F600";  // a surrogate pair on Windows
  const std::string utf8 = "S\xC3\xA3o \xE6\x97\xA5\xE6\x9C\xAC \xF0\x9F\x98\x80";
  EXPECT_EQ(Widen(utf8), wide);
  EXPECT_EQ(Narrow(wide), utf8);
  EXPECT_EQ(Widen(std::string("a\0b", 3)), std::wstring(L"a\0b", 3));
}

TEST(WidenNarrowTest, MalformedInputIsReplacedNotRejected) {
  EXPECT_EQ(Widen("ab\xE2\x82"), L"ab\uFFFD");
  EXPECT_EQ(Widen("a\xFF"
                  "b"),
            L"a\uFFFD"
            L"b");
  EXPECT_EQ(Widen("\xC3\xA9\x80\xC3\xA9"), L"\u00e9\uFFFD\u00e9");
  // A lone surrogate cannot be written as UTF-8.
  const std::wstring lone(1, static_cast<wchar_t>(0xD800));
  EXPECT_EQ(Narrow(L"a" + lone + L"b"),
            "a\xEF\xBF\xBD"
            "b");
}

TEST(UtcTimestampTest, FormatsFixedWidthWithZuluSuffix) {
  EXPECT_EQ(FormatUtcTimestamp({2026, 1, 5, 3, 4, 5}), "2026-01-05T03:04:05Z");
  EXPECT_EQ(FormatUtcTimestamp({1999, 12, 31, 23, 59, 59}), "1999-12-31T23:59:59Z");
  EXPECT_EQ(FormatUtcTimestamp({}), "0000-00-00T00:00:00Z");
  EXPECT_TRUE(std::regex_match(UtcTimestamp(), std::regex(R"(20\d\d-\d\d-\d\dT\d\d:\d\d:\d\dZ)")));
}

class WriteFileAtomicTest : public ::testing::Test {
 protected:
  fs::path Target() const { return dir_.path() / "rec.json"; }
  // Every entry of the record's folder but the record itself.
  std::vector<std::string> Others() const {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir_.path())) {
      if (entry.path().filename() != "rec.json") names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
  }
  // Makes an entry look as if its writer had died an hour ago.
  static void Age(const fs::path& path) {
    fs::last_write_time(path, fs::file_time_type::clock::now() - std::chrono::hours(1));
  }
  ScopedTempDir dir_;
};

const RetryPause kNoPause = [](std::chrono::milliseconds) {};

TEST_F(WriteFileAtomicTest, ReplacesExistingContentCompletely) {
  WriteTextFile(Target(), "a much longer previous record\n");
  EXPECT_TRUE(WriteFileAtomic(Target().wstring(), "{}\n"));
  EXPECT_EQ(ReadTextFile(Target()), "{}\n");
  EXPECT_THAT(Others(), IsEmpty());
}

TEST_F(WriteFileAtomicTest, EmptyContentGivesEmptyFile) {
  EXPECT_TRUE(WriteFileAtomic(Target().wstring(), ""));
  ASSERT_TRUE(fs::is_regular_file(Target()));
  EXPECT_EQ(fs::file_size(Target()), 0u);
}

TEST_F(WriteFileAtomicTest, MissingFolderIsNeverCreated) {
  const fs::path missing = dir_.path() / "Corvane";
  EXPECT_FALSE(WriteFileAtomic((missing / "rec.json").wstring(), "x"));
  EXPECT_FALSE(fs::exists(missing));
  EXPECT_TRUE(fs::is_empty(dir_.path()));
}

// Killed writers' files go once they are old; a fresh one may belong to a
// writer at work, and nothing that is not this record's temporary file is
// ever touched.
TEST_F(WriteFileAtomicTest, OnlyThisRecordsStaleTemporaryFilesAreRemoved) {
  struct Entry {
    const char* name;
    bool old;
    bool removed;
  };
  const Entry entries[] = {
      {"rec.json.4242-9f0c1e.tmp", true, true}, {"rec.json.tmp", true, true},  // as earlier versions named it
      {"rec.json.77-1.tmp", false, false},      {"other.json.4242-9f0c1e.tmp", true, false},
      {"rec.json.x-1.tmp", true, false},        {"rec.json.4242-.tmp", true, false},
      {"rec.json.4242-9z.tmp", true, false},    {"rec.json.4242-9f.tmp.bak", true, false},
  };
  for (const auto& entry : entries) {
    WriteTextFile(dir_.path() / entry.name, "left over");
    if (entry.old) Age(dir_.path() / entry.name);
  }

  EXPECT_TRUE(WriteFileAtomic(Target().wstring(), "new"));
  EXPECT_EQ(ReadTextFile(Target()), "new");
  for (const auto& entry : entries) EXPECT_EQ(fs::exists(dir_.path() / entry.name), !entry.removed) << entry.name;
}

TEST_F(WriteFileAtomicTest, TargetThatIsAFolderFailsAndLeavesNoTemporaryFile) {
  fs::create_directory(Target());
  WriteTextFile(Target() / "inside", "kept");
  EXPECT_FALSE(WriteFileAtomic(Target().wstring(), "x", kNoPause));
  EXPECT_EQ(ReadTextFile(Target() / "inside"), "kept");
  EXPECT_THAT(Others(), IsEmpty());
}

#ifdef _WIN32
TEST_F(WriteFileAtomicTest, TargetHeldOpenWithoutSharingKeepsOldContent) {
  WriteTextFile(Target(), "old");
  int held = -1;
  ASSERT_EQ(_wsopen_s(&held, Target().c_str(), _O_RDONLY, _SH_DENYRW, _S_IREAD), 0);
  int pauses = 0;
  const bool written = WriteFileAtomic(Target().wstring(), "new", [&](std::chrono::milliseconds) { ++pauses; });
  _close(held);
  EXPECT_FALSE(written);
  EXPECT_EQ(pauses, kReplaceAttempts - 1);
  EXPECT_EQ(ReadTextFile(Target()), "old");
  EXPECT_THAT(Others(), IsEmpty());
}

// Another program (an indexer, a scanner) holds the record for 200 ms
// without delete sharing: the write waits it out instead of losing the record.
TEST_F(WriteFileAtomicTest, TargetHeldBrieflyByAnotherProgramIsReplacedAfterRetries) {
  WriteTextFile(Target(), "old");
  ScopedTempDir elsewhere;
  const fs::path held = elsewhere.path() / "held";
  bool written = false;
  int pauses = 0;
  {
    std::jthread writer([&] {
      if (!test::WaitForFile(held, std::chrono::seconds(30))) return;
      written = WriteFileAtomic(Target().wstring(), "new", [&](std::chrono::milliseconds pause) {
        ++pauses;
        std::this_thread::sleep_for(pause);
      });
    });
    test::ChildOptions options;
    options.timeout = std::chrono::seconds(30);
    const auto holder = test::RunChild(QUILLWAVE_HOLD_FILE_PATH, {Target().wstring(), held.wstring(), L"200"}, options);
    EXPECT_FALSE(holder.timed_out);
    EXPECT_EQ(holder.exit_code, 0);
  }
  EXPECT_TRUE(written);
  EXPECT_GE(pauses, 1) << "the record was not held while it was written";
  RecordProperty("pauses", pauses);
  EXPECT_EQ(ReadTextFile(Target()), "new");
  EXPECT_THAT(Others(), IsEmpty());
}
#else
TEST_F(WriteFileAtomicTest, ReadOnlyFolderFailsAndKeepsOldTarget) {
  WriteTextFile(Target(), "old");
  // Root ignores permission bits: the write runs as nobody, in nobody's folder.
  if (::geteuid() == 0) {
    ASSERT_EQ(::chown(dir_.path().c_str(), test::kNobody, test::kNobody), 0);
  }
  ASSERT_EQ(::chmod(dir_.path().c_str(), 0555), 0);
  const fs::path target = Target();
  EXPECT_EQ(test::RunUnprivileged(
                [&] { return WriteFileAtomic(target.wstring(), "new") ? std::string("written") : std::string(); }),
            "");
  ::chmod(dir_.path().c_str(), 0755);
  EXPECT_EQ(ReadTextFile(Target()), "old");
  EXPECT_THAT(Others(), IsEmpty());
}

// A writer killed at any moment leaves the old or the new record, never a
// mix: a reader polling the target sees only the two whole contents. The
// kill moments come from a seeded generator; each writer is reaped.
TEST_F(WriteFileAtomicTest, WriterKilledAtRandomMomentsNeverLeavesAPartialRecord) {
  const std::string first = "{\"n\":1," + std::string(200000, 'a') + "}\n";
  const std::string second = "{\"n\":2," + std::string(70000, 'b') + "}\n";
  const std::wstring target = Target().wstring();
  std::mt19937 random(20260105);
  // Writes flush to the disk, which a busy machine makes slow: the windows
  // are long enough for some writes to finish.
  std::uniform_int_distribution<int> kill_after_us(0, 50000);
  int reads[3] = {0, 0, 0};  // -, first, second
  WriteTextFile(Target(), first);
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(2000);
  while (std::chrono::steady_clock::now() < end) {
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      for (unsigned i = 0;; ++i) WriteFileAtomic(target, i % 2 == 0 ? second : first);
    }
    test::ForkedChild writer(pid);
    const auto kill_at = std::chrono::steady_clock::now() + std::chrono::microseconds(kill_after_us(random));
    do {
      const auto seen = platform::ReadFileBytes(target);
      ASSERT_TRUE(seen.has_value()) << "the record vanished";
      ASSERT_TRUE(*seen == first || *seen == second) << "a partial record of " << seen->size() << " bytes";
      ++reads[*seen == first ? 1 : 2];
    } while (std::chrono::steady_clock::now() < kill_at);
    writer.Kill();
  }
  const auto last = platform::ReadFileBytes(target);
  ASSERT_TRUE(last.has_value());
  EXPECT_TRUE(*last == first || *last == second);
  EXPECT_GT(reads[1], 0);
  EXPECT_GT(reads[2], 0);
  // What the kills left behind goes with a later write once it is old.
  const std::vector<std::string> left = Others();
  RecordProperty("temporary_files_left_by_kills", static_cast<int>(left.size()));
  for (const auto& name : left) Age(dir_.path() / name);
  EXPECT_TRUE(WriteFileAtomic(target, "final"));
  EXPECT_EQ(ReadTextFile(Target()), "final");
  EXPECT_THAT(Others(), IsEmpty());
}

// Fifty launches writing one record at once, twenty times over, while a
// reader reads it without pause: every read is one writer's whole record,
// and no temporary file is left. Writers start together on a closed pipe.
TEST_F(WriteFileAtomicTest, OverlappingWritersNeverShowAnEmptyOrCutRecord) {
  constexpr int kWriters = 50;
  constexpr int kRounds = 20;
  const auto content_of = [](int round, int writer) {
    const std::string head = "{\"round\":" + std::to_string(round) + ",\"writer\":" + std::to_string(writer) +
                             ",\"x\":\"";
    return head + std::string(8192 + 1024 * writer, static_cast<char>('a' + writer % 26)) + "\"}\n";
  };
  // The writer named in a read's head, so each read is compared with the one content it must be.
  const std::regex head(R"(\{"round":(\d+),"writer":(\d+),)");
  const std::wstring target = Target().wstring();
  WriteTextFile(Target(), content_of(0, 0));
  long reads = 0;
  int failed_writes = 0;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(2);
  for (int round = 0; round < kRounds; ++round) {
    int gun[2];
    ASSERT_EQ(::pipe2(gun, O_CLOEXEC), 0);
    platform::UniqueFd gun_read(gun[0]);
    platform::UniqueFd gun_write(gun[1]);
    std::vector<std::unique_ptr<test::ForkedChild> > writers;
    for (int writer = 0; writer < kWriters; ++writer) {
      const pid_t pid = ::fork();
      ASSERT_GE(pid, 0);
      if (pid == 0) {
        gun_write.Reset();
        char ignored;
        while (::read(gun_read.get(), &ignored, 1) < 0 && errno == EINTR) {
        }
        ::_exit(WriteFileAtomic(target, content_of(round, writer)) ? 0 : 1);
      }
      writers.push_back(std::make_unique<test::ForkedChild>(pid));
    }
    gun_write.Reset();
    for (std::size_t running = writers.size(); running > 0;) {
      ASSERT_LT(std::chrono::steady_clock::now(), deadline) << "writers still running in round " << round;
      const auto seen = platform::ReadFileBytes(target);
      ASSERT_TRUE(seen.has_value()) << "the record vanished";
      std::smatch named;
      ASSERT_TRUE(std::regex_search(*seen, named, head, std::regex_constants::match_continuous))
          << "a cut record of " << seen->size() << " bytes";
      ASSERT_EQ(*seen, content_of(std::stoi(named[1]), std::stoi(named[2]))) << "a cut record";
      if (++reads % 16 == 0) {
        running = 0;
        for (auto& writer : writers) running += writer->Ended() ? 0 : 1;
      }
    }
    for (auto& writer : writers) {
      const int status = writer->Kill();
      failed_writes += WIFEXITED(status) && WEXITSTATUS(status) == 0 ? 0 : 1;
    }
  }
  RecordProperty("reads", static_cast<int>(reads));
  EXPECT_EQ(failed_writes, 0);
  EXPECT_THAT(Others(), IsEmpty());
}

// Links at the record or at a temporary name are replaced or left, never
// written through.
TEST_F(WriteFileAtomicTest, LinksAreNeverWrittenThrough) {
  const fs::path outside = dir_.path() / "outside.txt";
  WriteTextFile(outside, "must survive");
  fs::create_symlink(outside, Target());
  fs::create_symlink(outside, dir_.path() / "rec.json.tmp");
  EXPECT_TRUE(WriteFileAtomic(Target().wstring(), "new"));
  EXPECT_EQ(ReadTextFile(Target()), "new");
  EXPECT_FALSE(fs::is_symlink(Target()));
  EXPECT_EQ(ReadTextFile(outside), "must survive");
}
#endif

}  // namespace
}  // namespace quillwave
