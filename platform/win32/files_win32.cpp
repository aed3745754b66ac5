#include <windows.h>
#include <shellapi.h>
#include <shlwapi.h>

#include "platform/files.h"
#include "platform/win32/unique_handle.h"

namespace quillwave::platform {

bool PathExists(const std::wstring& path) { return !path.empty() && ::PathFileExistsW(path.c_str()) != FALSE; }

bool DeleteFileOnly(const std::wstring& path) { return ::DeleteFileW(path.c_str()) != FALSE; }

void RemoveTree(const std::wstring& path) {
  // The shell wants a list: the name, its terminator, and the list's terminator.
  std::wstring from = path;
  from.push_back(L'\0');
  SHFILEOPSTRUCTW operation{};
  operation.wFunc = FO_DELETE;
  operation.pFrom = from.c_str();  // c_str() adds the second zero
  operation.fFlags = FOF_SILENT | FOF_NOCONFIRMATION | FOF_NOCONFIRMMKDIR | FOF_NOERRORUI;
  ::SHFileOperationW(&operation);
}

std::optional<std::string> ReadFileBytes(const std::wstring& path) {
  if (path.empty()) return std::nullopt;
  UniqueFileHandle file(::CreateFileW(path.c_str(), GENERIC_READ,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.valid() || ::GetFileType(file.get()) != FILE_TYPE_DISK) return std::nullopt;
  std::string content;
  LARGE_INTEGER size{};
  if (::GetFileSizeEx(file.get(), &size) && size.QuadPart > 0) content.reserve(static_cast<std::size_t>(size.QuadPart));
  char buffer[65536];
  for (;;) {
    DWORD got = 0;
    if (!::ReadFile(file.get(), buffer, sizeof buffer, &got, nullptr)) return std::nullopt;
    if (got == 0) break;
    content.append(buffer, got);
  }
  return content;
}

NewFileStatus WriteNewFile(const std::wstring& path, std::string_view content) {
  UniqueFileHandle file(
      ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.valid()) return NewFileStatus::kCreateFailed;
  DWORD written = 0;
  const BOOL ok = ::WriteFile(file.get(), content.data(), static_cast<DWORD>(content.size()), &written, nullptr);
  const bool closed = file.Reset();
  return ok && closed && written == content.size() ? NewFileStatus::kWritten : NewFileStatus::kWriteFailed;
}

bool MoveFileReplacing(const std::wstring& from, const std::wstring& to) {
  return ::MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING) != FALSE;
}

}  // namespace quillwave::platform
