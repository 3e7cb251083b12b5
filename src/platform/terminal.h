// Whether standard output is a terminal that a program can redraw in place.
#pragma once

namespace p50x::platform {

// True when standard output is a terminal that takes the escape sequences
// "ESC [ H" (cursor home) and "ESC [ J" (clear to the end of the screen); on
// Windows the console is switched to take them, where it can. False for a
// pipe or a file, which then get a new block for each change instead.
bool prepareRedrawInPlace();

}  // namespace p50x::platform
