#include "bridge_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>

namespace p50x::test {

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

void writeFile(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

BridgeProcess::~BridgeProcess() {
  if (pid_ > 0 && !exited_) {
    ::kill(pid_, SIGKILL);
    waitForExit(std::chrono::seconds(5));
  }
  if (input_ >= 0) ::close(input_);
  if (outReader_.joinable()) outReader_.join();
  if (errReader_.joinable()) errReader_.join();
  if (terminalReader_.joinable()) terminalReader_.join();
}

bool BridgeProcess::start(const std::string& program, const std::vector<std::string>& args,
                          const std::string& workDir, Input input) {
  int in[2] = {-1, -1}, out[2], err[2];
  char terminalName[128] = {};
  if (input == Input::kTerminal) {
    // in[1] is the master the test types into; the child opens the other end.
    in[1] = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (in[1] < 0 || ::grantpt(in[1]) != 0 || ::unlockpt(in[1]) != 0 ||
        ::ptsname_r(in[1], terminalName, sizeof terminalName) != 0) {
      return false;
    }
    terminal_ = terminalName;
  } else if (::pipe2(in, O_CLOEXEC) != 0) {
    return false;
  }
  if (::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0) return false;
  pid_ = ::fork();
  if (pid_ < 0) return false;
  if (pid_ == 0) {
    if (input == Input::kTerminal) {
      ::setsid();
      const int terminal = ::open(terminalName, O_RDWR);
      if (terminal < 0 || ::ioctl(terminal, TIOCSCTTY, 0) != 0) _exit(127);
      ::dup2(terminal, 0);
      ::close(terminal);
    } else {
      ::dup2(in[0], 0);
      ::close(in[0]);
    }
    ::dup2(out[1], 1);
    ::dup2(err[1], 2);
    for (int fd : {in[1], out[0], out[1], err[0], err[1]}) ::close(fd);
    if (::chdir(workDir.c_str()) != 0) _exit(127);
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    if (program.find('/') == std::string::npos) {
      ::execvp(program.c_str(), argv.data());
    } else {
      ::execv(program.c_str(), argv.data());
    }
    _exit(127);
  }
  if (in[0] >= 0) ::close(in[0]);
  ::close(out[1]);
  ::close(err[1]);
  input_ = in[1];
  if (input == Input::kTerminal) {
    // What the program writes to its terminal is taken and dropped, so that a
    // full terminal never blocks it. The read ends with an error once every
    // user of the other end has gone.
    const int master = ::dup(input_);
    terminalReader_ = std::thread([master] {
      char buffer[512];
      while (::read(master, buffer, sizeof buffer) > 0) {
      }
      ::close(master);
    });
  }
  openStreams_ = 2;
  const int outFd = out[0], errFd = err[0];
  outReader_ = std::thread([this, outFd] { drain(outFd, out_); });
  errReader_ = std::thread([this, errFd] { drain(errFd, err_); });
  return true;
}

void BridgeProcess::drain(int fd, std::string& into) {
  char buffer[512];
  for (;;) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n <= 0) break;
    std::lock_guard<std::mutex> lock(mutex_);
    into.append(buffer, static_cast<std::size_t>(n));
    changed_.notify_all();
  }
  ::close(fd);
  std::lock_guard<std::mutex> lock(mutex_);
  --openStreams_;
  changed_.notify_all();
}

void BridgeProcess::type(const std::string& keys) {
  if (input_ >= 0) [[maybe_unused]]
    ssize_t n = ::write(input_, keys.data(), keys.size());
}

void BridgeProcess::closeInput() {
  if (input_ >= 0) ::close(input_);
  input_ = -1;
}

void BridgeProcess::signal(int signalNumber) {
  if (pid_ > 0 && !exited_) ::kill(pid_, signalNumber);
}

bool BridgeProcess::waitForOutput(const std::string& text, std::chrono::milliseconds deadline) {
  std::unique_lock<std::mutex> lock(mutex_);
  return changed_.wait_for(lock, deadline, [&] { return out_.find(text) != std::string::npos; });
}

std::string BridgeProcess::output() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return out_;
}

std::string BridgeProcess::errors() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return err_;
}

int BridgeProcess::waitForExit(std::chrono::milliseconds deadline) {
  if (pid_ <= 0) return -1;
  if (!exited_) {
    // The end of both output streams tells that the process has ended.
    {
      std::unique_lock<std::mutex> lock(mutex_);
      if (!changed_.wait_for(lock, deadline, [this] { return openStreams_ == 0; })) return -1;
    }
    int status = 0;
    if (::waitpid(pid_, &status, 0) != pid_) return -1;
    exited_ = true;
    status_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  if (outReader_.joinable()) outReader_.join();
  if (errReader_.joinable()) errReader_.join();
  return status_;
}

ControlLine::~ControlLine() {
  close();
}

bool ControlLine::openPseudoTerminal(std::string& farEnd) {
  fd_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  char name[128] = {};
  if (fd_ < 0 || ::grantpt(fd_) != 0 || ::unlockpt(fd_) != 0 ||
      ::ptsname_r(fd_, name, sizeof name) != 0) {
    close();
    return false;
  }
  farEndFd_ = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (farEndFd_ < 0) {
    close();
    return false;
  }
  termios t{};
  if (::tcgetattr(farEndFd_, &t) == 0) {
    ::cfmakeraw(&t);
    ::tcsetattr(farEndFd_, TCSANOW, &t);
  }
  farEnd = name;
  return true;
}

bool ControlLine::open(const std::string& path) {
  fd_ = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  if (fd_ < 0) return false;
  termios t{};
  if (::tcgetattr(fd_, &t) == 0) {
    ::cfmakeraw(&t);
    ::tcsetattr(fd_, TCSANOW, &t);
  }
  return true;
}

void ControlLine::close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  if (farEndFd_ >= 0) ::close(farEndFd_);
  farEndFd_ = -1;
}

void ControlLine::send(const std::vector<unsigned char>& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd_, bytes.data() + done, bytes.size() - done);
    if (n > 0) {
      done += static_cast<std::size_t>(n);
      continue;
    }
    // Only a full line is waited out; a line that has gone takes nothing more,
    // and waiting on it would spin (poll reports its hang-up at once).
    if (n < 0 && errno == EINTR) continue;
    if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK)) return;
    pollfd p{fd_, POLLOUT, 0};
    ::poll(&p, 1, 100);
  }
}

std::vector<unsigned char> ControlLine::receive(std::size_t n, std::chrono::milliseconds deadline) {
  std::vector<unsigned char> got;
  const auto end = std::chrono::steady_clock::now() + deadline;
  while (got.size() < n) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        end - std::chrono::steady_clock::now());
    if (left.count() <= 0) break;
    pollfd p{fd_, POLLIN, 0};
    if (::poll(&p, 1, static_cast<int>(left.count())) <= 0) continue;
    unsigned char buffer[256];
    const ssize_t r = ::read(fd_, buffer, std::min(sizeof buffer, n - got.size()));
    if (r > 0) {
      got.insert(got.end(), buffer, buffer + r);
    } else if (r == 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) {
      break;  // the line has gone: nothing more will come
    }
  }
  return got;
}

bool ControlLine::silentFor(std::chrono::milliseconds quiet) {
  pollfd p{fd_, POLLIN, 0};
  return ::poll(&p, 1, static_cast<int>(quiet.count())) == 0;
}

}  // namespace p50x::test
