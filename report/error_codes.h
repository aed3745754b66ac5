// The error codes of the records, shared by the probe, the worker and the
// run sequence.
#pragma once

namespace quillwave {

inline constexpr char kInternal[] = "INTERNAL";
inline constexpr char kCurlNotFound[] = "CURL_NOT_FOUND";
inline constexpr char kProxyUnreachable[] = "PROXY_UNREACHABLE";
inline constexpr char kProxyTimeout[] = "PROXY_TIMEOUT";
inline constexpr char kProxyAuthFailed[] = "PROXY_AUTH_FAILED";
inline constexpr char kDiscoveryHttpError[] = "DISCOVERY_HTTP_ERROR";
inline constexpr char kProxyBlocked[] = "PROXY_BLOCKED";

}  // namespace quillwave
