// STUB: to be written (framing of P50, P50Xa and P50Xb).
#include "station/command_assembler.h"

namespace p50x {
CommandAssembler::CommandAssembler(ReplySink& sink, Console& console)
    : console_(console), reply_(sink) {}
void CommandAssembler::feed(int, const std::uint8_t*) {}
void CommandAssembler::printPadded(Console&, int, const char*) {}
}  // namespace p50x
