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
// The engine reads this switch from its raw command line and takes all
// that follows it there as one page to open (how the Windows shell hands
// it a link): nothing after it is a switch any more.
constexpr bool kSingleArgumentEndsSwitches = true;
#else
// POSIX arguments are bytes; the engine trims ASCII white space only.
bool IsTrimmed(wchar_t c) { return (c >= 0x09 && c <= 0x0D) || c == 0x20; }
wchar_t SwitchNameCase(wchar_t c) { return c; }
constexpr bool kSingleArgumentEndsSwitches = false;
#endif

bool IsBlankOrTab(wchar_t c) { return c == L' ' || c == L'\t'; }

// The own arguments' text split where the arguments after them must go:
// before the first "--", or, when the text ends inside quotes, after the
// text written anew from its split, which has closed quotes.
struct OwnText {
  std::wstring before;
  std::wstring after;
};
OwnText SplitOwnText(const std::wstring& text) {
  const TailSplit split = SplitCommandLineTail(text);
  const auto end = std::find_if(split.arguments.begin(), split.arguments.end(),
                                [](const TailArgument& argument) { return EndsSwitches(argument.text); });
  if (end != split.arguments.end()) {
    OwnText pieces{text.substr(0, end->start), text.substr(end->start)};
    while (!pieces.before.empty() && IsBlankOrTab(pieces.before.back())) pieces.before.pop_back();
    return pieces;
  }
  if (!split.ends_quoted) return {text, {}};
  OwnText pieces;
  for (const TailArgument& argument : split.arguments) {
    if (!pieces.before.empty()) pieces.before += L' ';
    pieces.before += QuoteArgumentIfNeeded(argument.text);
  }
  return pieces;
}

}  // namespace

std::wstring_view AsEngineReads(std::wstring_view argument) {
  while (!argument.empty() && IsTrimmed(argument.front())) argument.remove_prefix(1);
  while (!argument.empty() && IsTrimmed(argument.back())) argument.remove_suffix(1);
  return argument;
}

bool EndsSwitches(std::wstring_view argument) {
  if (AsEngineReads(argument) == L"--") return true;
  return kSingleArgumentEndsSwitches && EngineSwitchValue(argument, L"single-argument").has_value();
}

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

// CommandLineToArgvW's rules after the program name: blanks and tabs end
// an argument outside quotes; 2N backslashes and a quote give N backslashes
// and the quote opens or closes quoting, 2N+1 give N and a literal quote;
// other backslashes are literal. A run of further quotes counts on with the
// first: every third gives a literal quote and ends quoting, so "" inside
// quotes is a literal quote after which the quotes are closed.
TailSplit SplitCommandLineTail(std::wstring_view tail) {
  TailSplit split;
  int quotes = 0;  // 1 inside a quoted section
  std::size_t backslashes = 0;
  bool in_argument = false;
  for (std::size_t i = 0; i < tail.size();) {
    const wchar_t c = tail[i];
    if (IsBlankOrTab(c) && quotes == 0) {
      in_argument = false;
      backslashes = 0;
      ++i;
      continue;
    }
    if (!in_argument) {
      split.arguments.push_back({i, {}});
      in_argument = true;
    }
    std::wstring& text = split.arguments.back().text;
    if (c == L'\\') {
      ++backslashes;
      text += c;
      ++i;
      continue;
    }
    if (c != L'"') {
      backslashes = 0;
      text += c;
      ++i;
      continue;
    }
    text.resize(text.size() - (backslashes + 1) / 2);
    if (backslashes % 2 == 0) {
      ++quotes;
    } else {
      text += L'"';
    }
    backslashes = 0;
    for (++i; i < tail.size() && tail[i] == L'"'; ++i) {
      if (++quotes == 3) {
        text += L'"';
        quotes = 0;
      }
    }
    if (quotes == 2) quotes = 0;
  }
  split.ends_quoted = quotes == 1;
  return split;
}

std::wstring WindowsCommandLine(const ProcessLaunch& launch) {
  std::wstring command_line = L"\"" + launch.program + L"\"";
  const auto add_own = [&](const std::wstring& text) {
    if (!text.empty()) command_line += L" " + text;
  };
  // Only arguments that follow the own ones can end up inside them.
  const OwnText own = launch.own_arguments_at < launch.arguments.size() ? SplitOwnText(launch.own_arguments.text)
                                                                        : OwnText{launch.own_arguments.text, {}};
  for (std::size_t i = 0; i < launch.arguments.size(); ++i) {
    if (i == launch.own_arguments_at) add_own(own.before);
    const ProcessArgument& argument = launch.arguments[i];
    command_line += L' ';
    command_line += argument.always_quoted ? QuoteArgument(argument.text) : QuoteArgumentIfNeeded(argument.text);
  }
  if (launch.own_arguments_at >= launch.arguments.size()) add_own(own.before);
  add_own(own.after);
  return command_line;
}

std::vector<std::wstring> PosixArgv(const ProcessLaunch& launch) {
  std::vector<std::wstring> argv{launch.program};
  const std::vector<std::wstring>& own = launch.own_arguments.list;
  const auto end = own.begin() + static_cast<std::ptrdiff_t>(FirstSwitchEnd(own));
  for (std::size_t i = 0; i < launch.arguments.size(); ++i) {
    if (i == launch.own_arguments_at) argv.insert(argv.end(), own.begin(), end);
    argv.push_back(launch.arguments[i].text);
  }
  if (launch.own_arguments_at >= launch.arguments.size()) argv.insert(argv.end(), own.begin(), end);
  argv.insert(argv.end(), end, own.end());
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
