// pty:PATH on Linux: the bridge is the far end of a pseudo-terminal whose
// other side the control software opens through a symbolic link at PATH, as
// if it were a serial port of the machine.
#pragma once

#include <string>
#include <string_view>

namespace p50x {
class Console;
}

namespace p50x::platform {

// The serial port name that asks for a pseudo-terminal: pty:PATH.
inline constexpr std::string_view kPtyPrefix = "pty:";

// Threads: the console thread, or the worker while it runs (see
// SerialDevice); never both. No guard of its own.
class PseudoTerminal {
 public:
  PseudoTerminal() = default;
  ~PseudoTerminal() { close(); }
  PseudoTerminal(const PseudoTerminal&) = delete;
  PseudoTerminal& operator=(const PseudoTerminal&) = delete;

  // Makes the pseudo-terminal and links `linkPath` to it. Returns 0 or the
  // errno; the console hears why a path that is not ours was left alone.
  int open(const std::string& linkPath, Console& console);
  // Removes the link if it is still ours, then closes both sides.
  void close();

  bool isOpen() const { return master_ >= 0; }
  // The bridge's side, for reading and writing.
  int master() const { return master_; }
  // The control software's side, where the terminal settings live.
  int slave() const { return slave_; }

 private:
  int placeLink(const char* target, const std::string& path, Console& console);
  void removeOwnLink();

  int master_ = -1;
  int slave_ = -1;
  std::string linkPath_;
  std::string slaveName_;
};

}  // namespace p50x::platform
