#include "discovery/discovery_result.h"

namespace quillwave {

DiscoveryResult& SharedDiscoveryResult() {
  static DiscoveryResult* const result = new DiscoveryResult();  // intentionally never freed
  return *result;
}

}  // namespace quillwave
