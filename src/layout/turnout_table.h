// The station's turnouts: loaded from the turnout list, driven by the P50Xb
// turnout commands, reported to the host as turnout messages.
#pragma once

#include <bitset>
#include <cstdint>
#include <mutex>
#include <vector>

#include "diag/console.h"
#include "layout/host_messages.h"
#include "layout/list_duplicates.h"
#include "layout/list_file.h"
#include "seams/host_sender.h"
#include "seams/reply.h"

namespace p50x {

// Threads: loaded on the console thread during start-up; the commands run on
// the serial worker, host event 100 on either host receiver, and
// appendCommandedMessages on whichever thread restores the host links. Lookups
// never leave shared state behind; a small mutex guards each read or change of
// an entry and is never held while a reply is written or a message waits for
// the host.
class TurnoutTable {
 public:
  // The addresses the turnout commands carry: a low byte and three high bits.
  static constexpr int kAddressCount = 2048;

  TurnoutTable(Console& console, HostSender& host);
  ~TurnoutTable();
  TurnoutTable(const TurnoutTable&) = delete;
  TurnoutTable& operator=(const TurnoutTable&) = delete;

  void load(const char* path);
  // The same from a list read beforehand (FileListSource::read).
  void load(FileListSource& list);
  int count() const;

  // Replaces the entries with the records of `source`.
  void loadEntries(ListSource& source);

  // A command with the coil bit (0x40) clear right after one with the coil bit
  // set for the same turnout and position only releases the coil: reply 00,
  // no message. Every other command tells the host the position.
  void xTrnt(ReplyChannel& reply, int low, int second);
  void xTrntSts(ReplyChannel& reply, int low, int high);
  // One byte for the eight turnouts of group g (addresses 8(g-1)+1 to 8g).
  void xTrntGrp(ReplyChannel& reply, int group);
  void xEvtTrn(ReplyChannel& reply);
  // XTrnt and XTrntSts for an address in no entry are answered all the same,
  // in both modes: XTrnt with 00, keeping the position, XTrntSts with that
  // position (1 until commanded). The host never hears of such a turnout; the
  // console names each such address once per run, so the user sees what the
  // list lacks.

  // Host event 100: looks the name up; the number changes nothing.
  void hostTurnout(const char* name, int number);

  // Appends, in table order, the turnout message of every turnout the serial
  // side has switched since start, with its state as it would be sent now. A
  // turnout whose partner is missing is left out, as its commands are. For a
  // host that has come back and must learn the layout's state again.
  void appendCommandedMessages(std::vector<HostMessage>& messages) const;

  // Entries that share an address or a name with a later line.
  std::vector<ListDuplicate> duplicates() const;

 private:
  struct Entry {
    char name[kNameSize] = {};
    std::uint8_t addressLow = 0;
    std::uint8_t addressHigh = 0;
    // 1 until commanded: control software reads the positions at start-up and
    // the first combined state of a partner turnout depends on it.
    int position = 1;
    int statusFlag = 0;
    int partner = 0;         // 0: none; else low 8 bits = partner's low address, high 0
    bool commanded = false;  // switched by XTrnt since start
    int line = 0;            // in the list file
    // The last XTrnt switched the coil on: its release is no news.
    bool awaitingRelease = false;
  };

  // Both walk under mutex_ and return a result that stays with the caller.
  Entry* findByAddress(std::uint8_t low, std::uint8_t high);
  const Entry* findByAddress(std::uint8_t low, std::uint8_t high) const;
  Entry* findByName(const char* name);
  // The turnout commands for an address in no entry: false when it has one.
  bool switchUnlisted(ReplyChannel& reply, std::uint8_t low, std::uint8_t high, int direction);
  bool statusUnlisted(ReplyChannel& reply, std::uint8_t low, std::uint8_t high);
  // Under mutex_: true the first time `address` is met without an entry.
  bool firstMeeting(int address);
  void nameUnlisted(int address);
  // The state the turnout message carries; false when the partner is missing.
  bool messageState(const Entry& entry, int& state) const;

  Console& console_;
  HostSender& host_;
  mutable std::mutex mutex_;  // guards entries_ (positions and the list itself)
  // Walk order: the entry of the file's last line first, so it wins.
  std::vector<Entry> entries_;
  // Addresses in no entry, by number (fixed size, whatever the serial side
  // sends): those set to position 0, and those already named on the console.
  std::bitset<kAddressCount> unlistedAtZero_;
  std::bitset<kAddressCount> unlistedNamed_;
};

}  // namespace p50x
