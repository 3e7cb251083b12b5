#include "script_line.h"

#include <string>
#include <utility>

#include "text_escapes.h"

namespace p50x::hostsim {

namespace {
bool startsWith(std::string_view text, std::string_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

bool parseMilliseconds(std::string_view digits, int& ms) {
  while (!digits.empty() && digits.front() == ' ') digits.remove_prefix(1);
  if (digits.empty() || digits.size() > 9) return false;
  long value = 0;
  for (const char d : digits) {
    if (d < '0' || d > '9') return false;
    value = value * 10 + (d - '0');
  }
  ms = static_cast<int>(value);
  return true;
}

bool parseLinkRole(std::string_view words, Link& link, Role& role) {
  const std::size_t space = words.find(' ');
  if (space == std::string_view::npos) return false;
  const std::string_view l = words.substr(0, space);
  std::string_view r = words.substr(space + 1);
  while (!r.empty() && r.front() == ' ') r.remove_prefix(1);
  while (!r.empty() && r.back() == ' ') r.remove_suffix(1);
  if (l == "event") {
    link = Link::kEvent;
  } else if (l == "command") {
    link = Link::kCommand;
  } else {
    return false;
  }
  if (r == "read") {
    role = Role::kRead;
  } else if (r == "write") {
    role = Role::kWrite;
  } else {
    return false;
  }
  return true;
}
}  // namespace

ScriptLine parseScriptLine(std::string_view line, Link defaultLink) {
  ScriptLine result;
  // Scripts written on Windows end their lines in CR LF.
  while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.remove_suffix(1);
  if (line.empty() || line.front() == '#') return result;

  if (line == "quit") {
    result.kind = ScriptLine::kQuit;
    return result;
  }
  for (const auto& [word, kind] : {std::pair{std::string_view("sleep"), ScriptLine::kSleep},
                                   std::pair{std::string_view("freeze"), ScriptLine::kFreeze}}) {
    if (line != word && !startsWith(line, std::string(word) + " ")) continue;
    int ms = 0;
    if (!parseMilliseconds(line.substr(word.size()), ms)) {
      result.kind = ScriptLine::kError;
      result.text = std::string(word) + " takes milliseconds, e.g. " + std::string(word) + " 500";
      return result;
    }
    result.kind = kind;
    result.milliseconds = ms;
    return result;
  }
  if (line == "close" || startsWith(line, "close ")) {
    std::string_view words = line.substr(5);
    while (!words.empty() && words.front() == ' ') words.remove_prefix(1);
    if (!parseLinkRole(words, result.link, result.role)) {
      result.kind = ScriptLine::kError;
      result.text = "close takes a link and a connection, e.g. close command read";
      return result;
    }
    result.kind = ScriptLine::kClose;
    return result;
  }

  result.link = defaultLink;
  result.role = Role::kRead;
  std::string_view text = line;
  struct Prefix {
    std::string_view text;
    Link link;
    Role role;
  };
  static constexpr Prefix kPrefixes[] = {
      {"cw:", Link::kCommand, Role::kWrite},
      {"ew:", Link::kEvent, Role::kWrite},
      {"c:", Link::kCommand, Role::kRead},
      {"e:", Link::kEvent, Role::kRead},
  };
  for (const Prefix& p : kPrefixes) {
    if (startsWith(text, p.text)) {
      result.link = p.link;
      result.role = p.role;
      text.remove_prefix(p.text.size());
      break;
    }
  }
  if (!decodeEscapes(text, result.text)) {
    result.kind = ScriptLine::kError;
    result.text = "bad escape: use \\n \\r \\t \\0 \\\\ or \\xHH";
    return result;
  }
  if (result.text.empty()) {
    result.kind = ScriptLine::kError;
    result.text = "nothing to send";
    return result;
  }
  result.kind = ScriptLine::kSend;
  return result;
}

}  // namespace p50x::hostsim
