// The host link's line framing with receives cut at arbitrary places, as TCP
// cuts them. The first byte picks the cutting: bit 0 clear gives receives of
// a fixed size (1 to 128, from bits 1 to 7), set gives each receive a length
// byte of its own (1 to 256). Once the first line feed has arrived, framing
// goes byte by byte, so a second framer that gets the rest of the stream as one
// receive must hand on exactly the same messages.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "host/line_framer.h"

namespace {

using p50x::LineFramer;

struct Delivered {
  std::vector<std::string> messages;
  int overlong = 0;
};

void check(const LineFramer& framer, const char* text, int length) {
  if (length < 0 || static_cast<std::size_t>(length) > LineFramer::kMaxLine) __builtin_trap();
  if (text[length] != '\0') __builtin_trap();
  // A message of a line-ending host never holds its line end and is never
  // empty: an empty line carries nothing.
  if (framer.linesSeen() &&
      (length == 0 || std::memchr(text, '\n', static_cast<std::size_t>(length))))
    __builtin_trap();
  if (framer.held() > LineFramer::kMaxLine) __builtin_trap();
}

void feed(LineFramer& framer, const char* bytes, std::size_t count, Delivered& into) {
  into.overlong += framer.feed(bytes, count, [&](char* text, int length) {
    check(framer, text, length);
    into.messages.emplace_back(text, static_cast<std::size_t>(length));
  });
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  const bool lengthPrefixed = (data[0] & 1) != 0;
  const std::size_t fixed = 1 + (data[0] >> 1);

  LineFramer cut;
  LineFramer whole;
  Delivered fromCut;
  Delivered fromWhole;
  std::vector<char> rest;  // what `whole` gets in one piece, from the first line feed on
  std::size_t pos = 1;
  while (pos < size) {
    std::size_t n = fixed;
    if (lengthPrefixed) {
      n = 1 + data[pos++];
      if (pos >= size) break;
    }
    if (n > size - pos) n = size - pos;
    const char* piece = reinterpret_cast<const char*>(data + pos);
    if (!whole.linesSeen() && rest.empty() && std::memchr(piece, '\n', n) == nullptr) {
      feed(whole, piece, n, fromWhole);  // the classic rule: the receive is the message
    } else {
      rest.insert(rest.end(), piece, piece + n);
    }
    feed(cut, piece, n, fromCut);
    pos += n;
  }
  if (!rest.empty()) feed(whole, rest.data(), rest.size(), fromWhole);

  if (fromCut.messages != fromWhole.messages || fromCut.overlong != fromWhole.overlong)
    __builtin_trap();
  if (cut.held() != whole.held()) __builtin_trap();
  return 0;
}
