// The first round of a plan whose member choice needs the whole study's
// spreads (Needs_Study_Spreads): each shard's deviations, then the study's
// spreads pooled from every shard's.
#include <xxhash.h>

#include <bit>
#include <charconv>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <nlohmann/json.hpp>
#include <stdexcept>
#include <system_error>

#include "align/compound_align.h"
#include "align/rt_correction.h"
#include "cohort/pooled_spreads.h"
#include "cohort/shard_files.h"
#include "cohort/shard_steps.h"
#include "run/file_hash.h"
#include "run/result_writers.h"
#include "storage/path.h"
#include "storage/replacement_file.h"
#include "storage/row_file.h"
#include "storage/run_record.h"
#include "storage/sqlite/cppsqlite3.h"

namespace fs = std::filesystem;
using Json = nlohmann::json;

namespace {

// A deviations file, little-endian: the header (kHeaderBytes), the three kinds'
// values one after the other as IEEE doubles bit for bit (rt, mass,
// log10 intensity), and the XXH3-64 of every byte before it.
constexpr char kDeviationsMagic[8] = {'V', 'A', 'R', 'N', 'E', 'L', 'D', 'V'};
constexpr std::uint32_t kDeviationsVersion = 1;
constexpr std::size_t kPlanIdBytes = 32;
// magic, version, shard, plan id, groups, three counts
constexpr std::size_t kHeaderBytes = 8 + 4 + 4 + kPlanIdBytes + 8 + 3 * 8;
constexpr std::size_t kChunkValues = 1 << 16;

void Put(std::string& out, std::uint64_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out.push_back(static_cast<char>((value >> (8 * i)) & 0xff));
}

std::uint64_t Get(const unsigned char* in, int bytes) {
  std::uint64_t value = 0;
  for (int i = 0; i < bytes; ++i) value |= std::uint64_t{in[i]} << (8 * i);
  return value;
}

struct Deviations_Header {
  std::uint32_t shard = 0;
  std::string plan_id;
  std::uint64_t groups = 0;
  std::uint64_t counts[3] = {0, 0, 0};
};

void Write_Deviations_File(const std::string& path, const Deviations_Header& header,
                           const Spread_Deviations& deviations) {
  const Split_Path_Result where = Split_Path(path);
  try {
    Replacement_File file(where.folder, where.name);
    XXH3_state_t* state = XXH3_createState();
    if (state == nullptr) throw std::bad_alloc();
    struct Freed {
      XXH3_state_t* state;
      ~Freed() { XXH3_freeState(state); }
    } freed{state};
    XXH3_64bits_reset(state);
    auto write = [&](const std::string& bytes) {
      XXH3_64bits_update(state, bytes.data(), bytes.size());
      file.Write(bytes);
    };
    std::string bytes(kDeviationsMagic, sizeof kDeviationsMagic);
    Put(bytes, kDeviationsVersion, 4);
    Put(bytes, header.shard, 4);
    std::string id = header.plan_id;
    id.resize(kPlanIdBytes, '\0');
    bytes += id;
    Put(bytes, deviations.groups, 8);
    for (const std::vector<double>* kind :
         {&deviations.rt, &deviations.mass, &deviations.log_intensity}) {
      Put(bytes, kind->size(), 8);
    }
    write(bytes);
    for (const std::vector<double>* kind :
         {&deviations.rt, &deviations.mass, &deviations.log_intensity}) {
      for (std::size_t i = 0; i < kind->size(); i += kChunkValues) {
        bytes.clear();
        const std::size_t end = std::min(kind->size(), i + kChunkValues);
        for (std::size_t j = i; j < end; ++j)
          Put(bytes, std::bit_cast<std::uint64_t>((*kind)[j]), 8);
        write(bytes);
      }
    }
    bytes.clear();
    Put(bytes, XXH3_64bits_digest(state), 8);
    file.Write(bytes);
    file.Commit();
  } catch (const CppSQLite3Exception& e) {
    throw std::runtime_error(path + ": " + e.errorMessage());
  }
}

// Checks a deviations file whole (its checksum, its size, that it is the
// shard's of this plan) and gives its header.
Deviations_Header Check_Deviations_File(const std::string& path, const std::string& plan_id,
                                        std::uint32_t shard) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error(path + ": cannot read");
  unsigned char head[kHeaderBytes];
  if (!in.read(reinterpret_cast<char*>(head), kHeaderBytes)) {
    throw std::runtime_error(path + ": cut short (no whole header)");
  }
  if (std::memcmp(head, kDeviationsMagic, sizeof kDeviationsMagic) != 0) {
    throw std::runtime_error(path + ": not a deviations file");
  }
  if (Get(head + 8, 4) != kDeviationsVersion) {
    throw std::runtime_error(path + ": a deviations file of another version (" +
                             std::to_string(Get(head + 8, 4)) + ")");
  }
  Deviations_Header header;
  header.shard = static_cast<std::uint32_t>(Get(head + 12, 4));
  header.plan_id.assign(reinterpret_cast<const char*>(head + 16), kPlanIdBytes);
  header.plan_id.resize(std::strlen(header.plan_id.c_str()));
  header.groups = Get(head + 16 + kPlanIdBytes, 8);
  std::uint64_t values = 0;
  for (int k = 0; k < 3; ++k) {
    header.counts[k] = Get(head + 24 + kPlanIdBytes + 8 * k, 8);
    values += header.counts[k];
  }
  std::error_code error;
  const std::uintmax_t size = fs::file_size(path, error);
  if (error || values > (std::uint64_t{1} << 60) || size != kHeaderBytes + 8 * values + 8) {
    throw std::runtime_error(path + ": its size does not match its counts (damaged file)");
  }
  XXH3_state_t* state = XXH3_createState();
  if (state == nullptr) throw std::bad_alloc();
  struct Freed {
    XXH3_state_t* state;
    ~Freed() { XXH3_freeState(state); }
  } freed{state};
  XXH3_64bits_reset(state);
  XXH3_64bits_update(state, head, kHeaderBytes);
  std::vector<char> block(kHashBlockBytes);
  std::uint64_t left = 8 * values;
  while (left > 0) {
    const auto n = static_cast<std::streamsize>(std::min<std::uint64_t>(left, block.size()));
    if (!in.read(block.data(), n)) throw std::runtime_error(path + ": cannot read");
    XXH3_64bits_update(state, block.data(), static_cast<std::size_t>(n));
    left -= static_cast<std::uint64_t>(n);
  }
  unsigned char sum[8];
  if (!in.read(reinterpret_cast<char*>(sum), 8)) throw std::runtime_error(path + ": cannot read");
  if (Get(sum, 8) != XXH3_64bits_digest(state)) {
    throw std::runtime_error(path + ": checksum mismatch (damaged file)");
  }
  if (header.plan_id != plan_id || header.shard != shard) {
    throw std::runtime_error(path + ": made for another plan or shard; make shard " +
                             std::to_string(shard) + "'s deviations again");
  }
  return header;
}

