#include "run/run_stages.h"

#include <cstddef>

// The rows are in enumerator order.
static_assert([] {
  for (std::size_t i = 0; i < kRunStages.size(); ++i) {
    if (static_cast<std::size_t>(kRunStages[i].stage) != i) return false;
  }
  return true;
}());

const Run_Stage_Info& Stage_Info(Run_Stage stage) {
  return kRunStages[static_cast<std::size_t>(stage)];
}

const char* Run_Stage_Name(Run_Stage stage) { return Stage_Info(stage).name; }
