// Starting the engine as an independent process.
#pragma once

#include <string>

#include "launcher/engine_switches.h"
#include "platform/process.h"

namespace quillwave {

inline constexpr const wchar_t* kFixedEngineSwitches[] = {
    L"--hide-crash-restore-bubble",
    L"--disable-features=PasswordManagerOnboarding,AutofillEnableAccountWalletStorage",
    L"--disable-save-password-bubble",
};

// The engine with the fixed switches, the own arguments (verbatim on
// Windows, as they came on POSIX) and the launcher's switches, in that order;
// own arguments from a first "--" on come last, after which the engine reads
// no switches.
platform::ProcessLaunch EngineLaunch(const std::wstring& engine_path, const platform::OwnArguments& own_arguments,
                                     const EngineSwitches& switches);

}  // namespace quillwave
