// Files saved as UTF-16 with a byte-order mark (Windows Notepad's "Unicode"),
// read as UTF-8 like every other file the launcher reads.
#pragma once

#include <string>
#include <string_view>

namespace quillwave {

enum class ByteOrderMark { kNone, kUtf16LittleEndian, kUtf16BigEndian };

// FF FE or FE FF at the start of the bytes.
ByteOrderMark Utf16ByteOrderMark(std::string_view bytes);

// The text of a file as UTF-8. After a UTF-16 byte-order mark the rest is
// converted (the mark dropped); a lone surrogate or an odd last byte becomes
// U+FFFD. Without such a mark the bytes are returned as they are.
std::string FileTextAsUtf8(std::string bytes);

// UTF-8 text as a file saved with `mark`: the mark, then the text as UTF-16
// in that byte order (bytes that are no UTF-8 become U+FFFD). Without a mark
// the text is returned as it is. For text FileTextAsUtf8 made of a
// well-formed file, it gives that file back byte for byte.
std::string Utf8AsFileText(std::string_view text, ByteOrderMark mark);

}  // namespace quillwave
