// A per-thread buffer for the statements that the library builds row after
// row (Update, Save), so that building one allocates nothing.
#pragma once

#include <cstddef>
#include <string>

namespace veltro {

// One buffer per thread. A statement built while the buffer is in use (from an
// error handler, during a reconnect) builds in a text of its own.
class StatementText {
 public:
  StatementText() {
    if (!busy()) {
      busy() = true;
      owner_ = true;
      text_ = &shared();
      text_->clear();
    }
  }
  ~StatementText() {
    if (!owner_) return;
    // A very long statement does not keep its memory for the thread's life.
    if (text_->capacity() > kKeep) std::string().swap(*text_);
    busy() = false;
  }
  StatementText(const StatementText&) = delete;
  StatementText& operator=(const StatementText&) = delete;
  std::string& text() { return *text_; }

 private:
  static constexpr std::size_t kKeep = 64 * 1024;
  static std::string& shared() {
    thread_local std::string s;
    return s;
  }
  static bool& busy() {
    thread_local bool b = false;
    return b;
  }
  std::string own_;
  std::string* text_ = &own_;
  bool owner_ = false;
};

}  // namespace veltro
