#include "station/text_commands.h"

#include <cstring>

namespace p50x {

namespace {
constexpr std::uint8_t kCr = 0x0D;

// Tried in this order; no line matches two rows.
//
// Mixed mode compares some texts as prefixes only, as control software that
// sends "ZzA0" or "xse" with trailing characters has always been answered.
// P50X-only mode asks for the exact line where a wrong match would switch the
// mode: a client there has said it speaks P50Xb, and a stray "ZzA0..." line
// must not throw it out of that mode.
// clang-format off
constexpr TextCommand kTextCommands[] = {
    // text    lead (mixed)   mixed         P50X-only     reply                       then
    {"ZzA0",   Lead::None,    Match::Start, Match::Line,  TextReply::Prompt,          ModeSwitch::ToMixed},
    {"\x60xv", Lead::None,    Match::Start, Match::Never, TextReply::Identification,  ModeSwitch::Stay},
    {"",       Lead::UpperX,  Match::Line,  Match::Line,  TextReply::Prompt,          ModeSwitch::Stay},  // X CR
    {"ZzA1",   Lead::EitherX, Match::Line,  Match::Line,  TextReply::Prompt,          ModeSwitch::ToP50XOnly},
    {"b57600", Lead::LowerX,  Match::Line,  Match::Line,  TextReply::Prompt,          ModeSwitch::Stay},
    {"b",      Lead::LowerX,  Match::Line,  Match::Line,  TextReply::Baud,            ModeSwitch::Stay},
    {"se",     Lead::LowerX,  Match::Start, Match::Start, TextReply::ModuleParameter, ModeSwitch::Stay},
    {"HALT",   Lead::EitherX, Match::Line,  Match::Line,  TextReply::Halt,            ModeSwitch::Stay},
};
// clang-format on

bool isLead(std::uint8_t byte) {
  return byte == 'X' || byte == 'x';
}

bool leadFits(Lead wanted, std::uint8_t lead) {
  switch (wanted) {
    case Lead::None:
      return lead == 0;
    case Lead::UpperX:
      return lead == 'X';
    case Lead::LowerX:
      return lead == 'x';
    case Lead::EitherX:
      return lead != 0;
  }
  return false;
}

bool textMatches(const char* text, Match match, const std::uint8_t* rest, int length) {
  const int textLength = static_cast<int>(std::strlen(text));
  const int needed = match == Match::Line ? textLength + 1 : textLength;
  if (match == Match::Never || length < needed) return false;
  if (std::memcmp(rest, text, static_cast<std::size_t>(textLength)) != 0) return false;
  return match == Match::Start || rest[textLength] == kCr;
}
}  // namespace

const TextCommand* findTextCommand(const std::uint8_t* line, int length, StationMode mode) {
  const std::uint8_t lead = length > 0 && isLead(line[0]) ? line[0] : 0;
  const std::uint8_t* rest = lead != 0 ? line + 1 : line;
  const int restLength = lead != 0 ? length - 1 : length;
  const bool mixed = mode == StationMode::Mixed;
  for (const TextCommand& command : kTextCommands) {
    if (mixed && !leadFits(command.mixedLead, lead)) continue;
    if (textMatches(command.text, mixed ? command.mixed : command.p50xOnly, rest, restLength)) {
      return &command;
    }
  }
  return nullptr;
}

const char* unknownTextNotice(const std::uint8_t* line, StationMode mode) {
  return mode == StationMode::Mixed && !isLead(line[0]) ? "P50-Befehl\n" : "P50a-Befehl\n";
}

}  // namespace p50x
