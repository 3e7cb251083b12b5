#include "layout/list_duplicates.h"

#include <algorithm>
#include <map>
#include <tuple>

namespace p50x {

std::vector<ListDuplicate> findDuplicates(const std::vector<ListedEntry>& walk, bool byAddress) {
  std::map<std::string, int> nameWinner;  // name -> the line a lookup finds
  std::map<int, int> addressWinner;
  std::vector<ListDuplicate> found;
  for (const ListedEntry& e : walk) {
    const auto name = nameWinner.emplace(e.name, e.line);
    if (!name.second) {
      found.push_back({ListDuplicate::Key::kName, e.line, name.first->second, e.name, e.address});
    }
    if (!byAddress) continue;
    const auto address = addressWinner.emplace(e.address, e.line);
    if (!address.second) {
      found.push_back(
          {ListDuplicate::Key::kAddress, e.line, address.first->second, e.name, e.address});
    }
  }
  std::sort(found.begin(), found.end(), [](const ListDuplicate& a, const ListDuplicate& b) {
    return std::tie(a.line, a.key) < std::tie(b.line, b.key);
  });
  return found;
}

}  // namespace p50x
