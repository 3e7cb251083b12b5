// Every setting of the bridge, as text, from built-in defaults and the
// configuration file.
#pragma once

#include <cstddef>

#include "diag/console.h"

namespace p50x {

// Threads: written on the console thread during start-up only; afterwards read
// from any thread, never written. No guard needed.
class Configuration {
 public:
  static constexpr std::size_t kSlotSize = 128;
  static constexpr int kSlots = 11;

  Configuration();

  // Replaces the configuration file path. A path longer than 127 characters is
  // rejected with a console message (it is never cut); returns false then.
  bool setConfigPath(const char* path, Console& console);

  // Prints the "Config-Datei:" line, reads the file and applies its lines.
  // False when the file cannot be opened (reported with perror).
  bool readFile(Console& console);

  const char* configPath() const { return slots_[0]; }
  const char* locoFile() const { return slots_[1]; }
  const char* feedbackFile() const { return slots_[2]; }
  const char* turnoutFile() const { return slots_[3]; }
  const char* serialPortName() const { return slots_[4]; }
  const char* hostAddress() const { return slots_[5]; }
  const char* monitorFile() const { return slots_[6]; }
  const char* eventPort() const { return slots_[7]; }
  const char* commandPort() const { return slots_[8]; }
  const char* serialBaud() const { return slots_[9]; }
  const char* speedReportTag() const { return slots_[10]; }

  // Applies one line as read from the file (at most 99 characters).
  void applyLine(char* line);

 private:
  char slots_[kSlots][kSlotSize] = {};
};

}  // namespace p50x
