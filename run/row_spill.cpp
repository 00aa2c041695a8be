#include "run/row_spill.h"

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "storage/path.h"
#include "storage/replacement_file.h"
#include "storage/sqlite/cppsqlite3.h"

Row_Spill::Row_Spill(const std::string& folder) {
  const std::string where = folder.empty() ? std::string("/") : folder;
  name_ = folder;
#ifdef O_TMPFILE
  fd_ = ::open(where.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
#endif
  if (fd_ < 0) {
    // No unnamed files here: a named one, unlinked at once.
    std::string pattern = Own_Temporary_Pattern(folder);
    fd_ = mkostemp(pattern.data(), O_CLOEXEC);
    if (fd_ < 0) {
      const int error = errno;
      throw CppSQLite3Exception(
          CPPSQLITE_ERROR, where + ": cannot create a temporary file: " + std::strerror(error));
    }
    ::unlink(pattern.c_str());
  }
  writer_ = std::make_unique<Row_Block_Writer>(fd_, name_, Row_File_Kind::kSpill, "", 0, 0,
                                               "cannot write the run's temporary file");
}

Row_Spill::~Row_Spill() {
  writer_.reset();
  if (fd_ >= 0) ::close(fd_);
}

void Row_Spill::Append(const Annotated_Batch& batch) {
  for (std::size_t i = 0; i < batch.peaks.size(); ++i) {
    writer_->Append(batch.peaks[i], {}, batch.Shape(i));
    ends_.push_back(writer_->Bytes());
  }
}

void Row_Spill::Flush() { writer_->Flush(); }

std::string_view Row_Spill::Reader::Read(std::size_t row, bool with_shape,
                                         Chromatogram_Peak_Group_Compound_Align& record) {
  const std::uint64_t begin = row == 0 ? kRowFileHeaderBytes : spill_.ends_[row - 1];
  std::uint32_t input_row = 0;
  return Read_Row_Block(spill_.fd_, spill_.name_, "cannot read the run's temporary file", begin,
                        spill_.ends_[row] - begin, with_shape, buffer_, record, input_row);
}
