// UTF-8 as the readers and writers of this project judge and build it.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace quillwave {

struct Utf8Sequence {
  std::size_t length;  // bytes taken; for an ill-formed piece, its maximal subpart
  bool valid;
};

// The sequence that starts with the byte at `i` (an ASCII byte is reported
// as ill-formed: callers handle those themselves). Each ill-formed piece is
// reported once, so it is replaced once, and the byte that broke it starts
// the next sequence.
Utf8Sequence Utf8SequenceAt(std::string_view text, std::size_t i);

// The length of the well-formed multi-byte sequence at `i`, or 0.
inline std::size_t MultiByteSequenceAt(std::string_view text, std::size_t i) {
  const Utf8Sequence sequence = Utf8SequenceAt(text, i);
  return sequence.valid ? sequence.length : 0;
}

// The code point of a sequence Utf8SequenceAt found well-formed.
char32_t CodePointOf(std::string_view valid_sequence);

// Appends one code point; the caller keeps surrogates and values above
// U+10FFFF out.
void AppendUtf8(std::string& out, char32_t code_point);

}  // namespace quillwave
