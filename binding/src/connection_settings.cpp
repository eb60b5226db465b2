// Connection settings: the TLS mode's texts, the numbers a port may be, and
// the character set a statement switched the connection to.
#include <cmath>
#include <string_view>

#include "backend.h"
#include "handles.h"
#include "veltro/binding.h"

namespace veltro::db {

bool tlsModeOf(std::string_view text, TlsMode& mode) {
  static constexpr struct {
    std::string_view name;
    TlsMode mode;
  } kModes[] = {{"off", TlsMode::Off},
                {"preferred", TlsMode::Preferred},
                {"required", TlsMode::Required},
                {"verify-identity", TlsMode::VerifyIdentity}};
  for (const auto& m : kModes) {
    if (equalsNoCase(text, m.name)) {
      mode = m.mode;
      return true;
    }
  }
  return false;
}

bool portOf(const Value& port, unsigned& number) {
  if (!port.isNumber()) return false;
  const Number& n = port.number();
  if (!n.isExact() && !std::isfinite(n.toDouble())) return false;
  const std::int64_t whole = n.toInt();
  if (whole < 0 || whole > 65535 || !(Number::fromInt(whole) == n)) return false;
  number = static_cast<unsigned>(whole);
  return true;
}

bool adoptCharset(Handle conn, const char* name) {
  const detail::Entry* e = detail::connections().find(conn);
  if (!e || !name || !e->ops->adoptCharset) return false;
  return e->ops->adoptCharset(e->object, name) != 0;
}

}  // namespace veltro::db
