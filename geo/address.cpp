#include "geo/address.h"

#include <arpa/inet.h>
#include <netinet/in.h>

#include <charconv>
#include <cstring>

namespace quillwave::geo {
namespace {

constexpr std::uint8_t kMappedPrefix[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xff, 0xff};

IpAddress FromIpv6Bytes(const std::uint8_t* bytes) {
  IpAddress address;
  if (std::memcmp(bytes, kMappedPrefix, sizeof kMappedPrefix) == 0) {
    std::memcpy(address.bytes.data(), bytes + 12, 4);
    return address;
  }
  address.v4 = false;
  std::memcpy(address.bytes.data(), bytes, 16);
  return address;
}

std::string_view Trimmed(std::string_view text) {
  const std::size_t first = text.find_first_not_of(" \t");
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

}  // namespace

std::optional<IpAddress> ParseIpAddress(std::string_view text) {
  // inet_pton wants a terminated string; anything longer is no address.
  char buffer[INET6_ADDRSTRLEN];
  if (text.empty() || text.size() >= sizeof buffer) return std::nullopt;
  std::memcpy(buffer, text.data(), text.size());
  buffer[text.size()] = '\0';
  IpAddress address;
  if (inet_pton(AF_INET, buffer, address.bytes.data()) == 1) return address;
  std::uint8_t bytes[16];
  if (inet_pton(AF_INET6, buffer, bytes) == 1) return FromIpv6Bytes(bytes);
  return std::nullopt;
}

std::optional<IpAddress> AddressOfSocket(const sockaddr* address) {
  if (address == nullptr) return std::nullopt;
  if (address->sa_family == AF_INET) {
    IpAddress result;
    std::memcpy(result.bytes.data(), &reinterpret_cast<const sockaddr_in*>(address)->sin_addr, 4);
    return result;
  }
  if (address->sa_family == AF_INET6) {
    return FromIpv6Bytes(reinterpret_cast<const sockaddr_in6*>(address)->sin6_addr.s6_addr);
  }
  return std::nullopt;
}

std::string FormatIpAddress(const IpAddress& address) {
  char text[INET6_ADDRSTRLEN] = "";
  inet_ntop(address.v4 ? AF_INET : AF_INET6, address.bytes.data(), text, sizeof text);
  return text;
}

std::optional<AddressRange> ParseAddressRange(std::string_view text) {
  const std::size_t slash = text.find('/');
  const std::optional<IpAddress> network = ParseIpAddress(text.substr(0, slash));
  if (!network) return std::nullopt;
  const int bits = network->v4 ? 32 : 128;
  AddressRange range{*network, bits};
  if (slash != std::string_view::npos) {
    const std::string_view prefix = text.substr(slash + 1);
    const auto [end, error] = std::from_chars(prefix.data(), prefix.data() + prefix.size(), range.prefix);
    if (prefix.empty() || error != std::errc() || end != prefix.data() + prefix.size() || range.prefix < 0 ||
        range.prefix > bits || (prefix.size() > 1 && prefix.front() == '0')) {
      return std::nullopt;
    }
  }
  return range;
}

bool InRange(const IpAddress& address, const AddressRange& range) {
  if (address.v4 != range.network.v4) return false;
  const int whole = range.prefix / 8;
  if (std::memcmp(address.bytes.data(), range.network.bytes.data(), whole) != 0) return false;
  const int rest = range.prefix % 8;
  if (rest == 0) return true;
  const std::uint8_t mask = static_cast<std::uint8_t>(0xff << (8 - rest));
  return (address.bytes[whole] & mask) == (range.network.bytes[whole] & mask);
}

bool InAnyRange(const IpAddress& address, const std::vector<AddressRange>& ranges) {
  for (const AddressRange& range : ranges) {
    if (InRange(address, range)) return true;
  }
  return false;
}

IpAddress ClientAddress(const IpAddress& peer, std::string_view forwarded_for,
                        const std::vector<AddressRange>& trusted) {
  if (!InAnyRange(peer, trusted) || Trimmed(forwarded_for).empty()) return peer;
  // From the right: each address there was added by the hop before it.
  std::size_t end = forwarded_for.size();
  std::optional<IpAddress> last;
  while (true) {
    const std::size_t comma = forwarded_for.rfind(',', end == 0 ? 0 : end - 1);
    const bool first = comma == std::string_view::npos || end == 0;
    const std::size_t start = first ? 0 : comma + 1;
    last = ParseIpAddress(Trimmed(forwarded_for.substr(start, end - start)));
    if (!last) return peer;
    if (!InAnyRange(*last, trusted) || first) return *last;
    end = comma;
  }
}

}  // namespace quillwave::geo
