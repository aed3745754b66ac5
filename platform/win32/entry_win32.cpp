// The Windows entry point: a GUI program without a console.
#include <windows.h>

#include "launcher/run_sequence.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE /*previous*/, PWSTR own_arguments, int /*show*/) {
  quillwave::platform::OwnArguments arguments;
  arguments.text = own_arguments != nullptr ? own_arguments : L"";
  return quillwave::RunLauncher(arguments, instance);
}