// Gives each value of one kind (0 rt, 1 mass, 2 log10 intensity) of a
// checked file, a block at a time.
void Each_Deviation(const std::string& path, const Deviations_Header& header, int kind,
                    const std::function<void(double)>& take) {
  std::ifstream in(path, std::ios::binary);
  std::uint64_t skip = 0;
  for (int k = 0; k < kind; ++k) skip += header.counts[k];
  in.seekg(static_cast<std::streamoff>(kHeaderBytes + 8 * skip));
  std::vector<unsigned char> block(8 * kChunkValues);
  std::uint64_t left = header.counts[kind];
  while (left > 0) {
    const std::uint64_t n = std::min<std::uint64_t>(left, kChunkValues);
    if (!in.read(reinterpret_cast<char*>(block.data()), static_cast<std::streamsize>(8 * n))) {
      throw std::runtime_error(path + ": cannot read");
    }
    for (std::uint64_t i = 0; i < n; ++i) take(std::bit_cast<double>(Get(block.data() + 8 * i, 8)));
    left -= n;
  }
}

std::string Number_Text(double value) { return Run_Number_Text(value); }

double Number_Of_Text(const std::string& text) {
  double value = 0.0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size()) {
    throw std::runtime_error("not a number: " + text);
  }
  return value;
}

