#include "tool/endpoint_list.h"

#include <string_view>

#include "discovery/discovery_worker.h"
#include "discovery/endpoints.h"
#include "tool/findings.h"

namespace quillwave {
namespace {

constexpr std::size_t kKeyDigitsShown = 4;

std::string KeyStart() { return std::string(std::string_view(endpoints::kApiKey).substr(0, kKeyDigitsShown)); }

}  // namespace

std::vector<KnownEndpoint> KnownEndpoints() {
  return {{"primary", PrimaryUrl(), endpoints::kPrimaryHost},
          {"secondary", SecondaryUrl(), endpoints::kSecondaryHost},
          {"tertiary", TertiaryUrl(), endpoints::kTertiaryHost}};
}

KnownEndpoint EndpointOfUrl(const std::string& url) {
  for (KnownEndpoint& known : KnownEndpoints()) {
    if (known.url == url) return known;
  }
  return {"", url, ""};
}

std::string EndpointsText() {
  std::string text;
  for (const KnownEndpoint& known : KnownEndpoints()) {
    text += known.role + ":" + std::string(13 - known.role.size(), ' ') + TerminalText(known.url) +
            "\n  shown as:   " + TerminalText(known.name);
    if (known.role == "secondary") text += ", and " + TerminalText(endpoints::kSecondaryLabel) + " once it has failed";
    text += "\n";
  }
  text += "api key:      " + TerminalText(KeyStart()) + "... (the first " + std::to_string(kKeyDigitsShown) +
          " of its " + std::to_string(std::string_view(endpoints::kApiKey).size()) + " digits)\n";
  text += endpoints::kArePlaceholders ? "placeholders: yes: they reach nobody, so every lookup fails\n"
                                      : "placeholders: no\n";
  return text;
}

std::string EndpointsJson() {
  JsonWriter json(kToolJsonBytes);
  json.BeginObject();
  for (const KnownEndpoint& known : KnownEndpoints()) {
    json.BeginObject(known.role).String("url", known.url).String("name", known.name);
    if (known.role == "secondary") json.String("label", endpoints::kSecondaryLabel);
    json.EndObject();
  }
  json.String("api_key_start", KeyStart()).Boolean("placeholders", endpoints::kArePlaceholders).EndObject();
  return json.Take() + "\n";
}

}  // namespace quillwave
