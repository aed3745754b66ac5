// Deployment constants of the discovery endpoints. They are set when the
// program is built (see the README); tests build a launcher whose endpoints
// are on loopback.
#pragma once

namespace quillwave::endpoints {

extern const char kPrimaryIp[];
extern const char kPrimaryHost[];
extern const char kSecondaryHost[];
extern const char kSecondaryLabel[];
extern const char kTertiaryHost[];
// The primary endpoint's port; the probe knows the endpoint by
// ":<port>/geo" in a URL.
extern const int kPrimaryPort;
// The key the primary endpoint is sent in its X-API-Key header.
extern const char kApiKey[];
// Whether any of the values is still the build's placeholder, which
// reaches nobody: then every lookup fails.
extern const bool kArePlaceholders;

}  // namespace quillwave::endpoints
