#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <new>
#include <set>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/encoding.h"
#include "platform/files.h"
#include "platform/posix/unique_fd.h"

namespace quillwave::platform {
namespace {

std::string Native(const std::wstring& path) { return WideToUtf8(path); }

struct DirTraits {
  using Value = DIR*;
  static DIR* Invalid() { return nullptr; }
  static bool Close(DIR* dir) { return ::closedir(dir) == 0; }
};
using UniqueDir = UniqueOwner<DirTraits>;

constexpr int kOpenToList = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
// Passing through a folder needs no right to read it.
constexpr int kOpenToPass = O_PATH | O_DIRECTORY | O_CLOEXEC;

bool IsPlainName(std::string_view name) {
  return !name.empty() && name != "." && name != ".." && name.find_first_of(std::string_view("/\0", 2)) == name.npos;
}

// Empties the directory open at `fd` as far as possible. Returns the first
// subdirectory that is not empty yet and not known to be stuck, or an empty
// name when nothing is left to descend into.
std::string EmptyOneLevel(int fd, const std::set<std::pair<dev_t, ino_t>>& stuck) {
  UniqueFd listing(::dup(fd));
  if (!listing.valid()) return {};
  DIR* dir = ::fdopendir(listing.get());
  if (dir == nullptr) return {};
  listing.Release();
  ::rewinddir(dir);
  std::string descend;
  while (dirent* entry = ::readdir(dir)) {
    const std::string name = entry->d_name;
    if (name == "." || name == "..") continue;
    struct stat st {};
    if (::fstatat(fd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
    if (!S_ISDIR(st.st_mode)) {
      ::unlinkat(fd, name.c_str(), 0);  // links are removed, never followed
      continue;
    }
    if (::unlinkat(fd, name.c_str(), AT_REMOVEDIR) == 0) continue;
    if (stuck.count({st.st_dev, st.st_ino}) != 0) continue;
    descend = name;
    break;
  }
  ::closedir(dir);
  return descend;
}

// Empties the folder `name` in the folder open at `parent` and removes it;
// true when it is gone. Iterative, one descriptor at a time, so neither the
// stack nor the descriptor table limits the depth of the tree. Folders are
// entered with O_NOFOLLOW and left through "..".
bool RemoveFolder(int parent, const std::string& name) {
  UniqueFd fd(::openat(parent, name.c_str(), kOpenToList));
  // An unreadable folder may still be empty.
  if (!fd.valid()) return ::unlinkat(parent, name.c_str(), AT_REMOVEDIR) == 0;
  std::set<std::pair<dev_t, ino_t>> stuck;  // directories that could not be emptied
  std::size_t depth = 0;
  for (;;) {
    const std::string child = EmptyOneLevel(fd.get(), stuck);
    if (!child.empty()) {
      UniqueFd next(::openat(fd.get(), child.c_str(), kOpenToList));
      if (next.valid()) {
        fd = std::move(next);
        ++depth;
        continue;
      }
      struct stat st {};
      if (::fstatat(fd.get(), child.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) stuck.insert({st.st_dev, st.st_ino});
      continue;
    }
    if (depth == 0) break;
    // Done with this level: if it is still not empty, never enter it again.
    struct stat self {};
    if (::fstat(fd.get(), &self) == 0) stuck.insert({self.st_dev, self.st_ino});
    UniqueFd up(::openat(fd.get(), "..", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!up.valid()) return false;
    fd = std::move(up);
    --depth;
  }
  fd.Reset();
  return ::unlinkat(parent, name.c_str(), AT_REMOVEDIR) == 0;
}

}  // namespace

bool PathExists(const std::wstring& path) {
  struct stat st {};
  return !path.empty() && ::stat(Native(path).c_str(), &st) == 0;
}

bool DeleteFileOnly(const std::wstring& path) {
  const std::string native = Native(path);
  struct stat st {};
  if (::lstat(native.c_str(), &st) != 0 || S_ISDIR(st.st_mode)) return false;
  return ::unlink(native.c_str()) == 0;
}

RemoveResult RemoveBelow(const std::wstring& root, const std::vector<std::wstring_view>& components, RemoveKind kind) {
  std::vector<std::string> names;
  for (const std::wstring_view component : components) {
    names.push_back(WideToUtf8(component));
    if (!IsPlainName(names.back())) return RemoveResult::kLeft;
  }
  if (root.empty() || names.empty()) return RemoveResult::kLeft;
  UniqueFd folder(::open(Native(root).c_str(), kOpenToPass));
  if (!folder.valid()) return errno == ENOENT || errno == ENOTDIR ? RemoveResult::kGone : RemoveResult::kLeft;
  for (std::size_t i = 0; i + 1 < names.size(); ++i) {
    UniqueFd next(::openat(folder.get(), names[i].c_str(), kOpenToPass | O_NOFOLLOW));
    if (!next.valid()) {
      struct stat st {};
      if (::fstatat(folder.get(), names[i].c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
        return errno == ENOENT ? RemoveResult::kGone : RemoveResult::kLeft;
      }
      if (S_ISLNK(st.st_mode)) return RemoveResult::kBehindLink;
      return S_ISDIR(st.st_mode) ? RemoveResult::kLeft : RemoveResult::kGone;
    }
    folder = std::move(next);
  }
  const char* last = names.back().c_str();
  struct stat st {};
  if (::fstatat(folder.get(), last, &st, AT_SYMLINK_NOFOLLOW) != 0) {
    return errno == ENOENT ? RemoveResult::kGone : RemoveResult::kLeft;
  }
  if (!S_ISDIR(st.st_mode)) return ::unlinkat(folder.get(), last, 0) == 0 ? RemoveResult::kGone : RemoveResult::kLeft;
  if (kind == RemoveKind::kFile) return RemoveResult::kLeft;
  return RemoveFolder(folder.get(), names.back()) ? RemoveResult::kGone : RemoveResult::kLeft;
}

std::optional<std::string> ReadFileBytes(const std::wstring& path, std::size_t at_most) {
  if (path.empty()) return std::nullopt;
  // O_NONBLOCK keeps open() from waiting on a FIFO; only regular files are read.
  UniqueFd fd(::open(Native(path).c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
  if (!fd.valid()) return std::nullopt;
  struct stat st {};
  if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
  try {
    std::string content;
    // A hint only: sparse files and /proc files claim sizes they do not hold.
    if (st.st_size > 0) content.reserve(std::min(static_cast<std::size_t>(st.st_size), at_most));
    char buffer[65536];
    for (;;) {
      const ssize_t got = ::read(fd.get(), buffer, sizeof buffer);
      if (got == 0) break;
      if (got < 0) {
        if (errno == EINTR) continue;
        return std::nullopt;
      }
      if (static_cast<std::size_t>(got) > at_most - content.size()) return std::nullopt;
      content.append(buffer, static_cast<std::size_t>(got));
    }
    return content;
  } catch (const std::bad_alloc&) {
    return std::nullopt;
  }
}

void ForEachFolderEntry(const std::wstring& folder, const std::function<void(const std::wstring& name)>& visit) {
  UniqueDir dir(::opendir(Native(folder).c_str()));
  if (!dir.valid()) return;
  while (const dirent* entry = ::readdir(dir.get())) {
    const std::string_view name = entry->d_name;
    if (name == "." || name == "..") continue;
    visit(Utf8ToWide(name));
  }
}

std::optional<std::chrono::system_clock::time_point> RegularFileWriteTime(const std::wstring& path) {
  struct stat st {};
  if (::lstat(Native(path).c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
  const auto since_epoch = std::chrono::seconds(st.st_mtim.tv_sec) + std::chrono::nanoseconds(st.st_mtim.tv_nsec);
  return std::chrono::system_clock::time_point(
      std::chrono::duration_cast<std::chrono::system_clock::duration>(since_epoch));
}

NewFileStatus WriteNewFile(const std::wstring& path, std::string_view content) {
  // O_EXCL with O_NOFOLLOW: whatever is already there, a link or a FIFO
  // included, makes the open fail instead of being opened or followed.
  UniqueFd fd(::open(Native(path).c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666));
  if (!fd.valid()) return errno == EEXIST ? NewFileStatus::kExists : NewFileStatus::kCreateFailed;
  std::size_t written = 0;
  while (written < content.size()) {
    const ssize_t put = ::write(fd.get(), content.data() + written, content.size() - written);
    if (put < 0) {
      if (errno == EINTR) continue;
      break;
    }
    written += static_cast<std::size_t>(put);
  }
  const bool synced = written == content.size() && ::fsync(fd.get()) == 0;
  const bool closed = fd.Reset();
  return synced && closed ? NewFileStatus::kWritten : NewFileStatus::kWriteFailed;
}

MoveStatus MoveFileReplacing(const std::wstring& from, const std::wstring& to) {
  // An open file never stops rename() here, so no failure is worth a retry.
  return ::rename(Native(from).c_str(), Native(to).c_str()) == 0 ? MoveStatus::kMoved : MoveStatus::kFailed;
}

}  // namespace quillwave::platform
