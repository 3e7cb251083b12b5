// Every setting of the bridge, as text, from built-in defaults and the
// configuration file.
#pragma once

#include <cstddef>

#include "common/line_reader.h"
#include "diag/console.h"

namespace p50x {

// Threads: written on the console thread during start-up only; afterwards read
// from any thread, never written. No guard needed.
class Configuration {
 public:
  static constexpr std::size_t kSlotSize = 128;
  static constexpr int kSlots = 11;

  // Where a setting's value came from, for the checks that name it.
  struct Origin {
    int line = 0;            // line in the configuration file; 0: the default
    bool tooLong = false;    // the line was longer than a line may be: not taken
    std::size_t length = 0;  // of that line
    // The value as written (its start, when the line was too long).
    char written[kSlotSize] = {};
  };

  Configuration();

  // Replaces the configuration file path. A path longer than 127 characters is
  // rejected with a console message (it is never cut); returns false then.
  bool setConfigPath(const char* path, Console& console);

  // Prints the "Config-Datei:" line, reads the file and applies its lines.
  // False when the file cannot be opened or read (a directory included, as the
  // system reports it) or is no text file; each is reported like a missing
  // file. The values are not checked here: see checkSettings.
  bool readFile(Console& console);

  // Applies the lines of `source`, naming it as the configuration path in its
  // notices. False, after the report, when the source is no text file.
  bool readLines(ByteSource& source, Console& console);

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

  // The value of key 1 to 10 and where it came from.
  const char* value(int key) const { return slots_[key]; }
  const Origin& origin(int key) const { return origins_[key]; }

 private:
  void applyLine(const TextLine& line, Console& console);

  char slots_[kSlots][kSlotSize] = {};
  Origin origins_[kSlots] = {};
};

}  // namespace p50x
