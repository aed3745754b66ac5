// File-system operations the launcher needs. Paths are wide strings; every
// operation reports failure through its result and never throws.
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quillwave::platform {

#ifdef _WIN32
inline constexpr wchar_t kPathSeparator = L'\\';
inline constexpr wchar_t kPathSeparators[] = L"\\/";  // every character that ends a folder name
#else
inline constexpr wchar_t kPathSeparator = L'/';
inline constexpr wchar_t kPathSeparators[] = L"/";
#endif

// True when something exists at the path (a link counts by its target).
bool PathExists(const std::wstring& path);

// True only when the system says that nothing is at the path. A link is
// something, whether its target exists or not.
bool NothingAt(const std::wstring& path);

// True when the path names a folder (a link counts by its target).
bool IsFolder(const std::wstring& path);

// Deletes a single file (or link); never a directory. Result for callers
// that care; most ignore it.
bool DeleteFileOnly(const std::wstring& path);

// kFile: a file or a link; a folder of that name stays. kTree: the entry
// with everything below it.
enum class RemoveKind { kFile, kTree };

// kGone: nothing is at the target any more (or never was). kBehindLink: a
// folder on the way is a link (Windows: a symbolic link, a junction or a
// mount point), so nothing was touched. kLeft: something stays, or the way
// could not be opened.
enum class RemoveResult { kGone, kBehindLink, kLeft };

// What a removal came to, and what it left of what it was asked to remove.
struct Removal {
  RemoveResult result = RemoveResult::kGone;
  // Entries that stay: each file or link that could not be removed; each
  // folder that was not entered (on another file system or device, a mount
  // point, or not readable) and could not go as it was; each folder that
  // stays although nothing counted lies in it. A folder that stays only for
  // what stays inside it is not counted again. A target behind a link or
  // another file system on the way counts once when something is there; a
  // folder where a file was asked for is not what was asked for and does
  // not count.
  std::size_t kept = 0;
  // The first entry kept, in the walk's order (each folder's entries in
  // order of their names), relative to `root`, names joined by '/'. (Windows:
  // a name Win32 cannot pass on appears as the short name it was reached by.)
  std::wstring first_kept{};
};

// Removes `root` / components... permanently and silently. `root` is the
// caller's own folder and is reached as named; every component below it is
// reached without following a link, and a link at the target is removed
// itself, never followed. A folder on another file system than `root`
// (Linux: another device, or the root of a mount; Windows: a volume mount
// point) is never entered. Within a tree, an entry that cannot be removed is
// left and the rest goes on; read-only attributes (Windows) are cleared on
// what is removed. A component that is empty, "." or ".." or holds a
// separator touches nothing.
//
// `entered`, when set, is called as the removal of a tree enters each of
// its folders, with its depth below the target (the target is 0): a seam for
// tests that change the tree meanwhile.
Removal RemoveBelow(const std::wstring& root, const std::vector<std::wstring_view>& components, RemoveKind kind,
                    const std::function<void(std::size_t depth)>& entered = {});

// Anything the launcher reads is far smaller; more is treated as unreadable.
inline constexpr std::size_t kReadLimitBytes = std::size_t{64} << 20;

// The whole content of a regular file, or nothing when it cannot be opened,
// is not a regular file (a FIFO or a device must not block the launcher) or
// holds more than `at_most` bytes. The size is counted while reading, never
// taken from the file system, and running out of memory is a failure too.
std::optional<std::string> ReadFileBytes(const std::wstring& path, std::size_t at_most = kReadLimitBytes);

// Calls `visit` with the name of every entry in the folder ("." and ".."
// left out), in no particular order. Nothing happens when the folder cannot
// be read.
void ForEachFolderEntry(const std::wstring& folder, const std::function<void(const std::wstring& name)>& visit);

// When the entry at the path is a regular file (a link is not followed and
// does not count), the time of its last write.
std::optional<std::chrono::system_clock::time_point> RegularFileWriteTime(const std::wstring& path);

enum class NewFileStatus { kWritten, kExists, kCreateFailed, kWriteFailed };

// Creates the file, which must not exist yet, opened for this writer alone;
// writes all bytes, flushes them to the disk and closes it. Anything already
// at the path, a link included, gives kExists and is left untouched; kExists
// and kCreateFailed mean nothing was created.
NewFileStatus WriteNewFile(const std::wstring& path, std::string_view content);

// While it lives, the files this process creates get no permission the
// file at `like` lacks: a copy or new version of a file its owner alone may
// read stays so. Not while other threads create files. On Windows, where a
// new file takes its folder's permissions, it changes nothing.
class NewFilesNoOpenerThan {
 public:
  explicit NewFilesNoOpenerThan(const std::wstring& like);
  ~NewFilesNoOpenerThan();
  NewFilesNoOpenerThan(const NewFilesNoOpenerThan&) = delete;
  NewFilesNoOpenerThan& operator=(const NewFilesNoOpenerThan&) = delete;

 private:
  unsigned previous_ = 0;
  bool changed_ = false;
};

// kTargetInUse: another program holds `to` open without letting it be
// replaced (Windows); that may pass, unlike kFailed.
enum class MoveStatus { kMoved, kTargetInUse, kFailed };

// Moves `from` onto `to`, replacing an existing file atomically.
MoveStatus MoveFileReplacing(const std::wstring& from, const std::wstring& to);

}  // namespace quillwave::platform
