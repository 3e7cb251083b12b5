#include "host/host_connection.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "app/callbacks.h"
#include "host/host_event_parser.h"
#include "host_simulator.h"
#include "host_test_support.h"
#include "support/recording.h"

namespace p50x::test {
namespace {

using namespace std::chrono_literals;
using platform::SocketHandle;

// A link connected to a hand-driven peer: read and write connection accepted.
struct Linked {
  RecordingConsole console;
  LinkRecorder recorder;
  TestPeer peer;
  HostConnection link{console};
  SocketHandle read = platform::kInvalidSocket;
  SocketHandle write = platform::kInvalidSocket;

  Linked() {
    link.setCallback(recorder.callback());
    result = link.connect("127.0.0.1", peer.port());
    if (result == 0) {
      read = peer.accept();
      write = peer.accept();
    }
  }
  int result = -1;
};

TEST(HostConnection, ConnectsReadThenWriteAndStartsTheReceiver) {
  Linked t;
  ASSERT_EQ(t.result, 0);
  ASSERT_TRUE(waitFor([&] { return t.recorder.count(kHostStarted) == 1; }));

  // The first connection taken carries events to the bridge...
  ASSERT_TRUE(sendText(t.read, "150;1;K1"));
  ASSERT_TRUE(waitFor([&] { return t.recorder.received() == "150;1;K1"; }));
  // ...the second carries requests and their answers.
  std::thread host([&] {
    if (receiveBytes(t.write, 5) == "41;0\n") sendText(t.write, "OK\n");
  });
  EXPECT_EQ(t.link.sendAndAwaitAnswer("41;0\n"), 1);
  host.join();
  EXPECT_EQ(t.link.lastAnswerLength(), 3);
  EXPECT_EQ(t.console.outText(), "");
}

TEST(HostConnection, NoListenerIsAReadConnectError) {
  int port = 0;
  {
    TestPeer gone;
    port = gone.port();
  }
  RecordingConsole console;
  LinkRecorder recorder;
  HostConnection link(console);
  link.setCallback(recorder.callback());
  EXPECT_EQ(link.connect("127.0.0.1", port), -1);
  EXPECT_EQ(console.outText(), "Read Connect error\n");
  EXPECT_TRUE(recorder.codes().empty());
  EXPECT_EQ(link.sendAndAwaitAnswer("41;0\n"), 0);
}

TEST(HostConnection, AddressThatIsNotDottedIpv4FailsWithoutLookup) {
  TestPeer peer;
  for (const char* address : {"localhost", "127.0.0.1.5", "", "::1"}) {
    RecordingConsole console;
    HostConnection link(console);
    EXPECT_EQ(link.connect(address, peer.port()), -1) << address;
    EXPECT_EQ(console.outText(), "Read Connect error\n") << address;
  }
}

// The listener takes one connection and is gone before the second: with a
// backlog of 0 the second connect's first attempt is not answered, and its
// retry meets a closed port.
TEST(HostConnection, RefusedSecondConnectionIsAWriteConnectError) {
  RecordingConsole console;
  LinkRecorder recorder;
  TestPeer peer(0);
  HostConnection link(console);
  link.setCallback(recorder.callback());
  std::atomic<int> result{1};
  std::thread connecting([&] { result = link.connect("127.0.0.1", peer.port()); });
  ASSERT_EQ(platform::waitReadable(peer.listener(), 10000), 1);  // the read connection is in
  peer.closeListener();
  connecting.join();
  EXPECT_EQ(result.load(), -1);
  EXPECT_EQ(console.outText(), "Write Connect error\n");
  EXPECT_TRUE(recorder.codes().empty());  // no receiver was started
}

TEST(HostConnection, ChunksAreAtMost256BytesWithRoomForTheZero) {
  Linked t;
  ASSERT_EQ(t.result, 0);
  std::string big(300, '\0');
  for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>('a' + i % 26);
  ASSERT_TRUE(sendText(t.read, big));
  ASSERT_TRUE(waitFor([&] { return t.recorder.received().size() == 300; }));
  const auto chunks = t.recorder.chunks();
  EXPECT_GE(chunks.size(), 2u);
  for (const auto& c : chunks) EXPECT_LE(c.size(), 256u);
  EXPECT_EQ(t.recorder.received(), big);
}

TEST(HostConnection, ExactlyFullChunkIsTerminatedAndParsed) {
  RecordingConsole console;
  RecordingLayout layout;
  HostEventParser parser(console, &layout);
  TestPeer peer;
  HostConnection link(console);
  std::atomic<int> lastLength{0};
  link.setCallback([&](HostConnection& c, int code) {
    if (code == kHostDataReceived) lastLength = c.receivedLength();
    hostCallback(c, code, &parser);
  });
  ASSERT_EQ(link.connect("127.0.0.1", peer.port()), 0);
  const SocketHandle read = peer.accept();
  const std::string message = "150;1;K1;" + std::string(247, 'x');
  ASSERT_EQ(message.size(), 256u);
  ASSERT_TRUE(sendText(read, message));
  ASSERT_TRUE(waitFor([&] { return layout.size() == 1; }));
  EXPECT_EQ(lastLength.load(), 256);
  EXPECT_EQ(link.receiveBuffer()[256], '\0');
  EXPECT_EQ(layout.calls(), std::vector<std::string>{"set:K1"});
}

TEST(HostConnection, AnswerLongerThan128BytesAnswersTheNextRequestToo) {
  Linked t;
  ASSERT_EQ(t.result, 0);
  t.link.setAnswerTimeout(-1);  // only the leftover can end the second wait
  std::thread host([&] {
    if (receiveBytes(t.write, 4) == "a;1\n") sendText(t.write, std::string(200, 'A'));
  });
  EXPECT_EQ(t.link.sendAndAwaitAnswer("a;1\n"), 1);
  host.join();
  EXPECT_EQ(t.link.lastAnswerLength(), 128);
  EXPECT_EQ(t.link.sendAndAwaitAnswer("b;2\n"), 1);
  EXPECT_EQ(t.link.lastAnswerLength(), 72);
  EXPECT_EQ(receiveBytes(t.write, 4), "b;2\n");
}

TEST(HostConnection, SilentHostIsWaitedForOnlyUntilTheTimeout) {
  Linked t;
  ASSERT_EQ(t.result, 0);
  t.link.setAnswerTimeout(20);
  EXPECT_EQ(t.link.sendAndAwaitAnswer("371;Lok1;1;12.5\n"), 1);
  EXPECT_EQ(t.link.lastAnswerLength(), 0);
  // A late answer is taken by the next request, which then does not wait.
  ASSERT_TRUE(sendText(t.write, "late\n"));
  t.link.setAnswerTimeout(-1);
  EXPECT_EQ(t.link.sendAndAwaitAnswer("381;Lok1;1\n"), 1);
  EXPECT_EQ(t.link.lastAnswerLength(), 5);
  EXPECT_EQ(receiveBytes(t.write, 27), "371;Lok1;1;12.5\n381;Lok1;1\n");
}

TEST(HostConnection, HostClosingTheReadConnectionEndsTheLinkQuietly) {
  Linked t;
  ASSERT_EQ(t.result, 0);
  t.peer.release(t.read);
  ASSERT_TRUE(waitFor([&] { return t.recorder.count(kHostClosed) == 2; }));
  EXPECT_EQ(t.recorder.codes(), (std::vector<int>{kHostStarted, kHostClosed, kHostClosed}));
  // Both sockets are shut: later requests fail at once and say nothing.
  EXPECT_EQ(t.link.sendAndAwaitAnswer("41;0\n"), 0);
  EXPECT_EQ(receiveBytes(t.write, 1), "");  // the write connection has ended too
  EXPECT_EQ(t.console.outText(), "");
}

TEST(HostConnection, ReceiveErrorIsReportedAndClosesOnce) {
#ifdef _WIN32
  GTEST_SKIP() << "Wine reads a reset by the peer as an orderly close: the two cannot be told "
                  "apart there";
#endif
  Linked t;
  ASSERT_EQ(t.result, 0);
  ASSERT_TRUE(waitFor([&] { return t.recorder.count(kHostStarted) == 1; }));
  platform::setAbortOnClose(t.read);
  t.peer.release(t.read);
  ASSERT_TRUE(waitFor([&] { return t.recorder.count(kHostClosed) == 1; }));
  EXPECT_EQ(t.console.outText(), "recv failed with error: " + std::to_string(ECONNRESET) + "\n");
  EXPECT_EQ(t.link.sendAndAwaitAnswer("41;0\n"), 0);
  EXPECT_EQ(t.recorder.codes(), (std::vector<int>{kHostStarted, kHostClosed}));
}

// The first send after the host has gone still leaves; the host's reset then
// makes later sends fail. Neither may raise a signal that ends the process.
TEST(HostConnection, HostClosingOnlyTheWriteConnectionNeverKillsTheBridge) {
  Linked t;
  ASSERT_EQ(t.result, 0);
  t.peer.release(t.write);
  t.link.setAnswerTimeout(-1);  // only the end of the connection can end the wait
  EXPECT_EQ(t.link.sendAndAwaitAnswer("41;0\n"), 1);
  EXPECT_EQ(t.link.lastAnswerLength(), 0);
  EXPECT_TRUE(waitFor([&] { return t.link.sendAndAwaitAnswer("381;Lok1;0\n") == 0; }));
  // The read connection and its receiver go on.
  ASSERT_TRUE(sendText(t.read, "21"));
  EXPECT_TRUE(waitFor([&] { return t.recorder.received() == "21"; }));
  EXPECT_EQ(t.recorder.count(kHostClosed), 0);
  EXPECT_EQ(t.console.outText(), "");
}

TEST(HostConnection, CloseWakesTheReceiverAndAPendingAnswerWait) {
  auto t = std::make_unique<Linked>();
  ASSERT_EQ(t->result, 0);
  t->link.setAnswerTimeout(-1);
  std::atomic<int> sent{-1};
  std::thread serial([&] {
    sent = t->link.sendAndAwaitAnswer("305;W1;1;\n");
    notifyWaiters();
  });
  ASSERT_EQ(receiveBytes(t->write, 10), "305;W1;1;\n");
  // Console thread at shutdown and the receiver at its end close at once.
  std::thread other([&] { t->link.close(); });
  EXPECT_EQ(t->link.close(), 0);
  other.join();
  const bool woke = waitFor([&] { return sent.load() != -1; }, 10000ms);
  if (!woke) sendText(t->write, "OK\n");  // let the thread end before failing
  serial.join();
  EXPECT_TRUE(woke);
  EXPECT_EQ(sent.load(), 1);
  ASSERT_TRUE(waitFor([&] { return t->recorder.count(kHostClosed) == 2; }));
  EXPECT_EQ(receiveBytes(t->read, 1), "");  // the host sees the end
  EXPECT_EQ(t->link.sendAndAwaitAnswer("41;0\n"), 0);
  EXPECT_EQ(t->console.outText(), "");
  t.reset();  // joins the receiver; nothing is reported twice
}

TEST(HostConnection, CloseAndDestroyWithoutConnect) {
  RecordingConsole console;
  {
    HostConnection link(console);
    EXPECT_EQ(link.close(), 0);
    EXPECT_EQ(link.close(), 0);
    EXPECT_EQ(link.sendAndAwaitAnswer("41;0\n"), 0);
    EXPECT_EQ(link.connect("127.0.0.1", 1), -1);  // closed links stay closed
  }
  EXPECT_EQ(console.outText(), "");
}

TEST(HostConnection, LongTextIsSentWhole) {
  Linked t;
  ASSERT_EQ(t.result, 0);
  std::string text(2 * 1024 * 1024, 'm');
  text.back() = '\n';
  std::string got;
  std::thread host([&] {
    got = receiveBytes(t.write, text.size());
    sendText(t.write, "OK\n");
  });
  EXPECT_EQ(t.link.sendAndAwaitAnswer(text.c_str()), 1);
  host.join();
  EXPECT_TRUE(got == text);
  EXPECT_EQ(t.link.lastAnswerLength(), 3);
}

// Layout that counts per contact name; thread-safe.
class CountingLayout final : public LayoutEvents {
 public:
  void turnoutReported(const char*, int) override {}
  void contactSet(const char* name) override {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      last_[name[0] == 'E' ? 0 : 1] = name;
      ++count_[name[0] == 'E' ? 0 : 1];
    }
    notifyWaiters();
  }
  void contactCleared(const char*) override {}
  int count(int link) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return count_[link];
  }

