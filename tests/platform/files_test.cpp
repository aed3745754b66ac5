#include "platform/files.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <string>

#include "tests/support/temp_dir.h"

#ifndef _WIN32
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include "tests/support/posix/unprivileged.h"
#endif

namespace quillwave::platform {
namespace {

namespace fs = std::filesystem;
using test::ReadTextFile;
using test::ScopedTempDir;
using test::WriteTextFile;

class FilesTest : public ::testing::Test {
 protected:
  fs::path At(const char* name) const { return dir_.path() / name; }
  RemoveResult Remove(const char* name, const std::function<void(std::size_t)>& entered = {}) const {
    const std::wstring wide = fs::path(name).wstring();
    return RemoveBelow(dir_.wpath(), {wide}, RemoveKind::kTree, entered).result;
  }
  ScopedTempDir dir_;
};

TEST_F(FilesTest, PathExistsForFilesAndFoldersOnly) {
  WriteTextFile(At("file"), "x");
  EXPECT_TRUE(PathExists(At("file").wstring()));
  EXPECT_TRUE(PathExists(dir_.wpath()));
  EXPECT_FALSE(PathExists(At("missing").wstring()));
  EXPECT_FALSE(PathExists(L""));
}

TEST_F(FilesTest, DeleteFileOnlyNeverRemovesAFolder) {
  WriteTextFile(At("file"), "x");
  WriteTextFile(At("folder") / "inside", "x");
  fs::create_directory(At("empty"));
  EXPECT_TRUE(DeleteFileOnly(At("file").wstring()));
  EXPECT_FALSE(fs::exists(At("file")));
  EXPECT_FALSE(DeleteFileOnly(At("folder").wstring()));
  EXPECT_FALSE(DeleteFileOnly(At("empty").wstring()));
  EXPECT_TRUE(fs::exists(At("empty")));
  EXPECT_FALSE(DeleteFileOnly(At("missing").wstring()));
}

TEST_F(FilesTest, RemoveTreeRemovesFoldersFilesAndNothingElse) {
  WriteTextFile(At("tree") / "a" / "b" / "c.txt", "x");
  WriteTextFile(At("tree") / "d.txt", "x");
  fs::create_directory(At("tree") / "empty");
  WriteTextFile(At("single"), "x");
  WriteTextFile(At("tree sibling") / "keep", "x");

  EXPECT_EQ(Remove("tree"), RemoveResult::kGone);
  EXPECT_EQ(Remove("single"), RemoveResult::kGone);
  EXPECT_EQ(Remove("missing"), RemoveResult::kGone);

  EXPECT_FALSE(fs::exists(At("tree")));
  EXPECT_FALSE(fs::exists(At("single")));
  EXPECT_TRUE(fs::exists(At("tree sibling") / "keep"));
}

#ifdef _WIN32
constexpr int kDepth = 40;  // std::filesystem here makes no path beyond MAX_PATH
#else
constexpr int kDepth = 3000;  // far beyond PATH_MAX and any recursion budget
#endif

TEST_F(FilesTest, RemoveTreeHandlesDeepTrees) {
#ifdef _WIN32
  fs::path deepest = At("deep");
  for (int i = 0; i < kDepth; ++i) deepest /= "d";
  WriteTextFile(deepest / "f", "x");
#else
  // Built relative to descriptors: the full path is longer than PATH_MAX.
  ASSERT_EQ(::mkdir(At("deep").c_str(), 0755), 0);
  int fd = ::open(At("deep").c_str(), O_RDONLY | O_DIRECTORY);
  for (int i = 0; i < kDepth && fd >= 0; ++i) {
    ASSERT_EQ(::mkdirat(fd, "d", 0755), 0);
    const int next = ::openat(fd, "d", O_RDONLY | O_DIRECTORY);
    ::close(fd);
    fd = next;
  }
  ASSERT_GE(fd, 0);
  const int file = ::openat(fd, "f", O_WRONLY | O_CREAT, 0644);
  EXPECT_GE(file, 0);
  ::close(file);
  ::close(fd);
  // Far fewer descriptors than levels: the walk must not hold one per level.
  rlimit saved{};
  ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &saved), 0);
  rlimit few = saved;
  few.rlim_cur = std::min<rlim_t>(saved.rlim_cur, 256);
  ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &few), 0);
#endif
  EXPECT_EQ(Remove("deep"), RemoveResult::kGone);
#ifndef _WIN32
  ::setrlimit(RLIMIT_NOFILE, &saved);
#endif
  EXPECT_FALSE(fs::exists(At("deep")));
}

