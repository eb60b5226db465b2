// The floor the benchmarks compare against: the MySQL C API called directly,
// either Connector/C (client-server) or the embedded server's own library.
//
// The embedded server's mysql_* functions live in libmariadbd, which the
// library's embedded module loads privately; its headers disagree with
// Connector/C's on struct layouts, so the floor reaches it through dlsym and
// touches its handles only through functions, never through their fields.
#pragma once

#include <cstdint>
#include <string>

namespace bench {

struct RawApi {
  void* (*init)(void*) = nullptr;
  void* (*realConnect)(void*, const char*, const char*, const char*, const char*, unsigned, const char*,
                       unsigned long) = nullptr;
  int (*realQuery)(void*, const char*, unsigned long) = nullptr;
  void* (*storeResult)(void*) = nullptr;
  char** (*fetchRow)(void*) = nullptr;
  unsigned long* (*fetchLengths)(void*) = nullptr;
  unsigned (*numFields)(void*) = nullptr;
  std::uint64_t (*numRows)(void*) = nullptr;
  void (*dataSeek)(void*, std::uint64_t) = nullptr;
  void (*freeResult)(void*) = nullptr;
  unsigned long (*realEscape)(void*, char*, const char*, unsigned long) = nullptr;
  void (*close)(void*) = nullptr;
  const char* (*error)(void*) = nullptr;
  unsigned (*errnum)(void*) = nullptr;
};

// Connector/C, as linked into the benchmark.
const RawApi& clientApi();
// The embedded server's library, already loaded and started by the library's
// embedded module; false (with why) when it is not loaded in this process.
bool embeddedApi(RawApi& api, std::string& why);

}  // namespace bench
