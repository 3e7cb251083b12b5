// The three layout list readers on arbitrary bytes, then every command and
// host event that walks what they loaded. A reply that reaches 256 bytes or a
// host message without its line end stops the run.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "common/line_reader.h"
#include "layout/feedback_image.h"
#include "layout/list_file.h"
#include "layout/loco_table.h"
#include "layout/turnout_table.h"

namespace {

using namespace p50x;

class CheckingSink final : public ReplySink {
 public:
  void write(const std::uint8_t* bytes, int length) override {
    if (bytes == nullptr || length < 1 || length >= 256) __builtin_trap();
  }
};

class CheckingHost final : public HostSender {
 public:
  void post(const char* text) override {
    const std::size_t n = std::strlen(text);
    if (n == 0 || text[n - 1] != '\n') __builtin_trap();
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  NullConsole console;
  CheckingHost host;
  CheckingSink sink;
  ReplyChannel reply(sink);

  LocoTable locos(console, host);
  MemoryListSource locoList(data, size);
  locos.loadEntries(locoList);
  TurnoutTable turnouts(console, host);
  MemoryListSource turnoutList(data, size);
  turnouts.loadEntries(turnoutList);
  FeedbackImage image(console);
  MemoryListSource feedbackList(data, size);
  image.loadEntries(feedbackList);

  // A few addresses and names taken from the input itself, so matches happen.
  const int low = size > 0 ? static_cast<std::int8_t>(data[0]) : 0;
  const int high = size > 1 ? static_cast<std::int8_t>(data[1]) : 0;
  const int value = size > 2 ? static_cast<std::int8_t>(data[2]) : 0;
  locos.xLok(reply, low, high, value, high);
  locos.xLokX(reply, low, high, value, low);
  locos.xLokCfg(reply, low, high);
  locos.xFunc(reply, low, high, value);
  locos.xEvtLok(reply);
  for (int a = -128; a < 128; ++a) {
    turnouts.xTrnt(reply, a, value);
    turnouts.xTrntSts(reply, a, high);
  }
  turnouts.xEvtTrn(reply);

  MemoryBytes names(data, size);
  LineReader lines(names);
  TextLine line;
  while (lines.next(line)) {
    line.text[std::strcspn(line.text, ";")] = '\0';
    image.setContact(line.text);
    turnouts.hostTurnout(line.text, 0);
  }
  image.xEvtSen(reply);
  image.x88PSet(reply, 0, value & 0xFF);
  image.x88PGet(reply, 0);
  image.xSensOff(reply);
  image.xEvtSen(reply);
  return 0;
}
