// The station's turnouts: loaded from the turnout list, driven by the P50Xb
// turnout commands, reported to the host as turnout messages.
#pragma once

#include "diag/console.h"
#include "host/host_sender.h"
#include "station/reply.h"

namespace p50x {

// Threads: loaded on the console thread during start-up; the commands run on
// the serial worker, host event 100 on either host receiver. Lookups never
// leave shared state behind; a small mutex guards each read or change of an
// entry and is never held while a message waits for the host.
class TurnoutTable {
 public:
  TurnoutTable(Console& console, HostSender& host);
  ~TurnoutTable();
  TurnoutTable(const TurnoutTable&) = delete;
  TurnoutTable& operator=(const TurnoutTable&) = delete;

  void load(const char* path);
  int count() const;

  void xTrnt(ReplyChannel& reply, int low, int second);
  void xTrntSts(ReplyChannel& reply, int low, int high);
  void xEvtTrn(ReplyChannel& reply);

  // Host event 100: looks the name up; the number changes nothing.
  void hostTurnout(const char* name, int number);
};

}  // namespace p50x
