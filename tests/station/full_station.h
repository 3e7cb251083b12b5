// A whole station as the serial callback sees it: assembler, station state and
// the three layout tables on small example lists, recording seams and a clock
// the test moves by hand.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <string>
#include <vector>

#include "layout/feedback_image.h"
#include "layout/list_file.h"
#include "layout/loco_table.h"
#include "layout/turnout_table.h"
#include "station/command_assembler.h"
#include "station/station_state.h"
#include "support/recording.h"

namespace p50x::test {

inline Bytes text(const std::string& s) {
  return Bytes(s.begin(), s.end());
}

inline const Bytes kPrompt = bytes({0x0D, 0x5D});

// Lok1 at 3/0 (step mode 3), turnouts W1 at 5/0 with partner W2 at 6/0,
// contacts K1 (module 1 contact 1) and K3 (module 3 contact 9). A test may give
// its own locomotive list.
inline constexpr const char* kFullStationLocos = "Lok1;3;0;3;0;100;80\n";

struct FullStation {
  RecordingSink sink;
  RecordingConsole console;
  RecordingHostSender host;
  StationState state;
  FeedbackImage feedback{console};
  LocoTable locos{console, host};
  TurnoutTable turnouts{console, host};
  CommandAssembler assembler{sink, console};
  CommandAssembler::TimePoint now{};

  explicit FullStation(const char* locoList = kFullStationLocos) {
    load(locos, locoList);
    load(turnouts, "W1;5;0;1;6\nW2;6;0;0;0\n");
    load(feedback, "K1;1;1\nK3;3;9\n");
    assembler.setTargets({&state, &locos, &turnouts, &feedback});
    assembler.setClock([this] { return now; });
  }

  void feedEach(const Bytes& b) {
    for (std::uint8_t byte : b) assembler.feed(1, &byte);
  }
  // Feeds the bytes one at a time and returns what was sent, clearing the
  // recordings of replies (not of the console or the host).
  Bytes send(const Bytes& b) {
    sink.clear();
    feedEach(b);
    return sink.all();
  }
  std::vector<std::string> hostMessages() { return host.take(); }
  std::string consoleText() {
    std::string t = console.outText();
    console.clear();
    return t;
  }
  void enterP50XOnly() {
    send(text("xZzA1\r"));
    sink.clear();
  }

 private:
  template <typename Table>
  static void load(Table& table, const char* list) {
    MemoryListSource source(reinterpret_cast<const std::uint8_t*>(list), std::strlen(list));
    table.loadEntries(source);
  }
};

// One command of a golden session: its bytes and everything it must cause.
struct Step {
  const char* name;
  Bytes in;
  Bytes reply;
  std::vector<std::string> host = {};
  std::string console = {};
  StationMode modeAfter = StationMode::P50XOnly;
};

// Nothing may leave before the last byte of a command, and the last byte must
// bring exactly its reply, its host messages and its console text.
inline void run(FullStation& s, const std::vector<Step>& steps) {
  for (const Step& step : steps) {
    SCOPED_TRACE(step.name);
    const Bytes head(step.in.begin(), step.in.end() - 1);
    EXPECT_TRUE(s.send(head).empty());
    EXPECT_EQ(s.send({step.in.back()}), step.reply);
    EXPECT_EQ(s.hostMessages(), step.host);
    EXPECT_EQ(s.consoleText(), step.console);
    EXPECT_EQ(s.assembler.mode(), step.modeAfter);
    EXPECT_EQ(s.assembler.inputCount(), 0);
  }
}

}  // namespace p50x::test
