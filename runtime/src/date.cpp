// Dates as day numbers: the civil calendar, SQL and display texts, the date format.
#include "veltro/value.h"

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>

namespace veltro {


namespace {

// Day 1 is 0001-01-01 of the proleptic Gregorian calendar.
constexpr std::int64_t kDayOfEpoch = 719163;  // 1970-01-01

std::int64_t daysFromCivil(std::int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

void civilFromDays(std::int64_t z, int& year, int& month, int& day) {
  z += 719468;
  const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  year = static_cast<int>(static_cast<std::int64_t>(yoe) + era * 400 + (month <= 2));
}

bool isLeap(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

int daysInMonth(int y, int m) {
  static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return m == 2 && isLeap(y) ? 29 : days[m - 1];
}

// The process's date format. Threads read it without a lock while another may
// set it: each format set is a text of its own, published whole through one
// pointer and never freed (nor changed), so the reference dateFormat() hands
// out stays readable. A format set again reuses its text; programs set one or
// two, so the kept texts stay few.
class DateFormatStorage {
 public:
  DateFormatStorage() { set("mm/dd/yyyy"); }
  const std::string& get() const { return *current_.load(std::memory_order_acquire); }
  void set(std::string_view format) {
    std::lock_guard<std::mutex> lock(mutex_);
    const std::string* text = nullptr;
    for (const std::unique_ptr<const std::string>& kept : kept_)
      if (*kept == format) text = kept.get();
    if (!text) text = kept_.emplace_back(std::make_unique<const std::string>(format)).get();
    current_.store(text, std::memory_order_release);
  }

 private:
  std::mutex mutex_;  // held by set
  std::vector<std::unique_ptr<const std::string>> kept_;
  std::atomic<const std::string*> current_{nullptr};
};

DateFormatStorage& dateFormatStorage() {
  // Never destroyed: a date may be displayed during static destruction.
  static DateFormatStorage* storage = new DateFormatStorage;
  return *storage;
}

void appendPadded(std::string& out, int value, int width, bool blank) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%0*d", width, value);
  std::string_view s(buf);
  if (s.size() > static_cast<std::size_t>(width)) s = s.substr(s.size() - width);
  if (blank) out.append(static_cast<std::size_t>(width), ' ');
  else out += s;
}

bool startsWithNoCase(std::string_view s, std::size_t at, std::string_view token) {
  return s.size() - at >= token.size() && equalsNoCase(s.substr(at, token.size()), token);
}

}  // namespace

Date Date::fromYMD(int year, int month, int day) {
  if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1 || day > daysInMonth(year, month)) {
    return Date{};
  }
  return Date{static_cast<std::int32_t>(daysFromCivil(year, static_cast<unsigned>(month),
                                                      static_cast<unsigned>(day)) + kDayOfEpoch)};
}

void Date::toYMD(int& year, int& month, int& d) const {
  if (empty()) {
    year = month = d = 0;
    return;
  }
  civilFromDays(static_cast<std::int64_t>(day) - kDayOfEpoch, year, month, d);
}

namespace {
// The year, month and day of a date that is not empty, by a printf format.
std::string ymdText(Date date, const char* format) {
  int y, m, d;
  date.toYMD(y, m, d);
  char buf[32];
  std::snprintf(buf, sizeof buf, format, y, m, d);
  return buf;
}
}  // namespace

std::string Date::sqlText() const { return empty() ? "    -  -  " : ymdText(*this, "%04d-%02d-%02d"); }

std::string Date::digits8() const { return empty() ? std::string(8, ' ') : ymdText(*this, "%04d%02d%02d"); }

// Writes the date by the process's format: "dd", "mm", "yyyy" and "yy" (any
// case) stand for the parts, every other character is copied. The empty date
// shows blanks where the digits would be.
std::string Date::display() const {
  int y = 0, m = 0, d = 0;
  toYMD(y, m, d);
  const bool blank = empty();
  const std::string& format = dateFormatStorage().get();
  std::string out;
  for (std::size_t i = 0; i < format.size();) {
    if (startsWithNoCase(format, i, "yyyy")) {
      appendPadded(out, y, 4, blank);
      i += 4;
    } else if (startsWithNoCase(format, i, "yy")) {
      appendPadded(out, y % 100, 2, blank);
      i += 2;
    } else if (startsWithNoCase(format, i, "mm")) {
      appendPadded(out, m, 2, blank);
      i += 2;
    } else if (startsWithNoCase(format, i, "dd")) {
      appendPadded(out, d, 2, blank);
      i += 2;
    } else {
      out += format[i++];
    }
  }
  return out;
}

void setDateFormat(std::string_view format) { dateFormatStorage().set(format); }
const std::string& dateFormat() { return dateFormatStorage().get(); }

}  // namespace veltro
