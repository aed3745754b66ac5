#include "discovery/endpoints.h"

namespace quillwave::endpoints {

const char kPrimaryIp[] = QUILLWAVE_PRIMARY_IP;
const int kPrimaryPort = QUILLWAVE_PRIMARY_PORT;
const char kPrimaryHost[] = QUILLWAVE_PRIMARY_HOST;
const char kSecondaryHost[] = QUILLWAVE_SECONDARY_HOST;
const char kSecondaryLabel[] = QUILLWAVE_SECONDARY_LABEL;
const char kTertiaryHost[] = QUILLWAVE_TERTIARY_HOST;
const char kApiKey[] = QUILLWAVE_API_KEY;
const bool kArePlaceholders = QUILLWAVE_ENDPOINTS_ARE_PLACEHOLDERS;

}  // namespace quillwave::endpoints
