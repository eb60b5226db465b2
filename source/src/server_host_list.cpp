// Splitting a host list into hosts and ports.
#include "server_host_list.h"

namespace veltro::detail {

namespace {

std::string_view trimmed(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

bool portOf(std::string_view digits, unsigned& port) {
  if (digits.empty() || digits.size() > 5) return false;
  unsigned value = 0;
  for (char c : digits) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + static_cast<unsigned>(c - '0');
  }
  if (value == 0 || value > 65535) return false;
  port = value;
  return true;
}

// Why an entry of a list is refused: "\"entry\": reason". Built by appends:
// GCC 12 warns falsely (-Wrestrict) on a literal + std::string at -O3.
std::string refused(std::string_view entry, const char* reason) {
  std::string why = "\"";
  why += entry;
  why += "\": ";
  why += reason;
  return why;
}

// One entry of a list (trimmed, not empty): "host", "host:port", "[address]"
// or "[address]:port". false, with why set, for anything else.
bool parseEntry(std::string_view entry, HostEntry& h, std::string& why) {
  std::string_view port;
  if (entry.front() == '[') {
    const std::size_t close = entry.find(']');
    if (close == std::string_view::npos || close == 1) {
      why = refused(entry, "an address opened with [ and not closed");
      return false;
    }
    h.host = std::string(entry.substr(1, close - 1));
    const std::string_view rest = entry.substr(close + 1);
    if (!rest.empty()) {
      if (rest.front() != ':') {
        why = refused(entry, "text after the bracketed address");
        return false;
      }
      port = rest.substr(1);
      if (port.empty()) port = "x";  // "[::1]:" names no port
    }
  } else {
    const std::size_t colon = entry.rfind(':');
    if (colon != std::string_view::npos && entry.find(':') != colon) {
      why = refused(entry, "an IPv6 address is written in brackets, [address]:port");
      return false;
    }
    h.host = std::string(entry.substr(0, colon));
    if (colon != std::string_view::npos) {
      port = entry.substr(colon + 1);
      if (port.empty()) port = "x";
    }
    if (h.host.empty()) {
      why = refused(entry, "no host before the port");
      return false;
    }
  }
  if (!port.empty() && !portOf(port, h.port)) {
    why = refused(entry, "the port is not a number from 1 to 65535");
    return false;
  }
  return true;
}

}  // namespace

bool parseHostList(std::string_view text, std::vector<HostEntry>& hosts, std::string& why) {
  hosts.clear();
  // The client library would cut a host at a zero byte.
  if (text.find('\0') != std::string_view::npos) {
    why = "a zero byte in a host";
    return false;
  }
  if (!isHostList(text)) {
    // A host without a port, and a bare IPv6 address, are taken as given.
    const std::string_view entry = trimmed(text);
    const std::size_t colon = entry.find(':');
    if (entry.empty() || (entry.front() != '[' && (colon == std::string_view::npos || colon != entry.rfind(':')))) {
      hosts.push_back({std::string(text), 0});
      return true;
    }
    HostEntry h;
    if (!parseEntry(entry, h, why)) return false;
    hosts.push_back(std::move(h));
    return true;
  }
  std::size_t start = 0;
  while (start <= text.size()) {
    std::size_t comma = text.find(',', start);
    if (comma == std::string_view::npos) comma = text.size();
    const std::string_view entry = trimmed(text.substr(start, comma - start));
    start = comma + 1;
    if (entry.empty()) {
      why = "an empty host in the list";
      return false;
    }
    HostEntry h;
    if (!parseEntry(entry, h, why)) return false;
    hosts.push_back(std::move(h));
    if (comma == text.size()) break;
  }
  return true;
}

}  // namespace veltro::detail
