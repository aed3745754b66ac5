// A list of arguments written with the launcher's quoting must split back
// into the same list under CommandLineToArgvW's rules. The splitter here is
// written apart from the code under test on purpose.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz/fuzz_check.h"
#include "platform/command_line.h"

namespace {

// CommandLineToArgvW on the arguments after the program name (which is
// written here without blanks or quotes): blanks and tabs separate outside
// quotes; 2N backslashes before a quote give N and the quote toggles
// quoting, 2N+1 give N and a literal quote; other backslashes are literal;
// "" inside quotes gives a literal quote.
std::vector<std::wstring> SplitLikeCommandLineToArgvW(const std::wstring& line) {
  std::vector<std::wstring> arguments;
  std::size_t i = line.find_first_of(L" \t");
  arguments.push_back(line.substr(0, i));
  if (i == std::wstring::npos) return arguments;
  const std::size_t n = line.size();
  while (true) {
    while (i < n && (line[i] == L' ' || line[i] == L'\t')) ++i;
    if (i == n) return arguments;
    std::wstring current;
    bool in_quotes = false;
    std::size_t backslashes = 0;
    for (; i < n; ++i) {
      const wchar_t c = line[i];
      if (c == L'\\') {
        ++backslashes;
        continue;
      }
      if (c == L'"') {
        current.append(backslashes / 2, L'\\');
        const bool literal = backslashes % 2 == 1;
        backslashes = 0;
        if (literal) {
          current += L'"';
        } else if (in_quotes && i + 1 < n && line[i + 1] == L'"') {
          current += L'"';
          ++i;
        } else {
          in_quotes = !in_quotes;
        }
        continue;
      }
      current.append(backslashes, L'\\');
      backslashes = 0;
      if (!in_quotes && (c == L' ' || c == L'\t')) break;
      current += c;
    }
    current.append(backslashes, L'\\');
    arguments.push_back(std::move(current));
  }
}

// Bytes to arguments: 0 separates them, bytes from 0xF0 stand for wide
// characters outside Latin-1, every other byte for itself.
std::vector<std::wstring> ArgumentsFrom(const std::uint8_t* data, std::size_t size) {
  std::vector<std::wstring> arguments;
  if (size == 0) return arguments;
  arguments.emplace_back();
  for (std::size_t k = 0; k < size; ++k) {
    if (data[k] == 0) {
      arguments.emplace_back();
    } else if (data[k] >= 0xF0) {
      arguments.back() += static_cast<wchar_t>(0x4E00 + (data[k] & 0x0F));
    } else {
      arguments.back() += static_cast<wchar_t>(data[k]);
    }
  }
  return arguments;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace quillwave;
  using namespace quillwave::platform;
  const std::vector<std::wstring> arguments = ArgumentsFrom(data, size);
  std::vector<std::wstring> expected{L"engine.exe"};
  expected.insert(expected.end(), arguments.begin(), arguments.end());

  std::wstring when_needed = L"engine.exe";
  std::wstring always = L"engine.exe";
  for (const std::wstring& argument : arguments) {
    when_needed += L' ' + QuoteArgumentIfNeeded(argument);
    always += L' ' + QuoteArgument(argument);
  }
  fuzz::Check(SplitLikeCommandLineToArgvW(when_needed) == expected, "QuoteArgumentIfNeeded does not split back");
  fuzz::Check(SplitLikeCommandLineToArgvW(always) == expected, "QuoteArgument does not split back");
  return 0;
}
