// STUB: to be written.
#include "layout/loco_table.h"

namespace p50x {
LocoTable::LocoTable(Console&, HostSender&, const Configuration&) {}
LocoTable::~LocoTable() = default;
void LocoTable::load(const char*) {}
int LocoTable::count() const { return 0; }
void LocoTable::xLok(ReplyChannel&, int, int, int, int) {}
void LocoTable::xLokX(ReplyChannel&, int, int, int, int) {}
void LocoTable::xLokCfg(ReplyChannel&, int, int) {}
void LocoTable::xFunc(ReplyChannel&, int, int, int) {}
void LocoTable::xEvtLok(ReplyChannel&) {}
}  // namespace p50x
