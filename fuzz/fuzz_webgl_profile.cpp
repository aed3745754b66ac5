// A named profile object out of any text. The input's first line names the
// profile, the rest is the file.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz/fuzz_check.h"
#include "persona/webgl_profile.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace quillwave;
  const std::string input(reinterpret_cast<const char*>(data), size);
  const std::size_t newline = input.find('\n');
  const std::string name = newline == std::string::npos ? std::string("p") : input.substr(0, newline);
  const std::string text = newline == std::string::npos ? input : input.substr(newline + 1);
  for (const auto& [key, value] : ReadProfileObject(text, name)) {
    // Keys become switch names: never empty, never a commented-out one.
    fuzz::Check(!key.empty() && key.front() != '_', "a profile key that must have been skipped");
  }
  return 0;
}
