// A stand-in for the host application: listens on the event and the command
// port, takes the bridge's connections, answers every message that arrives on
// a write connection, records what it receives and sends events on request.
// The p50x-hostsim program is a thin console front end over it and the input
// lines of script_line.h; end-to-end tests use the class in-process.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "host_links.h"
#include "platform/socket.h"

namespace p50x::hostsim {

struct Options {
  std::string address = "127.0.0.1";
  int eventPort = 31286;  // 0: pick a free port
  int commandPort = 31285;
  std::string answer = "OK\n";
  int answerDelayMs = 0;
  // Above answerDelayMs: each answer waits a time drawn evenly from
  // answerDelayMs to this, as a busy host application answers.
  int answerDelayMaxMs = 0;
  bool neverAnswer = false;
};

// One message received: a line up to and including its line feed (the
// bridge ends every message with one), or what was left without a line feed
// when the connection ended.
struct Message {
  Link link;
  Role role;
  // Number of the connection on its port in the order taken, from 0 (so the
  // read connection of a pair is even). The two ports are served by two
  // threads, so no order between them is kept.
  int connection;
  std::string text;
  std::chrono::system_clock::time_point time;
};

// What the simulator reports to an observer (the console front end).
struct Report {
  enum Kind { kConnected, kReceived, kSent, kDisconnected, kTrouble };
  Kind kind;
  Link link;
  Role role;
  int connection;
  std::string text;  // the message, the event sent, or what went wrong
  std::chrono::system_clock::time_point time;
};

// Threads: the owner calls start, stop and the senders; one acceptor thread
// per port and one reader thread per connection record, answer and report.
// mutex_ guards the connection list, the records, the answer settings (with
// the delay generator) and the frozen state, and is never held across a send
// or a receive. sendMutex_ keeps sends on one
// socket whole (events and answers) and keeps stop from releasing a socket
// under a send; stop wakes a blocked send by shutting its socket down first.
// The observer is called from every thread, one call at a time.
class HostSimulator {
 public:
  using Observer = std::function<void(const Report&)>;
  using Clock = std::chrono::steady_clock;

  explicit HostSimulator(Options options = {});
  ~HostSimulator();  // stops
  HostSimulator(const HostSimulator&) = delete;
  HostSimulator& operator=(const HostSimulator&) = delete;

  // Before start.
  void setObserver(Observer observer);

  // Listens on both ports. false, with the reason in error(), if either fails.
  bool start();
  const std::string& error() const { return error_; }
  int eventPort() const { return eventPort_; }
  int commandPort() const { return commandPort_; }

  // Answer settings; they apply to the next message.
  void setAnswer(std::string text);
  void setAnswerDelay(int milliseconds, int maxMilliseconds = 0);
  void setNeverAnswer(bool never);
  // A hung host application: while frozen nothing is read or answered on any
  // connection (what the bridge sends waits in the socket buffers), and the
  // answers due are given once it thaws. Connections are still taken.
  void setFrozen(bool frozen);

  // Connections taken so far (all ports, closed ones included).
  int connectionCount() const;
  bool waitForConnections(int count, std::chrono::milliseconds deadline);
  // Connections the peer (or closeConnection) has ended.
  int closedCount() const;
  bool waitForClosed(int count, std::chrono::milliseconds deadline);

  std::vector<Message> messages() const;
  // The messages recorded since the last take, and forget them: for an
  // observer that runs for hours and must not keep every message.
  std::vector<Message> takeMessages();
  // Only the texts of messages(), in order.
  std::vector<std::string> messageTexts() const;
  bool waitForMessages(std::size_t count, std::chrono::milliseconds deadline);
  void clearMessages();

  // Sends text as one chunk on the latest open connection of link and role.
  // false when there is none or the send fails.
  bool sendEvent(std::string_view text, Link link = Link::kEvent, Role role = Role::kRead);

  // Ends the latest open connection of link and role in order (the bridge's
  // receive sees the end). false when there is none.
  bool closeConnection(Link link, Role role);

  // Waits for the given time unless stop comes first (then false): script
  // delays that never hold up a stop.
  bool pause(std::chrono::milliseconds time);
  // Blocks until stop has been called.
  void waitForStop();

  // Ends every connection and thread. Idempotent.
  void stop();

 private:
  struct Connection;

  void acceptLoop(platform::SocketHandle listener, Link link);
  void readLoop(Connection& connection);
  void record(Connection& connection, std::string text);
  void answer(Connection& connection);
  // With mutex_ held: waits while frozen; false when stop came first.
  bool waitWhileFrozen(std::unique_lock<std::mutex>& lock);
  void report(Report::Kind kind, Link link, Role role, int connection, std::string text);
  Connection* latestOpen(Link link, Role role);

  Options options_;
  Observer observer_;
  std::string error_;
  int eventPort_ = 0;
  int commandPort_ = 0;

  mutable std::mutex mutex_;
  std::condition_variable changed_;
  bool started_ = false;
  bool stopping_ = false;
  bool frozen_ = false;
  std::minstd_rand delays_;
  bool libraryStarted_ = false;
  platform::SocketHandle listeners_[2] = {platform::kInvalidSocket, platform::kInvalidSocket};
  std::thread acceptors_[2];
  std::vector<std::unique_ptr<Connection>> connections_;
  int perLink_[2] = {0, 0};
  int closed_ = 0;
  std::vector<Message> messages_;

  std::mutex sendMutex_;
  std::mutex reportMutex_;
};

}  // namespace p50x::hostsim
