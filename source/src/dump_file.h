// The temporary file that becomes a dump: written beside the target, put in
// its place only when complete and durable, removed otherwise.
#pragma once

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstring>
#include <string>
#include <string_view>

#include "dump_format.h"

namespace veltro::detail {

// The dump's buffer goes to the file once it holds this much.
inline constexpr std::size_t kFlushBytes = 1 << 20;

// The temporary file that becomes the dump. The first failure is kept and
// later writes are skipped; the file is removed unless committed.
class DumpFile {
 public:
  explicit DumpFile(std::string target) : target_(std::move(target)) {}
  ~DumpFile() { discard(); }
  DumpFile(const DumpFile&) = delete;
  DumpFile& operator=(const DumpFile&) = delete;

  bool open() {
    path_ = target_ + ".tmpXXXXXX";
    fd_ = ::mkstemp(path_.data());
    if (fd_ < 0) {
      fail(path_);
      path_.clear();
      return false;
    }
    return true;
  }

  bool ok() const { return error_.empty(); }
  // The digest of every byte flushed so far.
  std::string digest() const { return digest_.hex(); }
  const std::string& error() const { return error_; }

  // Writes the buffer (when it has grown enough, or always with force) and empties it.
  void flush(std::string& buffer, bool force = false) {
    if (!force && buffer.size() < kFlushBytes) return;
    if (ok()) {
      std::string_view rest = buffer;
      digest_.update(rest);
      while (!rest.empty()) {
        ssize_t n = ::write(fd_, rest.data(), rest.size());
        if (n < 0) {
          if (errno == EINTR) continue;
          fail(path_);
          break;
        }
        rest.remove_prefix(static_cast<std::size_t>(n));
      }
    }
    buffer.clear();
  }

  // Makes the file durable and puts it in place of the target.
  bool commit() {
    if (!ok()) return false;
    // mkstemp creates the file for its owner only; a dump gets the usual mode.
    mode_t mask = ::umask(0);
    ::umask(mask);
    if (::fchmod(fd_, 0666 & ~mask) != 0 || ::fsync(fd_) != 0) return fail(path_);
    int fd = fd_;
    fd_ = -1;
    if (::close(fd) != 0) return fail(path_);
    if (::rename(path_.c_str(), target_.c_str()) != 0) return fail(target_);
    path_.clear();
    // The rename itself is made durable by flushing the directory.
    std::string dir = target_.substr(0, target_.rfind('/') == std::string::npos ? 0 : target_.rfind('/') + 1);
    int dirFd = ::open(dir.empty() ? "." : dir.c_str(), O_RDONLY | O_DIRECTORY);
    if (dirFd >= 0) {
      ::fsync(dirFd);
      ::close(dirFd);
    }
    return true;
  }

  void discard() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    if (!path_.empty()) ::unlink(path_.c_str());
    path_.clear();
  }

 private:
  bool fail(const std::string& name) {
    if (error_.empty()) error_ = name + ": " + std::strerror(errno);
    return false;
  }

  std::string target_;
  std::string path_;
  std::string error_;
  int fd_ = -1;
  dump::DumpDigest digest_;
};

}  // namespace veltro::detail