std::string Read_Text(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error(path + ": cannot read");
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  return text;
}

}  // namespace

std::string Deviations_Path(const std::string& plan_folder, std::uint32_t shard) {
  return Join_Path(Join_Path(plan_folder, "deviations"),
                   "shard-" + std::to_string(shard) + ".deviations");
}

std::string Spreads_Path(const std::string& plan_folder) {
  return Join_Path(plan_folder, kSpreadsFileName);
}

Deviations_Summary Shard_Deviations(const std::string& plan_folder, std::uint32_t shard) {
  const Study_Plan plan = Read_Plan_File(plan_folder);
  if (!Needs_Study_Spreads(plan.options)) {
    throw std::runtime_error(Plan_Path(plan_folder) +
                             ": the plan's member choice needs no spreads of the study (no "
                             "--pick scored, no --join-splits): align its shards at once");
  }
  if (shard >= plan.shards.size()) {
    throw std::runtime_error(Plan_Path(plan_folder) + ": no shard " + std::to_string(shard) +
                             " (the plan has shards 0 to " +
                             std::to_string(plan.shards.size() - 1) + ")");
  }
  Deviations_Summary summary;
  const std::string path = Deviations_Path(plan_folder, shard);
  if (fs::exists(path)) {
    try {
      const Deviations_Header header = Check_Deviations_File(path, plan.id, shard);
      summary.already_done = true;
      summary.groups = header.groups;
      summary.deviations = header.counts[0];
      return summary;
    } catch (const std::runtime_error&) {
      // made again below
    }
  }
  std::vector<Align_Key> keys;
  Stored_Row row;
  for (std::uint32_t s = 0; s < plan.inputs.size(); ++s) {
    const std::string part = Join_Path(Part_Folder(plan_folder, shard), Part_Name(s));
    if (!fs::exists(part)) {
      throw std::runtime_error(Input_Path(plan.inputs[s]) + ": not split for this plan yet (no " +
                               part + "); run varnel-align --plan " + plan_folder +
                               " --split on it");
    }
    Row_File_Reader reader(part);
    if (reader.Header().kind != Row_File_Kind::kPart || reader.Header().plan_id != plan.id ||
        reader.Header().owner != s) {
      throw std::runtime_error(part + ": made for another plan; split " +
                               Input_Path(plan.inputs[s]) + " again");
    }
    while (reader.Next(row, false)) {
      Align_Key& key = keys.emplace_back();
      key.row = static_cast<std::uint32_t>(keys.size() - 1);
      key.Compound_ID = row.record.Compound_ID;
      key.Compound_MolecularMass = row.record.Compound_MolecularMass;
      key.Compound_Retention_Time = row.record.Compound_Retention_Time;
      key.Compound_Intensity = row.record.Compound_Intensity;
      key.SAMPLE_ID = s;
    }
  }
  std::vector<double> times;
  if (plan.correction) times = Corrected_Times(keys, *plan.correction);
  // The one-process run's first round over the same inputs: its groups of
  // this shard's masses are this shard's, so their deviations are too.
  const Spread_Deviations deviations = First_Pass_Deviations(
      plan.options.mode, plan.options.Mass_Tol, plan.options.Align_Window1,
      plan.options.Align_Window2, keys, plan.correction ? &times : nullptr, plan.inputs.size());
  std::vector<Align_Key>().swap(keys);
  Make_Folder(Split_Path(path).folder);
  Deviations_Header header;
  header.shard = shard;
  header.plan_id = plan.id;
  Write_Deviations_File(path, header, deviations);
  summary.groups = deviations.groups;
  summary.deviations = deviations.rt.size();
  return summary;
}

