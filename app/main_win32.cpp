// The Windows entry point of a GUI program without a console. Its signature
// is spelled without <windows.h>, which stays inside the platform layer: an
// HINSTANCE is a pointer to an opaque struct, the command-line tail a wide
// string, and x64 has one calling convention.
#include "launcher/run_sequence.h"
#include "platform/process.h"

struct HINSTANCE__;

extern "C" int wWinMain(HINSTANCE__* instance, HINSTANCE__* /*previous*/, wchar_t* own_arguments, int /*show*/) {
  quillwave::platform::LoadLibrariesFromSystemFolderOnly();
  quillwave::platform::OwnArguments arguments;
  arguments.text = own_arguments != nullptr ? own_arguments : L"";
  // The user-data directory is read from the arguments as CommandLineToArgvW
  // splits the whole command line.
  arguments.list = quillwave::platform::ProcessArguments();
  return quillwave::RunLauncher(arguments, quillwave::SystemLaunchEnvironment(instance));
}
