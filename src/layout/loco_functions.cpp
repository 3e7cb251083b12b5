// Locomotive functions F1 to F28 and the status commands that report them.
// Functions never reach the host: its protocol has no message for them. They
// are kept so the status commands tell every client the same.
#include "common/bytes.h"
#include "layout/loco_table.h"
#include "seams/reply_status.h"

namespace p50x {

namespace {
constexpr std::uint32_t kF1ToF4 = 0x0F;
// Bit 7 of the XLok/XLokX flags: its low four bits are F1 to F4 and to be
// taken. Without it they are left alone, so a program that switches functions
// with XFunc keeps them when it changes the speed.
constexpr std::uint8_t kChangeFunctions = 0x80;

}  // namespace

void LocoTable::takeFlags(Entry& e, int flags) {
  e.flags = static_cast<std::uint8_t>(flags);
  if ((e.flags & kChangeFunctions) != 0) setFunctions(e, 0, 4, flags);
}

void LocoTable::setFunctions(Entry& e, int firstBit, int count, int bits) {
  const std::uint32_t mask = ((1u << count) - 1u) << firstBit;
  const std::uint32_t value = static_cast<std::uint32_t>(static_cast<std::uint8_t>(bits))
                              << firstBit;
  e.functions = (e.functions & ~mask) | (value & mask);
}

// X 88 al ah f8..f1 -> 00 | 02
void LocoTable::xFunc(ReplyChannel& reply, int low, int high, int f1to8) {
  answer(reply, low, high, [&](Entry& e, std::uint8_t* out) {
    setFunctions(e, 0, 8, f1to8);
    out[0] = ReplyStatus::kOk;
    return std::size_t{1};
  });
}

// X 89 al ah f16..f9 -> 00 | 02
void LocoTable::xFuncX(ReplyChannel& reply, int low, int high, int f9to16) {
  answer(reply, low, high, [&](Entry& e, std::uint8_t* out) {
    setFunctions(e, 8, 8, f9to16);
    out[0] = ReplyStatus::kOk;
    return std::size_t{1};
  });
}

// X 8A al ah f24..f17 f28..f25 -> 00 | 02; the upper four bits of the last
// byte name no function.
void LocoTable::xFunc34(ReplyChannel& reply, int low, int high, int f17to24, int f25to28) {
  answer(reply, low, high, [&](Entry& e, std::uint8_t* out) {
    setFunctions(e, 16, 8, f17to24);
    setFunctions(e, 24, 4, f25to28);
    out[0] = ReplyStatus::kOk;
    return std::size_t{1};
  });
}

// X 8C al ah -> 00 f8..f1 | 02
void LocoTable::xFuncSts(ReplyChannel& reply, int low, int high) {
  answer(reply, low, high, [](Entry& e, std::uint8_t* out) {
    out[0] = ReplyStatus::kOk;
    out[1] = low8(e.functions);
    return std::size_t{2};
  });
}

// X 8D al ah -> 00 f16..f9 | 02
void LocoTable::xFuncXSts(ReplyChannel& reply, int low, int high) {
  answer(reply, low, high, [](Entry& e, std::uint8_t* out) {
    out[0] = ReplyStatus::kOk;
    out[1] = low8(e.functions >> 8);
    return std::size_t{2};
  });
}

// X 8E al ah -> 00 f24..f17 f28..f25 | 02
void LocoTable::xFunc34Sts(ReplyChannel& reply, int low, int high) {
  answer(reply, low, high, [](Entry& e, std::uint8_t* out) {
    out[0] = ReplyStatus::kOk;
    out[1] = low8(e.functions >> 16);
    out[2] = low8((e.functions >> 24) & 0x0F);
    return std::size_t{3};
  });
}

// X 84 al ah -> 00 speed dir<<5|light<<4|F4..F1 own-steps | 02
void LocoTable::xLokSts(ReplyChannel& reply, int low, int high) {
  answer(reply, low, high, [](Entry& e, std::uint8_t* out) {
    out[0] = ReplyStatus::kOk;
    out[1] = e.speed;
    out[2] = static_cast<std::uint8_t>((e.flags & (kDirectionBit | kLightBit)) |
                                       (e.functions & kF1ToF4));
    out[3] = ownSteps(e);
    return std::size_t{4};
  });
}

}  // namespace p50x
