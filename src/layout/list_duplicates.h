// Entries of a layout list that share an address or a name with a later line.
// The later line wins every lookup, as it always has: an earlier one with the
// same address is never reached by the serial side, one with the same contact
// name never by the host, and two locomotives or turnouts of one name are one
// to the host. Start-up keeps this rule; the configuration check names them.
#pragma once

#include <string>
#include <vector>

namespace p50x {

struct ListDuplicate {
  enum class Key { kAddress, kName };
  Key key = Key::kName;
  int line = 0;       // the earlier entry
  int laterLine = 0;  // the entry a lookup finds instead
  std::string name;   // the earlier entry's name
  int address = 0;    // low byte + 256 * high byte
};

// What a table knows of one entry for this.
struct ListedEntry {
  const char* name;
  int line;
  int address;
};

// `walk`: the table's entries in walk order (the file's last line first).
// Every entry whose name (and, with `byAddress`, whose address) a later line
// has too, in file order; an entry hidden both ways is named twice.
std::vector<ListDuplicate> findDuplicates(const std::vector<ListedEntry>& walk, bool byAddress);

// The same for entries that have a name, a line and the two address bytes.
template <typename Entry>
std::vector<ListDuplicate> findAddressedDuplicates(const std::vector<Entry>& walk) {
  std::vector<ListedEntry> listed;
  listed.reserve(walk.size());
  for (const Entry& e : walk)
    listed.push_back({e.name, e.line, e.addressLow + 256 * e.addressHigh});
  return findDuplicates(listed, true);
}

}  // namespace p50x
