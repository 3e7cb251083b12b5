#include "layout/feedback_image.h"

#include <algorithm>
#include <cstring>

#include "common/text.h"
#include "seams/reply_status.h"

namespace p50x {

namespace {
// name;module;contact. A contact outside these has no bit in any module the
// station can report.
constexpr FieldRule kFeedbackFields[] = {
    {"Modul", 1, FeedbackImage::kMaxModule},
    {"Kontakt", 1, FeedbackImage::kContactsPerModule},
};
}  // namespace

FeedbackImage::FeedbackImage(Console& console) : console_(console) {}

FeedbackImage::~FeedbackImage() = default;

void FeedbackImage::load(const char* path) {
  FileListSource source;
  source.read(path);
  load(source);
}

void FeedbackImage::load(FileListSource& source) {
  if (!source.report(console_, "Rueckmeldeliste")) {
    std::lock_guard<std::mutex> lock(mutex_);
    contacts_.clear();
    image_.clear();
    highestModule_ = 0;
    moduleParameter_ = 0;
    changed_ = false;
    return;
  }
  loadEntries(source);
}

void FeedbackImage::loadEntries(ListSource& source) {
  // Built aside and swapped in, so a host event during loading sees either the
  // old records and image or the new ones.
  std::vector<Contact> loaded;
  unsigned highest = 0;
  readList(source, kFeedbackFields, console_, [&](const ListRecord& r) {
    const int module = r.numbers[0];
    const int contact = r.numbers[1];
    Contact c;
    copyField(c.name, sizeof c.name, r.name);
    c.module = module;
    c.contact = contact;
    c.line = r.line;
    loaded.push_back(c);
    highest = std::max(highest, static_cast<unsigned>(module));
  });
  std::reverse(loaded.begin(), loaded.end());

  std::lock_guard<std::mutex> lock(mutex_);
  contacts_.swap(loaded);
  highestModule_ = highest;
  image_.assign(2 * static_cast<std::size_t>(highest), 0);
  // Control software reads this back (X88PGet 0, "xse") as the station's
  // feedback setting and has always been given twice the highest module
  // number, so that is the value it is set up for.
  moduleParameter_ = static_cast<int>(2 * highest);
  changed_ = false;
}

void FeedbackImage::setTrafficLog(TrafficLog* log) {
  trafficLog_.store(log);
}

const FeedbackImage::Contact* FeedbackImage::findByName(const char* name) const {
  for (const Contact& c : contacts_) {
    if (std::strcmp(c.name, name) == 0) return &c;
  }
  return nullptr;
}

// Module m owns bytes 2(m-1) and 2(m-1)+1; contact 1 is bit 7 of the first,
// contact 9 bit 7 of the second: the order in which control software maps the
// module bytes of XEvtSen onto its contacts.
void FeedbackImage::changeContact(const char* name, bool occupied) {
  if (name == nullptr) return;
  std::lock_guard<std::mutex> lock(mutex_);
  const Contact* c = findByName(name);
  if (c == nullptr) return;
  std::size_t index = 2 * static_cast<std::size_t>(c->module - 1);
  int bit = c->contact;
  if (bit > 8) {
    ++index;
    bit -= 8;
  }
  const auto mask = static_cast<std::uint8_t>(1u << (8 - bit));
  const std::uint8_t before = image_[index];
  if (occupied) {
    image_[index] |= mask;
  } else {
    image_[index] &= static_cast<std::uint8_t>(~mask);
  }
  // A report that repeats the known state is no event for the client.
  if (image_[index] != before) changed_ = true;
}

void FeedbackImage::setContact(const char* name) {
  changeContact(name, true);
}

void FeedbackImage::clearContact(const char* name) {
  changeContact(name, false);
}

int FeedbackImage::moduleParameter() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return moduleParameter_;
}

unsigned FeedbackImage::highestModule() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return highestModule_;
}

int FeedbackImage::count() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return static_cast<int>(contacts_.size());
}

// Two names may share a module's contact on purpose (one bit the host knows
// under two names): only names hide each other.
std::vector<ListDuplicate> FeedbackImage::duplicates() const {
  std::vector<ListedEntry> walk;
  std::lock_guard<std::mutex> lock(mutex_);
  for (const Contact& c : contacts_)
    walk.push_back({c.name, c.line, 0});
  return findDuplicates(walk, false);
}

bool FeedbackImage::changedSinceReport() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return changed_;
}

// X 99 -> 00; then every contact reads free. P50X-only: 99 -> 00, the image
// stays and any set bit raises the change flag.
void FeedbackImage::xSensOff(ReplyChannel& reply, StationMode mode) {
  if (mode == StationMode::P50XOnly) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      const bool anySet =
          std::any_of(image_.begin(), image_.end(), [](std::uint8_t b) { return b != 0; });
      if (anySet) changed_ = true;
    }
    reply.send({0x00});
    return;
  }
  reply.send({0x00});
  std::lock_guard<std::mutex> lock(mutex_);
  std::fill(image_.begin(), image_.end(), std::uint8_t{0});
}

// 98 module -> 00 byte1 byte2; 00 00 00 for a module outside the image
void FeedbackImage::xSensor(ReplyChannel& reply, int module) {
  std::uint8_t first = 0;
  std::uint8_t second = 0;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (module >= 1 && static_cast<unsigned>(module) <= highestModule_) {
      first = image_[2 * static_cast<std::size_t>(module - 1)];
      second = image_[2 * static_cast<std::size_t>(module - 1) + 1];
    }
  }
  reply.send({0x00, first, second});
}

// X 9C p -> 00 value | 02 (p != 0). The reply is logged once more as sent, so
// the monitor's S line holds it twice, as the station has always logged it.
// Control software asks for several parameters at start and waits for each,
// so a parameter the station does not keep is answered too.
void FeedbackImage::x88PGet(ReplyChannel& reply, int parameter) {
  if (parameter != 0) {
    console_.print("Parameter %d unbekannt.\n", parameter);
    reply.send({ReplyStatus::kBadParameter});
    return;
  }
  const auto value = static_cast<std::uint8_t>(moduleParameter());
  reply.send({0x00, value});
  if (TrafficLog* log = trafficLog_.load()) {
    const std::uint8_t again[2] = {0x00, value};
    log->logSent(2, again);
  }
}

// X 9D p value -> 00 | 02 (p != 0). Only the reported value changes; the
// image keeps its size.
void FeedbackImage::x88PSet(ReplyChannel& reply, int parameter, int value) {
  if (parameter != 0) {
    console_.print("Parameter %d unbekannt.\n", parameter);
    reply.send({ReplyStatus::kBadParameter});
    return;
  }
  {
    std::lock_guard<std::mutex> lock(mutex_);
    moduleParameter_ = value & 0xFF;
  }
  reply.send({0x00});
}

// X CB -> per module 1..n: number, first byte, second byte; then 00. Every
// module is reported every time and the image is not cleared by it.
void FeedbackImage::xEvtSen(ReplyChannel& reply) {
  std::uint8_t* out = reply.area();
  std::size_t n = 0;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    // Cleared before the image is read: a host report that lands after this
    // report raises the flag again and is fetched next time.
    changed_ = false;
    const unsigned reported = std::min(highestModule_, kMaxReportedModules);
    for (unsigned j = 1; j <= reported; ++j) {
      out[n++] = static_cast<std::uint8_t>(j);
      out[n++] = image_[2 * (j - 1)];
      out[n++] = image_[2 * (j - 1) + 1];
    }
  }
  out[n++] = 0x00;
  reply.send(n);
}

}  // namespace p50x
