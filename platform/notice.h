// The one error surface the launcher shows a person.
#pragma once

#include <string>

namespace quillwave::platform {

// Windows: a modal error message box without owner. POSIX: the text on
// standard error. Returns when the person has dismissed it; false when it
// could not be shown.
bool ShowErrorNotice(const std::wstring& caption, const std::wstring& text);

}  // namespace quillwave::platform
