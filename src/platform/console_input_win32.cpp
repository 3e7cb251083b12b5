// Keys on Windows: _getch on a console, bytes of standard input otherwise.
// Ctrl-C, Ctrl-Break and the closing of the console window arrive through a
// console control handler on a thread of the system's choosing; the handler
// only sets the stop event, which readKey waits on together with the input.
#include <conio.h>
#include <process.h>
#include <stdlib.h>
#include <windows.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <memory>
#include <mutex>

#include "platform/console_input.h"

namespace p50x::platform {

namespace {

// A console control handler takes no context, so what it shares with the
// console loop is process-wide by nature: the stop event, whether stops are
// deferred yet, and the way to wake a _getch that is blocked in the console.
HANDLE gStopEvent = nullptr;  // manual reset: once asked to stop, always stopping
std::atomic<bool> gDeferStop{false};
std::mutex gWakeMutex;
HANDLE gKeyboard = nullptr;  // guarded by gWakeMutex; set while a console is read
bool gInGetch = false;       // guarded by gWakeMutex
bool gWakeSent = false;      // guarded by gWakeMutex

// The key record put into the console to end a blocked _getch. The marker in
// the control-key state tells it apart from anything a keyboard produces.
constexpr DWORD kWakeMarker = 0x4000'0000;

INPUT_RECORD wakeRecord() {
  INPUT_RECORD record{};
  record.EventType = KEY_EVENT;
  record.Event.KeyEvent.bKeyDown = TRUE;
  record.Event.KeyEvent.wRepeatCount = 1;
  record.Event.KeyEvent.uChar.AsciiChar = ' ';
  record.Event.KeyEvent.dwControlKeyState = kWakeMarker;
  return record;
}

// _getch cannot be waited on together with an event, and Ctrl-C is never put
// into the input, so a _getch in progress is ended with a key of our own.
void wakeBlockedGetch() {
  std::lock_guard<std::mutex> lock(gWakeMutex);
  if (!gInGetch || gKeyboard == nullptr || gWakeSent) return;
  const INPUT_RECORD record = wakeRecord();
  DWORD written = 0;
  gWakeSent = ::WriteConsoleInputA(gKeyboard, &record, 1, &written) && written == 1;
}

BOOL WINAPI onConsoleControl(DWORD type) {
  if (!gDeferStop.load()) _exit(1);
  ::SetEvent(gStopEvent);
  wakeBlockedGetch();
  if (type == CTRL_CLOSE_EVENT || type == CTRL_LOGOFF_EVENT || type == CTRL_SHUTDOWN_EVENT) {
    // Returning would let the system end the process on the spot. It ends by
    // itself when the orderly shutdown is done and main returns (the system
    // allows a few seconds for that).
    ::Sleep(INFINITE);
  }
  return TRUE;
}

void installStopHandlers() {
  static std::once_flag installed;
  std::call_once(installed, [] {
    gStopEvent = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
    ::SetConsoleCtrlHandler(onConsoleControl, TRUE);
  });
}

bool stopSignalled() {
  return ::WaitForSingleObject(gStopEvent, 0) == WAIT_OBJECT_0;
}

// Records that _getch would skip without returning a code: key releases,
// mouse, focus and size events, and keys that only modify others.
bool yieldsKeyCode(const INPUT_RECORD& record) {
  if (record.EventType != KEY_EVENT || !record.Event.KeyEvent.bKeyDown) return false;
  switch (record.Event.KeyEvent.wVirtualKeyCode) {
    case VK_SHIFT:
    case VK_CONTROL:
    case VK_MENU:
    case VK_CAPITAL:
    case VK_NUMLOCK:
    case VK_SCROLL:
    case VK_LWIN:
    case VK_RWIN:
    case VK_APPS:
      return false;
    default:
      return true;
  }
}

// Standard input that is a pipe or a file cannot be waited on with an event:
// a reader thread takes its bytes and hands them over. Shared with that thread,
// which may outlive the KeyInput (see ~KeyInput); guarded by mutex.
struct StreamChannel {
  std::mutex mutex;
  std::deque<unsigned char> bytes;
  bool ended = false;
  std::atomic<bool> leaving{false};
  HANDLE ready = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);  // bytes or the end
  HANDLE input = ::GetStdHandle(STD_INPUT_HANDLE);
  ~StreamChannel() {
    if (ready != nullptr) ::CloseHandle(ready);
  }
};

unsigned __stdcall readStream(void* argument) {
  const std::unique_ptr<std::shared_ptr<StreamChannel>> owner(
      static_cast<std::shared_ptr<StreamChannel>*>(argument));
  StreamChannel& channel = **owner;
  unsigned char buffer[64];
  for (;;) {
    DWORD got = 0;
    const bool ok = !channel.leaving.load() &&
                    ::ReadFile(channel.input, buffer, sizeof buffer, &got, nullptr) && got > 0;
    std::lock_guard<std::mutex> lock(channel.mutex);
    if (!ok) {
      channel.ended = true;
      ::SetEvent(channel.ready);
      return 0;
    }
    channel.bytes.insert(channel.bytes.end(), buffer, buffer + got);
    ::SetEvent(channel.ready);
  }
}

}  // namespace

void ignoreBrokenPipe() {}  // Windows raises no signal for a broken pipe

void endOnStopRequests() {
  installStopHandlers();
}

void deferStopRequests() {
  installStopHandlers();
  gDeferStop.store(true);
}

