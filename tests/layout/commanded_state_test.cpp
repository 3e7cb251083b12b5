// What a host that comes back is told: the latest state of every locomotive
// and turnout the serial side has commanded since start, in table order, as it
// would be sent now.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <future>
#include <string>
#include <vector>

#include "layout/host_messages.h"
#include "layout/list_file.h"
#include "layout/loco_table.h"
#include "layout/turnout_table.h"
#include "support/recording.h"

namespace p50x {
namespace {

using Messages = std::vector<std::string>;

// Walk order: Lok2 before Lok1; W3 (partner 99 missing), W2, W1 (partner W2).
constexpr const char* kLocos = "Lok1;3;0;3;0;100;80\nLok2;4;0;3;0;100;100\n";
constexpr const char* kTurnouts = "W1;5;0;1;6\nW2;6;0;0;0\nW3;7;0;0;99\n";

struct Layout {
  test::RecordingConsole console;
  test::RecordingHostSender host;
  test::RecordingSink sink;
  ReplyChannel reply{sink};
  LocoTable locos{console, host};
  TurnoutTable turnouts{console, host};

  Layout() {
    MemoryListSource locoList(reinterpret_cast<const std::uint8_t*>(kLocos),
                              std::char_traits<char>::length(kLocos));
    locos.loadEntries(locoList);
    MemoryListSource turnoutList(reinterpret_cast<const std::uint8_t*>(kTurnouts),
                                 std::char_traits<char>::length(kTurnouts));
    turnouts.loadEntries(turnoutList);
  }

  // Locomotives first, then turnouts, as the host is to hear them.
  Messages commanded() const {
    std::vector<HostMessage> messages;
    locos.appendCommandedMessages(messages);
    turnouts.appendCommandedMessages(messages);
    Messages texts;
    for (const HostMessage& m : messages) texts.emplace_back(m.text, m.length);
    return texts;
  }
};

TEST(CommandedState, LatestStateOfEverythingCommandedInTableOrder) {
  struct Case {
    const char* name;
    std::function<void(Layout&)> commands;
    Messages expected;
  };
  const auto xTrnt = [](Layout& l, int low, int second) {
    l.turnouts.xTrnt(l.reply, low, static_cast<std::int8_t>(second));
  };
  const Case cases[] = {
      {"nothing commanded", [](Layout&) {}, {}},
      {"one XLok",
       [](Layout& l) { l.locos.xLok(l.reply, 3, 0, 50, 0x30); },
       {"371;Lok1;1;126.7\n", "381;Lok1;1\n"}},
      {"the latest of several",
       [](Layout& l) {
         l.locos.xLok(l.reply, 3, 0, 50, 0x30);
         l.locos.xLok(l.reply, 3, 0, 0, 0x00);
       },
       {"371;Lok1;1;-0.0\n", "381;Lok1;0\n"}},
      {"table order, and the tag as it is now",
       [](Layout& l) {
         l.locos.xLok(l.reply, 3, 0, 50, 0x30);
         l.locos.xLokX(l.reply, 4, 0, 20, 0x20);
         l.locos.setSpeedReportTag(7);
       },
       {"371;Lok2;7;50.7\n", "381;Lok2;0\n", "371;Lok1;7;126.7\n", "381;Lok1;1\n"}},
      {"functions and queries are no host state",
       [](Layout& l) {
         l.locos.xFunc(l.reply, 3, 0, 0x01);
         l.locos.xFuncX(l.reply, 3, 0, 0x01);
         l.locos.xLokSts(l.reply, 3, 0);
         l.locos.xLokCfg(l.reply, 3, 0);
         l.locos.xEvtLok(l.reply);
         l.turnouts.xTrntSts(l.reply, 5, 0);
         l.turnouts.xTrntGrp(l.reply, 1);
       },
       {}},
      {"unknown addresses",
       [&](Layout& l) {
         l.locos.xLok(l.reply, 9, 0, 50, 0x30);
         xTrnt(l, 9, 0x00);
       },
       {}},
      {"after XHalt",
       [](Layout& l) {
         l.locos.xLok(l.reply, 3, 0, 50, 0x30);
         l.locos.haltAll();
       },
       {"371;Lok1;1;0.0\n", "381;Lok1;1\n"}},
      {"one XTrnt", [&](Layout& l) { xTrnt(l, 6, 0x00); }, {"305;W2;0;\n"}},
      {"partner state as it is now",
       [&](Layout& l) {
         xTrnt(l, 5, 0x80);  // W1 to 1 with W2 at 1: sent as 3
         xTrnt(l, 6, 0x00);
       },
       {"305;W2;0;\n", "305;W1;2;\n"}},
      {"missing partner left out", [&](Layout& l) { xTrnt(l, 7, 0x00); }, {}},
      {"a coil release keeps the switch",
       [&](Layout& l) {
         xTrnt(l, 6, 0x40);
         xTrnt(l, 6, 0x00);
       },
       {"305;W2;0;\n"}},
      {"a first command naming the start position",
       [&](Layout& l) { xTrnt(l, 6, 0x80); },
       {"305;W2;1;\n"}},
      {"locomotives before turnouts",
       [&](Layout& l) {
         xTrnt(l, 6, 0x80);
         l.locos.xLok(l.reply, 4, 0, 0, 0x30);
       },
       {"371;Lok2;1;0.0\n", "381;Lok2;1\n", "305;W2;1;\n"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Layout layout;
    c.commands(layout);
    EXPECT_EQ(layout.commanded(), c.expected);
  }
}

// The state is asked for on another thread while the serial worker waits for
// the host's answer to a message: the lock must not be held across that wait.
TEST(CommandedState, IsServedWhileACommandWaitsForTheHost) {
  Layout layout;
  std::future<Messages> other;
  bool servedDuringWait = false;
  layout.host.onSend = [&](const char* text) {
    if (std::string(text).rfind("371;", 0) != 0) return;
    other = std::async(std::launch::async, [&] { return layout.commanded(); });
    servedDuringWait = test::waitFor(
        [&] { return other.wait_for(std::chrono::seconds(0)) == std::future_status::ready; });
  };
  layout.locos.xLok(layout.reply, 3, 0, 50, 0x30);
  layout.host.onSend = nullptr;
  EXPECT_TRUE(servedDuringWait);
  EXPECT_EQ(other.get(), (Messages{"371;Lok1;1;126.7\n", "381;Lok1;1\n"}));
}

}  // namespace
}  // namespace p50x
