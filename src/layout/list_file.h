// The reader shared by the three layout lists (locomotives, turnouts, feedback
// contacts): one record per line, fields separated by ";", the name first and
// decimal numbers after it. Every line it cannot take is named on the console
// as FILE:LINE with the reason, and the station goes on with the rest.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "common/line_reader.h"
#include "diag/console.h"

namespace p50x {

// Names live in 128-byte fields; a line holds at most 99 characters, so a name
// is never cut.
constexpr std::size_t kNameSize = 128;

// A list's bytes and the name its notices give it.
class ListSource : public ByteSource {
 public:
  virtual const char* name() const = 0;
  // The error number of a read that failed (0: none).
  virtual int readError() const { return 0; }
};

// A list file, read whole (at most FileBytes::kMaxBytes) before its records
// are: so the reading, which may block on a file that hangs, can run on a
// thread of its own and the table load what it read. Threads: one at a time;
// read() on any, the rest on the thread that loads a table.
class FileListSource final : public ListSource {
 public:
  // Reads the file; nothing is said yet. A path that is no regular file (a
  // device, a FIFO) fails to open like a missing file.
  void read(const char* path);
  // Reports a failure to open as "Error opening file" with the reason, then a
  // line naming the list (`what`), the file and the reason; false then, and
  // the source reads as empty.
  bool report(Console& console, const char* what = "Liste") const;
  // Both in one.
  bool open(const char* path, Console& console, const char* what = "Liste");

  int nextByte() override { return position_ < bytes_.size() ? bytes_[position_++] : -1; }
  const char* name() const override { return path_.c_str(); }
  int readError() const override { return readError_; }

 private:
  std::string path_;
  int openError_ = 0;
  int readError_ = 0;
  std::vector<std::uint8_t> bytes_;
  std::size_t position_ = 0;
};

// The same from bytes in memory (which may hold zero bytes, as a file can).
// Threads: used by one thread.
class MemoryListSource final : public ListSource {
 public:
  MemoryListSource(const std::uint8_t* data, std::size_t size, const char* name = "Liste")
      : bytes_(data, size), name_(name) {}
  int nextByte() override { return bytes_.nextByte(); }
  const char* name() const override { return name_; }

 private:
  MemoryBytes bytes_;
  const char* name_;
};

// One number field of a record: what it is, for notices, and the values the
// record can hold. A line with a value outside is skipped.
struct FieldRule {
  const char* what;
  int min;
  int max;
};

// One record line. `name` and `file` are valid only during the call that
// hands the record over.
struct ListRecord {
  static constexpr int kMaxNumbers = 6;
  const char* name = nullptr;
  int numbers[kMaxNumbers] = {};  // fields 2, 3, ... each within its rule
  const char* file = nullptr;     // for the table's own notices, as FILE:LINE
  int line = 0;
};

// Hands every record of the source to `onRecord`, in file order: a line with
// the name and one field per rule (1 <= rules <= kMaxNumbers), each a whole
// decimal number within its rule; further fields are ignored. Comment lines
// ("#" as the first character) and blank lines (nothing but separators and
// white space) are passed over quietly; every other line that is no such
// record is skipped with a "FILE:LINE: reason" notice.
void readList(ListSource& source, std::span<const FieldRule> rules, Console& console,
              const std::function<void(const ListRecord&)>& onRecord);

}  // namespace p50x
