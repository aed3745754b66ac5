// Client addresses as the service sees them: IPv4 and IPv6 values, ranges
// written as CIDR, and who the client is when a trusted load balancer speaks
// for it in X-Forwarded-For.
#pragma once

#include <sys/socket.h>

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quillwave::geo {

// One address; an IPv4-mapped IPv6 address (::ffff:a.b.c.d) is kept as the
// IPv4 address it stands for, since that is the client's address.
struct IpAddress {
  bool v4 = true;
  std::array<std::uint8_t, 16> bytes{};  // IPv4 in the first four

  bool operator==(const IpAddress&) const = default;
};

std::optional<IpAddress> ParseIpAddress(std::string_view text);
std::optional<IpAddress> AddressOfSocket(const sockaddr* address);
// The usual text form: dotted IPv4, compressed lower-case IPv6.
std::string FormatIpAddress(const IpAddress& address);

// The addresses whose first `prefix` bits equal those of `network`.
struct AddressRange {
  IpAddress network;
  int prefix = 0;
};

// "203.0.113.0/24", "2001:db8::/32"; a bare address is a range of one.
std::optional<AddressRange> ParseAddressRange(std::string_view text);
bool InRange(const IpAddress& address, const AddressRange& range);
bool InAnyRange(const IpAddress& address, const std::vector<AddressRange>& ranges);

// The client a request is answered for: the connection's peer, unless the
// peer is in a trusted range; then the right-most X-Forwarded-For address
// that is not (the left-most when all are). `forwarded_for` holds the
// header's values in the order received, joined by commas. A list that is
// empty, or holds anything but a plain address where the search looks, says
// nothing to rely on: the peer is taken.
IpAddress ClientAddress(const IpAddress& peer, std::string_view forwarded_for,
                        const std::vector<AddressRange>& trusted);

}  // namespace quillwave::geo
