// The visualization tab at cohort scale: results of 1M to 10M rows, 400
// samples, 40-point shapes (about 1.7 KB a row), written by the real writer.
//
//   bench_viewer_scale make ROWS [PAGE_SIZE]
//       writes <cache>/viewer_<ROWS>[_p<PAGE_SIZE>].aligndb once (a page size
//       other than the writer's is made by a VACUUM INTO of the written file)
//   bench_viewer_scale open FILE
//       grid open: Aligned_Table::Load into the grid model, then the first
//       screen of cells; prints the time and the process's peak RSS (run one
//       open per process so the peak is the open's own)
//   bench_viewer_scale plans FILE
//       EXPLAIN QUERY PLAN of the grid select and the four queries
//   bench_viewer_scale redraw FILE [CLICKS]
//       click-to-redraw without widgets: the two queries and both charts'
//       curves for rows spread over the file; median and maximum
//   bench_viewer_scale queries FILE [CLICKS]
//       the one-peak, group and compound queries as SQLite plans them alone
//       and as Varnel steers them (aligned_queries.cpp); medians, and whether
//       both give the same rows in the same order
//
//   bench_viewer_scale report [ROWS ...]
//       all of the above for each size (default 1000000 2000000 5000000),
//       making missing files; each open runs in a process of its own
//
// The cache folder is VARNEL_BENCH_VIEWER_DATA (default /tmp/varnel-viewer-10m).
// Times are wall-clock; drop the page cache between runs for cold figures.
#include <sqlite3.h>
#include <sys/resource.h>

#include <QCoreApplication>
#include <algorithm>
#include <chrono>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <tuple>
#include <vector>

#include "storage/aligned_queries.h"
#include "storage/aligned_writers.h"
#include "storage/path.h"
#include "storage/peak_columns.h"
#include "storage/peak_shape.h"
#include "storage/sqlite/cppsqlite3.h"
#include "ui/align_table_model.h"
#include "ui/grid/aligned_table.h"
#include "ui/viz_plot.h"

using namespace Varnel;

namespace {

using Clock = std::chrono::steady_clock;
using Align = Chromatogram_Peak_Group_Compound_Align;

constexpr std::uint32_t kSamples = 400;
constexpr std::uint32_t kIons = 2;             // peaks of one compound in one sample
constexpr std::uint32_t kUnalignedEvery = 10;  // every tenth compound stays unaligned
constexpr int kPoints = 40;
constexpr int kShapeVariants = 64;
constexpr int kFirstScreenRows = 40;

std::string Cache_Folder() {
  const char* env = std::getenv("VARNEL_BENCH_VIEWER_DATA");
  return env != nullptr ? env : "/tmp/varnel-viewer-10m";
}

double Seconds_Since(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

double Median(std::vector<double> v) {
  if (v.empty()) return 0.0;
  std::sort(v.begin(), v.end());
  return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

// Peak resident set of this process so far, in MiB.
double Peak_Rss_Mib() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_maxrss) / 1024.0;
}

double Six_Decimals(double v) { return std::round(v * 1e6) / 1e6; }

std::uint64_t Mix(std::uint64_t x) {
  x ^= x >> 33;
  x *= 0xff51afd7ed558ccdULL;
  x ^= x >> 33;
  x *= 0xc4ceb3f97a63ed53ULL;
  return x ^ (x >> 33);
}

// A value in [0, 1) fixed by the key.
double Unit(std::uint64_t key) { return static_cast<double>(Mix(key) >> 11) / 9007199254740992.0; }

// The study's layout: every sample holds every compound with kIons peaks;
// rows stored in Align_ID order, the unaligned compounds (Align_ID 0) first.
struct Study {
  std::uint32_t compounds = 0;  // per sample
  std::uint32_t unaligned = 0;  // compounds with Align_ID 0 (every tenth)

  explicit Study(std::size_t rows)
      : compounds(static_cast<std::uint32_t>(rows / (kSamples * kIons))),
        unaligned(compounds / kUnalignedEvery) {}
  std::size_t Rows() const { return std::size_t{compounds} * kSamples * kIons; }

