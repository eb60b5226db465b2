// Sets a flag or member (true, or the value given) for the lifetime of a
// scope; an error that unwinds through the scope (a guarded block) restores
// it too.
#pragma once

#include <utility>

namespace veltro::detail {

template <typename T>
class Scoped {
 public:
  Scoped(T& member, T value) : member_(member), old_(member) { member_ = std::move(value); }
  ~Scoped() { member_ = std::move(old_); }
  Scoped(const Scoped&) = delete;
  Scoped& operator=(const Scoped&) = delete;

 private:
  T& member_;
  T old_;
};

class FlagScope : public Scoped<bool> {
 public:
  explicit FlagScope(bool& flag, bool value = true) : Scoped<bool>(flag, value) {}
};

}  // namespace veltro::detail
