// The keys a client must present in X-API-Key: read from a file, one a line,
// and compared so that the time taken tells nothing about how much of a
// guess was right.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace quillwave::geo {

struct ApiKeys {
  std::vector<std::string> keys;
  std::string error;  // why the text gave no keys; empty when it did
};

// One key a line; blanks and tabs around it, empty lines and lines starting
// with # are skipped. A key is 1 to 256 visible ASCII characters (what a
// header value can carry without quoting). Several keys let a deployment
// move to a new one while launchers with the old one are still about.
ApiKeys ParseApiKeys(std::string_view text);

// Whether `presented` is one of `keys`. Every key is compared in full,
// whatever the outcome.
bool IsKnownKey(const std::vector<std::string>& keys, std::string_view presented);

}  // namespace quillwave::geo
