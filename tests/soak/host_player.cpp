#include "host_player.h"

#include <algorithm>
#include <cstdio>
#include <numeric>
#include <thread>

namespace p50x::soak {

namespace {
using namespace std::chrono_literals;
using hostsim::Link;
using hostsim::Role;
constexpr int kMaxBurst = 200;
constexpr int kEventsPerSecond = 1000;
// Up to 1.5 s, as a busy host application answers.
constexpr int kSlowestAnswerMs = 1500;
// The bridge tries again after 0.5, 1, 2, 4 and then every 5 s.
constexpr auto kReconnect = 30s;

// A message as the report shows it: in quotes, its line end as \n.
std::string shown(const std::string& message) {
  std::string text = "\"";
  for (const char c : message) text += c == '\n' ? std::string("\\n") : std::string(1, c);
  return text + "\"";
}

std::string keyOf(const std::string& message) {
  const auto first = message.find(';');
  if (first == std::string::npos) return {};
  const auto second = message.find(';', first + 1);
  return second == std::string::npos ? std::string() : message.substr(0, second);
}
}  // namespace

HostPlayer::HostPlayer(ContactLedger& ledger, Findings& findings, bool slowHost, std::uint32_t seed,
                       const std::string& logPath)
    : ledger_(ledger), findings_(findings), slowHost_(slowHost), random_(seed), log_(logPath) {}

void HostPlayer::log(const std::string& line) {
  char when[32];
  std::snprintf(when, sizeof when, "%9.3f ",
                std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count());
  log_ << when << line << '\n';
}

HostPlayer::~HostPlayer() = default;

bool HostPlayer::start() {
  hostsim::Options options;
  options.eventPort = 0;
  options.commandPort = 0;
  host_ = std::make_unique<hostsim::HostSimulator>(options);
  if (!host_->start()) return false;
  eventPort_ = host_->eventPort();
  commandPort_ = host_->commandPort();
  if (slowHost_) host_->setAnswerDelay(0, kSlowestAnswerMs);
  return true;
}

void HostPlayer::run(StopSignal& stop, std::shared_mutex& quiet, std::chrono::seconds faultMin,
                     std::chrono::seconds faultMax) {
  const auto draw = [&] {
    return std::chrono::seconds(
        std::uniform_int_distribution<long>(faultMin.count(), faultMax.count())(random_));
  };
  auto nextFault = std::chrono::steady_clock::now() + draw();
  while (!stop.stopped()) {
    if (std::chrono::steady_clock::now() >= nextFault) {
      std::shared_lock<std::shared_mutex> faulting(quiet);
      fault(stop);
      nextFault = std::chrono::steady_clock::now() + draw();
    }
    burst();
    collect();
    stop.pause(std::chrono::milliseconds(pick(200)));
  }
}

// Each contact of the burst changes once, so every event is a change the
// control program can see.
void HostPlayer::burst() {
  std::vector<int> contacts(Layout::kContacts);
  std::iota(contacts.begin(), contacts.end(), 0);
  std::shuffle(contacts.begin(), contacts.end(), random_);
  contacts.resize(1 + pick(kMaxBurst));
  std::vector<ContactLedger::Change> changes;
  for (const int c : contacts) changes.push_back({c, !occupied_[c]});
  ledger_.burstStarts(changes);

  const auto begin = std::chrono::steady_clock::now();
  std::size_t done = 0;
  while (done < changes.size()) {
    // One line per send or several in one, on either read connection.
    const std::size_t n =
        std::min<std::size_t>(pick(3) == 0 ? 1 + pick(8) : 1, changes.size() - done);
    const std::vector<ContactLedger::Change> part(changes.begin() + done,
                                                  changes.begin() + done + n);
    std::string text;
    for (const auto& change : part) {
      text += (change.occupied ? "150;1;" : "151;1;") + Layout::contactName(change.contact) +
              (pick(4) == 0 ? "\r\n" : "\n");
    }
    if (host_->sendEvent(text, pick(2) == 0 ? Link::kEvent : Link::kCommand)) {
      for (const auto& change : part) occupied_[change.contact] = change.occupied;
    } else {
      ledger_.notSent(part);
    }
    done += n;
    std::this_thread::sleep_until(begin + done * 1000ms / kEventsPerSecond);
  }
  ledger_.burstSent();
  for (const auto& change : ledger_.awaitBurstSeen(1s, 10s)) {
    findings_.add(Findings::kLost,
                  std::string("host event ") + (change.occupied ? "150;1;" : "151;1;") +
                      Layout::contactName(change.contact),
                  "it in an XEvtSen reply", "none within 1 s of the burst");
  }
}

void HostPlayer::fault(StopSignal& stop) {
  collect();
  // Freezes only where the replies do not wait for the host: elsewhere a
  // frozen host holds up the serial side by design.
  const int kinds = slowHost_ ? 3 : 2;
  const int kind = nextFault_++ % kinds;
  const int before = host_->connectionCount();
  ++faults_;
  log(kind == 0 ? "-- restart" : kind == 1 ? "-- close one connection" : "-- freeze");
  if (kind == 0) {
    if (!restart()) return;
    awaitLinks(0);
  } else if (kind == 1) {
    // One of the three the bridge uses: the event link's write connection
    // carries nothing, and the bridge does not watch it.
    const int which = pick(3);
    const Link link = which == 0 ? Link::kEvent : Link::kCommand;
    const Role role = which == 2 ? Role::kWrite : Role::kRead;
    if (!host_->closeConnection(link, role)) {
      findings_.add(Findings::kHost, "host fault: no open connection to close");
      return;
    }
    awaitLinks(before);
  } else {
    host_->setFrozen(true);
    stop.pause(std::chrono::milliseconds(3000 + pick(2001)));
    host_->setFrozen(false);
  }
}

// The application ends and starts again on its ports: it knows nothing of the
// layout until the bridge has sent it the latest state.
bool HostPlayer::restart() {
  host_->stop();
  collect();
  host_.reset();
  view_.clear();
  hostsim::Options options;
  options.eventPort = eventPort_;
  options.commandPort = commandPort_;
  host_ = std::make_unique<hostsim::HostSimulator>(options);
  if (!host_->start()) {
    findings_.add(Findings::kHost, "host restart: " + host_->error());
    return false;
  }
  if (slowHost_) host_->setAnswerDelay(0, kSlowestAnswerMs);
  return true;
}

// The bridge makes its four connections again.
bool HostPlayer::awaitLinks(int connectionsBefore) {
  if (host_->waitForConnections(connectionsBefore + 4, kReconnect)) return true;
  findings_.add(Findings::kBridge, "host links not made again within 30 s");
  return false;
}

void HostPlayer::collect() {
  for (const hostsim::Message& m : host_->takeMessages()) {
    log(std::to_string(m.connection) + " " + shown(m.text));
    if (m.text == "41;0\n") continue;
    const std::string key = keyOf(m.text);
    const bool known =
        key.rfind("371;", 0) == 0 || key.rfind("381;", 0) == 0 || key.rfind("305;", 0) == 0;
    if (m.link != Link::kCommand || m.role != Role::kWrite || !known || m.text.back() != '\n') {
      findings_.add(Findings::kHost, "unexpected host message",
                    "371, 381 or 305 on the command link",
                    shown(m.text) + " on the " + hostsim::linkName(m.link) + " link's " +
                        hostsim::roleName(m.role) + " connection");
      continue;
    }
    view_[key] = m.text;
  }
}

void HostPlayer::settle(const std::map<std::string, std::string>& expected) {
  host_->setFrozen(false);
  host_->setAnswerDelay(0, 0);
  // The host may still hold messages it will answer late, and the bridge may
  // still be in its back-off: the deadline covers both.
  const auto deadline = std::chrono::steady_clock::now() + 30s;
  while (std::chrono::steady_clock::now() < deadline) {
    collect();
    if (view_ == expected) return;
    host_->waitForMessages(1, 200ms);
  }
  for (const auto& [key, message] : expected) {
    const auto it = view_.find(key);
    if (it == view_.end() || it->second != message) {
      findings_.add(Findings::kHost, "host's last view of " + key.substr(4), shown(message),
                    it == view_.end() ? "nothing" : shown(it->second));
    }
  }
  for (const auto& [key, message] : view_) {
    if (expected.count(key) == 0) {
      findings_.add(Findings::kHost, "host's view of " + key.substr(4) + " never commanded",
                    "nothing", shown(message));
    }
  }
}

}  // namespace p50x::soak
