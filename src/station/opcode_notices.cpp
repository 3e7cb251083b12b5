#include "station/opcode_notices.h"

#include <cstdarg>
#include <cstdio>
#include <string>

namespace p50x {

void OpcodeNotices::print(std::uint8_t opcode, const char* format, ...) {
  if (noticed_.test(opcode)) return;
  noticed_.set(opcode);
  va_list args;
  va_start(args, format);
  va_list again;
  va_copy(again, args);
  const int length = std::vsnprintf(nullptr, 0, format, args);
  va_end(args);
  if (length > 0) {
    std::string text(static_cast<std::size_t>(length) + 1, '\0');
    std::vsnprintf(text.data(), text.size(), format, again);
    text.pop_back();
    console_.out(text);
  }
  va_end(again);
}

}  // namespace p50x