 private:
  mutable std::mutex mutex_;
  int count_[2] = {0, 0};
  std::string last_[2];
};

// Both links deliver events into the one parser while the serial side keeps
// sending requests: run under ThreadSanitizer this must stay clean.
TEST(HostConnection, TwoLinksFloodingWhileRequestsGoOut) {
  hostsim::Options options;
  options.eventPort = 0;
  options.commandPort = 0;
  hostsim::HostSimulator host(options);
  ASSERT_TRUE(host.start()) << host.error();

  RecordingConsole console;
  CountingLayout layout;
  HostEventParser parser(console, &layout);
  HostConnection eventLink(console);
  HostConnection commandLink(console);
  auto toParser = [&](HostConnection& c, int code) { hostCallback(c, code, &parser); };
  eventLink.setCallback(toParser);
  commandLink.setCallback(toParser);
  ASSERT_EQ(eventLink.connect("127.0.0.1", host.eventPort()), 0);
  ASSERT_EQ(commandLink.connect("127.0.0.1", host.commandPort()), 0);
  ASSERT_TRUE(host.waitForConnections(4, 5000ms));

  constexpr int kEvents = 300;
  constexpr int kRequests = 200;
  // Each event waits for the one before to be acted on, so chunks never merge
  // and every one is counted; the two links still run side by side.
  auto flood = [&](hostsim::Link link, int index, char prefix) {
    for (int i = 0; i < kEvents; ++i) {
      const std::string event = "150;1;" + std::string(1, prefix) + std::to_string(i) + ";";
      if (!host.sendEvent(event, link)) return;
      if (!waitFor([&] { return layout.count(index) > i; })) return;
    }
  };
  std::atomic<int> answered{0};
  std::thread events(flood, hostsim::Link::kEvent, 0, 'E');
  std::thread commands(flood, hostsim::Link::kCommand, 1, 'C');
  std::thread serial([&] {
    for (int i = 0; i < kRequests; ++i) {
      if (commandLink.sendAndAwaitAnswer("371;Lok1;1;12.5\n") == 1 &&
          commandLink.lastAnswerLength() == 3) {
        ++answered;
      }
    }
  });
  events.join();
  commands.join();
  serial.join();
  EXPECT_EQ(layout.count(0), kEvents);
  EXPECT_EQ(layout.count(1), kEvents);
  EXPECT_EQ(answered.load(), kRequests);
  EXPECT_EQ(console.outText(), "");
  // Orderly end: the links close first, then the host.
  eventLink.close();
  commandLink.close();
}

}  // namespace
}  // namespace p50x::test
