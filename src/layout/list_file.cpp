#include "layout/list_file.h"

#include <cerrno>
#include <cstring>

#include "common/text.h"

namespace p50x {

FileListSource::~FileListSource() {
  if (file_ != nullptr) std::fclose(file_);
}

bool FileListSource::open(const char* path, Console& console) {
  if (file_ != nullptr) {
    std::fclose(file_);
    file_ = nullptr;
  }
  file_ = std::fopen(path, "r");
  if (file_ == nullptr) {
    console.perror("Error opening file", errno);
    return false;
  }
  return true;
}

bool FileListSource::nextPiece(char* buffer, int size) {
  if (file_ == nullptr) return false;
  if (std::fgets(buffer, size, file_) != nullptr) return true;
  std::fclose(file_);
  file_ = nullptr;
  return false;
}

bool MemoryListSource::nextPiece(char* buffer, int size) {
  if (size < 1 || pos_ >= size_) return false;
  int n = 0;
  while (n < size - 1 && pos_ < size_) {
    const char c = static_cast<char>(data_[pos_++]);
    buffer[n++] = c;
    if (c == '\n') break;
  }
  buffer[n] = '\0';
  return true;
}

namespace {

bool isBlank(const char* text) {
  for (const char* p = text; *p != '\0'; ++p) {
    if (*p != ';' && *p != ' ' && *p != '\t' && *p != '\r' && *p != '\n' && *p != '\v' &&
        *p != '\f')
      return false;
  }
  return true;
}

// The piece without its line end, for a notice.
void shownLine(char* shown, std::size_t size, const char* piece) {
  copyField(shown, size, piece);
  shown[std::strcspn(shown, "\r\n")] = '\0';
}

}  // namespace

void readList(ListSource& source, int fields, Console& console,
              const std::function<void(const ListRecord&)>& onRecord) {
  if (fields < 2 || fields > 1 + ListRecord::kMaxNumbers) return;
  char piece[kListLineBuffer];
  char shown[kListLineBuffer];
  while (source.nextPiece(piece, sizeof piece)) {
    if (piece[0] == '#') continue;
    // A line that names nothing is no record; quietly so, since an empty last
    // line is common and harmless.
    if (isBlank(piece)) continue;
    shownLine(shown, sizeof shown, piece);

    ListRecord record;
    TokenCursor tokens(piece, ';');
    record.name = tokens.next();
    int found = 1;
    while (found < fields) {
      const char* field = tokens.next();
      if (field == nullptr) break;
      record.numbers[found - 1] = toInt(field);
      ++found;
    }
    if (found < fields) {
      // Reading the missing fields as 0 would put a locomotive, turnout or
      // contact at an address nobody wrote down.
      console.print("Listenzeile mit %d statt %d Feldern uebersprungen: %s\n", found, fields,
                    shown);
      continue;
    }
    onRecord(record);
  }
}

}  // namespace p50x
