#include "host_simulator.h"

#include <cstdio>
#include <system_error>

namespace p50x::hostsim {

namespace sock = platform;

struct HostSimulator::Connection {
  Link link;
  Role role;
  int number;
  sock::SocketHandle socket;
  std::thread reader;
  bool open = true;      // until its reader has seen the end
  bool closing = false;  // closeConnection has ended it
};

namespace {
int index(Link link) {
  return link == Link::kEvent ? 0 : 1;
}

std::string systemMessage(int code) {
  return std::system_category().message(code);
}
}  // namespace

HostSimulator::HostSimulator(Options options) : options_(std::move(options)) {}

HostSimulator::~HostSimulator() {
  stop();
}

void HostSimulator::setObserver(Observer observer) {
  observer_ = std::move(observer);
}

bool HostSimulator::start() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (started_ || stopping_) {
    error_ = "already started";
    return false;
  }
  // Counted: one start here, one release at stop.
  if (const int code = sock::startSocketLibrary(); code != 0) {
    error_ = "cannot start the socket library: " + systemMessage(code);
    return false;
  }
  libraryStarted_ = true;
  const int ports[2] = {options_.eventPort, options_.commandPort};
  for (int i = 0; i < 2; ++i) {
    // The bridge makes its connections one after the other, so a short queue
    // is enough; a few more spare a restarted bridge a refused connect.
    listeners_[i] = sock::listenIpv4(options_.address.c_str(), ports[i], 8);
    if (listeners_[i] == sock::kInvalidSocket) {
      const int code = sock::lastSocketError();
      error_ = "cannot listen on " + options_.address + ":" + std::to_string(ports[i]) + " (" +
               linkName(i == 0 ? Link::kEvent : Link::kCommand) + " port): " + systemMessage(code);
      for (auto& l : listeners_) {
        sock::closeSocket(l);
        l = sock::kInvalidSocket;
      }
      sock::releaseSocketLibrary();
      libraryStarted_ = false;
      return false;
    }
  }
  eventPort_ = sock::localPort(listeners_[0]);
  commandPort_ = sock::localPort(listeners_[1]);
  started_ = true;
  acceptors_[0] = std::thread([this, l = listeners_[0]] { acceptLoop(l, Link::kEvent); });
  acceptors_[1] = std::thread([this, l = listeners_[1]] { acceptLoop(l, Link::kCommand); });
  return true;
}

void HostSimulator::acceptLoop(sock::SocketHandle listener, Link link) {
  for (;;) {
    const sock::SocketHandle s = sock::acceptConnection(listener);
    if (s == sock::kInvalidSocket) {
      const int code = sock::lastSocketError();
      bool stopping = false;
      {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping = stopping_;
      }
      if (!stopping) {
        report(Report::kTrouble, link, Role::kRead, -1,
               std::string("no more connections on the ") + linkName(link) +
                   " port: " + systemMessage(code));
      }
      return;
    }
    Connection* c = nullptr;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (stopping_) {
        sock::closeSocket(s);  // nobody else has seen it
        return;
      }
      auto connection = std::make_unique<Connection>();
      connection->link = link;
      connection->number = perLink_[index(link)]++;
      connection->role = connection->number % 2 == 0 ? Role::kRead : Role::kWrite;
      connection->socket = s;
      c = connection.get();
      connections_.push_back(std::move(connection));
    }
    // Reported before its reader starts, so its messages never come first.
    report(Report::kConnected, c->link, c->role, c->number, {});
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (!stopping_) c->reader = std::thread([this, c] { readLoop(*c); });
    }
    changed_.notify_all();
  }
}

void HostSimulator::readLoop(Connection& c) {
  std::string pending;
  char buffer[4096];
  long n = 0;
  for (;;) {
    n = sock::receive(c.socket, buffer, sizeof buffer);
    if (n <= 0) break;
    {
      // The reader is mostly blocked in the receive when the freeze begins:
      // what it brings waits with the rest.
      std::unique_lock<std::mutex> lock(mutex_);
      if (!waitWhileFrozen(lock)) break;
    }
    pending.append(buffer, static_cast<std::size_t>(n));
    for (std::size_t end = pending.find('\n'); end != std::string::npos; end = pending.find('\n')) {
      record(c, pending.substr(0, end + 1));
      pending.erase(0, end + 1);
      // One answer per message, as a host application gives it: the bridge
      // sends its next message only once it has read an answer (or given up
      // waiting), and it reads nothing on a read connection.
      if (c.role == Role::kWrite) answer(c);
    }
  }
  const int code = n < 0 ? sock::lastSocketError() : 0;
  if (!pending.empty()) record(c, std::move(pending));
  {
    std::lock_guard<std::mutex> lock(mutex_);
    c.open = false;
    ++closed_;
  }
  changed_.notify_all();
  report(Report::kDisconnected, c.link, c.role, c.number,
         n < 0 ? "error " + std::to_string(code) + ": " + systemMessage(code) : std::string());
}

void HostSimulator::record(Connection& c, std::string text) {
  Message m{c.link, c.role, c.number, std::move(text), std::chrono::system_clock::now()};
  const Message copy = m;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    messages_.push_back(std::move(m));
  }
  changed_.notify_all();
  report(Report::kReceived, copy.link, copy.role, copy.connection, copy.text);
}

void HostSimulator::answer(Connection& c) {
  std::string text;
  int delay = 0;
  {
    std::unique_lock<std::mutex> lock(mutex_);
    if (options_.neverAnswer || options_.answer.empty()) return;
    text = options_.answer;
    delay = options_.answerDelayMs;
    if (options_.answerDelayMaxMs > delay) {
      delay = std::uniform_int_distribution<int>(delay, options_.answerDelayMaxMs)(delays_);
    }
    if (delay > 0 &&
        changed_.wait_for(lock, std::chrono::milliseconds(delay), [this] { return stopping_; })) {
      return;
    }
    if (!waitWhileFrozen(lock)) return;
  }
  std::lock_guard<std::mutex> sending(sendMutex_);
  sock::sendAll(c.socket, text.data(), text.size());
}

