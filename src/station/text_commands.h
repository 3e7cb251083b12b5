// The P50 and P50Xa text commands the station answers, and how a complete
// line is matched against them in each mode.
#pragma once

#include <cstdint>

#include "seams/station_mode.h"

namespace p50x {

// What the station sends back for a text command it knows.
enum class TextReply : std::uint8_t {
  Prompt,           // CR "]"
  Identification,   // the station's revision and serial number, then the prompt
  Baud,             // "57600" and the prompt
  ModuleParameter,  // "SE <module parameter>" and the prompt
  // The emergency stop as text: "Ok" CR, without the prompt. The drivers that
  // send it read the answer up to its CR, and a "]" behind it would be taken as
  // the reply to their next command.
  Halt,
};

enum class ModeSwitch : std::uint8_t { Stay, ToMixed, ToP50XOnly };

// How much of the line after its lead a command's text has to match.
enum class Match : std::uint8_t {
  Never,  // the command does not exist in this mode
  Start,  // the line starts with the text; what follows up to the CR is not looked at
  Line,   // the text, then the line's CR
};

// The "X"/"x" before the text that a command takes in mixed mode, where the
// lead tells P50Xa text from P50 text. In P50X-only mode every text line is a
// P50Xa command and the lead is optional.
enum class Lead : std::uint8_t { None, UpperX, LowerX, EitherX };

struct TextCommand {
  const char* text;  // after the lead
  Lead mixedLead;
  Match mixed;
  Match p50xOnly;
  TextReply reply;
  ModeSwitch then;
};

// The command a complete line (its last byte a CR) is in `mode`, or nullptr.
// In P50X-only mode the line ends at its first CR, so Start and Line differ
// only for texts that stop short of the CR.
const TextCommand* findTextCommand(const std::uint8_t* line, int length, StationMode mode);

// The console notice for a line that is no command: P50 text in mixed mode
// without a lead, P50Xa text otherwise.
const char* unknownTextNotice(const std::uint8_t* line, StationMode mode);

}  // namespace p50x