struct KeyInput::State {
  HANDLE keyboard = nullptr;  // the console's input, when standard input is one
  int secondCode = -1;        // the second code of a two-code key, still to come
  bool keysEnded = false;     // _getch has nothing more to give
  std::shared_ptr<StreamChannel> stream;
  HANDLE reader = nullptr;
};

KeyInput::KeyInput() : state_(std::make_unique<State>()) {
  installStopHandlers();
  State& s = *state_;
  const HANDLE input = ::GetStdHandle(STD_INPUT_HANDLE);
  DWORD mode = 0;
  if (input != nullptr && input != INVALID_HANDLE_VALUE && ::GetConsoleMode(input, &mode)) {
    s.keyboard = input;
    std::lock_guard<std::mutex> lock(gWakeMutex);
    gKeyboard = input;
    gWakeSent = false;
    return;
  }
  if (input == nullptr || input == INVALID_HANDLE_VALUE) return;  // no input: stops only
  s.stream = std::make_shared<StreamChannel>();
  auto* handOver = new std::shared_ptr<StreamChannel>(s.stream);
  const std::uintptr_t thread = ::_beginthreadex(nullptr, 0, readStream, handOver, 0, nullptr);
  if (thread == 0) {
    delete handOver;
    s.stream->ended = true;
    return;
  }
  s.reader = reinterpret_cast<HANDLE>(thread);
}

KeyInput::~KeyInput() {
  State& s = *state_;
  if (s.keyboard != nullptr) {
    std::lock_guard<std::mutex> lock(gWakeMutex);
    // A wake-up key that no _getch took must not reach the next program
    // reading this console.
    if (gWakeSent) {
      INPUT_RECORD record{};
      DWORD count = 0;
      if (::PeekConsoleInputA(s.keyboard, &record, 1, &count) && count == 1 &&
          record.EventType == KEY_EVENT && record.Event.KeyEvent.dwControlKeyState == kWakeMarker) {
        ::ReadConsoleInputA(s.keyboard, &record, 1, &count);
      }
    }
    gKeyboard = nullptr;
  }
  if (s.reader != nullptr) {
    // A reader blocked on a pipe ends when its read is cancelled. Should the
    // cancel come just before it enters the read, it is left to end with the
    // process: it holds only its share of the channel, nothing released here.
    s.stream->leaving.store(true);
    ::CancelSynchronousIo(s.reader);
    ::WaitForSingleObject(s.reader, 200);
    ::CloseHandle(s.reader);
  }
}

int KeyInput::readKey(bool& partOfSequence) {
  State& s = *state_;
  partOfSequence = false;
  if (stopSignalled()) return kStopRequested;

  if (s.secondCode >= 0) {
    partOfSequence = true;
    const int code = s.secondCode;
    s.secondCode = -1;
    return code;
  }

  if (s.stream) {
    for (;;) {
      {
        std::lock_guard<std::mutex> lock(s.stream->mutex);
        if (!s.stream->bytes.empty()) {
          const int code = s.stream->bytes.front();
          s.stream->bytes.pop_front();
          if (s.stream->bytes.empty() && !s.stream->ended) ::ResetEvent(s.stream->ready);
          return code;
        }
        // At the end of input only a stop request is left to wait for.
        if (s.stream->ended) break;
      }
      const HANDLE waits[2] = {gStopEvent, s.stream->ready};
      if (::WaitForMultipleObjects(2, waits, FALSE, INFINITE) != WAIT_OBJECT_0 + 1) {
        return kStopRequested;
      }
    }
  }

  while (s.keyboard != nullptr && !s.keysEnded) {
    const HANDLE waits[2] = {gStopEvent, s.keyboard};
    if (::WaitForMultipleObjects(2, waits, FALSE, INFINITE) != WAIT_OBJECT_0 + 1) {
      return kStopRequested;
    }
    // The console's input is signalled for every kind of record: only a key
    // that gives a code goes to _getch, which would otherwise block on it.
    INPUT_RECORD record{};
    DWORD count = 0;
    if (!::PeekConsoleInputA(s.keyboard, &record, 1, &count)) break;
    if (count == 0) continue;
    if (!yieldsKeyCode(record)) {
      ::ReadConsoleInputA(s.keyboard, &record, 1, &count);
      continue;
    }
    {
      std::lock_guard<std::mutex> lock(gWakeMutex);
      if (stopSignalled()) return kStopRequested;
      gInGetch = true;
    }
    const int code = ::_getch();
    // Function and cursor keys give 0 or 0xE0 and then their own code, which
    // _getch has ready at once. Both codes go on, each echoed and sent like
    // any key: the station's console did so with every code _getch gave, so
    // the line sees the same bytes for the same key.
    const int second = (code == 0 || code == 0xE0) ? ::_getch() : -1;
    {
      std::lock_guard<std::mutex> lock(gWakeMutex);
      gInGetch = false;
      if (stopSignalled()) return kStopRequested;
    }
    if (code == EOF) {
      s.keysEnded = true;
      break;
    }
    if (second >= 0) {
      s.secondCode = second & 0xFF;
      partOfSequence = true;
    }
    return code & 0xFF;
  }

  ::WaitForSingleObject(gStopEvent, INFINITE);
  return kStopRequested;
}

bool KeyInput::stopRequested() {
  // Ctrl-C reaches the stop event as a console control event, never as a key.
  return stopSignalled();
}

}  // namespace p50x::platform
