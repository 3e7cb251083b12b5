#include "platform/serial_events_win32.h"

namespace p50x::platform {
namespace {

bool manualReset(int index) {
  return index == kReadDoneEvent || index == kWriteDoneEvent || index == kWaitDoneEvent;
}

}  // namespace

EventSet::EventSet() {
  for (int index = 0; index < kSerialEventCount; ++index) {
    events_[index] = ::CreateEventA(nullptr, manualReset(index) ? TRUE : FALSE, FALSE, nullptr);
  }
}

bool EventSet::usable() const {
  std::lock_guard<std::mutex> lock(mutex_);
  if (released_) return false;
  for (HANDLE event : events_) {
    if (event == nullptr) return false;
  }
  return true;
}

void EventSet::release() {
  std::lock_guard<std::mutex> lock(mutex_);
  released_ = true;
  for (HANDLE& event : events_) {
    if (event != nullptr) ::CloseHandle(event);
    event = nullptr;
  }
}

void EventSet::signal(int index) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (events_[index] != nullptr) ::SetEvent(events_[index]);
}

void EventSet::reset(int index) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (events_[index] != nullptr) ::ResetEvent(events_[index]);
}

HANDLE EventSet::handle(int index) const {
  std::lock_guard<std::mutex> lock(mutex_);
  return events_[index];
}

DWORD EventSet::waitAny() {
  return ::WaitForMultipleObjects(kSerialEventCount, events_, FALSE, INFINITE);
}

}  // namespace p50x::platform
