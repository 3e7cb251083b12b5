// The bridge's two links to the host and the two connections of each, as the
// simulator and its input lines name them.
#pragma once

namespace p50x::hostsim {

// Per port the first connection taken is the read connection and the second
// the write connection: the bridge connects in that order because host
// applications tell the two apart by nothing else. A third connection starts
// the next pair, so a restarted bridge is served.
enum class Link { kEvent, kCommand };
enum class Role { kRead, kWrite };

inline const char* linkName(Link link) {
  return link == Link::kEvent ? "event" : "command";
}

inline const char* roleName(Role role) {
  return role == Role::kRead ? "read" : "write";
}

}  // namespace p50x::hostsim
