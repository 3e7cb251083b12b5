// What went wrong during the soak, counted by kind; the first failures are
// kept in full (what, expected, got, when) for the end report.
#pragma once

#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

namespace p50x::soak {

std::string hex(const std::vector<std::uint8_t>& bytes);
// How often `part` occurs in `text` (console lines said so far).
int countOf(const std::string& text, const std::string& part);

// Threads: every thread of the soak records; mutex_ guards all.
class Findings {
 public:
  enum Kind { kWrong, kMissing, kLate, kLost, kHost, kBridge, kKinds };
  static constexpr std::size_t kKept = 12;

  explicit Findings(std::chrono::steady_clock::time_point start) : start_(start) {}

  void add(Kind kind, const std::string& what, const std::string& expected = {},
           const std::string& got = {});
  long count(Kind kind) const;
  long total() const;
  // The kept failures, one per line: "  123.456 s  what: expected ..., got ...".
  std::string report() const;

 private:
  const std::chrono::steady_clock::time_point start_;
  mutable std::mutex mutex_;
  long counts_[kKinds] = {};
  std::vector<std::string> kept_;
};

}  // namespace p50x::soak
