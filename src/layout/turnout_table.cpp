// STUB: to be written.
#include "layout/turnout_table.h"

namespace p50x {
TurnoutTable::TurnoutTable(Console&, HostSender&) {}
TurnoutTable::~TurnoutTable() = default;
void TurnoutTable::load(const char*) {}
int TurnoutTable::count() const { return 0; }
void TurnoutTable::xTrnt(ReplyChannel&, int, int) {}
void TurnoutTable::xTrntSts(ReplyChannel&, int, int) {}
void TurnoutTable::xEvtTrn(ReplyChannel&) {}
void TurnoutTable::hostTurnout(const char*, int) {}
}  // namespace p50x
