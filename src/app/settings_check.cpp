#include "app/settings_check.h"

#include <cctype>
#include <climits>
#include <cstring>

#include "app/setting_names.h"
#include "common/text.h"
#include "platform/baud_rates.h"

namespace p50x {

namespace {

std::string baudRateList() {
  std::string list;
  for (const int rate : platform::kBaudRates) {
    if (!list.empty()) list += ", ";
    list += std::to_string(rate);
  }
  return list;
}

bool hasBlankAtAnEnd(const char* value) {
  const std::size_t n = std::strlen(value);
  return n > 0 && (std::isspace(static_cast<unsigned char>(value[0])) != 0 ||
                   std::isspace(static_cast<unsigned char>(value[n - 1])) != 0);
}

std::string portProblem(const char* value) {
  long long port = 0;
  if (!parseDecimal(value, port)) return "keine ganze Dezimalzahl von 1 bis 65535";
  // Never wrapped to 16 bits: 65536 + N would reach port N, somebody else's.
  if (port < 1 || port > 65535) return "liegt nicht zwischen 1 und 65535";
  return {};
}

std::string baudProblem(const char* value) {
  long long rate = 0;
  if (!parseDecimal(value, rate)) return "keine ganze Dezimalzahl; moeglich sind " + baudRateList();
  if (!platform::isSupportedBaudRate(rate)) {
    return "keine Baudrate dieses Systems; moeglich sind " + baudRateList();
  }
  return {};
}

std::string tagProblem(const char* value) {
  long long tag = 0;
  if (!parseDecimal(value, tag) || tag < INT_MIN || tag > INT_MAX) {
    return "keine ganze Zahl von -2147483648 bis 2147483647";
  }
  return {};
}

}  // namespace

std::string settingProblem(int key, const char* value) {
  const bool numeric = key == kHostAddressKey || key == kEventPortKey || key == kCommandPortKey ||
                       key == kSerialBaudKey || key == kSpeedReportTagKey;
  // A blank is hard to see in a value; say so rather than "not a number".
  if (numeric && hasBlankAtAnEnd(value)) return "Leerzeichen am Anfang oder Ende des Werts";
  switch (key) {
    case kHostAddressKey:
      if (!isDottedIpv4(value)) {
        return "keine IPv4-Adresse in Punktschreibweise wie 127.0.0.1 (Namen werden nicht "
               "nachgeschlagen)";
      }
      return {};
    case kEventPortKey:
    case kCommandPortKey:
      return portProblem(value);
    case kSerialBaudKey:
      return baudProblem(value);
    case kSpeedReportTagKey:
      return tagProblem(value);
    default:
      return {};
  }
}

bool checkSettings(const Configuration& config, Console& console) {
  bool usable = true;
  for (int key = 1; key < Configuration::kSlots; ++key) {
    const Configuration::Origin& origin = config.origin(key);
    std::string problem;
    std::string shown;
    if (origin.tooLong) {
      problem = "Zeile mit " + std::to_string(origin.length) + " Zeichen, hoechstens " +
                std::to_string(TextLine::kMaxLength) + "; der Wert wird nicht gekuerzt";
      shown = std::string(origin.written) + "...";
    } else {
      problem = settingProblem(key, config.value(key));
      shown = config.value(key);
    }
    if (problem.empty()) continue;
    usable = false;
    std::string where = config.configPath();
    if (origin.line > 0) where += ":" + std::to_string(origin.line);
    console.out(where + ": Einstellung " + std::to_string(key) + " (" + settingName(key) + ") \"" +
                shown + "\": " + problem + ".\n");
  }
  return usable;
}

}  // namespace p50x
