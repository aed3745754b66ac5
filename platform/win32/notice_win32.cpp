#include <windows.h>

#include "platform/notice.h"

namespace quillwave::platform {

void ShowErrorNotice(const std::wstring& caption, const std::wstring& text) {
  ::MessageBoxW(nullptr, text.c_str(), caption.c_str(), MB_OK | MB_ICONERROR);
}

}  // namespace quillwave::platform
