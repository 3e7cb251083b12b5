// The operator's keyboard and the system's stop requests, as one source of
// key codes for the console loop.
#pragma once

#include <memory>

namespace p50x::platform {

// Keeps the process alive when a peer closes a socket or the serial line: a
// broken pipe is an error code, never a signal that ends the bridge.
void ignoreBrokenPipe();

// From now on a stop request (Ctrl-C, termination, hang-up; console close on
// Windows) ends the process at once with the bridge's usual exit status 1,
// rather than by the signal's own action, until deferStopRequests.
void endOnStopRequests();

// Routes the system's stop requests (Ctrl-C, termination, hang-up of the
// controlling terminal; console close on Windows) into KeyInput::readKey from
// now on. Before this is called a stop request ends the process at once, which
// is right while start-up has nothing to write out and may block in a connect.
void deferStopRequests();

// Threads: the console thread only.
class KeyInput {
 public:
  static constexpr int kStopRequested = -1;

  // On a terminal, the terminal is put in raw mode: every key's code as it is
  // typed (Enter is 13, Ctrl-Z, Ctrl-\\, Ctrl-S and Ctrl-Q are codes, not
  // signals or flow control), one at a time, without echo. The destructor
  // restores it, and so does a fatal signal or exit() on the way out. Ctrl-C
  // (3) there is a stop request, as SIGINT is from a pipe.
  KeyInput();
  ~KeyInput();
  KeyInput(const KeyInput&) = delete;
  KeyInput& operator=(const KeyInput&) = delete;

  // Blocks for the next key code (0 to 255) or kStopRequested. The codes of a
  // key that sends several (an escape sequence, a two-code key) come one by one
  // with partOfSequence set; only a lone ESC comes as 27 without it. From a pipe
  // or a file each byte is one code; at end of input it waits for a stop
  // request only.
  int readKey(bool& partOfSequence);

  // Without waiting: true when a stop request has come (Ctrl-C typed on a
  // terminal included). Other keys typed meanwhile stay for readKey.
  bool stopRequested();

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace p50x::platform
