#include "process_sample.h"

#include <filesystem>
#include <fstream>

namespace p50x::soak {

namespace {
int entries(const std::string& dir) {
  std::error_code error;
  int n = 0;
  for (std::filesystem::directory_iterator it(dir, error), end; !error && it != end;
       it.increment(error)) {
    ++n;
  }
  return n;
}
}  // namespace

ProcessSample sampleProcess(int pid) {
  const std::string proc = "/proc/" + std::to_string(pid);
  ProcessSample sample;
  std::ifstream status(proc + "/status");
  std::string key;
  while (status >> key) {
    if (key == "State:") {
      std::string state;
      status >> state;
      sample.running = state != "Z" && state != "X";
    } else if (key == "VmRSS:") {
      status >> sample.residentKiB;
    } else if (key == "Threads:") {
      status >> sample.threads;
    }
    status.ignore(1 << 20, '\n');
  }
  sample.descriptors = entries(proc + "/fd");
  return sample;
}

}  // namespace p50x::soak
