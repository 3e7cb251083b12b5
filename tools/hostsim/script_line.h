// The simulator's small input language: one line typed on the console or
// read from a script.
#pragma once

#include <string>
#include <string_view>

#include "host_links.h"

namespace p50x::hostsim {

struct ScriptLine {
  enum Kind { kNothing, kSend, kSleep, kFreeze, kClose, kQuit, kError };
  Kind kind = kNothing;
  Link link = Link::kEvent;
  Role role = Role::kRead;
  std::string text;  // kSend: the chunk; kError: why the line was refused
  int milliseconds = 0;
};

// Lines:
//   150;1;K1          the text as one chunk on the default link's read connection
//   c:150;1;K1        on the command link's read connection (e: the event link's;
//   cw:... / ew:...   on a write connection)
//   sleep 500         wait 500 ms
//   freeze 4000       read and answer nothing for 4000 ms
//   close event read  end a connection (event|command, read|write)
//   quit              end the simulator
//   # ...             a comment; an empty line does nothing
// In the text the escapes of text_escapes.h stand for their bytes; the typed
// line's own line end is never sent.
ScriptLine parseScriptLine(std::string_view line, Link defaultLink);

}  // namespace p50x::hostsim
