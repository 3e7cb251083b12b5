// Splits each message the host sends and acts on its code.
#pragma once

#include <mutex>

#include "diag/console.h"
#include "seams/layout_events.h"

namespace p50x {

// Threads: both host receivers dispatch into it, possibly at once; one mutex
// makes split and dispatch of a message indivisible. It is held while the
// layout acts on the message (short, never across a wait for the host).
class HostEventParser {
 public:
  static constexpr int kFields = 10;
  static constexpr int kFieldSize = 128;

  HostEventParser(Console& console, LayoutEvents* layout);

  // Dispatch (length, text): the length is not used; the text is zero-terminated
  // and is modified by the split.
  void dispatch(int length, char* text);

  // strtok-style split into up to `count` fields of kFieldSize bytes: extra
  // tokens are dropped, longer tokens cut to 127 characters.
  static bool split(char* text, char (*fields)[kFieldSize], int count);

 private:
  Console& console_;
  LayoutEvents* layout_;
  std::mutex mutex_;
  char fields_[kFields][kFieldSize] = {};
};

}  // namespace p50x
