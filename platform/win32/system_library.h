// Libraries of the system loaded at run time come from the system folder
// only: a file of the same name planted beside the launcher, in the working
// folder or on PATH is never loaded in their place.
#pragma once

#include <windows.h>

#include "platform/win32/unique_handle.h"

namespace quillwave::platform {

inline UniqueModule LoadSystemLibrary(const wchar_t* name) {
  return UniqueModule(::LoadLibraryExW(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32));
}

}  // namespace quillwave::platform
