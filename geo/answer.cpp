#include "geo/answer.h"

#include <charconv>
#include <cmath>

#include "base/json_writer.h"
#include "geo/api_keys.h"

namespace quillwave::geo {
namespace {

GeoResponse Error(int status, const char* text) { return {status, std::string("{\"error\":\"") + text + "\"}\n"}; }

// A plain decimal number, the shortest that reads back as the same value;
// never an exponent, which the launcher does not take as a coordinate.
void AppendCoordinate(std::string& json, const char* key, const std::optional<double>& value, double limit) {
  if (!value || !std::isfinite(*value) || std::fabs(*value) > limit) return;
  char text[400];
  const auto [end, error] = std::to_chars(text, text + sizeof text, *value, std::chars_format::fixed);
  if (error != std::errc()) return;
  json += ",\"";
  json += key;
  json += "\":";
  json.append(text, end);
}

}  // namespace

std::string PlaceJson(const std::string& ip, const std::optional<GeoPlace>& place) {
  std::string json = "{\"ip\":\"" + ip + "\"";
  if (place) {
    if (!place->country.empty()) json += ",\"country\":\"" + EscapeJsonString(place->country) + "\"";
    if (!place->timezone.empty()) json += ",\"timezone\":\"" + EscapeJsonString(place->timezone) + "\"";
    AppendCoordinate(json, "latitude", place->latitude, 90);
    AppendCoordinate(json, "longitude", place->longitude, 180);
  }
  json += "}\n";
  return json;
}

GeoResponse AnswerRequest(const GeoRequest& request, const GeoDatabase& database,
                          const std::vector<std::string>& keys) {
  if (request.has_body) return Error(413, "a request body is not accepted");
  const bool geo = request.path == "/geo";
  if (!geo && request.path != "/healthz") return Error(404, "not found");
  if (request.method != "GET" && request.method != "HEAD") {
    GeoResponse response = Error(405, "only GET and HEAD");
    response.allow_header = true;
    return response;
  }
  if (!geo) {
    return {200, "{\"status\":\"ok\",\"database_built\":\"" + UtcTime(database.build_epoch()) + "\"}\n"};
  }
  if (!request.api_key || !IsKnownKey(keys, *request.api_key)) return Error(401, "missing or wrong X-API-Key");
  return {200, PlaceJson(FormatIpAddress(request.client), database.Lookup(request.client))};
}

}  // namespace quillwave::geo
