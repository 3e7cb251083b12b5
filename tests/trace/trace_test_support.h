// Runs monitor text through the trace as p50x-trace does.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "monitor_reader.h"
#include "trace_decoder.h"

namespace p50x::trace::test {

// The whole text at once, then its end.
inline std::vector<std::string> traceOf(std::string_view monitor, TraceOptions options = {}) {
  std::vector<std::string> lines;
  TraceDecoder decoder([&lines](const std::string& line) { lines.push_back(line); }, options);
  MonitorReader reader(decoder);
  reader.feed(monitor);
  reader.finish();
  decoder.finish();
  return lines;
}

// Runs of blanks squeezed to one, so expectations need not count the padding
// that lines the replies up.
inline std::string squeezed(const std::string& line) {
  std::string out;
  for (char c : line) {
    if (c == ' ' && !out.empty() && out.back() == ' ') continue;
    out += c;
  }
  while (!out.empty() && out.back() == ' ') out.pop_back();
  return out;
}

inline std::vector<std::string> squeezed(const std::vector<std::string>& lines) {
  std::vector<std::string> out;
  for (const std::string& line : lines) out.push_back(squeezed(line));
  return out;
}

}  // namespace p50x::trace::test
