#include "follower.h"

#include <filesystem>
#include <string_view>
#include <system_error>
#include <utility>
#include <vector>

namespace p50x::trace {

namespace {
constexpr std::string_view kSeparator = "-------------";
constexpr std::size_t kChunk = 64 * 1024;
}  // namespace

Follower::Follower(std::string path, MonitorReader& reader, TraceDecoder& decoder,
                   std::function<void()> shown, std::function<void(const std::string&)> notice)
    : path_(std::move(path)),
      reader_(reader),
      decoder_(decoder),
      shown_(std::move(shown)),
      notice_(std::move(notice)),
      watch_(path_) {}

std::uint64_t Follower::latestStart(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return 0;
  // Read in chunks that overlap by a separator's length, so one that spans two
  // chunks is found too.
  std::uint64_t latest = 0;
  std::uint64_t base = 0;
  std::string window;
  std::vector<char> chunk(kChunk);
  while (in.read(chunk.data(), static_cast<std::streamsize>(chunk.size())) || in.gcount() > 0) {
    window.append(chunk.data(), static_cast<std::size_t>(in.gcount()));
    for (std::size_t at = window.find(kSeparator); at != std::string::npos;
         at = window.find(kSeparator, at + 1)) {
      // A start writes the hyphens on a line of their own.
      if (at == 0 || window[at - 1] == '\n') latest = base + at;
    }
    const std::size_t keep = std::min(window.size(), kSeparator.size());
    base += window.size() - keep;
    window.erase(0, window.size() - keep);
  }
  return latest;
}

void Follower::run() {
  offset_ = latestStart(path_);
  auto lastData = std::chrono::steady_clock::now();
  for (;;) {
    if (readNew()) {
      lastData = std::chrono::steady_clock::now();
      decoder_.settle();
      shown_();
    } else if (decoder_.pending() && std::chrono::steady_clock::now() - lastData >= kQuiet) {
      decoder_.idle();
      shown_();
    }
    const auto timeout = decoder_.pending() ? kQuiet : std::chrono::milliseconds(3600 * 1000);
    // A file that appears for the first time is simply read; one that was
    // being read and is replaced is read again from its start.
    if (watch_.wait(timeout) == platform::FileWatch::Event::Replaced && file_.is_open()) {
      startOver("replaced");
    }
  }
}

bool Follower::readNew() {
  std::error_code error;
  const std::uintmax_t size = std::filesystem::file_size(path_, error);
  if (error) {
    if (file_.is_open()) file_.close();
    if (!waitingNoticeGiven_) notice_("waiting for " + path_ + " (" + error.message() + ")");
    waitingNoticeGiven_ = true;
    return false;
  }
  waitingNoticeGiven_ = false;
  if (size < offset_) startOver("cut back");
  if (!file_.is_open()) {
    file_.open(path_, std::ios::binary);
    if (!file_) return false;
  }
  if (size == offset_) return false;
  file_.clear();
  file_.seekg(static_cast<std::streamoff>(offset_));
  bool got = false;
  std::vector<char> chunk(kChunk);
  while (file_.read(chunk.data(), static_cast<std::streamsize>(chunk.size())) ||
         file_.gcount() > 0) {
    const auto n = static_cast<std::size_t>(file_.gcount());
    reader_.feed(std::string_view(chunk.data(), n));
    offset_ += n;
    got = true;
  }
  file_.clear();
  return got;
}

void Follower::startOver(const char* why) {
  decoder_.finish();
  reader_.reset();
  notice_(path_ + " " + why + ": reading it from its start");
  if (file_.is_open()) file_.close();
  offset_ = 0;
}

}  // namespace p50x::trace
