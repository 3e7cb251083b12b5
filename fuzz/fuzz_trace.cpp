// p50x-trace's reading of a monitor file, with the file's text arbitrary and
// cut into pieces at arbitrary places, settled or idle in between as -f does.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "monitor_reader.h"
#include "trace_decoder.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  // The first byte picks the piece size and what happens between pieces.
  const std::size_t piece = 1 + data[0] % 16;
  const bool idle = (data[0] & 0x80) != 0;
  const std::string_view text(reinterpret_cast<const char*>(data + 1), size - 1);

  std::size_t lines = 0;
  p50x::trace::TraceDecoder decoder([&lines](const std::string&) { ++lines; }, {});
  p50x::trace::MonitorReader reader(decoder);
  for (std::size_t at = 0; at < text.size(); at += piece) {
    reader.feed(text.substr(at, piece));
    if (idle) {
      decoder.idle();
    } else {
      decoder.settle();
    }
  }
  reader.finish();
  decoder.finish();
  if (decoder.pending()) __builtin_trap();  // the end leaves nothing behind
  return 0;
}
