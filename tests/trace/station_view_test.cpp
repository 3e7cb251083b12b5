// The state the trace shows: what the station carried out, by its replies.
// One table: each row a piece of monitor file after a bridge start and the
// state lines at its end.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "monitor_reader.h"
#include "station_view.h"
#include "trace_decoder.h"

namespace p50x::trace::test {
namespace {

using Lines = std::vector<std::string>;

Lines stateOf(const std::string& monitor, std::map<int, std::string> names = {}) {
  StationView view;
  view.setLocoNames(std::move(names));
  TraceDecoder decoder([](const std::string&) {}, {}, &view);
  MonitorReader reader(decoder);
  reader.feed("\n-------------\n" + monitor);
  reader.finish();
  decoder.finish();
  return view.lines();
}

const std::string kPowerOn = "power on; mixed mode";
const std::string kNoLocos = "locomotives: none commanded";
const std::string kNoTurnouts = "turnouts: none switched";
const std::string kNoContacts = "contacts occupied: none";

TEST(StationView, ShowsWhatTheStationCarriedOut) {
  struct Case {
    const char* what;
    std::string monitor;
    Lines state;
  };
  const std::vector<Case> cases = {
      {"the station at start", "", {kPowerOn, kNoLocos, kNoTurnouts, kNoContacts}},
      {"XLok carried out",
       "\nR 58 80 03 00 40 b1 \nS 00 ",
       {kPowerOn, "locomotives:", "      3 speed 64 forward light F1", kNoTurnouts, kNoContacts}},
      {"XLok of an unknown locomotive, and one without a reply",
       "\nR 58 80 09 00 10 20 \nS 02 \nR 58 80 04 00 10 20 ",
       {kPowerOn, kNoLocos, kNoTurnouts, kNoContacts}},
      {"XLokX steps until XLokSts tells the speed; emergency stop; reverse",
       "\nR 58 81 03 00 0e 30 \nS 00 \nR 58 81 04 00 0e 00 \nS 00 \nR 58 84 03 00 "
       "\nS 00 3f 35 0e \nR 58 80 05 00 01 00 \nS 00 ",
       {kPowerOn, "locomotives:", "      3 speed 63 forward light F1 F3", "      4 step 14 reverse",
        "      5 emergency stop reverse", kNoTurnouts, kNoContacts}},
      {"functions F1 to F28, the F1-F4 of XLok only with bit 7",
       "\nR 58 88 03 00 ff \nS 00 \nR 58 89 03 00 01 \nS 00 \nR 58 8a 03 00 80 08 \nS 00 "
       "\nR 58 80 03 00 00 20 \nS 00 \nR 58 80 03 00 00 a2 \nS 00 ",
       {kPowerOn, "locomotives:", "      3 speed 0 forward F2 F5 F6 F7 F8 F9 F24 F28", kNoTurnouts,
        kNoContacts}},
      {"XHalt stops every locomotive; a speed while halted is refused, the rest kept",
       "\nR 58 80 03 00 40 20 \nS 00 \nR 58 a5 \nS 00 \nR 58 80 04 00 40 30 \nS 41 ",
       {"power on, halted; mixed mode", "locomotives:", "      3 speed 0 forward",
        "      4 speed 0 forward light", kNoTurnouts, kNoContacts}},
      {"the text XHALT halts as XHalt does",
       "\nR 58 80 03 00 40 20 \nS 00 \nR 58 48 41 4c 54 0d \nS 4f 6b 0d ",
       {"power on, halted; mixed mode", "locomotives:", "      3 speed 0 forward", kNoTurnouts,
        kNoContacts}},
      {"XPwrOff, then XStatus tells the truth",
       "\nR 58 a6 \nS 00 \nR 58 a2 \nS 18 ",
       {"power on, halted; mixed mode", kNoLocos, kNoTurnouts, kNoContacts}},
      {"XPwrOff ends the halt",
       "\nR 58 a5 \nS 00 \nR 58 a6 \nS 00 ",
       {"power off; mixed mode", kNoLocos, kNoTurnouts, kNoContacts}},
      {"turnouts: XTrnt, a turnout not in the table (no reply), XTrntSts",
       "\nR 58 90 06 c0 \nS 00 \nR 58 90 07 40 \nS 00 \nR 58 90 09 c0 \nR 58 94 07 00 \nS 00 04 "
       "\nR 58 90 0a 01 \nS 00 ",
       {kPowerOn, kNoLocos, "turnouts:", "      6 green", "      7 green", "    266 red",
        kNoContacts}},
      {"contacts: the last XEvtSen or XSensor of each module",
       "\nR 58 cb \nS 01 80 01 02 00 00 03 00 40 00 \nR 58 98 01 \nS 00 00 01 ",
       {kPowerOn, kNoLocos, kNoTurnouts, "contacts occupied:", "  module 1: 16", "  module 3: 10"}},
      {"XSensOff clears the contacts in mixed mode",
       "\nR 58 cb \nS 01 80 00 00 \nR 58 99 \nS 00 ",
       {kPowerOn, kNoLocos, kNoTurnouts, kNoContacts}},
      {"in P50X-only mode XSensOff keeps them",
       "\nR 78 5a 7a 41 31 0d \nS 0d 5d \nR cb \nS 01 80 00 00 \nR 99 \nS 00 ",
       {"power on; P50X-only mode", kNoLocos, kNoTurnouts, "contacts occupied:", "  module 1: 1"}},
      {"a new start of the bridge begins again",
       "\nR 58 80 03 00 40 20 \nS 00 \nR 58 a6 \nS 00 \n-------------\n\nR 58 c8 \nS 00 ",
       {kPowerOn, kNoLocos, kNoTurnouts, kNoContacts}},
  };
  for (const Case& c : cases) EXPECT_EQ(stateOf(c.monitor), c.state) << c.what;
}

TEST(StationView, NamesFromTheLocomotiveListLineUp) {
  const Lines state = stateOf("\nR 58 80 03 00 40 20 \nS 00 \nR 58 80 18 00 00 00 \nS 00 ",
                              {{3, "BR218"}, {200, "Unused"}});
  EXPECT_EQ(state, (Lines{kPowerOn, "locomotives:", "      3 BR218 speed 64 forward",
                          "     24       speed 0 reverse", kNoTurnouts, kNoContacts}));
}

}  // namespace
}  // namespace p50x::trace::test
