#include "monitor_disk.h"

#include <sys/mount.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <vector>

#include "support/recording.h"

namespace p50x::soak {

namespace {
using namespace std::chrono_literals;
constexpr char kSize[] = "size=8m";
// Half the disk: a soak of an hour writes more than that to the monitor file.
constexpr std::uintmax_t kTrimAt = 4u << 20;
const std::string kFull = "Fehler beim Schreiben der Monitordatei: No space left on device\n";
const std::string kWritingAgain = "Monitordatei wird wieder geschrieben.\n";
}  // namespace

MonitorDisk::~MonitorDisk() {
  unmount();
}

bool MonitorDisk::mount(const std::string& dir) {
  dir_ = dir;
  std::filesystem::create_directories(dir);
  if (::mount("p50x-soak", dir.c_str(), "tmpfs", 0, kSize) != 0) {
    note_ = std::string("monitor disk skipped: a tmpfs cannot be mounted here (") +
            std::strerror(errno) + "); the monitor file is on the temporary folder's disk";
    return false;
  }
  mounted_ = true;
  return true;
}

void MonitorDisk::unmount() {
  if (mounted_) ::umount2(dir_.c_str(), MNT_DETACH);
  mounted_ = false;
}

void MonitorDisk::run(StopSignal& stop, test::BridgeProcess& bridge, Findings& findings,
                      std::chrono::steady_clock::time_point fillAt) {
  bool filled = !mounted_;
  while (!stop.stopped()) {
    if (!filled && std::chrono::steady_clock::now() >= fillAt) {
      filled = true;
      fill();
      if (!test::waitFor([&] { return bridge.errors().find(kFull) != std::string::npos; }, 10s)) {
        findings.add(Findings::kBridge, "monitor disk full",
                     "\"" + kFull.substr(0, kFull.size() - 1) + "\"", "nothing within 10 s");
      }
      stop.pause(5s);
      std::filesystem::remove(dir_ + "/filler");
      if (!test::waitFor([&] { return bridge.output().find(kWritingAgain) != std::string::npos; },
                         10s)) {
        findings.add(Findings::kBridge, "monitor disk freed",
                     "\"" + kWritingAgain.substr(0, kWritingAgain.size() - 1) + "\"",
                     "nothing within 10 s");
      } else {
        filledAndFreed_ = true;
      }
    }
    trimMonitorFile();
    stop.pause(1s);
  }
}

void MonitorDisk::fill() {
  std::FILE* filler = std::fopen((dir_ + "/filler").c_str(), "wb");
  if (filler == nullptr) return;
  const std::vector<char> block(64 * 1024, 'f');
  while (std::fwrite(block.data(), 1, block.size(), filler) == block.size()) {
  }
  std::fclose(filler);
}

// The bridge appends; the file shrinks under it and the next write lands at
// the new end.
void MonitorDisk::trimMonitorFile() {
  std::error_code error;
  if (std::filesystem::file_size(monitorFile(), error) > kTrimAt && !error) {
    std::filesystem::resize_file(monitorFile(), 0, error);
  }
}

}  // namespace p50x::soak
