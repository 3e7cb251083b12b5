#include "diag/console.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>

namespace p50x {

namespace {
std::mutex& streamMutex() {
  // One guard for both streams: a perror line and an output line never mix.
  static std::mutex mutex;
  return mutex;
}

void writeStream(std::FILE* stream, std::string_view text) {
  std::lock_guard<std::mutex> lock(streamMutex());
  std::fwrite(text.data(), 1, text.size(), stream);
  std::fflush(stream);
}
}  // namespace

void Console::print(const char* format, ...) {
  char small[256];
  va_list args;
  va_start(args, format);
  va_list again;
  va_copy(again, args);
  const int length = std::vsnprintf(small, sizeof small, format, args);
  va_end(args);
  if (length < 0) {
    va_end(again);
    return;
  }
  if (static_cast<std::size_t>(length) < sizeof small) {
    va_end(again);
    out(std::string_view(small, static_cast<std::size_t>(length)));
    return;
  }
  std::string large(static_cast<std::size_t>(length) + 1, '\0');
  std::vsnprintf(large.data(), large.size(), format, again);
  va_end(again);
  large.resize(static_cast<std::size_t>(length));
  out(large);
}

void Console::perror(const char* text, int errorNumber) {
  std::string line;
  if (text != nullptr && *text != '\0') {
    line += text;
    line += ": ";
  }
  line += std::strerror(errorNumber);
  line += '\n';
  err(line);
}

void StdConsole::out(std::string_view text) {
  writeStream(stdout, text);
}

void StdConsole::err(std::string_view text) {
  writeStream(stderr, text);
}

}  // namespace p50x
