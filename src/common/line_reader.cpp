#include "common/line_reader.h"

#include <cerrno>
#include <filesystem>
#include <system_error>

namespace p50x {

FileBytes::~FileBytes() {
  if (file_ != nullptr) std::fclose(file_);
}

int FileBytes::open(const char* path) {
  if (file_ != nullptr) std::fclose(file_);
  file_ = nullptr;
  readError_ = 0;
  std::error_code ignored;
  if (std::filesystem::is_directory(path, ignored)) return EISDIR;
  errno = 0;
  file_ = std::fopen(path, "r");
  if (file_ == nullptr) return errno != 0 ? errno : ENOENT;
  return 0;
}

int FileBytes::nextByte() {
  if (file_ == nullptr) return -1;
  const int c = std::getc(file_);
  if (c != EOF) return c;
  if (std::ferror(file_) != 0) readError_ = errno != 0 ? errno : EIO;
  std::fclose(file_);
  file_ = nullptr;
  return -1;
}

int LineReader::get() {
  if (aheadPos_ < aheadCount_) return ahead_[aheadPos_++];
  return source_.nextByte();
}

void LineReader::lookAtStart() {
  while (aheadCount_ < 3) {
    const int c = source_.nextByte();
    if (c < 0) break;
    ahead_[aheadCount_++] = c;
  }
  // Windows editors put EF BB BF in front of UTF-8 text; it is no character of
  // the first line.
  if (aheadCount_ == 3 && ahead_[0] == 0xEF && ahead_[1] == 0xBB && ahead_[2] == 0xBF) {
    aheadCount_ = 0;
  }
  utf16_ = aheadCount_ >= 2 &&
           ((ahead_[0] == 0xFF && ahead_[1] == 0xFE) || (ahead_[0] == 0xFE && ahead_[1] == 0xFF));
}

bool LineReader::next(TextLine& line) {
  if (!started_) {
    started_ = true;
    lookAtStart();
  }
  int c = get();
  if (c < 0) return false;
  line = TextLine{};
  line.number = ++number_;
  std::size_t kept = 0;
  // Carriage returns are held back until a character follows them: those
  // right before the line end belong to the line end.
  std::size_t heldReturns = 0;
  const auto append = [&](int byte) {
    if (byte == 0) line.hasZeroByte = true;
    if (kept < TextLine::kMaxLength) line.text[kept++] = static_cast<char>(byte);
    ++line.length;
  };
  for (; c >= 0 && c != '\n'; c = get()) {
    if (c == '\r') {
      ++heldReturns;
      continue;
    }
    for (; heldReturns > 0; --heldReturns) append('\r');
    append(c);
  }
  line.text[kept] = '\0';
  return true;
}

}  // namespace p50x