Pick_Spreads Pool_Spreads(const std::string& plan_folder) {
  const Study_Plan plan = Read_Plan_File(plan_folder);
  if (!Needs_Study_Spreads(plan.options)) {
    throw std::runtime_error(Plan_Path(plan_folder) +
                             ": the plan's member choice needs no spreads of the study (no "
                             "--pick scored, no --join-splits)");
  }
  // Every shard's file checked before anything is pooled or written.
  std::vector<Deviations_Header> headers;
  std::string problems;
  for (std::uint32_t k = 0; k < plan.shards.size(); ++k) {
    const std::string path = Deviations_Path(plan_folder, k);
    try {
      if (!fs::exists(path)) {
        throw std::runtime_error(path + ": missing; run varnel-align --plan " + plan_folder +
                                 " --deviations " + std::to_string(k));
      }
      headers.push_back(Check_Deviations_File(path, plan.id, k));
    } catch (const std::runtime_error& e) {
      problems += (problems.empty() ? "" : "\n") + std::string(e.what());
    }
  }
  if (!problems.empty()) throw std::runtime_error(problems);
  // The exact medians of every pooled value, as the one-process run takes
  // them, read in passes over the files (memory: a few histograms).
  const bool ppm = plan.options.Mass_Tol.unit == Mass_Tolerance::Unit::kPpm;
  Pick_Spreads spreads;
  spreads.ppm = ppm;
  for (const Deviations_Header& header : headers) spreads.groups += header.groups;
  if (spreads.Found()) {
    for (int kind = 0; kind < 3; ++kind) {
      const Value_Pass pass = [&](const std::function<void(double)>& take) {
        for (std::uint32_t k = 0; k < plan.shards.size(); ++k) {
          Each_Deviation(Deviations_Path(plan_folder, k), headers[k], kind, take);
        }
      };
      (kind == 0 ? spreads.rt : (kind == 1 ? spreads.mass : spreads.log_intensity)) =
          Pooled_Robust_Spread(pass);
    }
  }
  const Json file{{"format", "varnel-spreads"},
                  {"plan", plan.id},
                  {"groups", spreads.groups},
                  {"rt", Number_Text(spreads.rt)},
                  {"mass", Number_Text(spreads.mass)},
                  {"mass_unit", ppm ? "ppm" : "Da"},
                  {"log_intensity", Number_Text(spreads.log_intensity)}};
  Write_Small_File(Spreads_Path(plan_folder), file.dump(1) + "\n");
  return spreads;
}

Pick_Spreads Read_Study_Spreads(const std::string& plan_folder, const Study_Plan& plan) {
  const std::string path = Spreads_Path(plan_folder);
  if (!fs::exists(path)) {
    throw std::runtime_error(path +
                             ": missing; the plan's member choice needs the study's "
                             "spreads: run varnel-align --plan " +
                             plan_folder +
                             " --spreads once every shard's deviations are made (--deviations K)");
  }
  const std::string text = Read_Text(path);
  try {
    const Json file = Json::parse(text);
    if (file.at("format") != "varnel-spreads") throw std::runtime_error("not a spreads file");
    if (file.at("plan").get<std::string>() != plan.id) {
      throw std::runtime_error(
          "made for another plan; run varnel-align --plan DIR --spreads again");
    }
    Pick_Spreads spreads;
    spreads.ppm = plan.options.Mass_Tol.unit == Mass_Tolerance::Unit::kPpm;
    if (file.at("mass_unit").get<std::string>() != (spreads.ppm ? "ppm" : "Da")) {
      throw std::runtime_error("a mass spread in another unit than the plan's");
    }
    spreads.groups = file.at("groups").get<std::uint64_t>();
    spreads.rt = Number_Of_Text(file.at("rt").get<std::string>());
    spreads.mass = Number_Of_Text(file.at("mass").get<std::string>());
    spreads.log_intensity = Number_Of_Text(file.at("log_intensity").get<std::string>());
    return spreads;
  } catch (const Json::exception& e) {
    throw std::runtime_error(path + ": not a spreads file (" + e.what() + ")");
  } catch (const std::runtime_error& e) {
    throw std::runtime_error(path + ": " + e.what());
  }
}

Member_Choice_Record Shard_Choice_Record(const Study_Plan& plan, const Pick_Spreads& spreads,
                                         std::uint64_t joins) {
  // The one-process run records the spreads of the scored choice only.
  const Pick_Spreads recorded =
      plan.options.pick == Member_Pick::kScored ? spreads : Pick_Spreads{};
  return Member_Choice_Record_Of(plan.options.pick, recorded, plan.options.join_splits,
                                 static_cast<std::uint32_t>(joins));
}
