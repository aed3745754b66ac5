// WebGL profiles: named objects in "corvane-webgl-profiles.json" beside the
// launcher whose members become engine switches.
#pragma once

#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace quillwave {

inline constexpr char kWebglProfilesFileName[] = "corvane-webgl-profiles.json";

using ProfileMap = std::map<std::string, std::string>;

ProfileMap ReadProfileObject(std::string_view text, std::string_view name);

// One "--name=value" item per profile member, in key order; each stays one
// engine argument even when its value holds a blank. Empty when nothing applies.
std::vector<std::wstring> ProfileSwitchItems(std::string_view profiles_text, std::string_view name);

// The same from the profiles file beside the launcher.
std::vector<std::wstring> WebglProfileSwitchItems(std::string_view name, const std::wstring& launcher_dir);

}  // namespace quillwave
