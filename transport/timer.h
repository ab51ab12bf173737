#pragma once
// The time left of a cumulative time-out. Measured on the monotonic clock, so that a change of
// the wall clock during a transfer neither ends it early nor stretches it.
#include <chrono>

namespace netkit {

class Deadline {
 public:
  explicit Deadline(int timeoutMs)
      : end_(std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs)) {}
  // Milliseconds left, rounded up so that a wait never ends a fraction early; 0 when expired.
  int remaining() const {
    auto left =
        std::chrono::ceil<std::chrono::milliseconds>(end_ - std::chrono::steady_clock::now());
    return left.count() > 0 ? int(left.count()) : 0;
  }
  bool expired() const { return std::chrono::steady_clock::now() >= end_; }

 private:
  std::chrono::steady_clock::time_point end_;
};

}  // namespace netkit
