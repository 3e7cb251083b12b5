// The station's locomotives: loaded from the locomotive list, driven by the
// P50Xb locomotive commands, reported to the host as speed and light messages.
#pragma once

#include <cstdint>
#include <mutex>
#include <vector>

#include "diag/console.h"
#include "layout/host_messages.h"
#include "layout/list_file.h"
#include "seams/host_sender.h"
#include "seams/reply.h"
#include "seams/station_mode.h"

namespace p50x {

// Threads: loaded on the console thread during start-up; every handler runs on
// the serial worker; collectReplay on the host links' healer. mutex_ guards
// what a command changes (speed, flags, the commanded mark) for the healer's
// reading; it is never held while a message waits for the host.
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
  int count() const;

  // Replaces the entries with the records of `source`; sends nothing.
  void loadEntries(ListSource& source);

  void setSpeedReportTag(int tag) { speedReportTag_ = tag; }

  // Parameter bytes arrive as signed 8-bit values widened to int.
  void xLok(ReplyChannel& reply, int low, int high, int speed, int flags);
  void xLokX(ReplyChannel& reply, int low, int high, int rawSpeed, int flags);
  void xLokCfg(ReplyChannel& reply, int low, int high);
  void xFunc(ReplyChannel& reply, int low, int high, int functions);
  // Mixed mode reports every locomotive; in P50X-only mode no other controller
  // can have changed one, so the report is the end byte alone.
  void xEvtLok(ReplyChannel& reply, StationMode mode = StationMode::Mixed);

  // Appends the speed and light message of every locomotive commanded since
  // start, in table order, with its latest state: what a host that has been
  // connected again must hear.
  void collectReplay(std::vector<HostMessage>& out) const;

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
    std::uint8_t flags = 0x60;  // direction bit set, light clear
    std::uint8_t functions = 0;
    int maxSpeedForward = 0;
    int maxSpeedReverse = 0;
    bool commanded = false;  // reported to the host at least once
  };

  // On failure writes the not-found reply 0x02 itself.
  Entry* findByAddress(ReplyChannel& reply, int low, int high);
  static void convertSpeed(Entry& entry);
  // The speed and light message of the entry as it stands.
  void messagesFor(const Entry& entry, HostMessage& speed, HostMessage& light) const;
  void reportToHost(const HostMessage& speed, const HostMessage& light);

  Console& console_;
  HostSender& host_;
  int speedReportTag_;
  mutable std::mutex mutex_;
  // Walk order: the entry of the file's last line first, so it wins.
  std::vector<Entry> entries_;
};

}  // namespace p50x
