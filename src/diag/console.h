// The operator's console: every text the bridge shows goes through this seam,
// so tests can record it and the real one can make each text appear at once.
#pragma once

#include <string_view>

#include "common/printf_format.h"

namespace p50x {

// Entered from every thread (console, serial worker, host receivers). Each call
// is one indivisible write: implementations guard themselves.
class Console {
 public:
  virtual ~Console() = default;

  // Standard output.
  virtual void out(std::string_view text) = 0;
  // Standard error (perror-style reports).
  virtual void err(std::string_view text) = 0;

  // printf-style formatting onto standard output.
  void print(const char* format, ...) P50X_PRINTF_FORMAT(2, 3);

  // What perror(text) writes for the error number: "text: description\n" on
  // standard error.
  void perror(const char* text, int errorNumber);
};

// The process console on standard output and standard error, unbuffered in
// effect: every call is written and flushed before it returns, so texts show at
// once also when the output is a pipe or a file. Guarded by one mutex.
class StdConsole final : public Console {
 public:
  void out(std::string_view text) override;
  void err(std::string_view text) override;
};

// Discards every text: for benchmarks and fuzz targets, where output would
// only measure the terminal.
class NullConsole final : public Console {
 public:
  void out(std::string_view) override {}
  void err(std::string_view) override {}
};

}  // namespace p50x
