#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <new>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/encoding.h"
#include "platform/files.h"
#include "platform/posix/unique_fd.h"

namespace quillwave::platform {
namespace {

// The path as the system knows it, byte for byte as it was handed over.
std::string Native(const std::wstring& path) { return WideToBytes(path); }

struct DirTraits {
  using Value = DIR*;
  static DIR* Invalid() { return nullptr; }
  static bool Close(DIR* dir) { return ::closedir(dir) == 0; }
};
using UniqueDir = UniqueOwner<DirTraits>;

constexpr int kOpenToList = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
// Passing through a folder needs no right to read it.
constexpr int kOpenToPass = O_PATH | O_DIRECTORY | O_CLOEXEC;

// However deep the tree, the walk holds open only the target and this many
// of the deepest folders on its way; it re-opens the others by name when it
// comes back to them.
constexpr std::size_t kOpenFolders = 64;

struct Entry {
  std::string name;
  bool folder = false;
};

// A folder of the tree being removed, on the way from the target down to
// where the walk is.
struct WalkFolder {
  std::string name;  // in the folder above
  dev_t device = 0;
  ino_t inode = 0;
  UniqueFd fd;                 // closed while far above the walk's place
  std::vector<Entry> entries;  // listed once, when entered
  std::size_t next = 0;
};

bool IsPlainName(std::string_view name) {
  return !name.empty() && name != "." && name != ".." && name.find_first_of(std::string_view("/\0", 2)) == name.npos;
}

std::vector<Entry> ListFolder(int fd) {
  std::vector<Entry> entries;
  UniqueFd listing(::dup(fd));
  if (!listing.valid()) return entries;
  UniqueDir dir(::fdopendir(listing.get()));
  if (!dir.valid()) return entries;
  listing.Release();  // the listing owns it now
  while (const dirent* found = ::readdir(dir.get())) {
    Entry entry{found->d_name, found->d_type == DT_DIR};
    if (entry.name == "." || entry.name == "..") continue;
    struct stat st {};
    if (found->d_type == DT_UNKNOWN && ::fstatat(fd, found->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0) {
      entry.folder = S_ISDIR(st.st_mode);
    }
    entries.push_back(std::move(entry));
  }
  return entries;
}

bool StandsAt(int above, const WalkFolder& folder) {
  struct stat st {};
  return ::fstatat(above, folder.name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(st.st_mode) &&
         st.st_dev == folder.device && st.st_ino == folder.inode;
}

// Opens the folder `name` in the folder open at `above`, lists it and puts
// it at the end of `way`. When it cannot be opened it goes as it is, if it
// can: a link or a file that took its place, or an empty folder that cannot
// be read.
bool Enter(int above, std::string name, std::vector<WalkFolder>& way, const std::function<void(std::size_t)>& entered) {
  UniqueFd fd(::openat(above, name.c_str(), kOpenToList));
  struct stat st {};
  if (!fd.valid() || ::fstat(fd.get(), &st) != 0) {
    if (::unlinkat(above, name.c_str(), 0) != 0) ::unlinkat(above, name.c_str(), AT_REMOVEDIR);
    return false;
  }
  if (entered) entered(way.size());
  WalkFolder folder{std::move(name), st.st_dev, st.st_ino, std::move(fd), {}, 0};
  folder.entries = ListFolder(folder.fd.get());
  way.push_back(std::move(folder));
  if (way.size() > kOpenFolders + 1) way[way.size() - 1 - kOpenFolders].fd.Reset();
  return true;
}

// Re-opens the last folder of `way` by name from the nearest open one above
// it, checking that each folder on the way down is the one that was listed.
// One that is not stands elsewhere now: it is dropped from the way with all
// below it, left alone, and false returned.
bool Reopen(std::vector<WalkFolder>& way) {
  std::size_t open = way.size() - 1;
  while (!way[open].fd.valid()) --open;  // the target itself is always open
  for (std::size_t i = open + 1; i < way.size(); ++i) {
    UniqueFd fd(::openat(way[i - 1].fd.get(), way[i].name.c_str(), kOpenToList));
    struct stat st {};
    if (!fd.valid() || ::fstat(fd.get(), &st) != 0 || st.st_dev != way[i].device || st.st_ino != way[i].inode) {
      way.resize(i);
      return false;
    }
    way[i].fd = std::move(fd);
    if (i - 1 > 0 && i - 1 + kOpenFolders < way.size()) way[i - 1].fd.Reset();
  }
  return true;
}

// Empties the folder `name` in the folder open at `parent` and removes it;
// true when it is gone. Iterative, so the depth of the tree costs neither
// stack nor more than kOpenFolders descriptors. Every folder is listed once
// and its removal tried once, after its content, however much of it stays.
// The walk never goes up through "..": it returns to the folders it holds,
// or re-opens one by name from above, and leaves a folder that no longer
// stands where it was listed, with everything in it.
bool RemoveFolder(int parent, const std::string& name, const std::function<void(std::size_t)>& entered) {
  std::vector<WalkFolder> way;
  if (!Enter(parent, name, way, entered)) return false;
  for (;;) {
    WalkFolder& here = way.back();
    if (here.next < here.entries.size()) {
      Entry& entry = here.entries[here.next++];
      if (!entry.folder) {
        ::unlinkat(here.fd.get(), entry.name.c_str(), 0);  // a link goes itself
      } else {
        Enter(here.fd.get(), std::move(entry.name), way, entered);
      }
      continue;
    }
    const WalkFolder done = std::move(here);
    way.pop_back();
    if (way.empty()) return StandsAt(parent, done) && ::unlinkat(parent, done.name.c_str(), AT_REMOVEDIR) == 0;
    if (!way.back().fd.valid() && !Reopen(way)) continue;
    const int above = way.back().fd.get();
    if (StandsAt(above, done)) ::unlinkat(above, done.name.c_str(), AT_REMOVEDIR);
  }
}

}  // namespace

bool PathExists(const std::wstring& path) {
  struct stat st {};
  return !path.empty() && ::stat(Native(path).c_str(), &st) == 0;
}

bool NothingAt(const std::wstring& path) {
  struct stat st {};
  return path.empty() || (::lstat(Native(path).c_str(), &st) != 0 && (errno == ENOENT || errno == ENOTDIR));
}

bool IsFolder(const std::wstring& path) {
  struct stat st {};
  return !path.empty() && ::stat(Native(path).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool DeleteFileOnly(const std::wstring& path) {
  const std::string native = Native(path);
  struct stat st {};
  if (::lstat(native.c_str(), &st) != 0 || S_ISDIR(st.st_mode)) return false;
  return ::unlink(native.c_str()) == 0;
}

RemoveResult RemoveBelow(const std::wstring& root, const std::vector<std::wstring_view>& components, RemoveKind kind,
                         const std::function<void(std::size_t depth)>& entered) {
  std::vector<std::string> names;
  for (const std::wstring_view component : components) {
    names.push_back(WideToBytes(component));
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
  return RemoveFolder(folder.get(), names.back(), entered) ? RemoveResult::kGone : RemoveResult::kLeft;
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
    visit(BytesToWide(name));
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
