// A minimal PNG writer for test screenshots: 8-bit RGB, no filtering, the
// image data in uncompressed deflate blocks. Readable by any PNG viewer.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace quillwave::test {

// `rgb` holds width * height pixels, row by row from the top, three bytes
// each. Returns the whole file's bytes; empty when the sizes do not match.
std::string EncodePngRgb8(int width, int height, const std::vector<std::uint8_t>& rgb);

// Writes EncodePngRgb8's bytes to `path`; false when nothing could be written.
bool WritePngRgb8(const std::filesystem::path& path, int width, int height, const std::vector<std::uint8_t>& rgb);

}  // namespace quillwave::test
