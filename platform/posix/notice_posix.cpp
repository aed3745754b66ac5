#include <cstdio>

#include "platform/encoding.h"
#include "platform/notice.h"

namespace quillwave::platform {

bool ShowErrorNotice(const std::wstring& /*caption*/, const std::wstring& text) {
  const std::string message = WideToUtf8(text) + "\n";
  std::fwrite(message.data(), 1, message.size(), stderr);
  return std::fflush(stderr) == 0;
}

}  // namespace quillwave::platform
