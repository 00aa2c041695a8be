// The annotated reader given arbitrary database bytes: it returns peaks or
// throws one of its documented exceptions, whose message names the file.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_db_file.h"
#include "model/peak.h"
#include "storage/annotated_reader.h"
#include "storage/path.h"
#include "storage/sqlite/cppsqlite3.h"

namespace {

constexpr const char* kName = "sample_annotated_grouped_chromatograph_peaklist.db";

void Check(bool ok) {
  if (!ok) std::abort();
}

bool Names_File(std::string_view message, const std::string& file) {
  return message.find(file) != std::string_view::npos;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static fuzz::Db_File db(kName);
  db.Write(data, size);
  const std::string file = Join_Path(db.folder(), kName);
  std::vector<Chromatogram_Peak_Group_Compound> peaks;
  try {
    Query_All_AnnotatedGroupedChromatographPeaklist_FromAnnoatedDataBase(db.folder(), kName, peaks);
  } catch (const CppSQLite3Exception& e) {
    Check(Names_File(e.errorMessage(), file));
  } catch (const std::invalid_argument& e) {
    Check(Names_File(e.what(), file));
  } catch (const std::out_of_range& e) {
    Check(Names_File(e.what(), file));
  }
  return 0;
}
