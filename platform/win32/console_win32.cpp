#include <windows.h>

#include <algorithm>
#include <string>

#include "platform/console.h"
#include "platform/encoding.h"

namespace quillwave::platform {
namespace {

void WriteTo(DWORD which, std::string_view text) {
  const HANDLE handle = ::GetStdHandle(which);
  if (handle == nullptr || handle == INVALID_HANDLE_VALUE) return;
  DWORD mode = 0;
  if (::GetConsoleMode(handle, &mode)) {
    // A console shows UTF-16; bytes would be read in its code page.
    const std::wstring wide = Widen(text);
    DWORD written = 0;
    ::WriteConsoleW(handle, wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr);
    return;
  }
  while (!text.empty()) {
    DWORD written = 0;
    const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(text.size(), 1u << 20));
    if (!::WriteFile(handle, text.data(), chunk, &written, nullptr) || written == 0) return;
    text.remove_prefix(written);
  }
}

}  // namespace

void WriteStandardOutput(std::string_view utf8) { WriteTo(STD_OUTPUT_HANDLE, utf8); }
void WriteStandardError(std::string_view utf8) { WriteTo(STD_ERROR_HANDLE, utf8); }

}  // namespace quillwave::platform
