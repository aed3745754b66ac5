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
  std::vector<Entry> entries;  // listed once, when entered, in name order
  std::size_t next = 0;
  std::size_t kept_before = 0;  // what was kept when the walk entered it
};

// What stays of a removal, and the name of the first of it.
struct Kept {
  std::string above_target;  // the folders from the root down to the target's, each with its '/'
  std::size_t count = 0;
  std::string first;

  void Add(const std::vector<WalkFolder>& way, std::string_view name) {
    if (count++ > 0) return;
    first = above_target;
    for (const WalkFolder& folder : way) first.append(folder.name).push_back('/');
    first.append(name);
  }
};

bool IsPlainName(std::string_view name) {
  return !name.empty() && name != "." && name != ".." && name.find_first_of(std::string_view("/\0", 2)) == name.npos;
}

// Another device, or the root of a mount: a folder bound in from the same
// device has the device of its surroundings, but is still a mount of its own.
bool OnOtherFileSystem(int fd, const struct stat& st, dev_t device) {
  if (st.st_dev != device) return true;
  struct statx mount {};
  return ::statx(fd, "", AT_EMPTY_PATH, 0, &mount) == 0 && (mount.stx_attributes_mask & STATX_ATTR_MOUNT_ROOT) != 0 &&
         (mount.stx_attributes & STATX_ATTR_MOUNT_ROOT) != 0;
}

// Sorted, so that the walk's order, and with it the first entry it keeps,
// does not depend on the file system's.
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
  std::sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) { return a.name < b.name; });
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
// be read. A folder on another file system is neither entered nor removed.
// What stays is kept.
bool Enter(int above, std::string name, dev_t device, std::vector<WalkFolder>& way, Kept& kept,
           const std::function<void(std::size_t)>& entered) {
  UniqueFd fd(::openat(above, name.c_str(), kOpenToList));
  struct stat st {};
  if (!fd.valid() || ::fstat(fd.get(), &st) != 0) {
    if (::unlinkat(above, name.c_str(), 0) != 0 && ::unlinkat(above, name.c_str(), AT_REMOVEDIR) != 0 &&
        errno != ENOENT) {
      kept.Add(way, name);
    }
    return false;
  }
  if (OnOtherFileSystem(fd.get(), st, device)) {
    kept.Add(way, name);
    return false;
  }
  if (entered) entered(way.size());
  WalkFolder folder{std::move(name), st.st_dev, st.st_ino, std::move(fd), {}, 0, kept.count};
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
// stands where it was listed, with everything in it. It never enters a
// folder on another device than `device`.
bool RemoveFolder(int parent, const std::string& name, dev_t device, Kept& kept,
                  const std::function<void(std::size_t)>& entered) {
  std::vector<WalkFolder> way;
  if (!Enter(parent, name, device, way, kept, entered)) return false;
  for (;;) {
    WalkFolder& here = way.back();
    if (here.next < here.entries.size()) {
      Entry& entry = here.entries[here.next++];
      if (!entry.folder) {
        // A link goes itself.
        if (::unlinkat(here.fd.get(), entry.name.c_str(), 0) != 0 && errno != ENOENT) kept.Add(way, entry.name);
      } else {
        Enter(here.fd.get(), std::move(entry.name), device, way, kept, entered);
      }
      continue;
    }
    const WalkFolder done = std::move(here);
    way.pop_back();
    if (!way.empty() && !way.back().fd.valid() && !Reopen(way)) continue;
    const int above = way.empty() ? parent : way.back().fd.get();
    bool gone = false;
    if (StandsAt(above, done)) {
      gone = ::unlinkat(above, done.name.c_str(), AT_REMOVEDIR) == 0;
      // Counted only when nothing kept inside explains why it stays.
      if (!gone && errno != ENOENT && kept.count == done.kept_before) kept.Add(way, done.name);
    }
    if (way.empty()) return gone;
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

Removal RemoveBelow(const std::wstring& root, const std::vector<std::wstring_view>& components, RemoveKind kind,
                    const std::function<void(std::size_t depth)>& entered) {
  std::vector<std::string> names;
  for (const std::wstring_view component : components) {
    names.push_back(WideToBytes(component));
    if (!IsPlainName(names.back())) return Removal{RemoveResult::kLeft};
  }
  if (root.empty() || names.empty()) return Removal{RemoveResult::kLeft};
  Kept kept;
  for (std::size_t i = 0; i + 1 < names.size(); ++i) kept.above_target.append(names[i]).push_back('/');
  const std::string& last = names.back();
  const auto left = [&] {
    kept.Add({}, last);
    return Removal{RemoveResult::kLeft, kept.count, BytesToWide(kept.first)};
  };

  const UniqueFd root_fd(::open(Native(root).c_str(), kOpenToPass));
  struct stat st {};
  if (!root_fd.valid() || ::fstat(root_fd.get(), &st) != 0) {
    return errno == ENOENT || errno == ENOTDIR ? Removal{} : left();
  }
  const dev_t device = st.st_dev;
  // Where the walk does not go, the target counts when something is there.
  const auto not_reached = [&](RemoveResult result) {
    const std::string target = kept.above_target + last;
    if (::fstatat(root_fd.get(), target.c_str(), &st, 0) == 0 || (errno != ENOENT && errno != ENOTDIR)) {
      kept.Add({}, last);
    }
    return Removal{result, kept.count, BytesToWide(kept.first)};
  };
  UniqueFd way_fd;  // the deepest folder on the way, once below the root
  const auto folder = [&] { return way_fd.valid() ? way_fd.get() : root_fd.get(); };
  for (std::size_t i = 0; i + 1 < names.size(); ++i) {
    UniqueFd next(::openat(folder(), names[i].c_str(), kOpenToPass | O_NOFOLLOW));
    if (!next.valid()) {
      if (::fstatat(folder(), names[i].c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
        return errno == ENOENT ? Removal{} : left();
      }
      if (S_ISLNK(st.st_mode)) return not_reached(RemoveResult::kBehindLink);
      return S_ISDIR(st.st_mode) ? left() : Removal{};
    }
    if (::fstat(next.get(), &st) != 0 || OnOtherFileSystem(next.get(), st, device)) {
      return not_reached(RemoveResult::kLeft);
    }
    way_fd = std::move(next);
  }
  if (::fstatat(folder(), last.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return errno == ENOENT ? Removal{} : left();
  if (!S_ISDIR(st.st_mode)) return ::unlinkat(folder(), last.c_str(), 0) == 0 || errno == ENOENT ? Removal{} : left();
  if (kind == RemoveKind::kFile) return Removal{RemoveResult::kLeft};  // a folder is not what was asked for
  if (RemoveFolder(folder(), last, device, kept, entered)) return Removal{};
  return Removal{RemoveResult::kLeft, kept.count, BytesToWide(kept.first)};
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

NewFilesNoOpenerThan::NewFilesNoOpenerThan(const std::wstring& like) {
  struct stat status {};
  if (::stat(Native(like).c_str(), &status) != 0) return;
  const mode_t mask = ::umask(0);
  ::umask(mask | (~status.st_mode & 0777));
  previous_ = mask;
  changed_ = true;
}

NewFilesNoOpenerThan::~NewFilesNoOpenerThan() {
  if (changed_) ::umask(static_cast<mode_t>(previous_));
}

}  // namespace quillwave::platform
