#include "station/p50xb_dispatch.h"

#include "layout/feedback_image.h"
#include "layout/loco_table.h"
#include "layout/turnout_table.h"
#include "station/station_state.h"

namespace p50x {

namespace {
// Parameter bytes marked signed reach their handler as signed 8-bit values.
int s(std::uint8_t byte) { return static_cast<std::int8_t>(byte); }
}  // namespace

void dispatchP50Xb(const std::uint8_t* in, ReplyChannel& reply, const StationTargets& t) {
  switch (in[1]) {
    case 0x80:  // XLok     X 80 al ah speed flags -> 00 | 02
      if (t.locos) t.locos->xLok(reply, s(in[2]), s(in[3]), s(in[4]), s(in[5]));
      break;
    case 0x81:  // XLokX    X 81 al ah raw flags   -> 00 | 02
      if (t.locos) t.locos->xLokX(reply, s(in[2]), s(in[3]), s(in[4]), s(in[5]));
      break;
    case 0x85:  // XLokCfg  X 85 al ah             -> 00 mode cfg FF FF | 02
      if (t.locos) t.locos->xLokCfg(reply, s(in[2]), s(in[3]));
      break;
    case 0x88:  // XFunc    X 88 al ah fn          -> FF | 02
      if (t.locos) t.locos->xFunc(reply, s(in[2]), s(in[3]), s(in[4]));
      break;
    case 0x90:  // XTrnt    X 90 al ah|dir         -> 00 | nothing
      if (t.turnouts) t.turnouts->xTrnt(reply, s(in[2]), s(in[3]));
      break;
    case 0x94:  // XTrntSts X 94 al ah             -> 00 status | nothing
      if (t.turnouts) t.turnouts->xTrntSts(reply, s(in[2]), s(in[3]));
      break;
    case 0x99:  // XSensOff X 99                   -> 00
      if (t.feedback) t.feedback->xSensOff(reply);
      break;
    case 0x9C:  // X88PGet  X 9C p                 -> 00 value | nothing
      if (t.feedback) t.feedback->x88PGet(reply, in[2]);
      break;
    case 0x9D:  // X88PSet  X 9D p value           -> 00 | nothing
      if (t.feedback) t.feedback->x88PSet(reply, in[2], in[3]);
      break;
    case 0xA0:  // XVer     X A0                   -> 10 version bytes
      if (t.station) t.station->xVer(reply);
      break;
    case 0xA2:  // XStatus  X A2                   -> status
      if (t.station) t.station->xStatus(reply);
      break;
    case 0xA6:  // XPwrOff  X A6                   -> 00
      if (t.station) t.station->xPwrOff(reply);
      break;
    case 0xA7:  // XPwrOn   X A7                   -> 00
      if (t.station) t.station->xPwrOn(reply);
      break;
    case 0xC8:  // XEvent   X C8                   -> 00
      if (t.station) t.station->xEvent(reply);
      break;
    case 0xC9:  // XEvtLok  X C9                   -> records, 80
      if (t.locos) t.locos->xEvtLok(reply);
      break;
    case 0xCA:  // XEvtTrn  X CA                   -> 00
      if (t.turnouts) t.turnouts->xEvtTrn(reply);
      break;
    case 0xCB:  // XEvtSen  X CB                   -> records, 00
      if (t.feedback) t.feedback->xEvtSen(reply);
      break;
    default:  // in the table but without a handler: consumed, no reply
      break;
  }
}

}  // namespace p50x
