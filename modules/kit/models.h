#pragma once
// The phone model list of a module dialog: the models of the PHONE table a module can serve,
// sorted by name.
#include <functional>
#include <string>
#include <vector>

#include "include/handvane/export.h"
#include "include/handvane/records.h"
#include "tables/models/modelstore.h"

namespace hv::modkit {

struct ModelChoice {
  std::vector<std::string> names;  // GBK, sorted; equal names keep the table's order
  std::vector<int> indices;        // the PLGetInfo index of each name
};

// The models of list that accept takes (every model when accept is empty); records that cannot be
// read are skipped.
HV_EXPORT ModelChoice sortedModels(ModelList* list,
                                   const std::function<bool(const ModelRecord&)>& accept = {});

}  // namespace hv::modkit
