// What the station must answer, given what the control program commanded
// before: a small model of its state (locomotives, turnouts, power, mode), and
// what the host must know of it in the end. Feedback contacts are the host's
// to change, so their bytes are left to the contact ledger.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace p50x::soak {

using Bytes = std::vector<std::uint8_t>;

// The station's behaviour as the merged code gives it. Each flag can be
// switched off to run against a bridge from before the change it names.
struct Dialect {
  bool repliesNeverWaitForHost = true;  // a slow or hung host leaves the replies alone
  bool unknownTurnoutsAnswered = true;  // XTrnt/XTrntSts for an address in no entry
  bool locoEventsOnlyAfterHalt = true;  // XEvtLok: the end byte alone unless XHalt stopped one
  bool textHaltAndWiderOpcodes = true;  // "XHALT" CR; XClkSet, XSoSet, XEvtBiDi
};

// The layout the soak writes into the three lists. Locomotives use step mode 3
// (the station's own scale), so XLokX needs no step table here.
struct LocoEntry {
  std::string name;
  std::uint8_t low;
  std::uint8_t high;
  int configValue;
  int topForward;
  int topReverse;
};
struct TurnoutEntry {
  std::string name;
  int address;  // 1 to 12, no partner
  bool statusFlag;
};
struct Layout {
  static constexpr int kModules = 16;  // 16 contacts each, "K1" to "K256"
  static constexpr int kContacts = 16 * kModules;
  std::vector<LocoEntry> locos;
  std::vector<TurnoutEntry> turnouts;
  static Layout standard();
  std::string locoList() const;
  std::string turnoutList() const;
  static std::string contactList();
  static std::string contactName(int contact);  // 0-based
};

// Which bytes of a reply show feedback contacts: those are checked against
// the host's events, not against the model.
enum class Feedback { kNone, kEvtSen, kSensor, kEvent };

struct Expectation {
  Bytes reply;  // empty: the station must stay silent
  Feedback feedback = Feedback::kNone;
  int module = 0;  // kSensor
};

// Threads: the control program's only.
class StationModel {
 public:
  StationModel(const Layout& layout, Dialect dialect);

  // The reply to `command` (as sent, prefix included) in the current mode,
  // with the state changed as the station changes it. A command the station
  // does not know is the caller's mistake: it gets an empty expectation.
  Expectation command(const Bytes& command);
  // A binary command cut short and dropped after its pause changes nothing.

  bool p50xOnly() const { return p50xOnly_; }
  const Dialect& dialect() const { return dialect_; }

  // What the host's last messages must say, per "371;name", "381;name" and
  // "305;name": every locomotive and turnout commanded since the start.
  std::map<std::string, std::string> hostView() const;

 private:
  struct Loco {
    LocoEntry listed;
    std::uint8_t speed = 0;
    std::uint8_t raw = 0;
    std::uint8_t flags = 0x60;
    std::uint32_t functions = 0;
    bool commanded = false;
    bool reportWaiting = false;  // stopped by XHalt, not yet in XEvtLok
  };
  struct Turnout {
    std::string name;  // empty: in no entry
    bool statusFlag = false;
    int position = 1;  // until commanded
    bool commanded = false;
  };

  Expectation binary(const std::uint8_t* in, std::size_t length);
  Expectation text(const std::string& line);
  Expectation loco(const std::uint8_t* in);
  Expectation turnout(const std::uint8_t* in);
  Expectation locoEvents();
  void halt();
  Loco* findLoco(std::uint8_t low, std::uint8_t high);
  Turnout* findTurnout(int address, bool create);
  static std::string speedText(const Loco& loco);

  Dialect dialect_;
  std::vector<Loco> locos_;  // in the station's walk order: the list's last line first
  std::map<int, Turnout> turnouts_;
  std::uint8_t status_ = 0x08;
  bool p50xOnly_ = false;
};

}  // namespace p50x::soak
