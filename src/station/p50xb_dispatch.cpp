#include "station/p50xb_dispatch.h"

#include "layout/feedback_image.h"
#include "layout/loco_table.h"
#include "layout/turnout_table.h"
#include "seams/reply_status.h"
#include "station/station_state.h"

namespace p50x {

namespace {
// Parameter bytes marked signed reach their handler as signed 8-bit values.
int s(std::uint8_t byte) {
  return static_cast<std::int8_t>(byte);
}
}  // namespace

void haltLayout(const StationTargets& t, ReplyChannel& reply,
                std::initializer_list<std::uint8_t> answer) {
  if (!t.station) return;
  t.station->halt();
  reply.send(answer);
  if (t.locos) t.locos->haltAll();
}

// Every row is answered in both modes except XP50Len1/2, which a station never
// answers: a client that gets an answer it did not wait for reads it as the
// reply to its next command, and from then on every reply is one off. The
// modes differ only where a P50X-only client can rely on being the station's
// only controller (XEvent, XSensOff).
void dispatchP50Xb(const CommandDescriptor& row, const std::uint8_t* in, ReplyChannel& reply,
                   OpcodeNotices& notices, const StationTargets& t, StationMode mode) {
  const bool p50xOnly = mode == StationMode::P50XOnly;
  const bool halted = t.station != nullptr && t.station->halted();
  switch (row.handler) {
    case CommandHandler::XLok:  // 80 al ah speed flags -> 00 | 41 | 02
      if (t.locos) t.locos->xLok(reply, s(in[1]), s(in[2]), s(in[3]), s(in[4]), halted);
      break;
    case CommandHandler::XLokX:  // 81 al ah raw flags -> 00 | 41 | 02
      if (t.locos) t.locos->xLokX(reply, s(in[1]), s(in[2]), s(in[3]), s(in[4]), halted);
      break;
    case CommandHandler::XLokSts:  // 84 al ah -> 00 speed dir|light|F4..F1 steps | 02
      if (t.locos) t.locos->xLokSts(reply, s(in[1]), s(in[2]));
      break;
    case CommandHandler::XLokCfg:  // 85 al ah -> 00 mode cfg FF FF | 02
      if (t.locos) t.locos->xLokCfg(reply, s(in[1]), s(in[2]));
      break;
    case CommandHandler::XFunc:  // 88 al ah f8..f1 -> 00 | 02
      if (t.locos) t.locos->xFunc(reply, s(in[1]), s(in[2]), s(in[3]));
      break;
    case CommandHandler::XFuncX:  // 89 al ah f16..f9 -> 00 | 02
      if (t.locos) t.locos->xFuncX(reply, s(in[1]), s(in[2]), s(in[3]));
      break;
    case CommandHandler::XFunc34:  // 8A al ah f24..f17 f28..f25 -> 00 | 02
      if (t.locos) t.locos->xFunc34(reply, s(in[1]), s(in[2]), s(in[3]), s(in[4]));
      break;
    case CommandHandler::XFuncSts:  // 8C al ah -> 00 f8..f1 | 02
      if (t.locos) t.locos->xFuncSts(reply, s(in[1]), s(in[2]));
      break;
    case CommandHandler::XFuncXSts:  // 8D al ah -> 00 f16..f9 | 02
      if (t.locos) t.locos->xFuncXSts(reply, s(in[1]), s(in[2]));
      break;
    case CommandHandler::XFunc34Sts:  // 8E al ah -> 00 f24..f17 f28..f25 | 02
      if (t.locos) t.locos->xFunc34Sts(reply, s(in[1]), s(in[2]));
      break;
    case CommandHandler::XTrnt:  // 90 al ah|coil|dir -> 00
      if (t.turnouts) t.turnouts->xTrnt(reply, s(in[1]), s(in[2]));
      break;
    case CommandHandler::XTrntSts:  // 94 al ah -> 00 status
      if (t.turnouts) t.turnouts->xTrntSts(reply, s(in[1]), s(in[2]));
      break;
    case CommandHandler::XTrntGrp:  // 95 g -> 00 positions 00
      if (t.turnouts) t.turnouts->xTrntGrp(reply, in[1]);
      break;
    case CommandHandler::XSensor:  // 98 module -> 00 byte1 byte2
      if (t.feedback) t.feedback->xSensor(reply, in[1]);
      break;
    case CommandHandler::XSensOff:  // 99 -> 00
      if (t.feedback) t.feedback->xSensOff(reply, mode);
      break;
    case CommandHandler::X88PGet:  // 9C p -> 00 value | 02
      if (t.feedback) t.feedback->x88PGet(reply, in[1]);
      break;
    case CommandHandler::X88PSet:  // 9D p value -> 00 | 02
      if (t.feedback) t.feedback->x88PSet(reply, in[1], in[2]);
      break;
    case CommandHandler::XVer:  // A0 -> 10 version bytes
      if (t.station) t.station->xVer(reply);
      break;
    case CommandHandler::XStatus:  // A2 -> status
      if (t.station) t.station->xStatus(reply);
      break;
    case CommandHandler::XSoGet:  // A4 lo hi -> 02
      if (t.station) t.station->xSoGet(reply);
      break;
    case CommandHandler::XHalt:  // A5 -> 00; then speed and light of every moving loco
      haltLayout(t, reply, {ReplyStatus::kOk});
      break;
    case CommandHandler::XPwrOff:  // A6 -> 00
      if (t.station) t.station->xPwrOff(reply);
      break;
    case CommandHandler::XPwrOn:  // A7 -> 00
      if (t.station) t.station->xPwrOn(reply);
      break;
    case CommandHandler::XNop:  // C4 -> 00
      reply.send({ReplyStatus::kOk});
      break;
    case CommandHandler::XEvent:  // C8 -> 00 | 01 locos to report | 04 feedback (P50X-only)
      if (t.station) {
        const bool locos = p50xOnly && t.locos != nullptr && t.locos->reportWaiting();
        const bool changed = p50xOnly && t.feedback != nullptr && t.feedback->changedSinceReport();
        t.station->xEvent(reply, locos, changed);
      }
      break;
    case CommandHandler::XEvtLok:  // C9 -> records of the locos XHalt stopped, 80 | 80
      if (t.locos) t.locos->xEvtLok(reply);
      break;
    case CommandHandler::XEvtTrn:  // CA -> 00
      if (t.turnouts) t.turnouts->xEvtTrn(reply);
      break;
    case CommandHandler::XEvtSen:  // CB -> records, 00
      if (t.feedback) t.feedback->xEvtSen(reply);
      break;
    case CommandHandler::Accepted:  // C0 hh mm dd ff -> 00; D2 -> 00 (no data)
      reply.send({ReplyStatus::kOk});
      break;
    case CommandHandler::NotSupported:  // -> 01, never a pretended success
      notices.print(in[0], "P50Xb-Befehl %s nicht unterstuetzt.\n", row.name);
      reply.send({ReplyStatus::kNotSupported});
      break;
    case CommandHandler::EmbeddedP50:  // C6 b -> nothing; C7 b b -> nothing
      if (row.lastIndex == 2) {
        notices.print(in[0], "%s: P50-Befehl %02x ignoriert.\n", row.name,
                      static_cast<unsigned>(in[1]));
      } else {
        notices.print(in[0], "%s: P50-Befehl %02x %02x ignoriert.\n", row.name,
                      static_cast<unsigned>(in[1]), static_cast<unsigned>(in[2]));
      }
      break;
    case CommandHandler::ProgrammingTrack:  // -> 01
      notices.print(in[0], "Programmiergleis-Befehl %02x nicht unterstuetzt.\n",
                    static_cast<unsigned>(in[0]));
      reply.send({ReplyStatus::kNotSupported});
      break;
    case CommandHandler::None:
      break;
  }
}

}  // namespace p50x
