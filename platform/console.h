// Text for a person at a terminal, from the console tools.
#pragma once

#include <string_view>

namespace quillwave::platform {

// Writes UTF-8 text to standard output or standard error as it is: no line
// ends are translated. A Windows console gets it as Unicode.
void WriteStandardOutput(std::string_view utf8);
void WriteStandardError(std::string_view utf8);

}  // namespace quillwave::platform
