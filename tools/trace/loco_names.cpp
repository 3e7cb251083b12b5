#include "loco_names.h"

#include <cerrno>
#include <fstream>
#include <iterator>
#include <vector>

#include "layout/list_file.h"

namespace p50x::trace {

int readLocoNames(const char* path, Console& console, std::map<int, std::string>& names) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return errno != 0 ? errno : ENOENT;
  const std::vector<char> text((std::istreambuf_iterator<char>(in)),
                               std::istreambuf_iterator<char>());
  if (in.bad()) return EIO;
  MemoryListSource source(reinterpret_cast<const std::uint8_t*>(text.data()), text.size(), path);
  // The first two numbers are the address; the rest of a line is the
  // station's business.
  static constexpr FieldRule kAddress[] = {{"Adresse low", 0, 255}, {"Adresse high", 0, 255}};
  readList(source, kAddress, console,
           [&names](const ListRecord& r) { names[r.numbers[0] + 256 * r.numbers[1]] = r.name; });
  return 0;
}

}  // namespace p50x::trace
