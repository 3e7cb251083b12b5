// Stand-ins shared by the host link tests: a recorder for a link's callback,
// a recording layout, and a hand-driven TCP peer.
#pragma once

#include <algorithm>
#include <mutex>
#include <string>
#include <vector>

#include "host/host_connection.h"
#include "platform/socket.h"
#include "seams/layout_events.h"
#include "support/recording.h"

namespace p50x::test {

// Records every notification of one link, and the bytes of each chunk.
class LinkRecorder {
 public:
  HostConnection::Callback callback() {
    return [this](HostConnection& link, int code) { record(link, code); };
  }
  void record(HostConnection& link, int code) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      codes_.push_back(code);
      if (code == kHostDataReceived)
        chunks_.emplace_back(link.receiveBuffer(), link.receivedLength());
    }
    notifyWaiters();
  }
  std::vector<int> codes() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return codes_;
  }
  std::vector<std::string> chunks() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return chunks_;
  }
  std::string received() const {
    std::string all;
    for (const auto& c : chunks()) all += c;
    return all;
  }
  int count(int code) const {
    const auto c = codes();
    return static_cast<int>(std::count(c.begin(), c.end(), code));
  }

 private:
  mutable std::mutex mutex_;
  std::vector<int> codes_;
  std::vector<std::string> chunks_;
};

// Records what the parser hands to the layout, as "set:K1", "clear:K1",
// "turnout:W1:1".
class RecordingLayout final : public LayoutEvents {
 public:
  void turnoutReported(const char* name, int number) override {
    add("turnout:" + std::string(name) + ":" + std::to_string(number));
  }
  void contactSet(const char* name) override { add("set:" + std::string(name)); }
  void contactCleared(const char* name) override { add("clear:" + std::string(name)); }
  std::vector<std::string> calls() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return calls_;
  }
  std::size_t size() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return calls_.size();
  }
  bool contains(const std::string& call) const {
    const auto c = calls();
    return std::find(c.begin(), c.end(), call) != c.end();
  }

 private:
  void add(std::string call) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      calls_.push_back(std::move(call));
    }
    notifyWaiters();
  }
  mutable std::mutex mutex_;
  std::vector<std::string> calls_;
};

// One start of the socket library (Winsock needs it before any socket), released
// once at the end.
class SocketLibraryUse {
 public:
  SocketLibraryUse() : started_(platform::startSocketLibrary() == 0) {}
  ~SocketLibraryUse() {
    if (started_) platform::releaseSocketLibrary();
  }
  SocketLibraryUse(const SocketLibraryUse&) = delete;
  SocketLibraryUse& operator=(const SocketLibraryUse&) = delete;

 private:
  bool started_;
};

// A listener on a free loopback port whose connections the test drives by hand.
class TestPeer {
 public:
  explicit TestPeer(int backlog = 8)
      : listener_(platform::listenIpv4("127.0.0.1", 0, backlog)),
        port_(platform::localPort(listener_)) {}
  ~TestPeer() {
    for (auto s : accepted_) platform::closeSocket(s);
    closeListener();
  }
  TestPeer(const TestPeer&) = delete;
  TestPeer& operator=(const TestPeer&) = delete;

  int port() const { return port_; }
  platform::SocketHandle listener() const { return listener_; }
  void closeListener() {
    platform::closeSocket(listener_);
    listener_ = platform::kInvalidSocket;
  }
  // The next connection (already made by the client's connect).
  platform::SocketHandle accept() {
    const auto s = platform::acceptConnection(listener_);
    accepted_.push_back(s);
    return s;
  }
  // Releases a connection early (the peer's end of it); the destructor skips it.
  void release(platform::SocketHandle s) {
    accepted_.erase(std::remove(accepted_.begin(), accepted_.end(), s), accepted_.end());
    platform::closeSocket(s);
  }

 private:
  SocketLibraryUse library_;  // first: it outlives every socket below
  platform::SocketHandle listener_;
  int port_;
  std::vector<platform::SocketHandle> accepted_;
};

// Up to `count` bytes, waiting at most 5 s for each piece.
inline std::string receiveBytes(platform::SocketHandle s, std::size_t count) {
  std::string out;
  std::vector<char> buffer(65536);
  while (out.size() < count) {
    if (platform::waitReadable(s, 5000) <= 0) break;
    const long n = platform::receive(s, buffer.data(), std::min(buffer.size(), count - out.size()));
    if (n <= 0) break;
    out.append(buffer.data(), static_cast<std::size_t>(n));
  }
  return out;
}

inline bool sendText(platform::SocketHandle s, const std::string& text) {
  return platform::sendAll(s, text.data(), text.size()) == static_cast<long>(text.size());
}

}  // namespace p50x::test