  // Row i as (compound k, sample s, ion j) and its Align_ID.
  void Locate(std::size_t i, std::uint32_t& k, std::uint32_t& s, std::uint32_t& j,
              std::uint32_t& align_id) const {
    const std::size_t unaligned_rows = std::size_t{unaligned} * kSamples * kIons;
    if (i < unaligned_rows) {  // sample by sample
      s = static_cast<std::uint32_t>(i / (std::size_t{unaligned} * kIons));
      const std::size_t r = i % (std::size_t{unaligned} * kIons);
      k = static_cast<std::uint32_t>(r / kIons) * kUnalignedEvery + kUnalignedEvery - 1;
      j = static_cast<std::uint32_t>(r % kIons);
      align_id = 0;
      return;
    }
    const std::size_t r = i - unaligned_rows;
    const std::uint32_t a = static_cast<std::uint32_t>(r / (kSamples * kIons));  // 0-based
    s = static_cast<std::uint32_t>(r / kIons % kSamples);
    j = static_cast<std::uint32_t>(r % kIons);
    k = a + a / (kUnalignedEvery - 1);  // the a-th compound that is aligned
    align_id = a + 1;
  }
};

std::vector<std::string> Make_Shapes() {
  std::vector<std::string> shapes;
  std::string text;
  for (int v = 0; v < kShapeVariants; ++v) {
    std::vector<Data_Point> points;
    const double height = 1e4 + 1e6 * Unit(v);
    for (int p = 0; p < kPoints; ++p) {
      const double x = (p - kPoints / 2.0) / 6.0;
      Data_Point d;
      d.Scan = static_cast<std::uint32_t>(1000 + 7 * v + p);
      d.RT = Six_Decimals(300.0 + 2.5 * v + 0.4 * p + Unit(v * 100 + p) * 0.01);
      d.MZ = Six_Decimals(150.0 + 10.0 * v + Unit(v * 1000 + p) * 0.001);
      d.Intensity = Six_Decimals(height * std::exp(-x * x) + 13.0 * Unit(v * 7 + p));
      points.push_back(d);
    }
    text.clear();
    Format_Peak_Shape_Text(points, text);
    shapes.push_back(Encode_Peak_Shape(text));
  }
  return shapes;
}

void Fill_Record(const Study& study, std::size_t i, Align& p) {
  std::uint32_t k = 0, s = 0, j = 0, align_id = 0;
  study.Locate(i, k, s, j, align_id);
  const std::uint64_t key = (std::uint64_t{s} << 32) | (k * kIons + j);
  const double mass = Six_Decimals(100.0 + 1400.0 * Unit(k));
  const double rt = Six_Decimals(30.0 + 1700.0 * Unit(k + 77777777ULL));
  p.EIC_ID = k * kIons + j + 1;
  p.Peak_ID = 1 + k % 3;
  p.Apex_MZ = Six_Decimals(mass + 1.007276 + j * 21.981944 + Unit(key) * 0.002);
  p.Apex_Pos = 100 + static_cast<std::uint32_t>(rt / 0.5) + s % 4;
  p.Apex_Retention_Time = Six_Decimals(rt + Unit(key + 5) * 4.0 - 2.0);
  p.Apex_Intensity = Six_Decimals(1e3 + 1e7 * Unit(key + 11));
  p.Peak_Area = Six_Decimals(p.Apex_Intensity * (8.0 + 4.0 * Unit(key + 13)));
  p.Peak_SNR = Six_Decimals(3.0 + 500.0 * Unit(key + 17));
  p.Left_Boundary = p.Apex_Pos - 12;
  p.Right_Boundary = p.Apex_Pos + 27;
  p.Group_ID = k + 1;
  p.Adduct_Annotation = j == 0 ? "[M+H]+" : "[M+Na]+";
  p.Compound_ID = k + 1;
  p.Compound_MolecularMass = mass;
  p.Compound_Retention_Time = Six_Decimals(rt + Unit(key + 19) * 2.0 - 1.0);
  p.Compound_Intensity = Six_Decimals(p.Apex_Intensity * 1.6);
  p.SAMPLE_ID = s;
  char name[32];
  std::snprintf(name, sizeof name, "cohort_%03u", s);
  p.SAMPLE_NAME = name;
  p.Align_ID = align_id;
  p.Align_RT = align_id == 0 ? 0.0 : rt;
}

std::string File_Name(std::size_t rows, int page_size) {
  std::string name = "viewer_" + std::to_string(rows);
  if (page_size != 0) name += "_p" + std::to_string(page_size);
  return name + ".aligndb";
}

int Make(std::size_t rows, int page_size) {
  const std::string folder = Cache_Folder();
  std::filesystem::create_directories(folder);
  const Study study(rows);
  const std::string plain = File_Name(study.Rows(), 0);
  if (!std::filesystem::exists(Join_Path(folder, plain))) {
    const auto shapes = Make_Shapes();
    Align record;
    const auto start = Clock::now();
    Aligned_Row_Source source = [&](std::size_t i, bool with_shape) -> Aligned_Row {
      Fill_Record(study, i, record);
      return {&record,
              with_shape ? std::string_view(shapes[i % shapes.size()]) : std::string_view()};
    };
    Write_Pending_Aligned_Database(study.Rows(), source, folder, plain, [&](std::size_t n) {
      if (n % 1000000 == 0) std::fprintf(stderr, "  %zu rows, %.0f s\n", n, Seconds_Since(start));
    }).Commit();
    std::printf("wrote %s: %zu rows in %.1f s\n", plain.c_str(), study.Rows(),
                Seconds_Since(start));
  }
  if (page_size != 0) {
    const std::string target = Join_Path(folder, File_Name(study.Rows(), page_size));
    if (!std::filesystem::exists(target)) {
      // VACUUM INTO writes the copy at the page size asked for on the
      // source connection, without touching the source.
      const std::string temp = target + ".part";
      std::filesystem::remove(temp);
      CppSQLite3DB db;
      db.open(Join_Path(folder, plain).c_str(), CppSQLite3OpenMode::kReadWrite);
      const std::string pragma = "PRAGMA page_size=" + std::to_string(page_size) + ";";
      db.execDML(pragma.c_str());
      CppSQLite3Buffer vacuum;
      db.execDML(vacuum.format("VACUUM INTO %Q;", temp.c_str()));
      db.close();
      std::filesystem::rename(temp, target);
      std::printf("made %s\n", target.c_str());
    }
  }
  return 0;
}

int Open(const std::string& file) {
  const auto [folder, name] = Split_Path(file);
  const double rss_before = Peak_Rss_Mib();
  const auto start = Clock::now();
  Align_Table_Model model;
  model.Set_Table(Aligned_Table::Load(folder, name));
  for (int r = 0; r < std::min(kFirstScreenRows, model.rowCount()); ++r)
    for (int c = 0; c < model.columnCount(); ++c) (void)model.data(model.index(r, c));
  const double seconds = Seconds_Since(start);
  const Aligned_Table& table = model.Table();
  std::string widths;
  int row_bytes = 0;
  for (int c = 0; c < kAlignedColumnCount; ++c) {
    int width = 0;
    switch (table.Column_Kind(c)) {
      case Cell_Kind::kInteger:
        width = table.Int_Column(c).Width();
        break;
      case Cell_Kind::kReal:
        width = table.Real_Column(c).Width();
        break;
      default:
        width = table.Text_Ids(c).Width();
        break;
    }
    row_bytes += width;
    widths += std::to_string(width);
  }
  std::printf("cell widths %s: %d bytes a row\n", widths.c_str(), row_bytes);
  std::printf("open %s: %d rows in %.2f s, peak RSS %.0f MiB (%.0f MiB before the open)\n",
              name.c_str(), model.rowCount(), seconds, Peak_Rss_Mib(), rss_before);
  return 0;
}

void Print_Plan(CppSQLite3DB& db, const std::string& sql) {
  std::printf("%s\n", sql.c_str());
  CppSQLite3Statement plan = db.compileStatement(("EXPLAIN QUERY PLAN " + sql).c_str());
  while (plan.step()) std::printf("    %s\n", plan.fieldText(3));
}

// Keys of rows spread evenly over the file (aligned rows, ions of either kind).
std::vector<Row_Keys> Sample_Rows(const std::string& file, int count) {
  const auto [folder, name] = Split_Path(file);
  CppSQLite3DB db;
  db.open(file.c_str(), CppSQLite3OpenMode::kReadOnly);
  const long long rows = db.execScalar("SELECT max(rowid) FROM Align_Peaklist");
  std::vector<Row_Keys> keys;
  for (int n = 0; n < count; ++n) {
    const long long rowid = 1 + (rows - 1) * (n + 1) / (count + 1);
    CppSQLite3Buffer sql;
    sql.format(
        "SELECT EIC_ID, Peak_ID, Group_ID, Compound_ID, SAMPLE_ID, Align_ID, SAMPLE_NAME"
        " FROM Align_Peaklist WHERE rowid = %lld",
        rowid);
    CppSQLite3Statement row = db.compileStatement(sql);
    if (!row.step()) continue;
    Row_Keys k;
    k.EIC_ID = static_cast<int>(row.fieldInt64(0));
    k.Peak_ID = static_cast<int>(row.fieldInt64(1));
    k.Group_ID = static_cast<int>(row.fieldInt64(2));
    k.Compound_ID = static_cast<int>(row.fieldInt64(3));
    k.SAMPLE_ID = static_cast<int>(row.fieldInt64(4));
    k.Align_ID = static_cast<int>(row.fieldInt64(5));
    k.sample_name = QString::fromUtf8(row.fieldText(6));
    k.align_id_text = QString::number(k.Align_ID);
    keys.push_back(k);
  }
  return keys;
}

int Plans(const std::string& file) {
  CppSQLite3DB db;
  db.open(file.c_str(), CppSQLite3OpenMode::kReadOnly);
  Print_Plan(db, Aligned_Grid_Select());
  Print_Plan(db, "select * from Align_Peaklist where Align_ID = '7';");
  Print_Plan(db, "select * from Align_Peaklist where SAMPLE_ID = '3' and Compound_ID='9';");
  Print_Plan(db, "select * from Align_Peaklist where SAMPLE_ID = '3' and Group_ID='9';");
  Print_Plan(db,
             "select * from Align_Peaklist where SAMPLE_ID = '3' and EIC_ID='17' and "
             "Peak_ID ='3';");
  return 0;
}

int Redraw(const std::string& file, int clicks) {
  const auto [folder, name] = Split_Path(file);
  const auto keys = Sample_Rows(file, clicks);
  for (Detail_Mode mode : {Detail_Mode::kPeak, Detail_Mode::kGroup, Detail_Mode::kCompound}) {
    std::vector<double> ms;
    std::size_t curves = 0;
    for (const Row_Keys& k : keys) {
      const auto start = Clock::now();
      const Redraw_Lists lists = Query_Redraw_Lists(folder, name, k, mode);
      const Chart_Content upper =
          Build_Aligned_Chart(lists.aligned, k.align_id_text, X_Axis::kScan, Y_Scale::kStandard);
      const Chart_Content lower = Build_Detail_Chart(lists.detail, k.sample_name, {});
      ms.push_back(Seconds_Since(start) * 1e3);
      curves += upper.curves.size() + lower.curves.size();
    }
    std::printf(
        "redraw (%s plot) over %zu rows: median %.1f ms, max %.1f ms, %.1f curves a click\n",
        mode == Detail_Mode::kPeak    ? "peak"
        : mode == Detail_Mode::kGroup ? "group"
                                      : "compound",
        ms.size(), Median(ms), ms.empty() ? 0.0 : *std::max_element(ms.begin(), ms.end()),
        keys.empty() ? 0.0 : static_cast<double>(curves) / keys.size());
  }
  return 0;
}

// The rows of a "select *" as the queries read them, planned by SQLite alone
// (the queries before they were steered).
void Unsteered_Query(const std::string& file, const char* sql, Align_Peak_List& peaklist) {
  CppSQLite3DB db;
  db.open(file.c_str(), CppSQLite3OpenMode::kReadOnly);
  CppSQLite3Statement query = db.compileStatement(sql);
  Peak_Row_Decoder decoder(query, Peak_Row_Decoder::Null_Reals::kNaN);
  while (query.step()) {
    Align peak;
    decoder.Read(peak);
    peaklist.push_back(std::move(peak));
  }
}

bool Same_Rows(const Align_Peak_List& a, const Align_Peak_List& b) {
  auto key = [](const Align& p) {
    return std::make_tuple(p.SAMPLE_ID, p.EIC_ID, p.Peak_ID, p.Group_ID, p.Compound_ID, p.Align_ID,
                           p.Apex_MZ, p.Peak_shape);
  };
  return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                    [&](const Align& x, const Align& y) { return key(x) == key(y); });
}