#ifndef _WIN32
TEST_F(FilesTest, RemoveTreeRemovesLinksWithoutFollowingThem) {
  WriteTextFile(At("outside") / "keep", "x");
  WriteTextFile(At("tree") / "file", "x");
  fs::create_directory_symlink(At("outside"), At("tree") / "dir link");
  fs::create_symlink(At("outside") / "keep", At("tree") / "file link");
  fs::create_directory_symlink(At("outside"), At("top link"));
  fs::create_directory_symlink(At("outside"), At("outside link"));

  Remove("tree");
  Remove("top link");
  EXPECT_EQ(RemoveBelow(dir_.wpath(), {L"outside link", L"keep"}, RemoveKind::kFile).result, RemoveResult::kBehindLink);

  EXPECT_FALSE(fs::exists(fs::symlink_status(At("tree"))));
  EXPECT_FALSE(fs::exists(fs::symlink_status(At("top link"))));
  EXPECT_EQ(ReadTextFile(At("outside") / "keep"), "x");
}

// A folder of the tree moved elsewhere while the walk is below it: the walk
// never comes back up through where it now stands. Below the folders the
// walk keeps open, the way back is re-opened by name and found gone.
TEST_F(FilesTest, RemoveTreeLeavesWhatWasMovedAwayDuringTheWalk) {
  struct MoveCase {
    const char* tree;
    int depth;
    int moved;             // the folder at this depth goes...
    std::size_t moved_in;  // ...as the walk enters this depth
  };
  for (const MoveCase c : {MoveCase{"near", 6, 2, 4}, MoveCase{"far below the open folders", 150, 5, 140}}) {
    SCOPED_TRACE(c.tree);
    const fs::path outside = At("outside") / c.tree;
    fs::path deepest = At(c.tree), moved;
    for (int level = 1; level <= c.depth; ++level) {
      deepest /= "d";
      if (level == c.moved) moved = deepest;
    }
    WriteTextFile(deepest / "f", "x");
    for (const char* beside : {"p/q/beside", "p/beside", "beside"}) WriteTextFile(outside / beside, "x");

    EXPECT_EQ(Remove(c.tree,
                     [&](std::size_t depth) {
                       if (depth == c.moved_in) fs::rename(moved, outside / "p" / "q" / "d");
                     }),
              RemoveResult::kGone);
    for (const char* beside : {"p/q/beside", "p/beside", "beside"}) EXPECT_TRUE(fs::exists(outside / beside));
    EXPECT_TRUE(fs::exists(outside / "p" / "q" / "d"));
  }
}

TEST_F(FilesTest, RemoveTreeCarriesOnPastEntriesItCannotRemove) {
  const fs::path tree = At("tree");
  WriteTextFile(tree / "a first", "x");
  WriteTextFile(tree / "locked" / "stuck", "x");
  WriteTextFile(tree / "locked" / "sub" / "inner", "x");
  WriteTextFile(tree / "unreadable" / "hidden", "x");
  WriteTextFile(tree / "z last" / "file", "x");
  fs::create_directory(At("empty unreadable"));
  // Root ignores permission bits: the removal runs as nobody, in nobody's tree.
  if (::geteuid() == 0) {
    ASSERT_EQ(::chown(dir_.path().c_str(), test::kNobody, test::kNobody), 0);
    for (const auto& entry : fs::recursive_directory_iterator(dir_.path())) {
      ASSERT_EQ(::lchown(entry.path().c_str(), test::kNobody, test::kNobody), 0);
    }
  }
  ASSERT_EQ(::chmod(At("empty unreadable").c_str(), 0), 0);
  ASSERT_EQ(::chmod((tree / "locked").c_str(), 0555), 0);
  ASSERT_EQ(::chmod((tree / "unreadable").c_str(), 0), 0);

  // Counted: the file that stays, the folder that stays with nothing kept
  // in it, the folder that cannot be read; not the folders that stay only
  // for what they hold.
  EXPECT_EQ(test::RunUnprivileged([&] {
              const Removal removal = RemoveBelow(dir_.wpath(), {L"tree"}, RemoveKind::kTree);
              Remove("empty unreadable");
              return std::to_string(removal.kept) + " " + fs::path(removal.first_kept).string();
            }),
            "3 tree/locked/stuck");

  EXPECT_FALSE(fs::exists(tree / "a first"));
  EXPECT_FALSE(fs::exists(tree / "z last"));
  EXPECT_TRUE(fs::exists(tree / "locked" / "stuck"));
  EXPECT_TRUE(fs::exists(tree / "locked" / "sub"));
  EXPECT_FALSE(fs::exists(tree / "locked" / "sub" / "inner"));  // "sub" itself was writable
  EXPECT_TRUE(fs::exists(tree / "unreadable"));
  EXPECT_FALSE(fs::exists(At("empty unreadable")));
}
#endif

