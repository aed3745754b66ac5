// A MaxMind DB file of the city layout (GeoLite2-City, GeoIP2-City and the
// databases of other vendors that follow it), opened read-only and shared by
// every request that uses it.
#pragma once

#include <maxminddb.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "geo/address.h"

namespace quillwave::geo {

// What the database says of one address; empty or absent where it says
// nothing.
struct GeoPlace {
  std::string country;  // ISO 3166-1 code, as the database spells it
  std::string timezone;
  std::optional<double> latitude;
  std::optional<double> longitude;
};

struct OpenedDatabase;

class GeoDatabase {
 public:
  GeoDatabase() = default;
  ~GeoDatabase();
  GeoDatabase(const GeoDatabase&) = delete;
  GeoDatabase& operator=(const GeoDatabase&) = delete;

  // Nothing when the address is in no network of the database (or the
  // lookup itself failed).
  std::optional<GeoPlace> Lookup(const IpAddress& address) const;

  std::uint64_t build_epoch() const { return mmdb_.metadata.build_epoch; }
  std::string type() const { return mmdb_.metadata.database_type ? mmdb_.metadata.database_type : ""; }

 private:
  friend OpenedDatabase OpenGeoDatabase(const std::string& path);
  MMDB_s mmdb_{};
  bool open_ = false;
};

struct OpenedDatabase {
  std::shared_ptr<const GeoDatabase> database;  // null when it could not be opened
  std::string error;
};

// Reads the file into private memory and opens it from there: the database
// then needs no further file access, and nothing done to the file changes it.
OpenedDatabase OpenGeoDatabase(const std::string& path);

// "2024-05-07T10:00:00Z" for a build time in seconds since 1970.
std::string UtcTime(std::uint64_t epoch);

}  // namespace quillwave::geo
