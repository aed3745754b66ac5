// The POSIX entry point: the own arguments are argv[1..], every byte kept.
#include "launcher/run_sequence.h"
#include "platform/encoding.h"

int main(int argc, char** argv) {
  quillwave::platform::OwnArguments arguments;
  for (int i = 1; i < argc; ++i) {
    arguments.list.push_back(quillwave::platform::BytesToWide(argv[i]));
    if (i > 1) arguments.text += L' ';
    arguments.text += arguments.list.back();
  }
  return quillwave::RunLauncher(arguments, quillwave::SystemLaunchEnvironment(nullptr));
}
