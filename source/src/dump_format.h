// The dump file's own statements, shared by Backup (which writes them) and
// Restore (which accepts only the forms Backup writes).
#pragma once

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

// Marker lines: SQL comments, so that the stock client loads the file.
inline constexpr std::string_view kTableListMarker = "-- ** Table: ";
inline constexpr std::string_view kCreateDatabaseMarker = "-- ** Create database **";
inline constexpr std::string_view kBeginMarker = "-- ** BEGIN ";
inline constexpr std::string_view kEndMarker = "-- ** END ";
// The markers of dumps written before the markers were comments.
inline constexpr std::string_view kOldBeginMarker = "** BEGIN ";

}  // namespace veltro::dump
