// The floor under the alignment run: a raw SQLite scan of the annotated
// databases (the reader's query, every column's text touched) streamed into a
// bulk insert of the same rows into Align_Peaklist (one transaction, one
// prepared statement). Also prints the size of the run's gathered list for
// the same data: records + shape points + heap-held strings.
//
//   bench_run_baseline OUTPUT.aligndb DATABASE...
#include <sqlite3.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "model/peak.h"
#include "storage/result_columns.h"

namespace {

// libstdc++ keeps strings of up to 15 characters inside the object.
constexpr std::size_t kInlineString = 15;

[[noreturn]] void Die(const char* what, sqlite3* db) {
  std::fprintf(stderr, "bench_run_baseline: %s: %s\n", what, db ? sqlite3_errmsg(db) : "");
  std::exit(1);
}

void Exec(sqlite3* db, const char* sql) {
  if (sqlite3_exec(db, sql, nullptr, nullptr, nullptr) != SQLITE_OK) Die(sql, db);
}

std::size_t Heap_Bytes(std::size_t length) { return length > kInlineString ? length + 1 : 0; }

// Points of a stored shape: the stored form lowers every byte of the point
// text by one, so each comma (44) is stored as '+' (43).
std::size_t Points_Of(const unsigned char* stored, int bytes) {
  if (bytes <= 1) return 0;
  std::size_t commas = 0;
  for (int i = 1; i < bytes; ++i) commas += stored[i] == '+';
  return (commas + 1) / 4;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: bench_run_baseline OUTPUT.aligndb DATABASE...\n");
    return 2;
  }
  const auto start = std::chrono::steady_clock::now();
  std::remove(argv[1]);
  sqlite3* out = nullptr;
  if (sqlite3_open(argv[1], &out) != SQLITE_OK) Die(argv[1], out);
  Exec(out, Align_Create_Statement().c_str());
  for (const std::string& index : Align_Index_Statements()) Exec(out, index.c_str());
  Exec(out, "begin transaction;");
  sqlite3_stmt* insert = nullptr;
  if (sqlite3_prepare_v2(out, Align_Insert_Statement().c_str(), -1, &insert, nullptr) !=
      SQLITE_OK) {
    Die("prepare insert", out);
  }

  // Reader's column order; Peak_shape last, as in Align_Peaklist.
  const auto& columns = Annotate_Columns();
  constexpr int kCount = static_cast<int>(kAnnotateColumnCount);
  std::size_t rows = 0, points = 0, string_bytes = 0;
  double scan_seconds = 0.0;  // stepping the queries and taking the columns' text
  for (int f = 2; f < argc; ++f) {
    sqlite3* in = nullptr;
    if (sqlite3_open_v2(argv[f], &in, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
      Die(argv[f], in);
    }
    sqlite3_stmt* scan = nullptr;
    if (sqlite3_prepare_v2(in, "select * from Annotate_Peaklist Order by EIC_ID", -1, &scan,
                           nullptr) != SQLITE_OK) {
      Die(argv[f], in);
    }
    int index[kCount];
    for (int c = 0; c < kCount; ++c) {
      index[c] = -1;
      for (int k = 0; k < sqlite3_column_count(scan); ++k) {
        if (std::strcmp(sqlite3_column_name(scan, k), columns[c]->name) == 0) index[c] = k;
      }
      if (index[c] < 0) Die(columns[c]->name, in);
    }
    std::string name = argv[f];
    name = name.substr(name.rfind('/') + 1);
    name = name.substr(0, name.find("_annotated_grouped_chromatograph_peaklist.db"));
    using Clock = std::chrono::steady_clock;
    auto mark = Clock::now();
    while (sqlite3_step(scan) == SQLITE_ROW) {
      for (int c = 0; c + 1 < kCount; ++c) {
        const unsigned char* text = sqlite3_column_text(scan, index[c]);
        sqlite3_bind_text(insert, c + 1, reinterpret_cast<const char*>(text),
                          sqlite3_column_bytes(scan, index[c]), SQLITE_STATIC);
      }
      const unsigned char* shape = sqlite3_column_text(scan, index[kCount - 1]);
      const int shape_bytes = sqlite3_column_bytes(scan, index[kCount - 1]);
      sqlite3_bind_int(insert, Column_Of("SAMPLE_ID") + 1, f - 2);
      sqlite3_bind_text(insert, Column_Of("SAMPLE_NAME") + 1, name.c_str(), -1, SQLITE_STATIC);
      sqlite3_bind_int(insert, Column_Of("Align_ID") + 1, 0);
      sqlite3_bind_double(insert, Column_Of("Align_RT") + 1, 0.0);
      sqlite3_bind_text(insert, Column_Of("Peak_shape") + 1, reinterpret_cast<const char*>(shape),
                        shape_bytes, SQLITE_STATIC);
      const auto scanned = Clock::now();
      scan_seconds += std::chrono::duration<double>(scanned - mark).count();
      if (sqlite3_step(insert) != SQLITE_DONE) Die("insert", out);
      sqlite3_reset(insert);
      mark = Clock::now();
      ++rows;
      points += Points_Of(shape, shape_bytes);
      string_bytes += Heap_Bytes(static_cast<std::size_t>(
                          sqlite3_column_bytes(scan, index[Column_Of("Adduct_Annotation")]))) +
                      Heap_Bytes(name.size());
    }
    sqlite3_finalize(scan);
    sqlite3_close(in);
  }
  sqlite3_finalize(insert);
  Exec(out, "commit transaction;");
  sqlite3_close(out);
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

  const std::size_t list_bytes = rows * sizeof(Chromatogram_Peak_Group_Compound_Align) +
                                 points * sizeof(Data_Point) + string_bytes;
  std::printf(
      "rows: %zu\npoints: %zu\nseconds: %.3f\nscan_seconds: %.3f\nrecord_bytes: %zu\n"
      "list_bytes: %zu\n",
      rows, points, seconds, scan_seconds, sizeof(Chromatogram_Peak_Group_Compound_Align),
      list_bytes);
  return 0;
}
