#include "tests/support/png_writer.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <fstream>

namespace quillwave::test {
namespace {

std::uint32_t Crc32(const std::string& bytes, std::size_t from) {
  static const std::array<std::uint32_t, 256> table = [] {
    std::array<std::uint32_t, 256> t{};
    for (std::uint32_t n = 0; n < 256; ++n) {
      std::uint32_t c = n;
      for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
      t[n] = c;
    }
    return t;
  }();
  std::uint32_t crc = 0xFFFFFFFFu;
  for (std::size_t i = from; i < bytes.size(); ++i)
    crc = table[(crc ^ static_cast<std::uint8_t>(bytes[i])) & 0xFF] ^ (crc >> 8);
  return crc ^ 0xFFFFFFFFu;
}

void PutBigEndian32(std::string& out, std::uint32_t value) {
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<char>((value >> shift) & 0xFF));
}

void PutChunk(std::string& out, const char (&type)[5], const std::string& data) {
  PutBigEndian32(out, static_cast<std::uint32_t>(data.size()));
  const std::size_t crc_from = out.size();
  out.append(type, 4);
  out += data;
  PutBigEndian32(out, Crc32(out, crc_from));
}

// A zlib stream of stored (uncompressed) deflate blocks, at most 65535 bytes each.
std::string StoredZlib(const std::string& raw) {
  std::string out("\x78\x01", 2);
  std::uint32_t a = 1, b = 0;
  for (unsigned char byte : raw) {
    a = (a + byte) % 65521;
    b = (b + a) % 65521;
  }
  std::size_t offset = 0;
  do {
    const std::size_t length = std::min<std::size_t>(raw.size() - offset, 65535);
    const bool last = offset + length == raw.size();
    out.push_back(last ? 1 : 0);
    out.push_back(static_cast<char>(length & 0xFF));
    out.push_back(static_cast<char>(length >> 8));
    out.push_back(static_cast<char>(~length & 0xFF));
    out.push_back(static_cast<char>((~length >> 8) & 0xFF));
    out.append(raw, offset, length);
    offset += length;
  } while (offset < raw.size());
  PutBigEndian32(out, (b << 16) | a);
  return out;
}

}  // namespace

std::string EncodePngRgb8(int width, int height, const std::vector<std::uint8_t>& rgb) {
  if (width <= 0 || height <= 0 || rgb.size() != static_cast<std::size_t>(width) * height * 3) return {};
  std::string header;
  PutBigEndian32(header, static_cast<std::uint32_t>(width));
  PutBigEndian32(header, static_cast<std::uint32_t>(height));
  header += std::string("\x08\x02\x00\x00\x00", 5);  // 8 bits, RGB, deflate, no filter method, no interlace

  const std::size_t row_bytes = static_cast<std::size_t>(width) * 3;
  std::string raw;
  raw.reserve((row_bytes + 1) * height);
  for (int y = 0; y < height; ++y) {
    raw.push_back('\0');  // filter type "none"
    raw.append(reinterpret_cast<const char*>(rgb.data()) + y * row_bytes, row_bytes);
  }

  std::string png("\x89PNG\r\n\x1a\n", 8);
  PutChunk(png, "IHDR", header);
  PutChunk(png, "IDAT", StoredZlib(raw));
  PutChunk(png, "IEND", {});
  return png;
}

bool WritePngRgb8(const std::filesystem::path& path, int width, int height, const std::vector<std::uint8_t>& rgb) {
  const std::string png = EncodePngRgb8(width, height, rgb);
  if (png.empty()) return false;
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(png.data(), static_cast<std::streamsize>(png.size()));
  return static_cast<bool>(out.flush());
}

}  // namespace quillwave::test
