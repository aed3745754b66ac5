// Owners of Win32 handles. Handles whose invalid value is null (processes,
// threads, pipes) and those whose invalid value is INVALID_HANDLE_VALUE
// (files from CreateFileW) get separate types so that neither can be checked
// against the wrong sentinel.
#pragma once

#include <windows.h>

#include "base/unique_owner.h"

namespace quillwave::platform {

struct HandleTraits {
  using Value = HANDLE;
  static HANDLE Invalid() { return nullptr; }
  static bool Close(HANDLE handle) { return ::CloseHandle(handle) != 0; }
};

struct FileHandleTraits {
  using Value = HANDLE;
  static HANDLE Invalid() { return INVALID_HANDLE_VALUE; }
  static bool Close(HANDLE handle) { return ::CloseHandle(handle) != 0; }
};

// A search from FindFirstFileExW.
struct FindHandleTraits {
  using Value = HANDLE;
  static HANDLE Invalid() { return INVALID_HANDLE_VALUE; }
  static bool Close(HANDLE handle) { return ::FindClose(handle) != 0; }
};

// A GDI object (font, brush, bitmap).
struct GdiObjectTraits {
  using Value = HGDIOBJ;
  static HGDIOBJ Invalid() { return nullptr; }
  static bool Close(HGDIOBJ object) { return ::DeleteObject(object) != 0; }
};

// A library loaded at run time.
struct ModuleTraits {
  using Value = HMODULE;
  static HMODULE Invalid() { return nullptr; }
  static bool Close(HMODULE module) { return ::FreeLibrary(module) != 0; }
};

using UniqueHandle = UniqueOwner<HandleTraits>;
using UniqueFileHandle = UniqueOwner<FileHandleTraits>;
using UniqueFindHandle = UniqueOwner<FindHandleTraits>;
using UniqueGdiObject = UniqueOwner<GdiObjectTraits>;
using UniqueModule = UniqueOwner<ModuleTraits>;

}  // namespace quillwave::platform
