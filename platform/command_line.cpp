#include "platform/command_line.h"

namespace quillwave::platform {

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
