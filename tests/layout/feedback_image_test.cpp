#include "layout/feedback_image.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "list_files.h"
#include "support/recording.h"

namespace p50x {
namespace {

using test::bytes;
using test::Bytes;

// K1: module 1 contact 1 (byte 0 bit 7); K2: module 1 contact 16 (byte 1 bit 0);
// K3: module 3 contact 9 (byte 5 bit 7).
constexpr const char* kExample = "K1;1;1\nK2;1;16\nK3;3;9\n";

class FeedbackImageTest : public ::testing::Test {
 protected:
  FeedbackImageTest() { image.setTrafficLog(&log); }
  void load(const std::string& text) { image.load(files.write("feedback.txt", text).c_str()); }
  Bytes reply() { return sink.take(); }
  Bytes evtSen() {
    image.xEvtSen(channel);
    return reply();
  }

  test::TempListFiles files;
  test::RecordingConsole console;
  test::RecordingTrafficLog log;
  test::RecordingSink sink;
  ReplyChannel channel{sink};
  FeedbackImage image{console};
};

TEST_F(FeedbackImageTest, LoadingSizesTheImageByTheHighestModule) {
  load(kExample);
  EXPECT_EQ(image.highestModule(), 3u);
  EXPECT_EQ(image.moduleParameter(), 6);
  EXPECT_EQ(evtSen(), bytes({1, 0, 0, 2, 0, 0, 3, 0, 0, 0}));
  image.x88PGet(channel, 0);
  EXPECT_EQ(reply(), bytes({0x00, 0x06}));
  // The monitor gets the reply a second time from here.
  EXPECT_EQ(log.text(), "S 00 06");
}

TEST_F(FeedbackImageTest, HostEventsSetAndClearContactBits) {
  load(kExample);
  image.setContact("K1");
  image.setContact("K2");
  image.setContact("K3");
  image.setContact("K4");
  EXPECT_EQ(evtSen(), bytes({1, 0x80, 0x01, 2, 0, 0, 3, 0x00, 0x80, 0}));
  image.setContact("K1");  // no toggle
  image.clearContact("K1");
  image.clearContact("K1\n");
  EXPECT_EQ(evtSen(), bytes({1, 0x00, 0x01, 2, 0, 0, 3, 0x00, 0x80, 0}));
  // The report leaves the image as it is.
  EXPECT_EQ(evtSen(), bytes({1, 0x00, 0x01, 2, 0, 0, 3, 0x00, 0x80, 0}));

  image.xSensOff(channel);
  EXPECT_EQ(reply(), bytes({0x00}));
  EXPECT_EQ(evtSen(), bytes({1, 0, 0, 2, 0, 0, 3, 0, 0, 0}));
}

// The flag behind bit 2 of the P50X-only XEvent reply, and the two feedback
// commands that answer differently in that mode.
TEST_F(FeedbackImageTest, ChangeFlagRisesOnRealChangesOnlyAndXEvtSenLowersIt) {
  load(kExample);
  image.setContact("K4");                          // nobody's contact
  image.clearContact("K1");                        // already clear
  image.xSensOff(channel, StationMode::P50XOnly);  // nothing set
  EXPECT_EQ(reply(), bytes({0x00}));
  EXPECT_FALSE(image.changedSinceReport());
  image.setContact("K1");
  EXPECT_TRUE(image.changedSinceReport());
  evtSen();
  image.setContact("K1");  // repeats what the image says
  EXPECT_FALSE(image.changedSinceReport());

  // P50X-only XSensOff keeps the occupancy and has the client fetch it.
  image.xSensOff(channel, StationMode::P50XOnly);
  EXPECT_EQ(reply(), bytes({0x00}));
  EXPECT_TRUE(image.changedSinceReport());
  EXPECT_EQ(evtSen(), bytes({1, 0x80, 0x00, 2, 0, 0, 3, 0, 0, 0}));
  // Mixed mode's XSensOff clears the image and raises nothing.
  image.xSensOff(channel);
  EXPECT_EQ(reply(), bytes({0x00}));
  EXPECT_FALSE(image.changedSinceReport());
  EXPECT_EQ(evtSen(), bytes({1, 0, 0, 2, 0, 0, 3, 0, 0, 0}));
}

TEST_F(FeedbackImageTest, SensorReportsOneModuleAndZerosOutsideTheImage) {
  load(kExample);
  image.setContact("K3");
  for (int module : {3, 2, 0, 4}) image.xSensor(channel, module);
  EXPECT_EQ(sink.writes,
            (std::vector<Bytes>{
                {0x00, 0x00, 0x80}, {0x00, 0x00, 0x00}, {0x00, 0x00, 0x00}, {0x00, 0x00, 0x00}}));
}

TEST_F(FeedbackImageTest, EveryContactHasItsOwnBit) {
  std::string text;
  for (int c = 1; c <= 16; ++c) text += "C" + std::to_string(c) + ";2;" + std::to_string(c) + "\n";
  load(text);
  for (int c = 1; c <= 16; ++c) {
    image.setContact(("C" + std::to_string(c)).c_str());
    const Bytes r = evtSen();
    ASSERT_EQ(r.size(), 7u);
    const unsigned bits = (r[4] << 8) | r[5];
    EXPECT_EQ(bits, 0x10000u >> c) << c;
    image.clearContact(("C" + std::to_string(c)).c_str());
  }
}

TEST_F(FeedbackImageTest, ModuleParameterIsSetAndReadOnlyForParameterZero) {
  load(kExample);
  image.x88PSet(channel, 0, 4);
  EXPECT_EQ(reply(), bytes({0x00}));
  image.x88PGet(channel, 0);
  EXPECT_EQ(reply(), bytes({0x00, 0x04}));
  EXPECT_EQ(image.moduleParameter(), 4);
  EXPECT_EQ(evtSen().size(), 10u);

  // Other parameters: a notice, then 02 (bad parameter), so a client asking
  // for them at start never waits for an answer.
  image.x88PGet(channel, 1);
  image.x88PSet(channel, 2, 9);
  EXPECT_EQ(sink.writes, (std::vector<Bytes>{{0x02}, {0x02}}));
  EXPECT_EQ(console.outText(), "Parameter 1 unbekannt.\nParameter 2 unbekannt.\n");
  EXPECT_EQ(image.moduleParameter(), 4);
  EXPECT_EQ(log.text(), "S 00 04");
}

TEST_F(FeedbackImageTest, MissingFileGivesAnEmptyImage) {
  image.load(files.missing().c_str());
  EXPECT_EQ(console.errText(), "Error opening file: No such file or directory\nRueckmeldeliste \"" +
                                   files.missing() +
                                   "\": No such file or directory; die Liste bleibt leer.\n");
  image.setContact("K1");
  image.clearContact("K1");
  EXPECT_EQ(evtSen(), bytes({0x00}));
  image.xSensOff(channel);
  EXPECT_EQ(reply(), bytes({0x00}));
  image.x88PGet(channel, 0);
  EXPECT_EQ(reply(), bytes({0x00, 0x00}));
  EXPECT_EQ(image.highestModule(), 0u);
}

TEST_F(FeedbackImageTest, RecordsWithoutABitAreSkippedWithANotice) {
  load("M0;0;1\nM256;256;1\nC0;1;0\nC17;1;17\nNeg;-1;1\nHuge;99999999999;1\nOk;2;1\n");
  EXPECT_EQ(image.highestModule(), 2u);
  const std::string notices = console.outText();
  EXPECT_EQ(notices.substr(0, notices.find('\n') + 1),
            files.path("feedback.txt") +
                ":1: Feld 2 (Modul) 0 liegt nicht zwischen 1 und 255; Zeile uebersprungen.\n");
  EXPECT_EQ(std::count(notices.begin(), notices.end(), '\n'), 6);
  EXPECT_NE(notices.find(":6: Feld 2 (Modul) 99999999999 liegt nicht"), std::string::npos);
  for (const char* name : {"M0", "M256", "C0", "C17", "Neg", "Huge", "Ok"}) image.setContact(name);
  EXPECT_EQ(evtSen(), bytes({1, 0, 0, 2, 0x80, 0, 0}));
}

TEST_F(FeedbackImageTest, ReportStopsAfterModule84) {
  load("Far;255;16\nK84;84;16\n");
  EXPECT_EQ(image.highestModule(), 255u);
  image.setContact("K84");
  image.setContact("Far");
  const Bytes r = evtSen();
  ASSERT_EQ(r.size(), 253u);
  EXPECT_EQ(Bytes(r.end() - 4, r.end()), bytes({84, 0x00, 0x01, 0x00}));
}

TEST_F(FeedbackImageTest, TheLaterOfTwoRecordsWithOneNameWins) {
  load("K;1;1\nK;1;2\n");
  image.setContact("K");
  EXPECT_EQ(evtSen(), bytes({1, 0x40, 0x00, 0}));
}

}  // namespace
}  // namespace p50x
