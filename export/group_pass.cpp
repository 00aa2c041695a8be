#include "export/group_pass.h"

Group_Pass::Group_Pass(Export_Job& job) : job_(job), columns_(job.samples) {}

bool Group_Pass::Next() {
  while (job_.stream.Next(records_)) {
    group_.align_id = records_.align_id;
    group_.rows.clear();
    for (const Group_Row& r : records_.records) group_.rows.push_back(&r);
    group_.samples_present = Quantities(group_.rows, job_.options.quantity, columns_, group_.values,
                                        present_, [](const Group_Row&) { return true; });
    if (job_.signal && !job_.signal->Apply(group_.align_id, group_.values, group_.factors)) {
      continue;  // dropped by a filter
    }
    group_.summary = Summarize(group_.rows, job_.correction);
    return true;
  }
  return false;
}
