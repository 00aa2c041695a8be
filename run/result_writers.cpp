#include "run/result_writers.h"

const std::vector<Result_Writer>& Result_Writers() {
  static const std::vector<Result_Writer> writers = {
      {kAlignedCsvName, Run_Stage::kWritingCsv,
       [](std::size_t count, const Aligned_Row_Source& rows, const std::string& folder,
          const char* name, const Row_Progress& progress, const Extra_Tables&) {
         return Write_Pending_Aligned_Csv(count, rows, folder, name, progress);
       }},
      {kAlignedDbName, Run_Stage::kWritingDatabase,
       [](std::size_t count, const Aligned_Row_Source& rows, const std::string& folder,
          const char* name, const Row_Progress& progress, const Extra_Tables& extra_tables) {
         return Write_Pending_Aligned_Database(count, rows, folder, name, progress, extra_tables);
       }},
  };
  return writers;
}
