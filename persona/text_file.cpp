#include "persona/text_file.h"

#include <utility>

#include "base/utf16_text.h"
#include "platform/files.h"

namespace quillwave {

std::optional<std::string> ReadTextFile(const std::wstring& path) {
  std::optional<std::string> text = platform::ReadFileBytes(path);
  if (text) *text = FileTextAsUtf8(std::move(*text));
  return text;
}

}  // namespace quillwave
