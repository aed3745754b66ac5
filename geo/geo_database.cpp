#include "geo/geo_database.h"

#include <netinet/in.h>

#include <cerrno>
#include <cstring>
#include <ctime>

namespace quillwave::geo {
namespace {

std::string StringAt(MMDB_entry_s& entry, const char* const* path) {
  MMDB_entry_data_s data{};
  if (MMDB_aget_value(&entry, &data, path) != MMDB_SUCCESS || !data.has_data ||
      data.type != MMDB_DATA_TYPE_UTF8_STRING) {
    return {};
  }
  return std::string(data.utf8_string, data.data_size);
}

std::optional<double> NumberAt(MMDB_entry_s& entry, const char* const* path) {
  MMDB_entry_data_s data{};
  if (MMDB_aget_value(&entry, &data, path) != MMDB_SUCCESS || !data.has_data) return std::nullopt;
  if (data.type == MMDB_DATA_TYPE_DOUBLE) return data.double_value;
  if (data.type == MMDB_DATA_TYPE_FLOAT) return data.float_value;
  return std::nullopt;
}

}  // namespace

GeoDatabase::~GeoDatabase() {
  if (open_) MMDB_close(&mmdb_);
}

std::optional<GeoPlace> GeoDatabase::Lookup(const IpAddress& address) const {
  sockaddr_storage storage{};
  if (address.v4) {
    auto& in = reinterpret_cast<sockaddr_in&>(storage);
    in.sin_family = AF_INET;
    std::memcpy(&in.sin_addr, address.bytes.data(), 4);
  } else {
    auto& in6 = reinterpret_cast<sockaddr_in6&>(storage);
    in6.sin6_family = AF_INET6;
    std::memcpy(&in6.sin6_addr, address.bytes.data(), 16);
  }
  int error = MMDB_SUCCESS;
  MMDB_lookup_result_s found = MMDB_lookup_sockaddr(&mmdb_, reinterpret_cast<const sockaddr*>(&storage), &error);
  if (error != MMDB_SUCCESS || !found.found_entry) return std::nullopt;

  static constexpr const char* kCountry[] = {"country", "iso_code", nullptr};
  static constexpr const char* kTimezone[] = {"location", "time_zone", nullptr};
  static constexpr const char* kLatitude[] = {"location", "latitude", nullptr};
  static constexpr const char* kLongitude[] = {"location", "longitude", nullptr};
  GeoPlace place;
  place.country = StringAt(found.entry, kCountry);
  place.timezone = StringAt(found.entry, kTimezone);
  place.latitude = NumberAt(found.entry, kLatitude);
  place.longitude = NumberAt(found.entry, kLongitude);
  return place;
}

OpenedDatabase OpenGeoDatabase(const std::string& path) {
  auto database = std::make_shared<GeoDatabase>();
  const int status = MMDB_open(path.c_str(), MMDB_MODE_MMAP, &database->mmdb_);
  if (status != MMDB_SUCCESS) {
    std::string error = MMDB_strerror(status);
    if (status == MMDB_FILE_OPEN_ERROR || status == MMDB_IO_ERROR)
      error += std::string(" (") + std::strerror(errno) + ")";
    return {nullptr, error};
  }
  database->open_ = true;
  return {std::move(database), {}};
}

std::string UtcTime(std::uint64_t epoch) {
  const std::time_t time = static_cast<std::time_t>(epoch);
  std::tm parts{};
  char text[32] = "";
  if (gmtime_r(&time, &parts) != nullptr) std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &parts);
  return text;
}

}  // namespace quillwave::geo
