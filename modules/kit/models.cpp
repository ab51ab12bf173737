#include "modules/kit/models.h"

#include <algorithm>

namespace hv::modkit {

ModelChoice sortedModels(ModelList* list, const std::function<bool(const ModelRecord&)>& accept) {
  struct Entry {
    std::string name;
    int index;
  };
  std::vector<Entry> entries;
  for (int i = 0, n = PLGetCount(list); i < n; ++i) {
    ModelRecord m{};
    if (PLGetInfo(list, i, &m) < 0) continue;
    if (accept && !accept(m)) continue;
    entries.push_back({fieldText(m.modelname), i});
  }
  std::stable_sort(entries.begin(), entries.end(),
                   [](const Entry& a, const Entry& b) { return a.name < b.name; });
  ModelChoice choice;
  for (auto& e : entries) {
    choice.names.push_back(std::move(e.name));
    choice.indices.push_back(e.index);
  }
  return choice;
}

}  // namespace hv::modkit
