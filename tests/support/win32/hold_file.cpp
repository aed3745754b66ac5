// Holds a file open the way an indexer or a virus scanner does: reading,
// without delete sharing, so that nobody can replace it meanwhile.
//   quillwave-hold-file <file> <marker> <milliseconds>
// The marker file is created once the file is held; the file is let go after
// the given time.
#include <windows.h>

#include <cwchar>

#include "platform/win32/unique_handle.h"

int wmain(int argc, wchar_t** argv) {
  if (argc != 4) return 2;
  quillwave::platform::UniqueFileHandle held(::CreateFileW(argv[1], GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                                           nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!held.valid()) return 3;
  quillwave::platform::UniqueFileHandle marker(
      ::CreateFileW(argv[2], GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!marker.valid()) return 4;
  marker.Reset();
  ::Sleep(static_cast<DWORD>(std::wcstoul(argv[3], nullptr, 10)));
  return held.Reset() ? 0 : 5;
}
