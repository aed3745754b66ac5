// What a started program gets as its arguments, and how each system is
// handed them: Windows one command line quoted the way CommandLineToArgvW
// splits it, POSIX a list. Portable, so both forms can be checked anywhere.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quillwave::platform {

// The characters that, first in an argument, make a program built on
// Chromium's command-line parser read it as a switch.
#ifdef _WIN32
inline constexpr std::wstring_view kSwitchPrefixes = L"-/";
#else
inline constexpr std::wstring_view kSwitchPrefixes = L"-";
#endif

// How such a program reads one argument: it trims white space from both
// ends (on Windows Unicode's, elsewhere ASCII's) first.
std::wstring_view AsEngineReads(std::wstring_view argument);

// True for "--" as the engine reads it: every argument after the first one
// is a page to open, never a switch. On Windows also for its switch
// "single-argument", after which the rest of the command line is one page.
bool EndsSwitches(std::wstring_view argument);

// The position of the first argument that ends the switches, or the size.
std::size_t FirstSwitchEnd(const std::vector<std::wstring>& arguments);

// When the engine reads the argument as the switch `name` (given in lower
// case), its value: the argument is "--", "-" (on Windows also "/"), the
// name (on Windows in any letter case), then "=" and the value, or nothing
// more for an empty value. Nothing when it is another argument.
std::optional<std::wstring> EngineSwitchValue(std::wstring_view argument, std::wstring_view name);

// A command-line tail (what follows the program name) split the way
// CommandLineToArgvW splits it: each argument with the position in the text
// where it begins, and whether the text ends inside a quoted section.
struct TailArgument {
  std::size_t start = 0;
  std::wstring text;
};
struct TailSplit {
  std::vector<TailArgument> arguments;
  bool ends_quoted = false;
};
TailSplit SplitCommandLineTail(std::wstring_view tail);

// The launcher's own arguments as the system hands them over. `text` is the
// command-line tail after the program name (verbatim on Windows; on POSIX the
// arguments joined by single blanks, for substring checks only). `list` holds
// the separate arguments; POSIX forwards these to the engine unchanged.
struct OwnArguments {
  std::wstring text;
  std::vector<std::wstring> list;
};

// One argument. On a Windows command line it is quoted when it needs it (a
// blank, a tab or a double quote), or always when asked.
struct ProcessArgument {
  std::wstring text;
  bool always_quoted = false;
  bool operator==(const ProcessArgument&) const = default;
};

// What a new process is started with: the program, its arguments, and the
// caller's own arguments, which go before `arguments[own_arguments_at]`.
// Windows passes their text on verbatim, POSIX each of them as it came.
// From the caller's first "--" on they go after all the arguments instead,
// so that those stay switches. On Windows a text that would leave the next
// argument inside its open quotes is written anew from its own split.
struct ProcessLaunch {
  std::wstring program;
  std::vector<ProcessArgument> arguments;
  OwnArguments own_arguments;
  std::size_t own_arguments_at = 0;
};

// The Windows command line: the program in double quotes, then every piece
// after a single blank, the own arguments' text (when not empty) in its places.
std::wstring WindowsCommandLine(const ProcessLaunch& launch);

// The POSIX argument list: the program, then every piece as it is.
std::vector<std::wstring> PosixArgv(const ProcessLaunch& launch);

// One argument written so that CommandLineToArgvW gives it back unchanged.
// Without a blank, tab or double quote it is written as it is (an empty
// argument as ""); otherwise it is quoted, inner quotes become \" and
// backslashes before a quote or the closing quote are doubled.
std::wstring QuoteArgumentIfNeeded(const std::wstring& argument);
std::wstring QuoteArgument(const std::wstring& argument);

}  // namespace quillwave::platform
