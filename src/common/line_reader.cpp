#include "common/line_reader.h"

#include <sys/stat.h>
#include <sys/types.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>

#ifndef _WIN32
#include <fcntl.h>
#include <unistd.h>
#endif

namespace p50x {

std::string fileErrorText(int error) {
  if (error == kNotRegularFile) return "keine regulaere Datei (Geraet, FIFO oder Socket)";
  return std::strerror(error);
}

namespace {
#ifdef _WIN32
// Windows opens a device name (NUL, CON, COM1) without waiting; what it is
// shows once it is open.
std::FILE* openRegular(const char* path, int& error) {
  errno = 0;
  std::FILE* file = std::fopen(path, "r");
  if (file == nullptr) {
    error = errno != 0 ? errno : ENOENT;
    return nullptr;
  }
  struct _stat64 info {};
  if (::_fstat64(::_fileno(file), &info) != 0 || (info.st_mode & _S_IFMT) != _S_IFREG) {
    std::fclose(file);
    error = kNotRegularFile;
    return nullptr;
  }
  return file;
}
#else
// Opened without blocking, so a FIFO nobody writes is refused at once rather
// than waited for, and looked at before a byte is read.
std::FILE* openRegular(const char* path, int& error) {
  const int fd = ::open(path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) {
    error = errno;
    return nullptr;
  }
  struct stat info {};
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    error = S_ISDIR(info.st_mode) ? EISDIR : kNotRegularFile;
    ::close(fd);
    return nullptr;
  }
  const int flags = ::fcntl(fd, F_GETFL);
  if (flags >= 0) ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
  std::FILE* file = ::fdopen(fd, "r");
  if (file == nullptr) {
    error = errno;
    ::close(fd);
  }
  return file;
}
#endif
}  // namespace

FileBytes::~FileBytes() {
  if (file_ != nullptr) std::fclose(file_);
}

int FileBytes::open(const char* path) {
  if (file_ != nullptr) std::fclose(file_);
  file_ = nullptr;
  readError_ = 0;
  read_ = 0;
  std::error_code ignored;
  if (std::filesystem::is_directory(path, ignored)) return EISDIR;
  int error = 0;
  file_ = openRegular(path, error);
  return file_ != nullptr ? 0 : error;
}

int FileBytes::nextByte() {
  if (file_ == nullptr) return -1;
  const int c = std::getc(file_);
  if (c != EOF) {
    if (++read_ <= kMaxBytes) return c;
    readError_ = EFBIG;
  } else if (std::ferror(file_) != 0) {
    readError_ = errno != 0 ? errno : EIO;
  }
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
