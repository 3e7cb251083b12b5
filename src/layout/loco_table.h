// The station's locomotives: loaded from the locomotive list, driven by the
// P50Xb locomotive commands, reported to the host as speed and light messages.
#pragma once

#include <cstdint>

#include "app/configuration.h"
#include "diag/console.h"
#include "host/host_sender.h"
#include "station/reply.h"

namespace p50x {

// Threads: loaded on the console thread during start-up; every handler runs on
// the serial worker. The host receivers never enter it. No guard needed.
class LocoTable {
 public:
  LocoTable(Console& console, HostSender& host, const Configuration& config);
  ~LocoTable();
  LocoTable(const LocoTable&) = delete;
  LocoTable& operator=(const LocoTable&) = delete;

  // Reads the list (a missing file is reported with perror) and then sends the
  // start message "41;0\n" in every case.
  void load(const char* path);
  int count() const;

  // Parameter bytes arrive as signed 8-bit values widened to int.
  void xLok(ReplyChannel& reply, int low, int high, int speed, int flags);
  void xLokX(ReplyChannel& reply, int low, int high, int rawSpeed, int flags);
  void xLokCfg(ReplyChannel& reply, int low, int high);
  void xFunc(ReplyChannel& reply, int low, int high, int functions);
  void xEvtLok(ReplyChannel& reply);

  // The rest is the implementation's choice.
};

}  // namespace p50x
