// p50x-bridge [CONFIG]: plays the command station on the serial line and
// reports to the host application, until ESC or a stop request.
// p50x-bridge --help and --version answer and end at once.
#include <memory>

#include "app/bridge.h"
#include "app/command_line.h"
#include "diag/console.h"
#include "platform/console_input.h"
#include "platform/text.h"

namespace {

class PlatformKeys final : public p50x::KeySource {
 public:
  int readKey(bool& partOfSequence) override {
    const int code = input_.readKey(partOfSequence);
    return code == p50x::platform::KeyInput::kStopRequested ? kStop : code;
  }
  bool stopRequested() override { return input_.stopRequested(); }

 private:
  p50x::platform::KeyInput input_;
};

}  // namespace

int main(int argc, char** argv) {
  p50x::platform::ignoreBrokenPipe();
  p50x::StdConsole console;
  const p50x::CommandLine commandLine = p50x::parseCommandLine(argc, argv);
  if (commandLine.action != p50x::CommandLine::Action::kRun) {
    return p50x::answerCommandLine(commandLine, console);
  }
  // Start-up may block in a connect before there is anything to write out or
  // take down: a stop request then ends the bridge at once, with its status.
  p50x::platform::endOnStopRequests();
  p50x::Bridge bridge(console, p50x::platform::kMonitorOpenFailureText);
  return bridge.run(argc, argv, [] {
    p50x::platform::deferStopRequests();
    return std::make_unique<PlatformKeys>();
  });
}
