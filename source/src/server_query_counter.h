// The lock of the query counter TQuillonSrv::nQueryId, one for all server
// objects of the process: every read or write of the counter by the library
// takes it, so that threads never receive the same number.
#pragma once

#include <mutex>

namespace veltro::detail {

inline std::mutex& queryIdMutex() {
  static std::mutex mutex;
  return mutex;
}

}  // namespace veltro::detail
