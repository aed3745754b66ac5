// The switches the launcher adds to the engine's command line.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "discovery/discovery_result.h"
#include "persona/persona_config.h"
#include "platform/command_line.h"

namespace quillwave {

// One engine argument. The start page is always quoted on a Windows command
// line; other items only when they need it.
using SwitchItem = platform::ProcessArgument;

// Items in the order the engine receives them, always ending with the start URL.
using EngineSwitches = std::vector<SwitchItem>;

// The Windows command-line form: items joined by single blanks.
std::wstring EngineSwitchesText(const EngineSwitches& switches);

// Appends "--key=value" unless the value is empty.
void AppendSwitch(EngineSwitches& switches, const std::wstring& key, const std::wstring& value);

// The device-memory bucket (1, 2, 4, 8, 16 or 32) for a byte count.
int DeviceMemoryBucket(std::uint64_t total_bytes);
// The switches' values from what the system reports; empty when it reports nothing.
std::wstring DeviceMemoryValue(std::optional<std::uint64_t> total_bytes);
std::wstring HardwareConcurrencyValue(unsigned logical_processors);

// "--remote-debugging-port=N --remote-debugging-address=127.0.0.1", or empty
// when the port is not valid or the caller already chose one.
std::wstring RemoteDebuggingSwitches(const std::string& cdp_tcp_port, const std::vector<std::wstring>& own_arguments);

// The record's note when a start page is set aside.
inline constexpr char kStartPageIgnored[] = "start-page ignored: it would be read as an engine switch";

// The record's note when a start page is set aside for its length.
inline constexpr char kStartPageTooLong[] = "start-page ignored: longer than the engine's command line allows";

// True when the engine would take the argument for one of its switches: it
// trims white space from both ends of every argument, then reads a leading
// switch prefix as a switch wherever the argument stands.
bool ReadAsEngineSwitch(std::wstring_view argument);

// The same for a persona's start page, as the engine would receive it.
bool StartPageReadAsSwitch(const std::string& start_page);

// When the persona's start page, the last item, would make the engine's
// arguments more than the system lets a program be started with, the
// default start URL takes its place. True when it did.
bool SetAsideOverlongStartPage(EngineSwitches& switches, const std::wstring& engine_path,
                               const platform::OwnArguments& own_arguments);

// The machine values and the WebGL profile items a recipe uses, gathered
// once so the recipes themselves are pure.
struct MachineValues {
  std::wstring device_memory;         // empty when unknown
  std::wstring hardware_concurrency;  // empty when unknown
};
MachineValues ReadMachineValues();

EngineSwitches DirectRecipe(const PersonaConfig& persona, const MachineValues& machine,
                            const std::vector<std::wstring>& webgl_items,
                            const std::vector<std::wstring>& own_arguments);

// The discovery recipe comes in two parts, built on either side of the
// housekeeping: first the WebGL profile items and the discovered values...
EngineSwitches ProfileAndDiscoveredSwitches(const PersonaConfig& persona, const std::vector<std::wstring>& webgl_items,
                                            const DiscoveryResult& discovery);
// ...then the machine values, remote debugging and the start URL.
void AppendMachineDebuggingAndStartUrl(EngineSwitches& switches, const PersonaConfig& persona,
                                       const MachineValues& machine, const std::vector<std::wstring>& own_arguments);

}  // namespace quillwave
