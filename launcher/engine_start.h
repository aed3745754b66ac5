// Starting the engine as an independent process.
#pragma once

#include <string>
#include <vector>

#include "launcher/engine_switches.h"
#include "platform/process.h"

namespace quillwave {

inline constexpr const wchar_t* kFixedEngineSwitches[] = {
    L"--hide-crash-restore-bubble",
    L"--disable-features=PasswordManagerOnboarding,AutofillEnableAccountWalletStorage",
    L"--disable-save-password-bubble",
};

// Windows: the quoted engine path, the fixed switches, the own arguments
// verbatim and the launcher's switches, separated by single blanks.
std::wstring EngineCommandLine(const std::wstring& engine_path, const std::wstring& own_arguments,
                               const EngineSwitches& switches);

// POSIX: the same pieces as separate arguments, nothing quoted.
std::vector<std::wstring> EngineArgv(const std::wstring& engine_path, const std::vector<std::wstring>& own_arguments,
                                     const EngineSwitches& switches);

platform::SpawnResult StartEngine(const std::wstring& engine_path, const platform::OwnArguments& own_arguments,
                                  const EngineSwitches& switches);

}  // namespace quillwave
