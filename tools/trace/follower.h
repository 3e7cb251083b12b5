// Follows a growing monitor file: what is appended goes through the reader to
// the decoder as it comes.
#pragma once

#include <cstdint>
#include <fstream>
#include <functional>
#include <string>

#include "monitor_reader.h"
#include "platform/file_watch.h"
#include "trace_decoder.h"

namespace p50x::trace {

// Threads: the one thread that runs it; no guard.
class Follower {
 public:
  // A command that waits this long for a reply got none.
  static constexpr std::chrono::milliseconds kQuiet{500};

  // `shown` is called after every batch of lines, so they can be flushed;
  // `notice` gets the follower's own remarks (waiting for the file).
  Follower(std::string path, MonitorReader& reader, TraceDecoder& decoder,
           std::function<void()> shown, std::function<void(const std::string&)> notice);

  // Runs until the process is ended.
  [[noreturn]] void run();

  // Where the bridge's latest start begins in `path`: the offset of its line of
  // hyphens, or 0 when there is none.
  static std::uint64_t latestStart(const std::string& path);

 private:
  bool readNew();
  void startOver(const char* why);

  std::string path_;
  MonitorReader& reader_;
  TraceDecoder& decoder_;
  std::function<void()> shown_;
  std::function<void(const std::string&)> notice_;
  platform::FileWatch watch_;
  std::ifstream file_;
  std::uint64_t offset_ = 0;
  bool waitingNoticeGiven_ = false;
};

}  // namespace p50x::trace
