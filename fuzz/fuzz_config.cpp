// The configuration reader and the settings check: the input is a
// configuration file, read line by line as from a file; its first line, when
// short enough, is also tried as the path.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "app/configuration.h"
#include "app/settings_check.h"
#include "common/line_reader.h"

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

  MemoryBytes bytes(data, size);
  if (config.readLines(bytes, console)) checkSettings(config, console);
  checkSlots(config);
  return 0;
}