TEST_F(FilesTest, ReadFileBytesReadsRegularFilesOnly) {
  std::string content(70000, 'a');  // more than one read
  content[5] = '\0';
  content[69999] = '\xFF';
  WriteTextFile(At("big"), content);
  WriteTextFile(At("empty"), "");
  fs::create_directory(At("folder"));

  EXPECT_EQ(ReadFileBytes(At("big").wstring()), content);
  EXPECT_EQ(ReadFileBytes(At("empty").wstring()), std::string());
  EXPECT_EQ(ReadFileBytes(At("missing").wstring()), std::nullopt);
  EXPECT_EQ(ReadFileBytes(At("folder").wstring()), std::nullopt);
  EXPECT_EQ(ReadFileBytes(L""), std::nullopt);
  // The limit counts what is read: exactly the limit is read, one byte more is not.
  EXPECT_EQ(ReadFileBytes(At("big").wstring(), content.size()), content);
  EXPECT_EQ(ReadFileBytes(At("big").wstring(), content.size() - 1), std::nullopt);
}

// A file that claims a huge size, or never ends, is given up at the limit
// instead of ending the launcher for want of memory.
TEST_F(FilesTest, ReadFileBytesStopsAtTheLimitWhateverTheFileClaims) {
  WriteTextFile(At("sparse"), "");
#ifdef _WIN32
  fs::resize_file(At("sparse"), std::uintmax_t{1} << 30);  // the MinGW runtime stops below 2 GiB
#else
  fs::resize_file(At("sparse"), std::uintmax_t{1} << 40);  // 1 TiB of holes
#endif
  EXPECT_EQ(ReadFileBytes(At("sparse").wstring()), std::nullopt);
#ifndef _WIN32
  EXPECT_EQ(ReadFileBytes(L"/proc/self/pagemap"), std::nullopt);  // far more than the limit, produced on demand
#endif
}

#ifndef _WIN32
// Neither call may block waiting for the other end of a FIFO.
TEST_F(FilesTest, FifoIsNeitherReadNorWrittenAsAFile) {
  ASSERT_EQ(::mkfifo(At("fifo").c_str(), 0644), 0);
  EXPECT_EQ(ReadFileBytes(At("fifo").wstring()), std::nullopt);
  EXPECT_EQ(ReadFileBytes(L"/dev/null"), std::nullopt);
  EXPECT_EQ(WriteNewFile(At("fifo").wstring(), "x"), NewFileStatus::kExists);
}
#endif

TEST_F(FilesTest, WriteNewFileOnlyEverCreates) {
  EXPECT_EQ(WriteNewFile(At("new").wstring(), "abc"), NewFileStatus::kWritten);
  EXPECT_EQ(ReadTextFile(At("new")), "abc");
  EXPECT_EQ(WriteNewFile(At("new").wstring(), "z"), NewFileStatus::kExists);
  EXPECT_EQ(ReadTextFile(At("new")), "abc");
  EXPECT_EQ(WriteNewFile((At("missing") / "new").wstring(), "x"), NewFileStatus::kCreateFailed);
  EXPECT_FALSE(fs::exists(At("missing")));
#ifndef _WIN32
  WriteTextFile(At("outside"), "must survive");
  fs::create_symlink(At("outside"), At("link"));
  fs::create_symlink(At("nowhere"), At("dangling"));
  EXPECT_EQ(WriteNewFile(At("link").wstring(), "x"), NewFileStatus::kExists);
  EXPECT_EQ(WriteNewFile(At("dangling").wstring(), "x"), NewFileStatus::kExists);
  EXPECT_EQ(ReadTextFile(At("outside")), "must survive");
  EXPECT_FALSE(fs::exists(At("nowhere")));
#endif
}

TEST_F(FilesTest, ReplaceFileMovesOntoExistingFileButNotOntoAFolder) {
  WriteTextFile(At("from"), "new");
  WriteTextFile(At("to"), "old content");
  EXPECT_EQ(MoveFileReplacing(At("from").wstring(), At("to").wstring()), MoveStatus::kMoved);
  EXPECT_EQ(ReadTextFile(At("to")), "new");
  EXPECT_FALSE(fs::exists(At("from")));

  WriteTextFile(At("from"), "new");
  fs::create_directory(At("folder"));
  EXPECT_NE(MoveFileReplacing(At("from").wstring(), At("folder").wstring()), MoveStatus::kMoved);
  EXPECT_TRUE(fs::is_directory(At("folder")));
  EXPECT_EQ(MoveFileReplacing(At("missing").wstring(), At("to").wstring()), MoveStatus::kFailed);
}

}  // namespace
}  // namespace quillwave::platform
