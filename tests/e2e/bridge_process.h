// The bridge as a separate process, as users run it: its standard input is a
// pipe the test types into, its output is captured for the test to read.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace p50x::test {

// Whole files, bytes as they are (settings in, monitor file out).
std::string readFile(const std::string& path);
void writeFile(const std::string& path, const std::string& text);

class BridgeProcess {
 public:
  // kPipe: standard input is a pipe. kTerminal: it is a pseudo-terminal that
  // becomes the controlling terminal of a new session, as a console window is
  // for a program started in it; Ctrl-C typed on it then interrupts the
  // program (Wine makes that the console's Ctrl-C).
  enum class Input { kPipe, kTerminal };

  BridgeProcess() = default;
  ~BridgeProcess();
  BridgeProcess(const BridgeProcess&) = delete;
  BridgeProcess& operator=(const BridgeProcess&) = delete;

  // Starts `program args...` in `workDir`; a program without a slash is looked
  // up on PATH.
  bool start(const std::string& program, const std::vector<std::string>& args,
             const std::string& workDir, Input input = Input::kPipe);

  void type(const std::string& keys);  // onto standard input
  void closeInput();                   // end of standard input
  void signal(int signalNumber);

  // Waits until standard output holds `text` (or the deadline passes).
  bool waitForOutput(const std::string& text,
                     std::chrono::milliseconds deadline = std::chrono::seconds(10));
  std::string output() const;
  std::string errors() const;

  // Waits for the end; returns the exit status, or -1 on a deadline / a signal.
  int waitForExit(std::chrono::milliseconds deadline = std::chrono::seconds(10));
  bool running() const { return pid_ > 0 && !exited_; }
  // kTerminal: the path of the program's terminal.
  const std::string& terminal() const { return terminal_; }
  int pid() const { return pid_; }

 private:
  void drain(int fd, std::string& into);

  int pid_ = -1;
  bool exited_ = false;
  int status_ = -1;
  int input_ = -1;
  std::string terminal_;
  std::thread outReader_;
  std::thread errReader_;
  std::thread terminalReader_;  // kTerminal: takes what the program writes to its terminal
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  int openStreams_ = 0;  // output streams not yet at their end
  std::string out_;
  std::string err_;
};

// The control software's end of the serial line: a pty path opened raw.
class ControlLine {
 public:
  ~ControlLine();
  bool open(const std::string& path);
  // Makes a new pseudo-terminal and becomes its master: farEnd receives the
  // path of the other end, set raw, for the bridge to open as its port.
  // Closing the line then hangs that end up.
  bool openPseudoTerminal(std::string& farEnd);
  void close();
  void send(const std::vector<unsigned char>& bytes);
  // Reads exactly n bytes, or what arrived before the deadline.
  std::vector<unsigned char> receive(std::size_t n,
                                     std::chrono::milliseconds deadline = std::chrono::seconds(5));
  // True when nothing arrives within the given time.
  bool silentFor(std::chrono::milliseconds quiet);

 private:
  int fd_ = -1;
  int farEndFd_ = -1;  // keeps the far end's raw settings while nobody has it open
};

}  // namespace p50x::test
