#include "platform/encoding.h"

#include <cstdint>

namespace quillwave::platform {
namespace {

constexpr char32_t kReplacement = 0xFFFD;

void AppendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

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
  const auto* p = reinterpret_cast<const unsigned char*>(utf8.data());
  const std::size_t n = utf8.size();
  std::size_t i = 0;
  while (i < n) {
    const unsigned char b0 = p[i];
    if (b0 < 0x80) {
      out += static_cast<wchar_t>(b0);
      ++i;
      continue;
    }
    int need = 0;
    char32_t cp = 0;
    unsigned char lo = 0x80, hi = 0xBF;  // allowed range of the second byte
    if (b0 >= 0xC2 && b0 <= 0xDF) {
      need = 1;
      cp = b0 & 0x1F;
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
      need = 2;
      cp = b0 & 0x0F;
      if (b0 == 0xE0) lo = 0xA0;
      if (b0 == 0xED) hi = 0x9F;  // no surrogates
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
      need = 3;
      cp = b0 & 0x07;
      if (b0 == 0xF0) lo = 0x90;
      if (b0 == 0xF4) hi = 0x8F;  // nothing above U+10FFFF
    }
    std::size_t j = i + 1;
    bool ok = need > 0;
    for (int k = 0; ok && k < need; ++k, ++j) {
      const unsigned char lower = k == 0 ? lo : 0x80;
      const unsigned char upper = k == 0 ? hi : 0xBF;
      if (j >= n || p[j] < lower || p[j] > upper) {
        ok = false;
        break;
      }
      cp = (cp << 6) | (p[j] & 0x3F);
    }
    if (ok) {
      out += static_cast<wchar_t>(cp);
      i = j;
    } else if (ill_formed == IllFormed::kReplace) {
      out += static_cast<wchar_t>(kReplacement);
      i = j;
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
