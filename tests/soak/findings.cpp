#include "findings.h"

#include <cstdio>

namespace p50x::soak {

std::string hex(const std::vector<std::uint8_t>& bytes) {
  if (bytes.empty()) return "nothing";
  std::string text;
  char byte[4];
  for (const std::uint8_t b : bytes) {
    std::snprintf(byte, sizeof byte, "%s%02x", text.empty() ? "" : " ", b);
    text += byte;
  }
  return text;
}

int countOf(const std::string& text, const std::string& part) {
  int n = 0;
  for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

void Findings::add(Kind kind, const std::string& what, const std::string& expected,
                   const std::string& got) {
  const double at =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
  std::lock_guard<std::mutex> lock(mutex_);
  ++counts_[kind];
  if (kept_.size() >= kKept) return;
  char when[32];
  std::snprintf(when, sizeof when, "%9.3f s  ", at);
  std::string line = when + what;
  if (!expected.empty() || !got.empty()) line += ": expected " + expected + ", got " + got;
  kept_.push_back(line);
}

long Findings::count(Kind kind) const {
  std::lock_guard<std::mutex> lock(mutex_);
  return counts_[kind];
}

long Findings::total() const {
  std::lock_guard<std::mutex> lock(mutex_);
  long n = 0;
  for (const long c : counts_) n += c;
  return n;
}

std::string Findings::report() const {
  std::lock_guard<std::mutex> lock(mutex_);
  std::string text;
  for (const std::string& line : kept_) text += line + "\n";
  return text;
}

}  // namespace p50x::soak
