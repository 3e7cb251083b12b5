// Arbitrary chunks through the host event parser, as the host callback hands
// them over: at most 256 bytes and a terminating zero.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "diag/console.h"
#include "host/host_event_parser.h"
#include "seams/layout_events.h"

namespace {

// Every name handed on must be a terminated text that fits a 128-byte field.
class CheckingLayout final : public p50x::LayoutEvents {
 public:
  void turnoutReported(const char* name, int) override { check(name); }
  void contactSet(const char* name) override { check(name); }
  void contactCleared(const char* name) override { check(name); }

 private:
  static void check(const char* name) {
    if (std::strlen(name) > 127) __builtin_trap();
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static p50x::NullConsole console;
  static CheckingLayout layout;
  static p50x::HostEventParser parser(console, &layout);
  constexpr std::size_t kChunk = 256;
  const std::size_t length = size < kChunk ? size : kChunk;
  // Exactly the receive buffer's size, so any write past it is caught.
  char chunk[kChunk + 1];
  std::memcpy(chunk, data, length);
  chunk[length] = '\0';
  parser.dispatch(static_cast<int>(length), chunk);
  return 0;
}
