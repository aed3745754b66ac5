// quillwave-persona, the console tool beside the launcher.
#include "platform/process.h"
#include "tool/persona_tool.h"

int main() {
  return quillwave::RunPersonaTool(quillwave::platform::ProcessArguments(), quillwave::SystemToolEnvironment());
}
