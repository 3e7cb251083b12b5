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

void dispatchP50Xb(const CommandDescriptor& row, const std::uint8_t* in, ReplyChannel& reply,
                   Console& console, const StationTargets& t, StationMode mode) {
  const bool p50xOnly = mode == StationMode::P50XOnly;
  switch (row.handler) {
    case CommandHandler::XLok:  // 80 al ah speed flags -> 00 | 02
      if (t.locos) t.locos->xLok(reply, s(in[1]), s(in[2]), s(in[3]), s(in[4]));
      break;
    case CommandHandler::XLokX:  // 81 al ah raw flags -> 00 | 02
      if (t.locos) t.locos->xLokX(reply, s(in[1]), s(in[2]), s(in[3]), s(in[4]));
      break;
    case CommandHandler::XLokCfg:  // 85 al ah -> 00 mode cfg FF FF | 02
      if (t.locos) t.locos->xLokCfg(reply, s(in[1]), s(in[2]));
      break;
    case CommandHandler::XFunc:  // 88 al ah fn -> FF | 02
      if (t.locos) t.locos->xFunc(reply, s(in[1]), s(in[2]), s(in[3]));
      break;
    case CommandHandler::XTrnt:  // 90 al ah|dir -> 00 | nothing
      if (t.turnouts) t.turnouts->xTrnt(reply, s(in[1]), s(in[2]), mode);
      break;
    case CommandHandler::XTrntSts:  // 94 al ah -> 00 status | nothing
      if (t.turnouts) t.turnouts->xTrntSts(reply, s(in[1]), s(in[2]));
      break;
    case CommandHandler::XSensOff:  // 99 -> 00
      if (t.feedback) t.feedback->xSensOff(reply, mode);
      break;
    case CommandHandler::X88PGet:  // 9C p -> 00 value | nothing
      if (t.feedback) t.feedback->x88PGet(reply, in[1]);
      break;
    case CommandHandler::X88PSet:  // 9D p value -> 00 | nothing
      if (t.feedback) t.feedback->x88PSet(reply, in[1], in[2]);
      break;
    case CommandHandler::XVer:  // A0 -> 10 version bytes
      if (t.station) t.station->xVer(reply);
      break;
    case CommandHandler::XStatus:  // A2 -> status
      if (t.station) t.station->xStatus(reply);
      break;
    case CommandHandler::XPwrOff:  // A6 -> 00
      if (t.station) t.station->xPwrOff(reply);
      break;
    case CommandHandler::XPwrOn:  // A7 -> 00
      if (t.station) t.station->xPwrOn(reply);
      break;
    case CommandHandler::XEvent:  // C8 -> 00 | 04 (P50X-only: feedback changed)
      if (t.station) {
        const bool changed = p50xOnly && t.feedback != nullptr && t.feedback->changedSinceReport();
        t.station->xEvent(reply, changed);
      }
      break;
    case CommandHandler::XEvtLok:  // C9 -> records, 80 | 80 (P50X-only)
      if (t.locos) t.locos->xEvtLok(reply, mode);
      break;
    case CommandHandler::XEvtTrn:  // CA -> 00
      if (t.turnouts) t.turnouts->xEvtTrn(reply);
      break;
    case CommandHandler::XEvtSen:  // CB -> records, 00
      if (t.feedback) t.feedback->xEvtSen(reply);
      break;

    // Rows without a handler of their own. Mixed mode consumes them without a
    // reply, as the station always has. A P50X-only client counts on one
    // answer per command and stalls on every one it does not get, so there
    // they answer.
    case CommandHandler::XFuncX:   // 89 al ah fn -> 00 (functions go nowhere, as with XFunc)
    case CommandHandler::XFunc34:  // 8A al ah fn fn -> 00
    case CommandHandler::XNop:     // C4 -> 00
      if (p50xOnly) reply.send({ReplyStatus::kOk});
      break;
    case CommandHandler::XSensor:  // 98 module -> 00 byte1 byte2
      if (!p50xOnly) break;
      if (t.feedback) {
        t.feedback->xSensor(reply, in[1]);
      } else {
        reply.send({ReplyStatus::kOk, 0x00, 0x00});
      }
      break;
    case CommandHandler::ProgrammingTrack:  // only P50X-only mode frames these
      console.print("Programmiergleis-Befehl %02x nicht unterstuetzt.\n",
                    static_cast<unsigned>(in[0]));
      reply.send({ReplyStatus::kNotSupported});
      break;
    case CommandHandler::XLokSts:
    case CommandHandler::XFuncSts:
    case CommandHandler::XFuncXSts:
    case CommandHandler::XFunc34Sts:
    case CommandHandler::XTrntGrp:
    case CommandHandler::XSoGet:
    case CommandHandler::XHalt:
    case CommandHandler::NotSupported:
    case CommandHandler::EmbeddedP50:
      // Not supported, never a pretended success.
      if (p50xOnly) reply.send({ReplyStatus::kNotSupported});
      break;
    case CommandHandler::None:
      break;
  }
}

}  // namespace p50x