// The three sample-scoped queries, unsteered and as Varnel runs them.
int Queries(const std::string& file, int clicks) {
  const auto [folder, name] = Split_Path(file);
  const auto keys = Sample_Rows(file, clicks);
  for (int kind = 0; kind < 3; ++kind) {
    std::vector<double> before_ms, after_ms;
    std::size_t rows = 0;
    bool same = true;
    for (const Row_Keys& k : keys) {
      CppSQLite3Buffer sql;
      if (kind == 0)
        sql.format(
            "select * from Align_Peaklist where SAMPLE_ID = '%d' and EIC_ID='%d' and Peak_ID "
            "='%d';",
            k.SAMPLE_ID, k.EIC_ID, k.Peak_ID);
      else if (kind == 1)
        sql.format("select * from Align_Peaklist where SAMPLE_ID = '%d' and Group_ID='%d';",
                   k.SAMPLE_ID, k.Group_ID);
      else
        sql.format("select * from Align_Peaklist where SAMPLE_ID = '%d' and Compound_ID='%d';",
                   k.SAMPLE_ID, k.Compound_ID);
      Align_Peak_List before, after;
      auto start = Clock::now();
      Unsteered_Query(file, sql, before);
      before_ms.push_back(Seconds_Since(start) * 1e3);
      start = Clock::now();
      if (kind == 0)
        Query_ChromatographPeak_FromAlignDataBase(folder, name, k.SAMPLE_ID, k.EIC_ID, k.Peak_ID,
                                                  after);
      else if (kind == 1)
        Query_GroupedChromatographPeaklist_FromAlignDataBase(folder, name, k.SAMPLE_ID, k.Group_ID,
                                                             after);
      else
        Query_AnnotatedGroupedChromatographPeaklist_FromAlignDataBase(folder, name, k.SAMPLE_ID,
                                                                      k.Compound_ID, after);
      after_ms.push_back(Seconds_Since(start) * 1e3);
      rows += after.size();
      same = same && Same_Rows(before, after);
    }
    std::printf(
        "%s query over %zu rows: SQLite's own plan median %.2f ms, steered median %.2f "
        "ms; %.1f rows a query, %s\n",
        kind == 0   ? "one-peak"
        : kind == 1 ? "group"
                    : "compound",
        keys.size(), Median(before_ms), Median(after_ms),
        keys.empty() ? 0.0 : static_cast<double>(rows) / keys.size(),
        same ? "same rows in the same order" : "ROWS DIFFER");
  }
  return 0;
}

