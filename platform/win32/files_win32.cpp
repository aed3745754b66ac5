#include <windows.h>
#include <shellapi.h>
#include <shlwapi.h>

#include <algorithm>
#include <cstdint>
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

// Silently and for good: no dialog, no recycle bin.
void ShellDelete(const std::wstring& path) {
  // The shell wants a list: the name, its terminator, and the list's terminator.
  std::wstring from = path;
  from.push_back(L'\0');
  SHFILEOPSTRUCTW operation{};
  operation.wFunc = FO_DELETE;
  operation.pFrom = from.c_str();  // c_str() adds the second zero
  operation.fFlags = FOF_SILENT | FOF_NOCONFIRMATION | FOF_NOCONFIRMMKDIR | FOF_NOERRORUI;
  ::SHFileOperationW(&operation);
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

RemoveResult RemoveBelow(const std::wstring& root, const std::vector<std::wstring_view>& components, RemoveKind kind,
                         const std::function<void(std::size_t depth)>& /*entered*/) {
  for (const std::wstring_view component : components) {
    if (!IsPlainName(component)) return RemoveResult::kLeft;
  }
  if (root.empty() || components.empty()) return RemoveResult::kLeft;
  // Each folder on the way stays open without delete sharing until the end,
  // so none of them can be renamed or replaced by a link meanwhile.
  std::vector<UniqueFileHandle> way;
  std::wstring path = root;
  for (std::size_t i = 0; i + 1 < components.size(); ++i) {
    path += L'\\';
    path += components[i];
    UniqueFileHandle folder(::CreateFileW(path.c_str(), FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES,
                                          FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                          FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!folder.valid()) return NotFound(::GetLastError()) ? RemoveResult::kGone : RemoveResult::kLeft;
    BY_HANDLE_FILE_INFORMATION info{};
    if (!::GetFileInformationByHandle(folder.get(), &info)) return RemoveResult::kLeft;
    if ((info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) return RemoveResult::kBehindLink;
    if ((info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) return RemoveResult::kGone;
    way.push_back(std::move(folder));
  }
  path += L'\\';
  path += components.back();
  const DWORD attributes = ::GetFileAttributesW(path.c_str());  // a link's own, not its target's
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    return NotFound(::GetLastError()) ? RemoveResult::kGone : RemoveResult::kLeft;
  }
  const bool folder = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  bool removed = false;
  if (kind == RemoveKind::kFile) {
    removed = !folder && ::DeleteFileW(path.c_str());
  } else if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
    // A junction or a link goes itself; what it points to stays.
    removed = folder ? ::RemoveDirectoryW(path.c_str()) : ::DeleteFileW(path.c_str());
  } else {
    ShellDelete(path);
    removed = ::GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES;
  }
  return removed ? RemoveResult::kGone : RemoveResult::kLeft;
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

}  // namespace quillwave::platform
