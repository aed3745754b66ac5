#include "platform/command_line.h"

#include <algorithm>

namespace quillwave::platform {
namespace {

#ifdef _WIN32
// Unicode's White_Space characters, the set the engine trims on Windows.
bool IsTrimmed(wchar_t c) {
  return (c >= 0x09 && c <= 0x0D) || c == 0x20 || c == 0x85 || c == 0xA0 || c == 0x1680 ||
         (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F || c == 0x205F || c == 0x3000;
}
// Switch names are compared after ASCII letters are made lower case.
wchar_t SwitchNameCase(wchar_t c) { return c >= L'A' && c <= L'Z' ? static_cast<wchar_t>(c - L'A' + L'a') : c; }
#else
// POSIX arguments are bytes; the engine trims ASCII white space only.
bool IsTrimmed(wchar_t c) { return (c >= 0x09 && c <= 0x0D) || c == 0x20; }
wchar_t SwitchNameCase(wchar_t c) { return c; }
#endif

}  // namespace

std::wstring_view AsEngineReads(std::wstring_view argument) {
  while (!argument.empty() && IsTrimmed(argument.front())) argument.remove_prefix(1);
  while (!argument.empty() && IsTrimmed(argument.back())) argument.remove_suffix(1);
  return argument;
}

bool EndsSwitches(std::wstring_view argument) { return AsEngineReads(argument) == L"--"; }

std::size_t FirstSwitchEnd(const std::vector<std::wstring>& arguments) {
  return static_cast<std::size_t>(std::find_if(arguments.begin(), arguments.end(),
                                               [](const std::wstring& argument) { return EndsSwitches(argument); }) -
                                  arguments.begin());
}

std::optional<std::wstring> EngineSwitchValue(std::wstring_view argument, std::wstring_view name) {
  const std::wstring_view read = AsEngineReads(argument);
  std::size_t prefix = 0;
  if (read.starts_with(L"--")) {
    prefix = 2;
  } else if (!read.empty() && kSwitchPrefixes.find(read.front()) != std::wstring_view::npos) {
    prefix = 1;
  }
  if (prefix == 0 || prefix == read.size()) return std::nullopt;
  const std::size_t equals = read.find(L'=');
  const std::wstring_view key = read.substr(prefix, equals == std::wstring_view::npos ? equals : equals - prefix);
  if (key.size() != name.size() ||
      !std::equal(key.begin(), key.end(), name.begin(), [](wchar_t a, wchar_t b) { return SwitchNameCase(a) == b; })) {
    return std::nullopt;
  }
  return std::wstring(equals == std::wstring_view::npos ? std::wstring_view() : read.substr(equals + 1));
}

std::wstring WindowsCommandLine(const ProcessLaunch& launch) {
  std::wstring command_line = L"\"" + launch.program + L"\"";
  const auto add_own = [&] {
    if (!launch.own_arguments.text.empty()) command_line += L" " + launch.own_arguments.text;
  };
  for (std::size_t i = 0; i < launch.arguments.size(); ++i) {
    if (i == launch.own_arguments_at) add_own();
    const ProcessArgument& argument = launch.arguments[i];
    command_line += L' ';
    command_line += argument.always_quoted ? QuoteArgument(argument.text) : QuoteArgumentIfNeeded(argument.text);
  }
  if (launch.own_arguments_at >= launch.arguments.size()) add_own();
  return command_line;
}

std::vector<std::wstring> PosixArgv(const ProcessLaunch& launch) {
  std::vector<std::wstring> argv{launch.program};
  const auto add_own = [&] {
    argv.insert(argv.end(), launch.own_arguments.list.begin(), launch.own_arguments.list.end());
  };
  for (std::size_t i = 0; i < launch.arguments.size(); ++i) {
    if (i == launch.own_arguments_at) add_own();
    argv.push_back(launch.arguments[i].text);
  }
  if (launch.own_arguments_at >= launch.arguments.size()) add_own();
  return argv;
}

std::wstring QuoteArgument(const std::wstring& argument) {
  std::wstring quoted = L"\"";
  std::size_t backslashes = 0;
  for (wchar_t c : argument) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    // Backslashes are literal unless a quote follows them.
    quoted.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
    backslashes = 0;
    quoted += c;
  }
  quoted.append(backslashes * 2, L'\\');  // they now precede the closing quote
  quoted += L'"';
  return quoted;
}

std::wstring QuoteArgumentIfNeeded(const std::wstring& argument) {
  if (!argument.empty() && argument.find_first_of(L" \t\"") == std::wstring::npos) return argument;
  return QuoteArgument(argument);
}

}  // namespace quillwave::platform
