// Host lists: "h1[:port],h2[:port],..." as given in cHost.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace veltro::detail {

struct HostEntry {
  std::string host;
  unsigned port = 0;  // 0: the port given beside the list
};

// The hosts of a list, in order. A text without a comma is one host: a host
// without a colon, or a bare IPv6 address, is taken as given; "host:port",
// "[address]" and "[address]:port" are split. An IPv6 address with a port is
// written in brackets ("[::1]:3306"). false, with why set, for an empty entry
// or a port that is not a number from 1 to 65535 (in a list or alone).
bool parseHostList(std::string_view text, std::vector<HostEntry>& hosts, std::string& why);

// Whether a host text is a list of more than one host.
inline bool isHostList(std::string_view text) { return text.find(',') != std::string_view::npos; }

}  // namespace veltro::detail
