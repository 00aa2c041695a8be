#include "storage/annotated_writer.h"

#include <filesystem>
#include <stdexcept>
#include <system_error>

#include "storage/peak_shape.h"
#include "storage/replacement_file.h"
#include "storage/result_columns.h"
#include "storage/sqlite/cppsqlite3.h"

struct Annotated_Database_Writer::State {
  CppSQLite3DB db;
  CppSQLite3Statement insert;
  std::string text;    // point text of the current shape
  std::string stored;  // its stored form
};

Annotated_Database_Writer::Annotated_Database_Writer(const std::string& path, int page_size)
    : state_(std::make_unique<State>()) {
  CppSQLite3DB& db = state_->db;
  db.open(path.c_str(), CppSQLite3OpenMode::kReadWriteCreate);
  if (page_size != 0) db.execDML(("PRAGMA page_size=" + std::to_string(page_size) + ";").c_str());
  db.execDML("PRAGMA journal_mode=OFF; PRAGMA synchronous=OFF;");
  db.execDML(Annotate_Create_Statement().c_str());
  db.execDML("begin transaction;");
  state_->insert = db.compileStatement(Annotate_Insert_Statement().c_str());
}

Annotated_Database_Writer::~Annotated_Database_Writer() = default;

void Annotated_Database_Writer::Add(const Chromatogram_Peak_Group_Compound& p) {
  CppSQLite3Statement& insert = state_->insert;
  const auto& columns = Annotate_Columns();
  for (std::size_t i = 0; i < columns.size(); ++i) {
    const int param = static_cast<int>(i) + 1;
    const auto c = static_cast<std::size_t>(columns[i] - kAlignColumns.data());
    switch (columns[i]->kind) {
      case Column_Kind::kInteger:  // the signed 32-bit value, as the writers store it
        insert.bind(param, static_cast<int>(Int_Field(p, c)));
        break;
      case Column_Kind::kReal:  // the double itself
        insert.bind(param, Real_Field(p, c));
        break;
      case Column_Kind::kText: {
        const std::string& value = Text_Field(p, c);
        insert.bindStatic(param, value.data(), static_cast<int>(value.size()));
        break;
      }
      case Column_Kind::kShape:
        state_->text.clear();
        Format_Peak_Shape_Text(p.Peak_shape, state_->text);
        Encode_Peak_Shape(state_->text, state_->stored);
        insert.bindStatic(param, state_->stored.data(), static_cast<int>(state_->stored.size()));
        break;
    }
  }
  insert.execDML();
}

void Annotated_Database_Writer::Finish() {
  state_->insert.finalize();
  CppSQLite3DB& db = state_->db;
  db.execDML("commit transaction;");
  db.execDML("CREATE INDEX Annotate_Peaklist_EIC_ID_index ON Annotate_Peaklist(EIC_ID);");
  db.close();
}

Annotated_Database_Replacement::Annotated_Database_Replacement(const std::string& folder,
                                                               const std::string& name)
    : file_(std::make_unique<Replacement_File>(folder, name)) {
  file_->Close();  // SQLite writes the empty file by its path
  writer_ = std::make_unique<Annotated_Database_Writer>(file_->temp_path(), 65536);
}

Annotated_Database_Replacement::~Annotated_Database_Replacement() {
  writer_.reset();  // closes the database before the file goes
}

void Annotated_Database_Replacement::Finish() {
  writer_->Finish();
  file_->Sync();
}

void Annotated_Database_Replacement::Commit() { file_->Commit(); }

const std::string& Annotated_Database_Replacement::temp_path() const { return file_->temp_path(); }

void Annotated_Database_Replacement::Keep_On_Stop() { file_->Keep_On_Stop(); }

void Annotated_Database_Replacement::Release() { file_->Release(); }

void Write_Annotated_Database(const std::string& path,
                              const std::vector<Chromatogram_Peak_Group_Compound>& peaks) {
  std::error_code ignored;
  std::filesystem::remove(path, ignored);
  try {
    Annotated_Database_Writer writer(path);
    for (const Chromatogram_Peak_Group_Compound& p : peaks) writer.Add(p);
    writer.Finish();
  } catch (const CppSQLite3Exception& e) {
    throw std::runtime_error(path + ": " + std::string(e.errorDetail()));
  }
}
