#include "geo/answer.h"

#include <cctype>
#include <charconv>
#include <cmath>

#include "base/json_writer.h"
#include "geo/api_keys.h"

namespace quillwave::geo {
namespace {

// One JSON object a line, like every answer of the service.
std::string JsonLine(JsonWriter& json) {
  json.EndObject();
  return json.Take() + "\n";
}

GeoResponse Error(int status, const char* text) { return {status, ErrorJson(text)}; }

// A plain decimal number, the shortest that reads back as the same value;
// never an exponent, which the launcher does not take as a coordinate.
void AddCoordinate(JsonWriter& json, const char* key, const std::optional<double>& value, double limit) {
  if (!value || !std::isfinite(*value) || std::fabs(*value) > limit) return;
  char text[400];
  const auto [end, error] = std::to_chars(text, text + sizeof text, *value, std::chars_format::fixed);
  if (error != std::errc()) return;
  json.Raw(key, std::string_view(text, static_cast<std::size_t>(end - text)));
}

bool StartsWithIgnoringCase(std::string_view text, std::string_view start) {
  if (text.size() < start.size()) return false;
  for (std::size_t i = 0; i < start.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(text[i])) != start[i]) return false;
  }
  return true;
}

}  // namespace

std::string_view OriginPath(std::string_view target) {
  for (const std::string_view scheme : {"http://", "https://"}) {
    if (!StartsWithIgnoringCase(target, scheme)) continue;
    const std::size_t path = target.find('/', scheme.size());
    return path == std::string_view::npos ? std::string_view("/") : target.substr(path);
  }
  return target;
}

std::string TrimBlanks(std::string_view value) {
  const std::size_t first = value.find_first_not_of(" \t");
  if (first == std::string_view::npos) return {};
  return std::string(value.substr(first, value.find_last_not_of(" \t") - first + 1));
}

GeoResponse MethodNotAllowed() {
  GeoResponse response = Error(405, "only GET and HEAD");
  response.allow_header = true;
  return response;
}

std::string ErrorJson(std::string_view text) {
  JsonWriter json;
  json.BeginObject().String("error", text);
  return JsonLine(json);
}

std::string PlaceJson(const std::string& ip, const std::optional<GeoPlace>& place) {
  JsonWriter json;
  json.BeginObject().String("ip", ip);
  if (place) {
    if (!place->country.empty()) json.String("country", place->country);
    if (!place->timezone.empty()) json.String("timezone", place->timezone);
    AddCoordinate(json, "latitude", place->latitude, 90);
    AddCoordinate(json, "longitude", place->longitude, 180);
  }
  return JsonLine(json);
}

GeoResponse AnswerRequest(const GeoRequest& request, const GeoDatabase& database,
                          const std::vector<std::string>& keys) {
  if (request.head_too_large) return Error(431, "the request head is too large");
  if (request.control_in_header) return Error(400, "a header value holds a control character");
  if (request.has_body) return Error(413, "a request body is not accepted");
  const std::string_view path = OriginPath(request.path);
  const bool geo = path == "/geo";
  if (!geo && path != "/healthz") return Error(404, "not found");
  if (request.method != "GET" && request.method != "HEAD") return MethodNotAllowed();
  if (!geo) {
    JsonWriter json;
    json.BeginObject().String("status", "ok").String("database_built", UtcTime(database.build_epoch()));
    return {200, JsonLine(json)};
  }
  if (!request.api_key || !IsKnownKey(keys, *request.api_key)) return Error(401, "missing or wrong X-API-Key");
  return {200, PlaceJson(FormatIpAddress(request.client), database.Lookup(request.client))};
}

}  // namespace quillwave::geo
