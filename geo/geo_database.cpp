#include "geo/geo_database.h"

#include <fcntl.h>
#include <netinet/in.h>
#include <sys/mman.h>
#include <sys/sendfile.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <ctime>

#include "geo/descriptor.h"

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

std::string SystemError(const std::string& what) { return what + " (" + std::strerror(errno) + ")"; }

// The file's bytes in a sealed anonymous memory file: whatever later happens
// to the file (truncated, written in place, replaced), the copy stays as read.
// Mapping the file itself would let a write in place pull pages from under
// a running lookup (SIGBUS on a truncated file).
Descriptor PrivateCopy(const std::string& path, std::string& error) {
  const Descriptor file(open(path.c_str(), O_RDONLY | O_CLOEXEC));
  struct stat status {};
  if (!file.valid() || fstat(file.get(), &status) != 0) {
    error = SystemError("cannot open the file");
    return {};
  }
  if (!S_ISREG(status.st_mode)) {
    error = "not a regular file";
    return {};
  }
  Descriptor copy(memfd_create("quillwave-geo-database", MFD_CLOEXEC | MFD_ALLOW_SEALING));
  if (!copy.valid()) {
    error = SystemError("cannot make a memory file");
    return {};
  }
  // Until the end of the file as it is now, however long that is.
  while (true) {
    const ssize_t sent = sendfile(copy.get(), file.get(), nullptr, 1 << 20);
    if (sent == 0) break;
    if (sent < 0 && errno == EINTR) continue;
    if (sent < 0) {
      error = SystemError("cannot read the file");
      return {};
    }
  }
  if (fcntl(copy.get(), F_ADD_SEALS, F_SEAL_SHRINK | F_SEAL_GROW | F_SEAL_WRITE | F_SEAL_SEAL) != 0) {
    error = SystemError("cannot seal the copy");
    return {};
  }
  return copy;
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
  std::string error;
  const Descriptor copy = PrivateCopy(path, error);
  if (!copy.valid()) return {nullptr, error};
  // The reader takes a path: the copy's own, which stays valid while the
  // descriptor is open; its mapping keeps the copy alive after that.
  const std::string copy_path = "/proc/self/fd/" + std::to_string(copy.get());
  auto database = std::make_shared<GeoDatabase>();
  const int status = MMDB_open(copy_path.c_str(), MMDB_MODE_MMAP, &database->mmdb_);
  if (status != MMDB_SUCCESS) {
    error = MMDB_strerror(status);
    if (status == MMDB_FILE_OPEN_ERROR || status == MMDB_IO_ERROR) error = SystemError(error);
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
