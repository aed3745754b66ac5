// The launcher from its first step to its exit code.
#pragma once

#include "persona/persona_config.h"
#include "platform/process.h"

namespace quillwave {

inline constexpr int kExitOk = 0;
inline constexpr int kExitEngineProblem = 1;
inline constexpr int kExitBlocked = 42;

// Whether values only the proxy's egress can supply are wanted and not
// already fixed by the persona.
bool NeedsDiscovery(const PersonaConfig& persona);

// Runs the whole launch and returns the process exit code. `instance` is
// the launcher's module instance on Windows (for the window), else null.
int RunLauncher(const platform::OwnArguments& own_arguments, void* instance);

}  // namespace quillwave
