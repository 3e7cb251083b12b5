// The reader shared by the three layout lists (locomotives, turnouts, feedback
// contacts): one record per line, fields separated by ";", the name first and
// decimal numbers after it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <functional>

#include "diag/console.h"

namespace p50x {

// Lists are read in pieces of at most 99 characters, as they always were; a
// longer line arrives as several pieces, each taken as a line of its own.
constexpr int kListLineBuffer = 100;
// Names live in 128-byte fields; a piece holds at most 99 characters, so a name
// is never cut.
constexpr std::size_t kNameSize = 128;

// Where the pieces come from. nextPiece follows fgets: at most size - 1 bytes,
// up to and including a line feed, zero-terminated; false when nothing is left.
class ListSource {
 public:
  virtual ~ListSource() = default;
  virtual bool nextPiece(char* buffer, int size) = 0;
};

// A list file opened for reading in text mode; closed when the source ends.
// Threads: used by the one thread that loads a table.
class FileListSource final : public ListSource {
 public:
  FileListSource() = default;
  ~FileListSource() override;
  FileListSource(const FileListSource&) = delete;
  FileListSource& operator=(const FileListSource&) = delete;

  // Opens the file; a failure is reported as "Error opening file" with the
  // system's error text and leaves the source empty.
  bool open(const char* path, Console& console);
  bool nextPiece(char* buffer, int size) override;

 private:
  std::FILE* file_ = nullptr;
};

// The same pieces from bytes in memory (which may hold zero bytes, as a file
// can). Threads: used by one thread.
class MemoryListSource final : public ListSource {
 public:
  MemoryListSource(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
  bool nextPiece(char* buffer, int size) override;

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t pos_ = 0;
};

// One record line. `name` points into the reader's piece buffer and is valid
// only during the call that hands the record over.
struct ListRecord {
  static constexpr int kMaxNumbers = 6;
  const char* name = nullptr;
  int numbers[kMaxNumbers] = {};  // fields 2, 3, ... read with toInt
};

// Hands every record of the source with at least `fields` fields (name
// included, 1 < fields <= 1 + kMaxNumbers) to `onRecord`, in file order.
// Comment lines ("#" as the first character) and blank lines (nothing but
// separators and white space) are passed over quietly; other lines with too few
// fields are skipped with a console notice.
void readList(ListSource& source, int fields, Console& console,
              const std::function<void(const ListRecord&)>& onRecord);

}  // namespace p50x
