// The viewer's reads of an aligned database given arbitrary bytes: the grid
// loader and the four queries return rows or throw one of their documented
// exceptions, whose message names the file.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_db_file.h"
#include "storage/aligned_queries.h"
#include "storage/path.h"
#include "storage/sqlite/cppsqlite3.h"
#include "ui/grid/aligned_table.h"

namespace {

constexpr const char* kName = "aligned_annotated_grouped_chromatograph_peaklist.aligndb";

void Check(bool ok) {
  if (!ok) std::abort();
}

// Runs one read; a documented failure must name the file.
template <typename Read>
void Expect_Documented(const std::string& file, Read&& read) {
  try {
    read();
  } catch (const CppSQLite3Exception& e) {
    Check(std::string_view(e.errorMessage()).find(file) != std::string_view::npos);
  } catch (const Aligned_Table_Error& e) {
    Check(std::string_view(e.what()).find(file) != std::string_view::npos);
  } catch (const std::invalid_argument& e) {
    Check(std::string_view(e.what()).find(file) != std::string_view::npos);
  } catch (const std::out_of_range& e) {
    Check(std::string_view(e.what()).find(file) != std::string_view::npos);
  }
}

struct Keys {
  int align_id = 1;
  int sample_id = 0;
  int compound_id = 1;
  int group_id = 1;
  int eic_id = 1;
  int peak_id = 1;
};

// The keys of the grid's first row, as a click on it would use them.
Keys First_Row_Keys(const Aligned_Table& table) {
  Keys keys;
  if (table.Row_Count() == 0) return keys;
  auto key = [&](int column, int fallback) {
    return table.Kind(0, column) == Cell_Kind::kInteger ? static_cast<int>(table.Integer(0, column))
                                                        : fallback;
  };
  keys.align_id = key(kCol_Align_ID, keys.align_id);
  keys.sample_id = key(kCol_SAMPLE_ID, keys.sample_id);
  keys.compound_id = key(kCol_Compound_ID, keys.compound_id);
  keys.group_id = key(kCol_Group_ID, keys.group_id);
  keys.eic_id = key(kCol_EIC_ID, keys.eic_id);
  keys.peak_id = key(kCol_Peak_ID, keys.peak_id);
  return keys;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static fuzz::Db_File db(kName);
  db.Write(data, size);
  const std::string file = Join_Path(db.folder(), kName);

  Keys keys;
  Expect_Documented(file, [&] {
    const Aligned_Table table = Aligned_Table::Load(db.folder(), kName);
    // Touch every cell the grid would show.
    for (std::size_t row = 0; row < table.Row_Count(); ++row) {
      for (int column = 0; column < kAlignedColumnCount; ++column) {
        switch (table.Kind(row, column)) {
          case Cell_Kind::kInteger:
            (void)table.Integer(row, column);
            break;
          case Cell_Kind::kReal:
            (void)table.Real(row, column);
            break;
          case Cell_Kind::kText:
            (void)table.Text(row, column);
            break;
          case Cell_Kind::kNull:
            break;
        }
      }
      if (row > 0) (void)table.Compare(row - 1, row, static_cast<int>(row % kAlignedColumnCount));
    }
    keys = First_Row_Keys(table);
  });

  Align_Peak_List peaks;
  Expect_Documented(file, [&] {
    Engine_Query_AlignedAnnotatedGroupedChromatographPeaklist_FromAlignDataBase(
        db.folder(), kName, keys.align_id, peaks);
  });
  Expect_Documented(file, [&] {
    Engine_Query_AnnotatedGroupedChromatographPeaklist_FromAlignDataBase(
        db.folder(), kName, keys.sample_id, keys.compound_id, peaks);
  });
  Expect_Documented(file, [&] {
    Engine_Query_GroupedChromatographPeaklist_FromAlignDataBase(db.folder(), kName, keys.sample_id,
                                                                keys.group_id, peaks);
  });
  Expect_Documented(file, [&] {
    Engine_Query_ChromatographPeak_FromAlignDataBase(db.folder(), kName, keys.sample_id,
                                                     keys.eic_id, keys.peak_id, peaks);
  });
  return 0;
}
