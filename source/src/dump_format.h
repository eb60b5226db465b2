// The dump file's own statements, shared by Backup (which writes them) and
// Restore (which accepts only the forms Backup writes).
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

namespace veltro::dump {

// The session a dump is written in and loaded in, fixed at its start: bytes
// as they are (no character set conversion), times in UTC, no backslash-mode
// dependence, an AUTO_INCREMENT column keeps its 0, and no key checks while
// loading. Each line is one statement; Restore matches them exactly.
inline constexpr std::string_view kSessionSetup[] = {
    "SET @veltro_client = @@character_set_client, @veltro_results = @@character_set_results, "
    "@veltro_collation = @@collation_connection, @veltro_time_zone = @@time_zone, @veltro_sql_mode = @@sql_mode, "
    "@veltro_unique_checks = @@unique_checks, @veltro_foreign_key_checks = @@foreign_key_checks;",
    "SET NAMES binary;",
    "SET time_zone = '+00:00';",
    "SET sql_mode = 'NO_AUTO_VALUE_ON_ZERO';",
    "SET unique_checks = 0, foreign_key_checks = 0;",
};

// Puts the loading session back as it was before kSessionSetup.
inline constexpr std::string_view kSessionRestore[] = {
    "SET unique_checks = @veltro_unique_checks, foreign_key_checks = @veltro_foreign_key_checks, "
    "sql_mode = @veltro_sql_mode, time_zone = @veltro_time_zone;",
    "SET character_set_client = @veltro_client, character_set_results = @veltro_results, "
    "collation_connection = @veltro_collation;",
};

// Around each table's definition: the server writes definitions in UTF-8,
// and a column's ENUM members and DEFAULT in another set (latin1, cp1251,
// utf16) are read as that set's characters only from a UTF-8 session.
inline constexpr std::string_view kDefinitionSession = "SET NAMES utf8mb4;";
inline constexpr std::string_view kDataSession = "SET NAMES binary;";

// Around a trigger's definition, whose body holds ";": the stock client's
// delimiter command, and the bounds of one statement for Restore.
inline constexpr std::string_view kTriggerOpen = "DELIMITER ;;";
inline constexpr std::string_view kTriggerClose = "DELIMITER ;";
inline constexpr std::string_view kTriggerEnd = ";;";

// Whether a comma-separated sql_mode holds a mode.
inline bool modeHas(std::string_view modes, std::string_view mode) {
  for (std::size_t start = 0; start <= modes.size();) {
    std::size_t comma = modes.find(',', start);
    if (comma == std::string_view::npos) comma = modes.size();
    if (modes.substr(start, comma - start) == mode) return true;
    start = comma + 1;
  }
  return false;
}

// Marker lines: SQL comments, so that the stock client loads the file.
inline constexpr std::string_view kTableListMarker = "-- ** Table: ";
inline constexpr std::string_view kCreateDatabaseMarker = "-- ** Create database **";
inline constexpr std::string_view kBeginMarker = "-- ** BEGIN ";
inline constexpr std::string_view kEndMarker = "-- ** END ";
// The markers of dumps written before the markers were comments.
inline constexpr std::string_view kOldBeginMarker = "** BEGIN ";

// Right after the header: this dump ends with a closing line. A dump that has
// this line and no closing line was cut short.
inline constexpr std::string_view kFormatMarker = "-- ** This dump ends with a closing line";
// The closing line, before the footer: "-- ** Dump complete: <n> tables, digest
// <16 hex digits>", the digest of every byte before the line.
inline constexpr std::string_view kClosingMarker = "-- ** Dump complete: ";

// The digest of a dump's bytes up to its closing line, so that Restore tells
// a whole dump from a cut or altered one (not a defence against forgery).
// Bytes may come in pieces of any size: the result is the same.
class DumpDigest {
 public:
  void update(std::string_view bytes) {
    std::size_t i = 0;
    while (n_ != 0 && i < bytes.size()) push(static_cast<unsigned char>(bytes[i++]));
    for (; i + 8 <= bytes.size(); i += 8) {
      std::uint64_t word;
      std::memcpy(&word, bytes.data() + i, 8);
      mix(word);
    }
    while (i < bytes.size()) push(static_cast<unsigned char>(bytes[i++]));
  }
  std::string hex() const {
    std::uint64_t h = step(h_, pending_ ^ n_);
    h = step(h, length_ + n_);
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string out(16, '0');
    for (int i = 15; i >= 0; --i, h >>= 4) out[static_cast<std::size_t>(i)] = kDigits[h & 15];
    return out;
  }

 private:
  static std::uint64_t step(std::uint64_t h, std::uint64_t word) {
    h = (h ^ word) * 0x100000001b3ULL;
    return h ^ (h >> 29);
  }
  void mix(std::uint64_t word) {
    h_ = step(h_, word);
    length_ += 8;
  }
  void push(unsigned char c) {
    pending_ |= static_cast<std::uint64_t>(c) << (8 * n_);
    if (++n_ == 8) {
      mix(pending_);
      pending_ = 0;
      n_ = 0;
    }
  }
  std::uint64_t h_ = 0xcbf29ce484222325ULL, pending_ = 0, length_ = 0;
  unsigned n_ = 0;
};

}  // namespace veltro::dump
