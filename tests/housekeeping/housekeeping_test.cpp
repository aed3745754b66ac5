#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "housekeeping/previous_tabs.h"
#include "housekeeping/storage_reset.h"
#include "tests/support/temp_dir.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <share.h>
#include <sys/stat.h>
#include <windows.h>
#include <winioctl.h>

#include "platform/win32/unique_handle.h"
#endif

namespace quillwave {
namespace {

namespace fs = std::filesystem;
using test::ScopedTempDir;
using test::WriteTextFile;

// A user-data directory as the engine leaves it: every file that any
// housekeeping step may remove, and some that none may.
const char* const kTree[] = {
    "Local State",
    "ShaderCache/index",
    "GraphiteDawnCache/data_0",
    "Default/Preferences",
    "Default/Current Tabs",
    "Default/Current Session",
    "Default/Last Tabs",
    "Default/Last Session",
    "Default/Sessions/Session_1",
    "Default/Sessions/nested/Tabs_1",
    "Default/Cookies",
    "Default/Cookies-journal",
    "Default/Network/Cookies",
    "Default/Network/Cookies-journal",
    "Default/Network/Network Persistent State",
    "Default/File System/000/p/00/00000000",
    "Default/IndexedDB/https_a.test_0.indexeddb.leveldb/LOG",
    "Default/Local Storage/leveldb/CURRENT",
    "Default/GPUCache/index",
    "Default/ShaderCache/index",  // a decoy: the shader cache lies beside the profile
    "Default/databases/Databases.db",
    "Default/Service Worker/Database/LOG",
    "Default/Service Worker/ScriptCache/index",
    "Default/Service Worker/CacheStorage/abc/index",
    "Default/InterestGroups/db",
    "Default/Shared Storage",
    "Default/Shared Storage-journal",
    "Default/StorageBuckets/bucket/data",
    "Default/Extensions/abc/manifest.json",
};

void MakeTree(const fs::path& user_data) {
  for (const char* file : kTree) WriteTextFile(user_data / file, "x");
}

// A link to the folder `target`: a junction on Windows; false where the
// system cannot make one.
bool MakeFolderLink(const fs::path& target, const fs::path& link) {
#ifdef _WIN32
  fs::create_directory(link);
  platform::UniqueFileHandle folder(::CreateFileW(link.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                                  FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  // Mount-point reparse data as 16-bit words: the tag (0xA0000003), the data
  // length, a reserved word, the offsets and lengths of the target's NT name
  // and of an empty print name, then both names with their terminators.
  const std::wstring name = L"\\??\\" + fs::absolute(target).wstring();
  const auto bytes = static_cast<WORD>(name.size() * 2);
  std::vector<WORD> data = {0x0003, 0xA000, 0, 0, 0, bytes, static_cast<WORD>(bytes + 2), 0};
  data.insert(data.end(), name.begin(), name.end());
  data.insert(data.end(), {0, 0});
  data[2] = static_cast<WORD>((data.size() - 4) * 2);
  DWORD returned = 0;
  const bool made = folder.valid() &&
                    ::DeviceIoControl(folder.get(), FSCTL_SET_REPARSE_POINT, data.data(),
                                      static_cast<DWORD>(data.size() * 2), nullptr, 0, &returned, nullptr);
  folder.Reset();
  if (!made) fs::remove(link);
  return made;
#else
  fs::create_directory_symlink(target, link);
  return true;
#endif
}

class HousekeepingTest : public ::testing::Test {
 protected:
  void SetUp() override { MakeTree(user_data_); }

  // Exactly the given entries (and what lies below them) are gone.
  void ExpectRemovedExactly(const std::vector<std::string>& removed) {
    for (const auto& root : removed) EXPECT_FALSE(fs::exists(user_data_ / root)) << root;
    for (const char* file : kTree) {
      bool under_removed = false;
      for (const auto& root : removed) {
        const std::string prefix = root + "/";
        under_removed = under_removed || file == root || std::string(file).compare(0, prefix.size(), prefix) == 0;
      }
      EXPECT_EQ(fs::exists(user_data_ / file), !under_removed) << file;
    }
  }

  std::wstring UserDataDir() const { return user_data_.wstring(); }

  ScopedTempDir dir_;
  fs::path user_data_ = dir_.path() / "profile dir";
};

TEST_F(HousekeepingTest, ClosePreviousTabsRemovesSessionFilesAndFolder) {
  ClosePreviousTabs(UserDataDir());
  ExpectRemovedExactly({"Default/Current Tabs", "Default/Current Session", "Default/Last Tabs", "Default/Last Session",
                        "Default/Sessions"});
}

TEST_F(HousekeepingTest, ClosePreviousTabsLeavesFolderBearingAFileName) {
  fs::remove(user_data_ / "Default/Current Tabs");
  WriteTextFile(user_data_ / "Default/Current Tabs/inside", "x");
  fs::remove_all(user_data_ / "Default/Sessions");
  ClosePreviousTabs(UserDataDir());
  EXPECT_TRUE(fs::exists(user_data_ / "Default/Current Tabs/inside"));
  EXPECT_FALSE(fs::exists(user_data_ / "Default/Last Session"));
}

struct ResetCase {
  const char* what;
  StorageResetSelection selection;
  std::vector<std::string> removed;
};

TEST_F(HousekeepingTest, ResetProfileStorageRemovesExactlyTheSelectedCategories) {
  const std::vector<std::string> everything = {"Default/Cookies",
                                               "Default/Cookies-journal",
                                               "Default/Network/Cookies",
                                               "Default/Network/Cookies-journal",
                                               "Default/File System",
                                               "Default/IndexedDB",
                                               "Default/Local Storage",
                                               "ShaderCache",
                                               "GraphiteDawnCache",
                                               "Default/GPUCache",
                                               "Default/databases",
                                               "Default/Service Worker",
                                               "Default/InterestGroups",
                                               "Default/Shared Storage",
                                               "Default/Shared Storage-journal",
                                               "Default/StorageBuckets"};
  const ResetCase cases[] = {
      {"all", {{"all", true}}, everything},
      {"all beside false entries", {{"all", true}, {"cookies", false}}, everything},
      {"cache_storage alone", {{"cache_storage", true}}, {"Default/Service Worker/CacheStorage"}},
      {"service_workers with cache_storage",
       {{"service_workers", true}, {"cache_storage", true}},
       {"Default/Service Worker"}},
      {"shader_cache", {{"shader_cache", true}}, {"ShaderCache", "GraphiteDawnCache", "Default/GPUCache"}},
      {"cookies",
       {{"cookies", true}},
       {"Default/Cookies", "Default/Cookies-journal", "Default/Network/Cookies", "Default/Network/Cookies-journal"}},
      {"two categories",
       {{"local_storage", true}, {"indexeddb", true}, {"websql", false}},
       {"Default/Local Storage", "Default/IndexedDB"}},
      {"shared_storage and storage_buckets",
       {{"shared_storage", true}, {"storage_buckets", true}},
       {"Default/Shared Storage", "Default/Shared Storage-journal", "Default/StorageBuckets"}},
      {"file_systems, websql and interest_groups",
       {{"file_systems", true}, {"websql", true}, {"interest_groups", true}},
       {"Default/File System", "Default/databases", "Default/InterestGroups"}},
      {"names spelled otherwise", {{"Cookies", true}, {"local-storage", true}, {"ALL", true}, {"sessions", true}}, {}},
      {"everything false", {{"all", false}, {"cookies", false}}, {}},
      {"empty selection", {}, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ScopedTempDir fresh;
    user_data_ = fresh.path() / "profile dir";
    MakeTree(user_data_);
    ResetProfileStorage(UserDataDir(), c.selection);
    ExpectRemovedExactly(c.removed);
  }
}

// A folder on the way to the targets replaced by a link to another
// browser's profile, at the first component or deeper: nothing behind the
// link goes, the link stays, the targets beside it still go.
TEST_F(HousekeepingTest, LinksOnTheWayAreNeverFollowed) {
  const std::pair<const char*, ResetCase> cases[] = {
      {"Default", {"all", {{"all", true}}, {"ShaderCache", "GraphiteDawnCache"}}},
      {"Default/Network", {"cookies", {{"cookies", true}}, {"Default/Cookies", "Default/Cookies-journal"}}},
      {"Default/Service Worker",
       {"cache_storage, local_storage", {{"cache_storage", true}, {"local_storage", true}}, {"Default/Local Storage"}}},
  };
  for (const auto& [link, c] : cases) {
    SCOPED_TRACE(link);
    ScopedTempDir fresh;
    user_data_ = fresh.path() / "profile dir";
    MakeTree(user_data_);
    fs::rename(user_data_ / link, fresh.path() / "other browser");
    if (!MakeFolderLink(fresh.path() / "other browser", user_data_ / link)) {
      GTEST_SKIP() << "this system cannot make a junction (Wine 8 has no FSCTL_SET_REPARSE_POINT); "
                      "the Linux suite checks links on the way";
    }
    ResetProfileStorage(UserDataDir(), c.selection);
    ExpectRemovedExactly(c.removed);  // looks behind the link through it
    EXPECT_TRUE(fs::exists(user_data_ / link));
  }
}

TEST_F(HousekeepingTest, CookiesRowDeletesFilesButNeverAFolderOfThatName) {
  fs::remove(user_data_ / "Default/Network/Cookies");
  WriteTextFile(user_data_ / "Default/Network/Cookies/inside", "x");
  ResetProfileStorage(UserDataDir(), {{"cookies", true}});
  EXPECT_TRUE(fs::exists(user_data_ / "Default/Network/Cookies/inside"));
  EXPECT_FALSE(fs::exists(user_data_ / "Default/Network/Cookies-journal"));
  EXPECT_FALSE(fs::exists(user_data_ / "Default/Cookies"));
}

// Without a user-data directory the profile is unknown; a relative
// "Default" in the working directory must not be mistaken for it.
TEST_F(HousekeepingTest, EmptyUserDataDirTouchesNothing) {
  const fs::path previous = fs::current_path();
  fs::current_path(user_data_);
  ClosePreviousTabs(L"");
  ResetProfileStorage(L"", {{"all", true}});
  fs::current_path(previous);
  ExpectRemovedExactly({});
}

#ifndef _WIN32
TEST_F(HousekeepingTest, LinksAreRemovedButTheirTargetsSurvive) {
  const fs::path outside = dir_.path() / "outside";
  WriteTextFile(outside / "keep", "x");
  fs::create_directory_symlink(outside, user_data_ / "Default/IndexedDB/link");
  fs::remove_all(user_data_ / "Default/Sessions");
  fs::create_directory_symlink(outside, user_data_ / "Default/Sessions");
  const fs::path other_outside = dir_.path() / "other outside";
  WriteTextFile(other_outside / "leveldb" / "CURRENT", "x");
  fs::remove_all(user_data_ / "Default/Local Storage");
  fs::create_directory_symlink(other_outside, user_data_ / "Default/Local Storage");

  ClosePreviousTabs(UserDataDir());
  ResetProfileStorage(UserDataDir(), {{"indexeddb", true}, {"local_storage", true}});

  EXPECT_FALSE(fs::exists(fs::symlink_status(user_data_ / "Default/Sessions")));
  EXPECT_FALSE(fs::exists(fs::symlink_status(user_data_ / "Default/Local Storage")));
  EXPECT_FALSE(fs::exists(user_data_ / "Default/IndexedDB"));
  EXPECT_TRUE(fs::exists(outside / "keep"));
  EXPECT_TRUE(fs::exists(other_outside / "leveldb" / "CURRENT"));
}
#else
// A file the running engine holds open without delete sharing stays; the
// housekeeping goes on with the next targets, and nothing waits for the file.
TEST_F(HousekeepingTest, FileInUseStaysAndTheRestIsRemoved) {
  int held = -1;
  ASSERT_EQ(_wsopen_s(&held, (user_data_ / "Default/Sessions/nested/Tabs_1").c_str(), _O_RDONLY, _SH_DENYRW, _S_IREAD),
            0);
  ClosePreviousTabs(UserDataDir());
  ResetProfileStorage(UserDataDir(), {{"cookies", true}, {"local_storage", true}});
  _close(held);
  EXPECT_TRUE(fs::exists(user_data_ / "Default/Sessions/nested/Tabs_1"));
  for (const char* gone :
       {"Default/Current Tabs", "Default/Last Session", "Default/Cookies", "Default/Local Storage"}) {
    EXPECT_FALSE(fs::exists(user_data_ / gone)) << gone;
  }
}
#endif

}  // namespace
}  // namespace quillwave
