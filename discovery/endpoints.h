// Deployment constants of the discovery endpoints and of curl's location.
// They are set when the program is built (see the README); tests build a
// launcher whose endpoints are on loopback.
#pragma once

namespace quillwave::endpoints {

extern const char kPrimaryIp[];
extern const char kPrimaryHost[];
extern const char kSecondaryHost[];
extern const char kSecondaryLabel[];
extern const char kTertiaryHost[];
extern const char kCurlPath[];  // used by builds without a system curl.exe

}  // namespace quillwave::endpoints
