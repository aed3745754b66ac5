// The discovery endpoints this build asks, as whoever deploys the launcher
// or looks into a failed lookup needs to see them.
#pragma once

#include <string>
#include <vector>

namespace quillwave {

struct KnownEndpoint {
  std::string role;  // "primary", "secondary" or "tertiary"
  std::string url;
  std::string name;  // the host name the window and the records show for it
};

// The three, in the order the launcher asks them.
std::vector<KnownEndpoint> KnownEndpoints();

// The one `url` is; an empty role for none of them.
KnownEndpoint EndpointOfUrl(const std::string& url);

// The URLs, their names, the secondary's label, whether they are the
// placeholders, and the first four digits of the key: never more of it,
// since the output is pasted into tickets and chats.
std::string EndpointsText();
std::string EndpointsJson();

}  // namespace quillwave
