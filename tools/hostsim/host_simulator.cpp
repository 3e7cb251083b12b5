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

const char* linkName(Link link) {
  return link == Link::kEvent ? "event" : "command";
}

const char* roleName(Role role) {
  return role == Role::kRead ? "read" : "write";
}

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
    pending.append(buffer, static_cast<std::size_t>(n));
    for (std::size_t end = pending.find('\n'); end != std::string::npos; end = pending.find('\n')) {
      record(c, pending.substr(0, end + 1));
      pending.erase(0, end + 1);
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
    if (delay > 0 &&
        changed_.wait_for(lock, std::chrono::milliseconds(delay), [this] { return stopping_; })) {
      return;
    }
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

void HostSimulator::setAnswerDelay(int milliseconds) {
  std::lock_guard<std::mutex> lock(mutex_);
  options_.answerDelayMs = milliseconds;
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

namespace {
int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool startsWith(std::string_view text, std::string_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

bool parseLinkRole(std::string_view words, Link& link, Role& role) {
  const std::size_t space = words.find(' ');
  if (space == std::string_view::npos) return false;
  const std::string_view l = words.substr(0, space);
  std::string_view r = words.substr(space + 1);
  while (!r.empty() && r.front() == ' ') r.remove_prefix(1);
  while (!r.empty() && r.back() == ' ') r.remove_suffix(1);
  if (l == "event") {
    link = Link::kEvent;
  } else if (l == "command") {
    link = Link::kCommand;
  } else {
    return false;
  }
  if (r == "read") {
    role = Role::kRead;
  } else if (r == "write") {
    role = Role::kWrite;
  } else {
    return false;
  }
  return true;
}
}  // namespace

bool decodeEscapes(std::string_view text, std::string& out) {
  std::string result;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\') {
      result += text[i];
      continue;
    }
    if (++i >= text.size()) return false;
    switch (text[i]) {
      case 'n':
        result += '\n';
        break;
      case 'r':
        result += '\r';
        break;
      case 't':
        result += '\t';
        break;
      case '0':
        result += '\0';
        break;
      case '\\':
        result += '\\';
        break;
      case 'x': {
        if (i + 2 >= text.size()) return false;
        const int high = hexValue(text[i + 1]);
        const int low = hexValue(text[i + 2]);
        if (high < 0 || low < 0) return false;
        result += static_cast<char>(high * 16 + low);
        i += 2;
        break;
      }
      default:
        return false;
    }
  }
  out = std::move(result);
  return true;
}

ScriptLine parseScriptLine(std::string_view line, Link defaultLink) {
  ScriptLine result;
  // Scripts written on Windows end their lines in CR LF.
  while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.remove_suffix(1);
  if (line.empty() || line.front() == '#') return result;

  if (line == "quit") {
    result.kind = ScriptLine::kQuit;
    return result;
  }
  if (line == "sleep" || startsWith(line, "sleep ")) {
    std::string_view digits = line.substr(5);
    while (!digits.empty() && digits.front() == ' ') digits.remove_prefix(1);
    long ms = 0;
    bool ok = !digits.empty() && digits.size() <= 9;
    for (const char d : digits) {
      if (d < '0' || d > '9') {
        ok = false;
        break;
      }
      ms = ms * 10 + (d - '0');
    }
    if (!ok) {
      result.kind = ScriptLine::kError;
      result.text = "sleep takes milliseconds, e.g. sleep 500";
      return result;
    }
    result.kind = ScriptLine::kSleep;
    result.milliseconds = static_cast<int>(ms);
    return result;
  }
  if (line == "close" || startsWith(line, "close ")) {
    std::string_view words = line.substr(5);
    while (!words.empty() && words.front() == ' ') words.remove_prefix(1);
    if (!parseLinkRole(words, result.link, result.role)) {
      result.kind = ScriptLine::kError;
      result.text = "close takes a link and a connection, e.g. close command read";
      return result;
    }
    result.kind = ScriptLine::kClose;
    return result;
  }

  result.link = defaultLink;
  result.role = Role::kRead;
  std::string_view text = line;
  struct Prefix {
    std::string_view text;
    Link link;
    Role role;
  };
  static constexpr Prefix kPrefixes[] = {
      {"cw:", Link::kCommand, Role::kWrite},
      {"ew:", Link::kEvent, Role::kWrite},
      {"c:", Link::kCommand, Role::kRead},
      {"e:", Link::kEvent, Role::kRead},
  };
  for (const Prefix& p : kPrefixes) {
    if (startsWith(text, p.text)) {
      result.link = p.link;
      result.role = p.role;
      text.remove_prefix(p.text.size());
      break;
    }
  }
  if (!decodeEscapes(text, result.text)) {
    result.kind = ScriptLine::kError;
    result.text = "bad escape: use \\n \\r \\t \\0 \\\\ or \\xHH";
    return result;
  }
  if (result.text.empty()) {
    result.kind = ScriptLine::kError;
    result.text = "nothing to send";
    return result;
  }
  result.kind = ScriptLine::kSend;
  return result;
}

std::string printable(std::string_view text) {
  static const char* hex = "0123456789ABCDEF";
  std::string out;
  for (const char ch : text) {
    const auto c = static_cast<unsigned char>(ch);
    switch (c) {
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      case '\\':
        out += "\\\\";
        break;
      default:
        // Bytes from 0x80 up stay as they are: names may be in the console's
        // own encoding.
        if (c < 0x20 || c == 0x7F) {
          out += "\\x";
          out += hex[c >> 4];
          out += hex[c & 15];
        } else {
          out += ch;
        }
    }
  }
  return out;
}

}  // namespace p50x::hostsim