void HostSimulator::report(Report::Kind kind, Link link, Role role, int connection,
                           std::string text) {
  if (!observer_) return;
  std::lock_guard<std::mutex> lock(reportMutex_);
  observer_(
      Report{kind, link, role, connection, std::move(text), std::chrono::system_clock::now()});
}

void HostSimulator::setAnswer(std::string text) {
  std::lock_guard<std::mutex> lock(mutex_);
  options_.answer = std::move(text);
}

void HostSimulator::setAnswerDelay(int milliseconds, int maxMilliseconds) {
  std::lock_guard<std::mutex> lock(mutex_);
  options_.answerDelayMs = milliseconds;
  options_.answerDelayMaxMs = maxMilliseconds;
}

void HostSimulator::setFrozen(bool frozen) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    frozen_ = frozen;
  }
  changed_.notify_all();
}

bool HostSimulator::waitWhileFrozen(std::unique_lock<std::mutex>& lock) {
  changed_.wait(lock, [this] { return !frozen_ || stopping_; });
  return !stopping_;
}

void HostSimulator::setNeverAnswer(bool never) {
  std::lock_guard<std::mutex> lock(mutex_);
  options_.neverAnswer = never;
}

int HostSimulator::connectionCount() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return static_cast<int>(connections_.size());
}

bool HostSimulator::waitForConnections(int count, std::chrono::milliseconds deadline) {
  std::unique_lock<std::mutex> lock(mutex_);
  return changed_.wait_for(lock, deadline,
                           [&] { return static_cast<int>(connections_.size()) >= count; });
}

int HostSimulator::closedCount() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return closed_;
}

bool HostSimulator::waitForClosed(int count, std::chrono::milliseconds deadline) {
  std::unique_lock<std::mutex> lock(mutex_);
  return changed_.wait_for(lock, deadline, [&] { return closed_ >= count; });
}

std::vector<Message> HostSimulator::messages() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return messages_;
}

std::vector<Message> HostSimulator::takeMessages() {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<Message> taken;
  taken.swap(messages_);
  return taken;
}

std::vector<std::string> HostSimulator::messageTexts() const {
  std::vector<std::string> texts;
  for (const Message& m : messages()) texts.push_back(m.text);
  return texts;
}

bool HostSimulator::waitForMessages(std::size_t count, std::chrono::milliseconds deadline) {
  std::unique_lock<std::mutex> lock(mutex_);
  return changed_.wait_for(lock, deadline, [&] { return messages_.size() >= count; });
}

void HostSimulator::clearMessages() {
  std::lock_guard<std::mutex> lock(mutex_);
  messages_.clear();
}

HostSimulator::Connection* HostSimulator::latestOpen(Link link, Role role) {
  for (auto it = connections_.rbegin(); it != connections_.rend(); ++it) {
    Connection& c = **it;
    if (c.link == link && c.role == role && c.open && !c.closing) return &c;
  }
  return nullptr;
}

bool HostSimulator::sendEvent(std::string_view text, Link link, Role role) {
  if (text.empty()) return false;
  // Held across the send: stop releases no socket while a send is under way,
  // and it wakes a blocked send by shutting the socket down first.
  std::lock_guard<std::mutex> sending(sendMutex_);
  sock::SocketHandle s = sock::kInvalidSocket;
  int number = -1;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (stopping_) return false;
    Connection* c = latestOpen(link, role);
    if (c == nullptr) return false;
    s = c->socket;
    number = c->number;
  }
  if (sock::sendAll(s, text.data(), text.size()) != static_cast<long>(text.size())) return false;
  report(Report::kSent, link, role, number, std::string(text));
  return true;
}

bool HostSimulator::closeConnection(Link link, Role role) {
  std::lock_guard<std::mutex> lock(mutex_);
  Connection* c = latestOpen(link, role);
  if (c == nullptr) return false;
  c->closing = true;
  // Its reader sees the end and records it; the socket is released at stop.
  sock::shutdownSocket(c->socket);
  return true;
}

bool HostSimulator::pause(std::chrono::milliseconds time) {
  std::unique_lock<std::mutex> lock(mutex_);
  return !changed_.wait_for(lock, time, [this] { return stopping_; });
}

void HostSimulator::waitForStop() {
  std::unique_lock<std::mutex> lock(mutex_);
  changed_.wait(lock, [this] { return stopping_; });
}

void HostSimulator::stop() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (stopping_) return;
    stopping_ = true;
    for (auto l : listeners_) sock::shutdownSocket(l);
    for (auto& c : connections_) sock::shutdownSocket(c->socket);
  }
  changed_.notify_all();
  for (auto& a : acceptors_) {
    if (a.joinable()) a.join();
  }
  // No acceptor is left, so the list only shrinks to what is there now.
  std::vector<std::thread> readers;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto& c : connections_) {
      if (c->reader.joinable()) readers.push_back(std::move(c->reader));
    }
  }
  for (auto& r : readers) r.join();
  std::lock_guard<std::mutex> sending(sendMutex_);
  std::lock_guard<std::mutex> lock(mutex_);
  for (auto& c : connections_) {
    sock::closeSocket(c->socket);
    c->socket = sock::kInvalidSocket;
  }
  for (auto& l : listeners_) {
    sock::closeSocket(l);
    l = sock::kInvalidSocket;
  }
  if (libraryStarted_) sock::releaseSocketLibrary();
  libraryStarted_ = false;
}

}  // namespace p50x::hostsim
