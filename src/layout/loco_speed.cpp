// The locomotive speed scales: the locomotive's own steps, the station's 0 to
// 127 scale, and the host's units.
#include <cstdlib>

#include "common/bytes.h"
#include "layout/loco_table.h"

namespace p50x {

namespace {
// Step mode 0: raw steps 0..15 on the station's 0..127 scale. Step 14 is full
// speed and step 15 reads as 1, the station's emergency stop. Control software
// reads the converted speed back (XLokSts) and expects exactly these values,
// so the table stays as it is even where it looks uneven.
constexpr std::uint8_t kStepTable[16] = {0,  2,  10, 19, 29,  38,  48,  57,
                                         67, 76, 86, 95, 105, 114, 127, 1};
constexpr int kEmergencyStep = 15;

// Turns a top speed from the locomotive list into the units the host shows.
// Host applications have always been sent values made with exactly this factor
// (and the single-precision steps of hostSpeed) and are set up for them; a
// "rounder" factor would move every reported speed by a few tenths.
constexpr double kSpeedScale = 3.19284802;

}  // namespace

void LocoTable::convertSpeed(Entry& e) {
  const int raw = e.rawSpeed;
  switch (e.stepMode) {
    case 0:
      // Outside the table there is no step to take: keep the old speed.
      if (raw >= 0 && raw < 16) e.speed = kStepTable[raw];
      break;
    // Integer steps truncated toward zero and cut to 8 bits, as the station
    // always computed them: control software compares the XEvtLok speed with
    // its own conversion.
    case 1:  // 27 steps onto 126; above 27 the low 8 bits (28 -> 130)
      e.speed = low8(126 * raw / 27);
      break;
    case 2:  // 28 steps onto 126
      e.speed = low8(126 * raw / 28);
      break;
    case 3:  // already on the station's scale
      e.speed = low8(raw);
      break;
    default:
      break;
  }
}

// The speed in the locomotive's own steps, as XLokSts reports it. After XLokX
// that is the raw speed it was given; after XLok (or a halt) the raw speed
// would be stale, so the stored speed is taken back onto the step scale.
std::uint8_t LocoTable::ownSteps(const Entry& e) {
  Entry fromRaw = e;
  convertSpeed(fromRaw);
  if (fromRaw.speed == e.speed) return static_cast<std::uint8_t>(e.rawSpeed);
  const int speed = e.speed;
  switch (e.stepMode) {
    case 0: {
      if (speed == kEmergencyStop) return kEmergencyStep;
      int best = 0;
      for (int step = 1; step < kEmergencyStep; ++step) {
        if (std::abs(kStepTable[step] - speed) < std::abs(kStepTable[best] - speed)) best = step;
      }
      return low8(best);
    }
    case 1:  // nearest of 27 steps
      return low8((speed * 27 + 63) / 126);
    case 2:  // nearest of 28 steps
      return low8((speed * 28 + 63) / 126);
    default:
      return e.speed;
  }
}

// The host wants the speed in its own units: the top speed of the direction
// scaled by the station speed, signed by the direction bit. Each step is
// rounded to single precision, so the printed decimal matches what the host
// has always been sent. An emergency stop leaves the locomotive standing, so
// the host hears a standstill rather than the slowest crawl.
float LocoTable::hostSpeed(const Entry& e) {
  const bool forward = (e.flags & kDirectionBit) != 0;
  const int top = forward ? e.maxSpeedForward : e.maxSpeedReverse;
  const float a = static_cast<float>(static_cast<double>(top) * kSpeedScale);
  const int speed = e.speed == kEmergencyStop ? 0 : static_cast<std::int8_t>(e.speed);
  const float v = static_cast<float>(static_cast<double>(a) * speed / 126);
  // A standstill in reverse stays -0.0: host applications take the sign as the
  // direction even at speed 0, so a stop must not turn the locomotive round.
  return forward ? v : -v;
}

}  // namespace p50x
