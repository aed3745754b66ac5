#include "launcher/engine_switches.h"

#include <algorithm>
#include <climits>
#include <cstdint>

#include "launcher/engine_start.h"
#include "platform/command_line.h"
#include "platform/encoding.h"
#include "platform/process.h"
#include "platform/system.h"

namespace quillwave {
namespace {

constexpr wchar_t kSpeechVoicesPreset[] = L"stock-chrome-windows";
constexpr wchar_t kDebuggingAddress[] = L"127.0.0.1";

// Whether the caller gave the engine a debugging port of its own, in any
// form the engine reads as that switch ("-remote-debugging-port=…" too, on
// Windows "/Remote-Debugging-Port=…"); a page after "--" is no switch.
bool CallerChoseDebuggingPort(const std::vector<std::wstring>& own_arguments) {
  const std::size_t end = platform::FirstSwitchEnd(own_arguments);
  for (std::size_t i = 0; i < end; ++i) {
    if (platform::EngineSwitchValue(own_arguments[i], L"remote-debugging-port")) return true;
  }
  return false;
}

// The caller's own remote-debugging-port wins over the persona's.
std::optional<int> RemoteDebuggingPort(const std::string& cdp_tcp_port,
                                       const std::vector<std::wstring>& own_arguments) {
  // Reads like the standard string-to-int conversion: leading white space,
  // an optional sign, digits up to the first non-digit, the rest ignored;
  // no digits or a value beyond 32 bits is a failure, never an exception.
  std::size_t i = 0;
  while (i < cdp_tcp_port.size() && std::string_view(" \t\n\v\f\r").find(cdp_tcp_port[i]) != std::string_view::npos)
    ++i;
  bool negative = false;
  if (i < cdp_tcp_port.size() && (cdp_tcp_port[i] == '+' || cdp_tcp_port[i] == '-'))
    negative = cdp_tcp_port[i++] == '-';
  std::int64_t value = 0;
  std::size_t digits = 0;
  for (; i < cdp_tcp_port.size() && cdp_tcp_port[i] >= '0' && cdp_tcp_port[i] <= '9'; ++i, ++digits) {
    value = value * 10 + (cdp_tcp_port[i] - '0');
    if (value > std::int64_t{INT_MAX} + 1) return std::nullopt;
  }
  if (digits == 0) return std::nullopt;
  if (negative) value = -value;
  if (value < INT_MIN || value > INT_MAX) return std::nullopt;
  if (value < 1 || value > 65535) return std::nullopt;
  if (CallerChoseDebuggingPort(own_arguments)) return std::nullopt;
  return static_cast<int>(value);
}

void AppendRemoteDebugging(EngineSwitches& switches, int port) {
  AppendSwitch(switches, L"remote-debugging-port", std::to_wstring(port));
  AppendSwitch(switches, L"remote-debugging-address", kDebuggingAddress);
}

// No argument can carry a NUL: POSIX ends the argument there, Windows the
// whole command line, losing every item after it. Cut each file-borne item
// at its first NUL, so both systems start the engine with the same items.
std::wstring UpToFirstNul(std::wstring text) {
  text.resize(std::min(text.size(), text.find(L'\0')));
  return text;
}

// Unicode's White_Space characters, the set the engine trims.
bool IsUnicodeWhiteSpace(wchar_t c) {
  return (c >= 0x09 && c <= 0x0D) || c == 0x20 || c == 0x85 || c == 0xA0 || c == 0x1680 ||
         (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F || c == 0x205F || c == 0x3000;
}

SwitchItem StartUrlItem(const std::string& start_page) {
  if (start_page.empty()) return {L"chrome://version", false};
  return {UpToFirstNul(Widen(start_page)), true};
}

// Device memory, processor count and speech voices: every recipe has them,
// each unless the persona names the key itself.
void AppendMachineSwitches(EngineSwitches& switches, const PersonaConfig& persona, const MachineValues& machine) {
  if (!persona.hasDeviceMemory) AppendSwitch(switches, L"device-memory", machine.device_memory);
  if (!persona.hasHardwareConcurrency) AppendSwitch(switches, L"hardware-concurrency", machine.hardware_concurrency);
  if (!persona.hasSpeechVoices) AppendSwitch(switches, L"speech-voices-preset", kSpeechVoicesPreset);
}

void AppendItems(EngineSwitches& switches, const std::vector<std::wstring>& items) {
  for (const auto& item : items) switches.push_back({UpToFirstNul(item), false});
}

}  // namespace

std::wstring EngineSwitchesText(const EngineSwitches& switches) {
  std::wstring text;
  for (const auto& item : switches) {
    if (!text.empty()) text += L' ';
    text += item.always_quoted ? platform::QuoteArgument(item.text) : platform::QuoteArgumentIfNeeded(item.text);
  }
  return text;
}

void AppendSwitch(EngineSwitches& switches, const std::wstring& key, const std::wstring& value) {
  if (value.empty()) return;
  switches.push_back({L"--" + key + L"=" + value, false});
}

int DeviceMemoryBucket(std::uint64_t total_bytes) {
  const double gib = static_cast<double>(total_bytes) / static_cast<double>(1ull << 30);
  if (gib >= 24) return 32;
  if (gib >= 12) return 16;
  if (gib >= 6) return 8;
  if (gib >= 3) return 4;
  if (gib >= 1.5) return 2;
  return 1;
}

std::wstring DeviceMemoryValue(std::optional<std::uint64_t> total_bytes) {
  return total_bytes ? std::to_wstring(DeviceMemoryBucket(*total_bytes)) : std::wstring();
}

std::wstring HardwareConcurrencyValue(unsigned logical_processors) {
  return logical_processors == 0 ? std::wstring() : std::to_wstring(logical_processors);
}

std::wstring RemoteDebuggingSwitches(const std::string& cdp_tcp_port, const std::vector<std::wstring>& own_arguments) {
  const auto port = RemoteDebuggingPort(cdp_tcp_port, own_arguments);
  if (!port) return {};
  EngineSwitches pair;
  AppendRemoteDebugging(pair, *port);
  return EngineSwitchesText(pair);
}

bool ReadAsEngineSwitch(std::wstring_view argument) {
  const auto first = std::find_if_not(argument.begin(), argument.end(), IsUnicodeWhiteSpace);
  return first != argument.end() && platform::kSwitchPrefixes.find(*first) != std::wstring_view::npos;
}

bool StartPageReadAsSwitch(const std::string& start_page) {
  return !start_page.empty() && ReadAsEngineSwitch(StartUrlItem(start_page).text);
}

bool SetAsideOverlongStartPage(EngineSwitches& switches, const std::wstring& engine_path,
                               const platform::OwnArguments& own_arguments) {
  // Only the persona's page is always quoted; the default one is short.
  if (switches.empty() || !switches.back().always_quoted) return false;
  if (platform::ArgumentsFitSystem(EngineLaunch(engine_path, own_arguments, switches))) return false;
  switches.back() = StartUrlItem({});
  return true;
}

MachineValues ReadMachineValues() {
  return {DeviceMemoryValue(platform::TotalPhysicalMemoryBytes()),
          HardwareConcurrencyValue(platform::LogicalProcessorCount())};
}

EngineSwitches DirectRecipe(const PersonaConfig& persona, const MachineValues& machine,
                            const std::vector<std::wstring>& webgl_items,
                            const std::vector<std::wstring>& own_arguments) {
  EngineSwitches switches;
  if (const auto port = RemoteDebuggingPort(persona.cdpTcpPort, own_arguments)) AppendRemoteDebugging(switches, *port);
  AppendMachineSwitches(switches, persona, machine);
  AppendItems(switches, webgl_items);
  switches.push_back(StartUrlItem(persona.startPage));
  return switches;
}

EngineSwitches ProfileAndDiscoveredSwitches(const PersonaConfig& persona, const std::vector<std::wstring>& webgl_items,
                                            const DiscoveryResult& discovery) {
  EngineSwitches switches;
  AppendItems(switches, webgl_items);
  AppendSwitch(switches, L"webrtc-fake-public-ip", discovery.webrtc_public_ip);
  if (persona.webrtcNoLeak) AppendSwitch(switches, L"force-webrtc-ip-handling-policy", L"default");
  AppendSwitch(switches, L"timezone-override", discovery.timezone_override);
  AppendSwitch(switches, L"lang", discovery.lang);
  AppendSwitch(switches, L"accept-language", discovery.accept_language);
  AppendSwitch(switches, L"geo-lat", discovery.geo_lat);
  AppendSwitch(switches, L"geo-lng", discovery.geo_lng);
  if (!discovery.geo_lat.empty() && !discovery.geo_lng.empty()) AppendSwitch(switches, L"geo-accuracy", L"100");
  return switches;
}

void AppendMachineDebuggingAndStartUrl(EngineSwitches& switches, const PersonaConfig& persona,
                                       const MachineValues& machine, const std::vector<std::wstring>& own_arguments) {
  AppendMachineSwitches(switches, persona, machine);
  if (const auto port = RemoteDebuggingPort(persona.cdpTcpPort, own_arguments)) AppendRemoteDebugging(switches, *port);
  switches.push_back(StartUrlItem(persona.startPage));
}

}  // namespace quillwave
