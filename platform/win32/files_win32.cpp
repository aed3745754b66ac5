#include <windows.h>
#include <winioctl.h>
#include <shlwapi.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <new>
#include <utility>
#include <vector>

#include "platform/files.h"
#include "platform/win32/unique_handle.h"

namespace quillwave::platform {
namespace {

bool IsPlainName(std::wstring_view name) {
  return !name.empty() && name != L"." && name != L".." &&
         name.find_first_of(std::wstring_view(L"\\/:\0", 4)) == std::wstring_view::npos;
}

bool NotFound(DWORD error) { return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND; }

constexpr std::wstring_view kLongPrefix = L"\\\\?\\";

// The path in its "\\?\" form: absolute, without the 260-character limit,
// and every name handed to the file system as it is, so that "aux" or
// "con.txt" name the entries that bear them, not devices. Empty when the
// path cannot be made absolute.
std::wstring LongPath(const std::wstring& path) {
  std::wstring full = path;
  if (path.rfind(kLongPrefix, 0) != 0) {
    const DWORD needed = ::GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    if (needed == 0) return {};
    full.assign(needed, L'\0');
    const DWORD length = ::GetFullPathNameW(path.c_str(), needed, full.data(), nullptr);
    if (length == 0 || length >= needed) return {};
    full.resize(length);
    if (full.rfind(L"\\\\.\\", 0) == 0) {
      full.replace(0, 4, kLongPrefix);
    } else if (full.rfind(L"\\\\", 0) == 0) {
      full.replace(0, 2, L"\\\\?\\UNC\\");
    } else {
      full.insert(0, kLongPrefix);
    }
  }
  // Names are appended with their own separator; this form never folds two.
  while (full.size() > kLongPrefix.size() && full.back() == L'\\') full.pop_back();
  return full;
}

// Attributes and reparse tag of what the handle names (a link's own).
bool AttributesOf(HANDLE file, FILE_ATTRIBUTE_TAG_INFO& info) {
  return ::GetFileInformationByHandleEx(file, FileAttributeTagInfo, &info, sizeof info) != FALSE;
}

// A link of any kind (symbolic link, junction, volume mount point) stands
// for another entry; other reparse points, such as a synced folder's, are
// the entry itself.
bool IsLink(const FILE_ATTRIBUTE_TAG_INFO& info) {
  return (info.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 && IsReparseTagNameSurrogate(info.ReparseTag);
}

// A folder where a volume is mounted, not a junction to a folder: the
// mount point's target is a volume's name. Data that cannot be read is
// taken for a volume, which is only ever left.
bool IsVolumeMountPoint(HANDLE folder, const FILE_ATTRIBUTE_TAG_INFO& info) {
  if (info.ReparseTag != IO_REPARSE_TAG_MOUNT_POINT) return false;
  // The data: tag, length, a reserved word, the substitute name's offset
  // and length in bytes, the print name's, then the names from byte 16.
  std::vector<BYTE> data(MAXIMUM_REPARSE_DATA_BUFFER_SIZE);
  DWORD got = 0;
  if (!::DeviceIoControl(folder, FSCTL_GET_REPARSE_POINT, nullptr, 0, data.data(), static_cast<DWORD>(data.size()),
                         &got, nullptr) ||
      got < 16) {
    return true;
  }
  const auto word = [&](std::size_t at) { return static_cast<std::size_t>(data[at] | (data[at + 1] << 8)); };
  const std::size_t offset = 16 + word(8), length = word(10);
  if (offset + length > got) return true;
  std::wstring target(length / 2, L'\0');
  std::memcpy(target.data(), data.data() + offset, target.size() * sizeof(wchar_t));
  return target.rfind(L"\\??\\Volume{", 0) == 0;
}

// Deletes a file, a link or an empty folder without following a link,
// clearing a read-only attribute first; restores it when the entry stays.
bool DeleteEntry(const std::wstring& path, DWORD attributes, bool folder) {
  constexpr DWORD kSettable = FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED |
                              FILE_ATTRIBUTE_OFFLINE | FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_SYSTEM |
                              FILE_ATTRIBUTE_TEMPORARY;
  const bool read_only = (attributes & FILE_ATTRIBUTE_READONLY) != 0;
  if (read_only) {
    const DWORD writable = attributes & kSettable & ~FILE_ATTRIBUTE_READONLY;
    ::SetFileAttributesW(path.c_str(), writable != 0 ? writable : FILE_ATTRIBUTE_NORMAL);
  }
  if (folder ? ::RemoveDirectoryW(path.c_str()) : ::DeleteFileW(path.c_str())) return true;
  if (NotFound(::GetLastError())) return true;
  if (read_only) ::SetFileAttributesW(path.c_str(), attributes & kSettable);
  return false;
}

// What stays of a removal, and the name of the first of it.
struct Kept {
  std::size_t below_root = 0;  // where a path's part below the root begins
  std::size_t count = 0;
  std::wstring first;

  void Add(const std::wstring& path) {
    if (count++ > 0) return;
    first = path.substr(below_root);
    std::replace(first.begin(), first.end(), L'\\', L'/');
  }
};

struct Listed {
  std::wstring name;
  DWORD attributes = 0;
  std::wstring short_name;  // set when the name itself cannot be passed on
};

// Win32 refuses these characters in a name, even in the "\\?\" form. A
// file system that holds such names (Wine over a Unix folder, a Samba
// share) offers a short name to reach the entry by instead.
bool Win32Passes(std::wstring_view name) {
  return std::none_of(name.begin(), name.end(), [](wchar_t c) {
    return c < 0x20 || std::wstring_view(L"<>:\"|?*").find(c) != std::wstring_view::npos;
  });
}

// A folder of the tree being removed, on the way from the target down to
// where the walk is.
struct WalkFolder {
  std::size_t end = 0;    // where its name ends in the walk's path
  UniqueFileHandle held;  // without delete sharing: it cannot be moved or replaced meanwhile
  DWORD attributes = 0;
  std::vector<Listed> entries;  // listed once, when entered, in name order
  std::size_t next = 0;
  std::size_t kept_before = 0;  // what was kept when the walk entered it
};

// Sorted, so that the walk's order, and with it the first entry it keeps,
// does not depend on the file system's.
std::vector<Listed> ListFolder(const std::wstring& folder) {
  std::vector<Listed> entries;
  WIN32_FIND_DATAW found{};
  UniqueFindHandle find(::FindFirstFileExW((folder + L"\\*").c_str(), FindExInfoStandard, &found, FindExSearchNameMatch,
                                           nullptr, FIND_FIRST_EX_LARGE_FETCH));
  if (!find.valid()) return entries;
  do {
    const std::wstring_view name = found.cFileName;
    if (name == L"." || name == L"..") continue;
    entries.push_back(Listed{std::wstring(name), found.dwFileAttributes,
                             Win32Passes(name) ? std::wstring() : std::wstring(found.cAlternateFileName)});
  } while (::FindNextFileW(find.get(), &found));
  std::sort(entries.begin(), entries.end(), [](const Listed& a, const Listed& b) { return a.name < b.name; });
  return entries;
}

// Takes the entry at `path` with the listed attributes: a file or a link
// goes, a folder is entered and put at the end of `way`, a volume mount
// point stays. What stays is kept.
void Take(const std::wstring& path, DWORD attributes, std::vector<WalkFolder>& way, Kept& kept,
          const std::function<void(std::size_t)>& entered) {
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
    if (!DeleteEntry(path, attributes, false)) kept.Add(path);
    return;
  }
  UniqueFileHandle folder(::CreateFileW(path.c_str(), FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                        FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  FILE_ATTRIBUTE_TAG_INFO info{};
  if (!folder.valid() || !AttributesOf(folder.get(), info)) {
    if (!folder.valid() && NotFound(::GetLastError())) return;
    folder.Reset();
    if (!DeleteEntry(path, attributes, true)) kept.Add(path);  // an empty folder that cannot be read
    return;
  }
  const bool is_folder = (info.FileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  if (IsLink(info) && is_folder && IsVolumeMountPoint(folder.get(), info)) {
    kept.Add(path);
    return;
  }
  if (IsLink(info) || !is_folder) {
    folder.Reset();
    if (!DeleteEntry(path, info.FileAttributes, is_folder)) kept.Add(path);  // a link goes itself
    return;
  }
  if (entered) entered(way.size());
  WalkFolder here{path.size(), std::move(folder), info.FileAttributes, ListFolder(path), 0, kept.count};
  way.push_back(std::move(here));
}

// Empties the folder at `path` and removes it; true when it is gone. Every
// folder is listed once and its removal tried once, after its content,
// however much of it stays. The folders on the way down stay open without
// delete sharing, so none of them can be moved or replaced by a link while
// the walk is below it.
bool RemoveTree(std::wstring path, DWORD attributes, Kept& kept, const std::function<void(std::size_t)>& entered) {
  std::vector<WalkFolder> way;
  Take(path, attributes, way, kept, entered);
  if (way.empty()) return kept.count == 0;
  for (;;) {
    WalkFolder& here = way.back();
    path.resize(here.end);
    if (here.next < here.entries.size()) {
      const Listed& entry = here.entries[here.next++];
      path += L'\\';
      path += entry.short_name.empty() ? entry.name : entry.short_name;
      Take(path, entry.attributes, way, kept, entered);
      continue;
    }
    here.held.Reset();
    const bool gone = DeleteEntry(path, here.attributes, true);
    // Counted only when nothing kept inside explains why it stays.
    if (!gone && kept.count == here.kept_before) kept.Add(path);
    way.pop_back();
    if (way.empty()) return gone;
  }
}

}  // namespace

bool PathExists(const std::wstring& path) { return !path.empty() && ::PathFileExistsW(path.c_str()) != FALSE; }

bool NothingAt(const std::wstring& path) {
  // A link's own attributes, not its target's.
  return path.empty() || (::GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES && NotFound(::GetLastError()));
}

bool IsFolder(const std::wstring& path) {
  if (path.empty()) return false;
  const DWORD attributes = ::GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool DeleteFileOnly(const std::wstring& path) { return ::DeleteFileW(path.c_str()) != FALSE; }

Removal RemoveBelow(const std::wstring& root, const std::vector<std::wstring_view>& components, RemoveKind kind,
                    const std::function<void(std::size_t depth)>& entered) {
  for (const std::wstring_view component : components) {
    if (!IsPlainName(component)) return Removal{RemoveResult::kLeft};
  }
  if (root.empty() || components.empty()) return Removal{RemoveResult::kLeft};
  std::wstring path = LongPath(root);
  if (path.empty()) return Removal{RemoveResult::kLeft};
  Kept kept;
  kept.below_root = path.size() + 1;
  std::wstring target = path;
  for (const std::wstring_view component : components) (target += L'\\') += component;
  const auto result = [&](RemoveResult result) { return Removal{result, kept.count, kept.first}; };
  const auto left = [&] {
    kept.Add(target);
    return result(RemoveResult::kLeft);
  };
  // Where the walk does not go, the target counts when something is there.
  const auto not_reached = [&](RemoveResult removal) {
    if (::GetFileAttributesW(target.c_str()) != INVALID_FILE_ATTRIBUTES || !NotFound(::GetLastError())) {
      kept.Add(target);
    }
    return result(removal);
  };

  // Each folder on the way stays open without delete sharing until the end,
  // so none of them can be renamed or replaced by a link meanwhile.
  std::vector<UniqueFileHandle> way;
  for (std::size_t i = 0; i + 1 < components.size(); ++i) {
    path += L'\\';
    path += components[i];
    UniqueFileHandle folder(::CreateFileW(path.c_str(), FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES,
                                          FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                          FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!folder.valid()) return NotFound(::GetLastError()) ? Removal{} : left();
    FILE_ATTRIBUTE_TAG_INFO info{};
    if (!AttributesOf(folder.get(), info)) return left();
    if (IsLink(info)) return not_reached(RemoveResult::kBehindLink);
    if ((info.FileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) return Removal{};
    way.push_back(std::move(folder));
  }
  const DWORD attributes = ::GetFileAttributesW(target.c_str());  // a link's own, not its target's
  if (attributes == INVALID_FILE_ATTRIBUTES) return NotFound(::GetLastError()) ? Removal{} : left();
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) return DeleteEntry(target, attributes, false) ? Removal{} : left();
  if (kind == RemoveKind::kFile) return Removal{RemoveResult::kLeft};  // a folder is not what was asked for
  if (RemoveTree(target, attributes, kept, entered)) return Removal{};
  return result(RemoveResult::kLeft);
}

std::optional<std::string> ReadFileBytes(const std::wstring& path, std::size_t at_most) {
  if (path.empty()) return std::nullopt;
  UniqueFileHandle file(::CreateFileW(path.c_str(), GENERIC_READ,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.valid() || ::GetFileType(file.get()) != FILE_TYPE_DISK) return std::nullopt;
  try {
    std::string content;
    // A hint only: a sparse file claims a size it does not hold.
    LARGE_INTEGER size{};
    if (::GetFileSizeEx(file.get(), &size) && size.QuadPart > 0) {
      content.reserve(std::min(static_cast<std::size_t>(size.QuadPart), at_most));
    }
    char buffer[65536];
    for (;;) {
      DWORD got = 0;
      if (!::ReadFile(file.get(), buffer, sizeof buffer, &got, nullptr)) return std::nullopt;
      if (got == 0) break;
      if (got > at_most - content.size()) return std::nullopt;
      content.append(buffer, got);
    }
    return content;
  } catch (const std::bad_alloc&) {
    return std::nullopt;
  }
}

void ForEachFolderEntry(const std::wstring& folder, const std::function<void(const std::wstring& name)>& visit) {
  if (folder.empty()) return;
  std::wstring pattern = folder;
  if (pattern.back() != L'\\' && pattern.back() != L'/') pattern.push_back(L'\\');
  pattern.push_back(L'*');
  WIN32_FIND_DATAW found{};
  UniqueFindHandle find(
      ::FindFirstFileExW(pattern.c_str(), FindExInfoBasic, &found, FindExSearchNameMatch, nullptr, 0));
  if (!find.valid()) return;
  do {
    const std::wstring name = found.cFileName;
    if (name != L"." && name != L"..") visit(name);
  } while (::FindNextFileW(find.get(), &found));
}

std::optional<std::chrono::system_clock::time_point> RegularFileWriteTime(const std::wstring& path) {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (!::GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return std::nullopt;
  if ((data.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0) return std::nullopt;
  // FILETIME counts 100 ns steps from 1601; the system clock counts from 1970.
  constexpr std::uint64_t kStepsFrom1601To1970 = 116444736000000000ull;
  const std::uint64_t steps = (static_cast<std::uint64_t>(data.ftLastWriteTime.dwHighDateTime) << 32) |
                              data.ftLastWriteTime.dwLowDateTime;
  const auto since_epoch = std::chrono::duration<std::int64_t, std::ratio<1, 10000000>>(
      static_cast<std::int64_t>(steps) - static_cast<std::int64_t>(kStepsFrom1601To1970));
  return std::chrono::system_clock::time_point(
      std::chrono::duration_cast<std::chrono::system_clock::duration>(since_epoch));
}

NewFileStatus WriteNewFile(const std::wstring& path, std::string_view content) {
  // CREATE_NEW fails on any existing entry, a link included, so nothing is
  // ever opened through one; share mode 0 keeps everyone else out meanwhile.
  UniqueFileHandle file(
      ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.valid()) {
    const DWORD error = ::GetLastError();
    return error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS ? NewFileStatus::kExists
                                                                       : NewFileStatus::kCreateFailed;
  }
  std::size_t written = 0;
  while (written < content.size()) {
    // Records are small; the cap only keeps one call's count within a DWORD.
    const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(content.size() - written, 1u << 30));
    DWORD put = 0;
    if (!::WriteFile(file.get(), content.data() + written, chunk, &put, nullptr) || put == 0) break;
    written += put;
  }
  const bool flushed = written == content.size() && ::FlushFileBuffers(file.get());
  const bool closed = file.Reset();
  return flushed && closed ? NewFileStatus::kWritten : NewFileStatus::kWriteFailed;
}

MoveStatus MoveFileReplacing(const std::wstring& from, const std::wstring& to) {
  if (::MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING)) return MoveStatus::kMoved;
  // What an open handle without delete sharing on the target gives; a
  // folder or a read-only target gives access denied as well.
  switch (::GetLastError()) {
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
    case ERROR_ACCESS_DENIED:
      return MoveStatus::kTargetInUse;
    default:
      return MoveStatus::kFailed;
  }
}

NewFilesNoOpenerThan::NewFilesNoOpenerThan(const std::wstring&) {}

NewFilesNoOpenerThan::~NewFilesNoOpenerThan() = default;

}  // namespace quillwave::platform