int Report(const char* self, std::vector<std::size_t> sizes) {
  if (sizes.empty()) sizes = {1000000, 2000000, 5000000};
  for (std::size_t rows : sizes) {
    Make(rows, 0);
    const std::string file = Join_Path(Cache_Folder(), File_Name(Study(rows).Rows(), 0));
    const std::string open = std::string("'") + self + "' open '" + file + "'";
    for (int run = 0; run < 3; ++run) {  // the first one may read from disk
      std::fflush(stdout);
      if (std::system(open.c_str()) != 0) return 1;
    }
    Redraw(file, 40);
    Queries(file, 40);
  }
  return 0;
}

int Usage() {
  std::fprintf(stderr,
               "usage: bench_viewer_scale make ROWS [PAGE_SIZE] | open FILE | plans FILE |"
               " redraw FILE [CLICKS] | queries FILE [CLICKS] | report [ROWS ...]\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  if (argc < 2) return Usage();
  const std::string verb = argv[1];
  const int clicks = argc > 3 ? std::atoi(argv[3]) : 40;
  try {
    if (argc < 3 && verb != "report") return Usage();
    if (verb == "make")
      return Make(std::strtoull(argv[2], nullptr, 10), argc > 3 ? std::atoi(argv[3]) : 0);
    if (verb == "open") return Open(argv[2]);
    if (verb == "plans") return Plans(argv[2]);
    if (verb == "redraw") return Redraw(argv[2], clicks);
    if (verb == "queries") return Queries(argv[2], clicks);
    if (verb == "report") {
      std::vector<std::size_t> sizes;
      for (int i = 2; i < argc; ++i) sizes.push_back(std::strtoull(argv[i], nullptr, 10));
      return Report(argv[0], sizes);
    }
  } catch (const CppSQLite3Exception& e) {
    std::fprintf(stderr, "%s\n", e.errorMessage());
    return 1;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s\n", e.what());
    return 1;
  }
  return Usage();
}
