#include "layout/list_file.h"

#include <cstring>

#include "common/text.h"

namespace p50x {

void FileListSource::read(const char* path) {
  path_ = path != nullptr ? path : "";
  bytes_.clear();
  position_ = 0;
  readError_ = 0;
  FileBytes file;
  openError_ = file.open(path_.c_str());
  if (openError_ != 0) return;
  for (int c = file.nextByte(); c >= 0; c = file.nextByte()) {
    bytes_.push_back(static_cast<std::uint8_t>(c));
  }
  readError_ = file.readError();
}

bool FileListSource::report(Console& console, const char* what) const {
  if (openError_ == 0) return true;
  const std::string reason = fileErrorText(openError_);
  console.err("Error opening file: " + reason + "\n");
  // The line above names the reason only; without the file's name a user
  // cannot tell which of the three lists is missing.
  console.err(std::string(what) + " \"" + path_ + "\": " + reason + "; die Liste bleibt leer.\n");
  return false;
}

bool FileListSource::open(const char* path, Console& console, const char* what) {
  read(path);
  return report(console, what);
}

namespace {

// The field without the blanks a person may put around a number.
char* trimmed(char* field) {
  while (*field == ' ' || *field == '\t') ++field;
  std::size_t n = std::strlen(field);
  while (n > 0 && (field[n - 1] == ' ' || field[n - 1] == '\t')) field[--n] = '\0';
  return field;
}

// Splits one record line; false (after its notice) when it is no record.
bool parseRecord(TextLine& line, std::span<const FieldRule> rules, const char* file,
                 Console& console, ListRecord& record) {
  char shown[TextLine::kMaxLength + 1];
  copyField(shown, sizeof shown, line.text);
  const int wanted = 1 + static_cast<int>(rules.size());

  TokenCursor tokens(line.text, ';');
  record.name = tokens.next();
  char* fields[ListRecord::kMaxNumbers] = {};
  int found = 1;
  while (found < wanted) {
    char* field = tokens.next();
    if (field == nullptr) break;
    fields[found - 1] = trimmed(field);
    ++found;
  }
  if (found < wanted) {
    // Reading the missing fields as 0 would put a locomotive, turnout or
    // contact at an address nobody wrote down.
    console.print("%s:%d: %d statt %d Felder; Zeile uebersprungen: %s\n", file, line.number, found,
                  wanted, shown);
    return false;
  }
  for (int i = 0; i + 1 < wanted; ++i) {
    const FieldRule& rule = rules[static_cast<std::size_t>(i)];
    long long value = 0;
    if (!parseDecimal(fields[i], value)) {
      console.print("%s:%d: Feld %d (%s) \"%s\" ist keine ganze Zahl; Zeile uebersprungen.\n", file,
                    line.number, i + 2, rule.what, fields[i]);
      return false;
    }
    // Never cut to fit: an address of 300 would become 44, somebody else's.
    if (value < rule.min || value > rule.max) {
      console.print(
          "%s:%d: Feld %d (%s) %s liegt nicht zwischen %d und %d; "
          "Zeile uebersprungen.\n",
          file, line.number, i + 2, rule.what, fields[i], rule.min, rule.max);
      return false;
    }
    record.numbers[i] = static_cast<int>(value);
  }
  return true;
}

}  // namespace

void readList(ListSource& source, std::span<const FieldRule> rules, Console& console,
              const std::function<void(const ListRecord&)>& onRecord) {
  if (rules.empty() || rules.size() > static_cast<std::size_t>(ListRecord::kMaxNumbers)) return;
  const char* file = source.name();
  LineReader lines(source);
  TextLine line;
  int lastLine = 0;
  while (lines.next(line)) {
    lastLine = line.number;
    if (lines.startsAsUtf16()) {
      console.print("%s: UTF-16-Text, nicht gelesen; bitte als UTF-8 oder ANSI speichern.\n", file);
      return;
    }
    if (line.text[0] == '#') continue;
    if (line.hasZeroByte) {
      console.print("%s:%d: Nullbyte, keine Textzeile; Zeile uebersprungen.\n", file, line.number);
      continue;
    }
    // A line that names nothing is no record; quietly so, since an empty last
    // line is common and harmless.
    if (isBlank(line.text) && !line.tooLong()) continue;
    if (line.tooLong()) {
      console.print("%s:%d: %d Zeichen, hoechstens %d; Zeile uebersprungen.\n", file, line.number,
                    static_cast<int>(line.length), static_cast<int>(TextLine::kMaxLength));
      continue;
    }
    ListRecord record;
    record.file = file;
    record.line = line.number;
    if (parseRecord(line, rules, file, console, record)) onRecord(record);
  }
  if (const int error = source.readError(); error != 0) {
    console.print("%s: Lesefehler nach Zeile %d: %s; der Rest der Liste fehlt.\n", file, lastLine,
                  fileErrorText(error).c_str());
  }
}

}  // namespace p50x
