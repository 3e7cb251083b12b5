// The station's locomotives: loaded from the locomotive list, driven by the
// P50Xb locomotive and function commands, reported to the host as speed and
// light messages.
#pragma once

#include <cstddef>
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

// Threads: loaded on the console thread during start-up; every command runs on
// the serial worker; appendCommandedMessages runs on whichever thread restores
// the host links, while the serial worker goes on. mutex_ guards the entries
// and the speed report tag. It is held only to look an entry up, change it and
// format its messages; never while a reply is written or a message waits for
// the host.
class LocoTable {
 public:
  // The speed report tag is copied into every speed message; host applications
  // use it to tell apart the bridges (or the settings) a message came from.
  LocoTable(Console& console, HostSender& host, int speedReportTag = 1);
  ~LocoTable();
  LocoTable(const LocoTable&) = delete;
  LocoTable& operator=(const LocoTable&) = delete;

  // Reads the list (a missing file is reported with perror) and then sends the
  // start message "41;0\n" in every case.
  void load(const char* path);
  // The same from a list read beforehand (FileListSource::read).
  void load(FileListSource& list);
  int count() const;

  // Replaces the entries with the records of `source`; sends nothing.
  void loadEntries(ListSource& source);

  void setSpeedReportTag(int tag);

  // Parameter bytes arrive as signed 8-bit values widened to int. While the
  // station is halted a speed above 1 is refused with 0x41: direction, light
  // and functions are stored, the speed stays 0 and the host hears that.
  void xLok(ReplyChannel& reply, int low, int high, int speed, int flags, bool halted = false);
  void xLokX(ReplyChannel& reply, int low, int high, int rawSpeed, int flags, bool halted = false);
  void xLokSts(ReplyChannel& reply, int low, int high);
  void xLokCfg(ReplyChannel& reply, int low, int high);
  void xFunc(ReplyChannel& reply, int low, int high, int f1to8);
  void xFuncX(ReplyChannel& reply, int low, int high, int f9to16);
  void xFunc34(ReplyChannel& reply, int low, int high, int f17to24, int f25to28);
  void xFuncSts(ReplyChannel& reply, int low, int high);
  void xFuncXSts(ReplyChannel& reply, int low, int high);
  void xFunc34Sts(ReplyChannel& reply, int low, int high);
  // Reports, once each, the locomotives whose state changed by other means
  // than the control software's own commands, then the end byte 0x80; with
  // nothing to report the end byte alone.
  void xEvtLok(ReplyChannel& reply);
  // XEvtLok has something to report (the locomotive bit of XEvent).
  bool reportWaiting() const;

  // The emergency stop of the whole layout (XHalt): every locomotive that has
  // a speed gets speed 0, and the host is told each one as an XLok to speed 0
  // would tell it. Each one stopped waits to be reported by XEvtLok. The
  // caller answers the command.
  void haltAll();

  // Appends, in table order, the speed and the light message of every
  // locomotive the serial side has commanded since start (XLok, XLokX, XHalt:
  // the commands the host hears of), as they would be sent now. For a host
  // that has come back and must learn the layout's state again.
  void appendCommandedMessages(std::vector<HostMessage>& messages) const;

  // Entries that share an address or a name with a later line.
  std::vector<ListDuplicate> duplicates() const;

  // A reply of 5 bytes per locomotive and the end byte stays below the 256
  // bytes a serial write takes.
  static constexpr int kMaxReportedLocos = 50;

 private:
  struct Entry {
    char name[kNameSize] = {};
    std::uint8_t addressLow = 0;
    std::uint8_t addressHigh = 0;
    int stepMode = 0;
    int cfgValue = 0;
    std::uint8_t speed = 0;  // signed where it is used as a number
    std::int8_t rawSpeed = 0;
    std::uint8_t flags = 0x60;    // bits 4 to 7: light, direction, stored
    std::uint32_t functions = 0;  // bit 0 = F1 ... bit 27 = F28
    int maxSpeedForward = 0;
    int maxSpeedReverse = 0;
    bool commanded = false;  // the host has been told of it
    int line = 0;            // in the list file
    // Changed by other means than the control software's own commands (only
    // XHalt does that) and not yet reported by XEvtLok.
    bool reportWaiting = false;
  };

  // What the host hears of an entry: its speed message, then its light message.
  struct Report {
    HostMessage speed;
    HostMessage light;
  };

  static constexpr std::uint8_t kDirectionBit = 0x20;
  static constexpr std::uint8_t kLightBit = 0x10;
  // On the station's scale 1 is no speed but the emergency stop.
  static constexpr std::uint8_t kEmergencyStop = 1;

  // Looks the address up under the lock; `work` changes the entry and writes
  // the reply into the area, returning its length. The reply leaves after the
  // lock is released; an address not in the table gets the single byte 0x02.
  template <typename Work>
  void answer(ReplyChannel& reply, int low, int high, Work&& work) {
    std::size_t length = 0;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      Entry* e = findByAddress(low, high);
      length = e != nullptr ? work(*e, reply.area()) : notFound(reply.area());
    }
    reply.send(length);
  }

  // With mutex_ held.
  Entry* findByAddress(int low, int high);
  Report reportOf(const Entry& entry) const;

  static std::size_t notFound(std::uint8_t* out);
  void send(const Report& report);

  // loco_speed.cpp: the speed scales.
  static void convertSpeed(Entry& entry);
  static std::uint8_t ownSteps(const Entry& entry);
  static float hostSpeed(const Entry& entry);

  // loco_functions.cpp: F1 to F28.
  static void takeFlags(Entry& entry, int flags);
  static void setFunctions(Entry& entry, int firstBit, int count, int bits);

  Console& console_;
  HostSender& host_;
  mutable std::mutex mutex_;  // guards everything below
  int speedReportTag_;
  // Walk order: the entry of the file's last line first, so it wins.
  std::vector<Entry> entries_;
};

}  // namespace p50x
