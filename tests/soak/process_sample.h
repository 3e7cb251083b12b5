// A running process as /proc shows it: open descriptors, threads, resident
// memory, and whether it has ended.
#pragma once

#include <string>

namespace p50x::soak {

struct ProcessSample {
  bool running = false;
  int descriptors = 0;
  int threads = 0;
  long residentKiB = 0;
};

ProcessSample sampleProcess(int pid);

}  // namespace p50x::soak
