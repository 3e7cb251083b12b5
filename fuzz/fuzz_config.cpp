// The configuration reader: the input is a configuration file, read in pieces
// of at most 99 characters exactly as fgets with a 100-byte buffer hands them
// over; its first line, when short enough, is also tried as the path.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "app/configuration.h"

namespace {

using namespace p50x;

void checkSlots(const Configuration& c) {
  const char* slots[] = {c.configPath(),     c.locoFile(),    c.feedbackFile(),  c.turnoutFile(),
                         c.serialPortName(), c.hostAddress(), c.monitorFile(),   c.eventPort(),
                         c.commandPort(),    c.serialBaud(),  c.speedReportTag()};
  for (const char* slot : slots) {
    if (std::memchr(slot, 0, Configuration::kSlotSize) == nullptr) __builtin_trap();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  NullConsole console;
  Configuration config;

  char path[300];
  std::size_t pathLength = 0;
  while (pathLength < size && pathLength < sizeof path - 1 && data[pathLength] != '\n') {
    path[pathLength] = static_cast<char>(data[pathLength]);
    ++pathLength;
  }
  path[pathLength] = '\0';
  config.setConfigPath(path, console);

  char line[100];
  std::size_t pos = 0;
  while (pos < size) {
    std::size_t n = 0;
    while (pos < size && n < sizeof line - 1) {
      line[n++] = static_cast<char>(data[pos++]);
      if (line[n - 1] == '\n') break;
    }
    line[n] = '\0';
    config.applyLine(line);
  }
  checkSlots(config);
  return 0;
}
