#include "cohort/shard_tables.h"

#include <stdexcept>

#include "storage/sqlite/cppsqlite3.h"

namespace {

CppSQLite3DB Open_Read_Only(const std::string& path) {
  CppSQLite3DB db;
  db.open(path.c_str(), CppSQLite3OpenMode::kReadOnly);
  return db;
}

[[noreturn]] void Rethrow_Naming(const std::string& path, const CppSQLite3Exception& e) {
  throw std::runtime_error(path + ": " + std::string(e.errorDetail()));
}

}  // namespace

void Write_Shard_Tables(CppSQLite3DB& db, const Shard_Info& info,
                        const std::vector<Group_Seed>& seeds) {
  db.execDML("CREATE TABLE Shard_Info (Item TEXT PRIMARY KEY, Value TEXT)");
  CppSQLite3Statement item = db.compileStatement("INSERT INTO Shard_Info VALUES (?, ?)");
  auto put = [&item](const char* name, const std::string& value) {
    item.bind(1, name);
    item.bind(2, value.c_str());
    item.execDML();
  };
  put("plan", info.plan_id);
  put("shard", std::to_string(info.shard));
  put("rows", std::to_string(info.rows));
  put("groups", std::to_string(info.groups));
  put("unaligned", std::to_string(info.unaligned));
  if (!info.rows_xxh3_128.empty()) put("rows_xxh3_128", info.rows_xxh3_128);
  db.execDML(
      "CREATE TABLE Shard_Group_Seed (Align_ID INTEGER PRIMARY KEY, Seed_Intensity REAL, "
      "Seed_Sample INTEGER, Seed_Row INTEGER)");
  CppSQLite3Statement seed =
      db.compileStatement("INSERT INTO Shard_Group_Seed VALUES (?, ?, ?, ?)");
  for (std::size_t g = 0; g < seeds.size(); ++g) {
    seed.bindInt64(1, static_cast<long long>(g + 1));
    seed.bind(2, seeds[g].intensity);
    seed.bindInt64(3, seeds[g].sample);
    seed.bindInt64(4, seeds[g].row);
    seed.execDML();
  }
}

Shard_Info Read_Shard_Info(const std::string& path) {
  try {
    CppSQLite3DB db = Open_Read_Only(path);
    if (!db.tableExists("Shard_Info")) {
      throw std::runtime_error(path + ": not a shard's result (no Shard_Info table)");
    }
    CppSQLite3Statement query = db.compileStatement("SELECT Item, Value FROM Shard_Info");
    Shard_Info info;
    int seen = 0;
    while (query.step()) {
      const std::string name = query.fieldText(0);
      const std::string value = query.fieldText(1) ? query.fieldText(1) : "";
      auto number = [&] { return std::stoull(value); };
      if (name == "plan") {
        info.plan_id = value;
      } else if (name == "shard") {
        info.shard = static_cast<std::uint32_t>(number());
      } else if (name == "rows") {
        info.rows = number();
      } else if (name == "groups") {
        info.groups = number();
      } else if (name == "unaligned") {
        info.unaligned = number();
      } else if (name == "rows_xxh3_128") {
        info.rows_xxh3_128 = value;
        continue;  // optional
      } else {
        continue;
      }
      ++seen;
    }
    if (seen != 5) throw std::runtime_error(path + ": Shard_Info is incomplete");
    return info;
  } catch (const CppSQLite3Exception& e) {
    Rethrow_Naming(path, e);
  } catch (const std::logic_error&) {
    throw std::runtime_error(path + ": Shard_Info holds a value that is not a number");
  }
}

std::vector<Group_Seed> Read_Group_Seeds(const std::string& path) {
  try {
    CppSQLite3DB db = Open_Read_Only(path);
    CppSQLite3Statement query = db.compileStatement(
        "SELECT Align_ID, Seed_Intensity, Seed_Sample, Seed_Row FROM Shard_Group_Seed "
        "ORDER BY Align_ID");
    std::vector<Group_Seed> seeds;
    while (query.step()) {
      if (query.fieldInt64(0) != static_cast<long long>(seeds.size() + 1)) {
        throw std::runtime_error(path + ": Shard_Group_Seed skips an Align_ID");
      }
      seeds.push_back({query.fieldDouble(1), static_cast<std::uint32_t>(query.fieldInt64(2)),
                       static_cast<std::uint32_t>(query.fieldInt64(3))});
    }
    return seeds;
  } catch (const CppSQLite3Exception& e) {
    Rethrow_Naming(path, e);
  }
}
