// Whether a text is one well-formed JSON value (RFC 8259), and if not, where
// it first goes wrong. The launcher reads keys without this; the persona tool
// tells a person when other programs would not.
#pragma once

#include <cstddef>
#include <optional>
#include <string_view>

namespace quillwave {

struct JsonSyntaxError {
  std::size_t offset = 0;  // the byte where it goes wrong; the text's size at its end
  const char* kind = "";   // "expected a value", "unexpected end of text", ...
};

// Nothing when the text is well-formed; a UTF-8 byte-order mark is allowed.
// Linear in the text; nesting costs one byte a level, never the stack.
std::optional<JsonSyntaxError> FindJsonSyntaxError(std::string_view text);

}  // namespace quillwave
