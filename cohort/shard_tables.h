// The side tables of one shard's result (a sharded alignment): what the
// shard is and the seed of each of its groups, beside Align_Peaklist.
//
//   CREATE TABLE Shard_Info (Item TEXT PRIMARY KEY, Value TEXT)
//   CREATE TABLE Shard_Group_Seed (Align_ID INTEGER PRIMARY KEY, Seed_Intensity REAL,
//                                  Seed_Sample INTEGER, Seed_Row INTEGER)
//
// Shard_Info holds "plan" (the plan's id), "shard", "rows", "groups",
// "unaligned" and "rows_xxh3_128" (the XXH3-128 of the shard's row file, as
// 32 hex digits; a shard made before it was recorded has none). A group's seed is the peak that
// started it: its Compound_Intensity, its SAMPLE_ID and its position in that input's peaks. Groups
// are made in falling seed order (intensity, then SAMPLE_ID and position rising), which is how the
// shards' groups interleave in the study.
#ifndef VARNEL_COHORT_SHARD_TABLES_H_
#define VARNEL_COHORT_SHARD_TABLES_H_

#include <cstdint>
#include <string>
#include <vector>

class CppSQLite3DB;

struct Shard_Info {
  std::string plan_id;
  std::uint32_t shard = 0;
  std::uint64_t rows = 0;
  std::uint64_t groups = 0;
  std::uint64_t unaligned = 0;
  std::string rows_xxh3_128;  // "" when not recorded
};

struct Group_Seed {
  double intensity = 0.0;
  std::uint32_t sample = 0;
  std::uint32_t row = 0;
};

// True when a's group comes before b's in the study.
inline bool Seeds_Before(const Group_Seed& a, const Group_Seed& b) {
  if (a.intensity != b.intensity) return a.intensity > b.intensity;
  if (a.sample != b.sample) return a.sample < b.sample;
  return a.row < b.row;
}

// Creates and fills both tables (seeds[g] is the seed of Align_ID g + 1). Runs
// no transaction of its own. Throws CppSQLite3Exception.
void Write_Shard_Tables(CppSQLite3DB& db, const Shard_Info& info,
                        const std::vector<Group_Seed>& seeds);

// Reads Shard_Info of the result at path, opened read-only. Throws
// std::runtime_error "<path>: ..." when it cannot be read or has no such table.
Shard_Info Read_Shard_Info(const std::string& path);
// Reads Shard_Group_Seed in Align_ID order; throws as above, also when the
// Align_IDs are not 1, 2, 3 ...
std::vector<Group_Seed> Read_Group_Seeds(const std::string& path);

#endif  // VARNEL_COHORT_SHARD_TABLES_H_
