// Linux tells of every write to a file: the follower sleeps until the kernel
// says the monitor file grew or was replaced.
#include <poll.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <thread>

#include "platform/file_watch.h"

namespace p50x::platform {

// The folder is watched rather than the file: that also tells when the file
// appears, is replaced or moved away, and works before it exists.
struct FileWatch::State {
  int fd = -1;
  std::string name;
};

FileWatch::FileWatch(const std::string& path) : state_(std::make_unique<State>()) {
  const std::size_t slash = path.rfind('/');
  const std::string folder =
      slash == std::string::npos ? "." : path.substr(0, std::max<std::size_t>(slash, 1));
  state_->name = slash == std::string::npos ? path : path.substr(slash + 1);
  state_->fd = ::inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
  if (state_->fd < 0) return;
  const std::uint32_t mask =
      IN_MODIFY | IN_CLOSE_WRITE | IN_ATTRIB | IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO;
  if (::inotify_add_watch(state_->fd, folder.c_str(), mask) < 0) {
    ::close(state_->fd);
    state_->fd = -1;  // the folder is missing: look now and then instead
  }
}

FileWatch::~FileWatch() {
  if (state_->fd >= 0) ::close(state_->fd);
}

FileWatch::Event FileWatch::wait(std::chrono::milliseconds timeout) {
  if (state_->fd < 0) {
    std::this_thread::sleep_for(std::min(timeout, kPollInterval));
    return Event::Changed;
  }
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return Event::TimedOut;
    pollfd p{state_->fd, POLLIN, 0};
    const int ready = ::poll(&p, 1, static_cast<int>(std::min<long long>(left.count(), 1 << 30)));
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) return Event::TimedOut;

    alignas(inotify_event) char buffer[4096];
    const ssize_t got = ::read(state_->fd, buffer, sizeof buffer);
    if (got <= 0) continue;
    Event event = Event::TimedOut;
    for (ssize_t at = 0; at + static_cast<ssize_t>(sizeof(inotify_event)) <= got;) {
      inotify_event header;
      std::memcpy(&header, buffer + at, sizeof header);
      const char* name = buffer + at + sizeof header;
      at += static_cast<ssize_t>(sizeof header + header.len);
      if ((header.mask & IN_Q_OVERFLOW) != 0) return Event::Changed;
      if (header.len == 0 || state_->name != name) continue;
      if ((header.mask & (IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO)) != 0) {
        event = Event::Replaced;
      } else if (event == Event::TimedOut) {
        event = Event::Changed;
      }
    }
    if (event != Event::TimedOut) return event;
  }
}

}  // namespace p50x::platform
