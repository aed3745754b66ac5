#include "platform/encoding.h"

#include <cstdint>

#include "base/utf8.h"

namespace quillwave::platform {
namespace {

constexpr char32_t kReplacement = 0xFFFD;

// How an ill-formed piece of UTF-8 is decoded: as one U+FFFD, or byte by
// byte into U+DC80 to U+DCFF so that nothing is lost.
enum class IllFormed { kReplace, kKeepBytes };

constexpr char32_t kKeptByteBase = 0xDC00;

bool IsKeptByte(char32_t cp) { return cp >= kKeptByteBase + 0x80 && cp <= kKeptByteBase + 0xFF; }

// Replacing follows the "maximal subpart" rule that Windows and the Unicode
// standard recommend: each ill-formed piece becomes exactly one U+FFFD.
std::wstring Decode(std::string_view utf8, IllFormed ill_formed) {
  std::wstring out;
  out.reserve(utf8.size());
  std::size_t i = 0;
  while (i < utf8.size()) {
    const auto b0 = static_cast<unsigned char>(utf8[i]);
    if (b0 < 0x80) {
      out += static_cast<wchar_t>(b0);
      ++i;
      continue;
    }
    const Utf8Sequence sequence = Utf8SequenceAt(utf8, i);
    if (sequence.valid) {
      out += static_cast<wchar_t>(CodePointOf(utf8.substr(i, sequence.length)));
      i += sequence.length;
    } else if (ill_formed == IllFormed::kReplace) {
      out += static_cast<wchar_t>(kReplacement);
      i += sequence.length;
    } else {
      // The rest of the piece are continuation bytes, each ill-formed alone.
      out += static_cast<wchar_t>(kKeptByteBase + b0);
      ++i;
    }
  }
  return out;
}

std::string Encode(std::wstring_view wide, IllFormed ill_formed) {
  std::string out;
  out.reserve(wide.size());
  for (wchar_t wc : wide) {
    auto cp = static_cast<char32_t>(wc);
    if (ill_formed == IllFormed::kKeepBytes && IsKeptByte(cp)) {
      out += static_cast<char>(cp - kKeptByteBase);
      continue;
    }
    if ((cp >= 0xD800 && cp <= 0xDFFF) || cp > 0x10FFFF) cp = kReplacement;
    AppendUtf8(out, cp);
  }
  return out;
}

}  // namespace

std::wstring Utf8ToWide(std::string_view utf8) { return Decode(utf8, IllFormed::kReplace); }

std::string WideToUtf8(std::wstring_view wide) { return Encode(wide, IllFormed::kReplace); }

std::wstring BytesToWide(std::string_view bytes) { return Decode(bytes, IllFormed::kKeepBytes); }

std::string WideToBytes(std::wstring_view wide) { return Encode(wide, IllFormed::kKeepBytes); }

}  // namespace quillwave::platform
