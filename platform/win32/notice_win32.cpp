#include <windows.h>

#include "platform/notice.h"

namespace quillwave::platform {

bool ShowErrorNotice(const std::wstring& caption, const std::wstring& text) {
  return ::MessageBoxW(nullptr, text.c_str(), caption.c_str(), MB_OK | MB_ICONERROR) != 0;
}

}  // namespace quillwave::platform
