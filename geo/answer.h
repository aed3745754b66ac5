// What the service answers to one request, decided apart from HTTP so that
// every case can be checked without a server.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "geo/address.h"
#include "geo/geo_database.h"

namespace quillwave::geo {

struct GeoRequest {
  std::string method;
  std::string path;  // without the query; origin form or absolute form
  std::optional<std::string> api_key;
  IpAddress client;
  bool has_body = false;
  bool head_too_large = false;
  bool control_in_header = false;  // in any header's value
};

struct GeoResponse {
  int status = 200;
  std::string body;           // JSON, ending in a line feed
  bool allow_header = false;  // "Allow: GET, HEAD" (405)
};

// /geo: the client's address and what the database says of it, for a known
// key; /healthz: the database's build time, for anyone.
GeoResponse AnswerRequest(const GeoRequest& request, const GeoDatabase& database, const std::vector<std::string>& keys);

// The path of a request target: "/geo" for "/geo" and for the absolute form
// "http://host:port/geo".
std::string_view OriginPath(std::string_view target);

// A header value without the blanks and tabs around it.
std::string TrimBlanks(std::string_view value);

GeoResponse MethodNotAllowed();

// {"ip":…,"country":…,"timezone":…,"latitude":…,"longitude":…} with the
// members the place lacks left out.
std::string PlaceJson(const std::string& ip, const std::optional<GeoPlace>& place);

// An error answer's body: {"error": TEXT} on one line.
std::string ErrorJson(std::string_view text);

}  // namespace quillwave::geo
