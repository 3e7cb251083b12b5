#include "station/p50xb_dispatch.h"

#include "layout/feedback_image.h"
#include "layout/loco_table.h"
#include "layout/turnout_table.h"
#include "station/station_state.h"

namespace p50x {

namespace {
// Parameter bytes marked signed reach their handler as signed 8-bit values.
int s(std::uint8_t byte) {
  return static_cast<std::int8_t>(byte);
}

constexpr std::uint8_t kNotSupported = 0x01;

// P50X-only mode: a client there counts on one answer per command and stalls
// on every one it does not get, so the rows without a handler answer as well.
void answerWithoutHandler(const std::uint8_t* in, ReplyChannel& reply, const StationTargets& t) {
  switch (in[0]) {
    case 0x89:  // XFuncX   89 al ah fn            -> 00 (functions go nowhere, as with XFunc)
    case 0x8A:  // XFunc34  8A al ah fn fn         -> 00
    case 0xC4:  // XNop     C4                     -> 00
      reply.send({0x00});
      break;
    case 0x98:  // XSensor  98 module              -> 00 byte1 byte2
      if (t.feedback) {
        t.feedback->xSensor(reply, in[1]);
      } else {
        reply.send({0x00, 0x00, 0x00});
      }
      break;
    default:  // anything else: not supported, never a pretended success
      reply.send({kNotSupported});
      break;
  }
}
}  // namespace

void dispatchP50Xb(const std::uint8_t* in, ReplyChannel& reply, const StationTargets& t,
                   StationMode mode) {
  switch (in[0]) {
    case 0x80:  // XLok     80 al ah speed flags   -> 00 | 02
      if (t.locos) t.locos->xLok(reply, s(in[1]), s(in[2]), s(in[3]), s(in[4]));
      break;
    case 0x81:  // XLokX    81 al ah raw flags     -> 00 | 02
      if (t.locos) t.locos->xLokX(reply, s(in[1]), s(in[2]), s(in[3]), s(in[4]));
      break;
    case 0x85:  // XLokCfg  85 al ah               -> 00 mode cfg FF FF | 02
      if (t.locos) t.locos->xLokCfg(reply, s(in[1]), s(in[2]));
      break;
    case 0x88:  // XFunc    88 al ah fn            -> FF | 02
      if (t.locos) t.locos->xFunc(reply, s(in[1]), s(in[2]), s(in[3]));
      break;
    case 0x90:  // XTrnt    90 al ah|dir           -> 00 | nothing
      if (t.turnouts) t.turnouts->xTrnt(reply, s(in[1]), s(in[2]), mode);
      break;
    case 0x94:  // XTrntSts 94 al ah               -> 00 status | nothing
      if (t.turnouts) t.turnouts->xTrntSts(reply, s(in[1]), s(in[2]));
      break;
    case 0x99:  // XSensOff 99                     -> 00
      if (t.feedback) t.feedback->xSensOff(reply, mode);
      break;
    case 0x9C:  // X88PGet  9C p                   -> 00 value | nothing
      if (t.feedback) t.feedback->x88PGet(reply, in[1]);
      break;
    case 0x9D:  // X88PSet  9D p value             -> 00 | nothing
      if (t.feedback) t.feedback->x88PSet(reply, in[1], in[2]);
      break;
    case 0xA0:  // XVer     A0                     -> 10 version bytes
      if (t.station) t.station->xVer(reply);
      break;
    case 0xA2:  // XStatus  A2                     -> status
      if (t.station) t.station->xStatus(reply);
      break;
    case 0xA6:  // XPwrOff  A6                     -> 00
      if (t.station) t.station->xPwrOff(reply);
      break;
    case 0xA7:  // XPwrOn   A7                     -> 00
      if (t.station) t.station->xPwrOn(reply);
      break;
    case 0xC8:  // XEvent   C8                     -> 00 | 04 (P50X-only: feedback changed)
      if (t.station) {
        const bool changed = mode == StationMode::P50XOnly && t.feedback != nullptr &&
                             t.feedback->changedSinceReport();
        t.station->xEvent(reply, changed);
      }
      break;
    case 0xC9:  // XEvtLok  C9                     -> records, 80 | 80 (P50X-only)
      if (t.locos) t.locos->xEvtLok(reply, mode);
      break;
    case 0xCA:  // XEvtTrn  CA                     -> 00
      if (t.turnouts) t.turnouts->xEvtTrn(reply);
      break;
    case 0xCB:  // XEvtSen  CB                     -> records, 00
      if (t.feedback) t.feedback->xEvtSen(reply);
      break;
    default:  // in the table but without a handler
      // Mixed mode consumes it without a reply, as the station always has.
      if (mode == StationMode::P50XOnly) answerWithoutHandler(in, reply, t);
      break;
  }
}

}  // namespace p50x
