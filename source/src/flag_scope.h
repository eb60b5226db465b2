// Sets a flag (true, or the value given) for the lifetime of a scope; an error that unwinds through the
// scope (a guarded block) restores it too.
#pragma once

namespace veltro::detail {

class FlagScope {
 public:
  explicit FlagScope(bool& flag, bool value = true) : flag_(flag), old_(flag) { flag_ = value; }
  ~FlagScope() { flag_ = old_; }
  FlagScope(const FlagScope&) = delete;
  FlagScope& operator=(const FlagScope&) = delete;

 private:
  bool& flag_;
  bool old_;
};

}  // namespace veltro::detail
