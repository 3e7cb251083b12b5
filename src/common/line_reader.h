// Text files as editors write them: lines of at most 99 characters ending in
// LF or CR LF, and maybe a UTF-8 byte-order mark in front of the first line.
// The configuration file and the three layout lists are all read this way, so
// a file saved by a Windows editor reads like one written on Linux.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

namespace p50x {

// Where the bytes of a text come from.
class ByteSource {
 public:
  virtual ~ByteSource() = default;
  // The next byte (0 to 255), or -1 at the end.
  virtual int nextByte() = 0;
};

// The error number FileBytes::open gives a path that is no regular file (a
// device, a FIFO, a socket): such a one may never end, or never begin.
inline constexpr int kNotRegularFile = -1;

// The reason for an error number of FileBytes, as a console line shows it.
std::string fileErrorText(int error);

// A file opened for reading in text mode. Threads: used by one thread.
class FileBytes final : public ByteSource {
 public:
  // No settings file or list comes near this; a file that goes on beyond it
  // is read as far as this and then fails with EFBIG, so no file can keep
  // start-up reading for ever.
  static constexpr long kMaxBytes = 1L << 20;

  FileBytes() = default;
  ~FileBytes() override;
  FileBytes(const FileBytes&) = delete;
  FileBytes& operator=(const FileBytes&) = delete;

  // 0, or the error number of the failure. A directory is refused with EISDIR
  // on every platform: some would open it and then read nothing at all; any
  // other path that is no regular file with kNotRegularFile, without waiting
  // for a FIFO's writer.
  int open(const char* path);
  int nextByte() override;
  // The error number of a read that failed (0: none); the file then reads as
  // ended.
  int readError() const { return readError_; }

 private:
  std::FILE* file_ = nullptr;
  int readError_ = 0;
  long read_ = 0;  // bytes handed out
};

// Bytes in memory, zero bytes included. Threads: used by one thread.
class MemoryBytes final : public ByteSource {
 public:
  MemoryBytes(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
  int nextByte() override { return pos_ < size_ ? data_[pos_++] : -1; }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t pos_ = 0;
};

// One line of a text, without its line end.
struct TextLine {
  // The classic readers took lines in pieces of 99 characters and read the
  // rest of a longer line as lines of their own. Lines are now read whole; one
  // that is longer is refused by whoever reads it, never cut.
  static constexpr std::size_t kMaxLength = 99;

  char text[kMaxLength + 1] = {};  // zero-terminated, at most kMaxLength characters
  int number = 0;                  // counted from 1
  std::size_t length = 0;          // of the whole line, also when it is too long
  bool hasZeroByte = false;        // text is then cut at the zero byte

  bool tooLong() const { return length > kMaxLength; }
};

// Splits a byte source into lines. Threads: used by one thread.
class LineReader {
 public:
  explicit LineReader(ByteSource& source) : source_(source) {}

  // The next line; false at the end of the source. A last line without a line
  // end is a line; an empty source has none.
  bool next(TextLine& line);

  // True when the source begins with a UTF-16 byte-order mark: such a file is
  // no text this reader can take.
  bool startsAsUtf16() const { return utf16_; }

 private:
  int get();
  void lookAtStart();

  ByteSource& source_;
  int number_ = 0;
  bool started_ = false;
  bool utf16_ = false;
  int ahead_[3] = {};
  int aheadCount_ = 0;
  int aheadPos_ = 0;
};

}  // namespace p50x
