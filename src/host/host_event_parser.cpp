#include "host/host_event_parser.h"

#include "common/text.h"

namespace p50x {

namespace {
// Incoming codes the bridge acts on. The others the table lists are accepted
// without a word.
enum HostEventCode : int {
  kProjectClosed = 21,
  kTurnoutEvent = 100,
  kContactOccupied = 150,
  kContactFree = 151,
};

bool isQuietCode(int code) {
  switch (code) {
    case 20:
    case 40:
    case 50:
    case 60:
    case 200:
    case 210:
      return true;
    default:
      return false;
  }
}
}  // namespace

HostEventParser::HostEventParser(Console& console, LayoutEvents* layout)
    : console_(console), layout_(layout) {}

bool HostEventParser::split(char* text, char (*fields)[kFieldSize], int count) {
  for (int i = 0; i < count; ++i) fields[i][0] = '\0';
  if (text == nullptr) return true;
  // The cursor keeps the position for this call only: the two receivers and
  // the list readers split at the same time.
  TokenCursor cursor(text, ';');
  for (int i = 0; i < count; ++i) {
    const char* token = cursor.next();
    if (token == nullptr) break;
    // A token longer than a field is cut to 127 characters; tokens beyond the
    // last field are dropped. No code reads past field 2.
    copyField(fields[i], kFieldSize, token);
  }
  return true;
}

void HostEventParser::dispatch(int /*length*/, char* text) {
  std::lock_guard<std::mutex> lock(mutex_);
  split(text, fields_, kFields);
  const int code = toInt(fields_[0]);
  switch (code) {
    case kProjectClosed:  // "21"
      console_.out("* Das Projekt wurde geschlossen. *\n");
      return;
    case kTurnoutEvent:  // "100;name;number"
      if (layout_ != nullptr) layout_->turnoutReported(fields_[1], toInt(fields_[2]));
      return;
    case kContactOccupied:  // "150;x;name"
      if (layout_ != nullptr) layout_->contactSet(fields_[2]);
      return;
    case kContactFree:  // "151;x;name"
      if (layout_ != nullptr) layout_->contactCleared(fields_[2]);
      return;
    default:
      if (!isQuietCode(code))
        console_.print("!!!=== Unbekanntes Socket-Ereignis %d ===!!!\n", code);
      return;
  }
}

}  // namespace p50x
