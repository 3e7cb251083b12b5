#include "common/text.h"

#include <climits>
#include <cstring>

namespace p50x {

char* TokenCursor::next() {
  if (pos_ == nullptr) return nullptr;
  while (*pos_ == separator_) ++pos_;
  if (*pos_ == '\0') {
    pos_ = nullptr;
    return nullptr;
  }
  char* token = pos_;
  while (*pos_ != '\0' && *pos_ != separator_) ++pos_;
  if (*pos_ == separator_) {
    *pos_ = '\0';
    ++pos_;
  } else {
    pos_ = nullptr;
  }
  return token;
}

int toInt(const char* text) {
  if (text == nullptr) return 0;
  const char* p = text;
  // isspace in the "C" locale, spelled out so no locale can change it.
  while (*p == ' ' || *p == '\t' || *p == '\n' || *p == '\v' || *p == '\f' || *p == '\r') ++p;
  bool negative = false;
  if (*p == '+' || *p == '-') {
    negative = (*p == '-');
    ++p;
  }
  long long value = 0;
  const long long limit = negative ? -static_cast<long long>(INT_MIN) : INT_MAX;
  while (*p >= '0' && *p <= '9') {
    if (value < limit) value = value * 10 + (*p - '0');
    if (value > limit) value = limit;
    ++p;
  }
  return static_cast<int>(negative ? -value : value);
}

bool copyField(char* field, std::size_t size, const char* text) {
  const std::size_t length = std::strlen(text);
  const std::size_t kept = length < size ? length : size - 1;
  std::memcpy(field, text, kept);
  field[kept] = '\0';
  return kept == length;
}

bool parseDecimal(const char* text, long long& value) {
  if (text == nullptr) return false;
  const char* p = text;
  const bool negative = *p == '-';
  if (*p == '+' || *p == '-') ++p;
  if (*p < '0' || *p > '9') return false;
  long long magnitude = 0;
  for (; *p >= '0' && *p <= '9'; ++p) {
    magnitude = magnitude > kDecimalLimit / 10 ? kDecimalLimit : magnitude * 10 + (*p - '0');
    if (magnitude > kDecimalLimit) magnitude = kDecimalLimit;
  }
  if (*p != '\0') return false;
  value = negative ? -magnitude : magnitude;
  return true;
}

bool isDottedIpv4(const char* text) {
  if (text == nullptr) return false;
  const char* p = text;
  for (int part = 0; part < 4; ++part) {
    if (part > 0 && *p++ != '.') return false;
    int digits = 0;
    int value = 0;
    for (; *p >= '0' && *p <= '9' && digits < 4; ++p, ++digits) value = value * 10 + (*p - '0');
    if (digits == 0 || digits > 3 || value > 255) return false;
    if (digits > 1 && p[-digits] == '0') return false;
  }
  return *p == '\0';
}

bool isBlank(const char* text) {
  for (const char* p = text; *p != '\0'; ++p) {
    if (*p != ';' && *p != ' ' && *p != '\t' && *p != '\r' && *p != '\v' && *p != '\f') {
      return false;
    }
  }
  return true;
}

}  // namespace p50x
