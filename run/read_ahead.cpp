#include "run/read_ahead.h"

#include <array>
#include <condition_variable>
#include <exception>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace {

using Align = Chromatogram_Peak_Group_Compound_Align;

constexpr std::size_t kBatchRows = 1024;
constexpr std::size_t kBatches = 4;

// kBatchRows rows copied out of the source: records and shapes side by side.
struct Batch {
  std::size_t first = 0;  // row number of records[0]
  std::size_t rows = 0;
  std::vector<Align> records = std::vector<Align>(kBatchRows);
  std::string shapes;
  std::array<std::size_t, kBatchRows + 1> shape_ends{};
  std::exception_ptr error;  // the source failed at row first + rows
};

class Reader {
 public:
  Reader(Aligned_Row_Source source, std::size_t count, bool with_shape)
      : source_(std::move(source)), count_(count), with_shape_(with_shape) {
    helper_ = std::thread([this] { Fill(); });
  }
  Reader(const Reader&) = delete;
  Reader& operator=(const Reader&) = delete;
  ~Reader() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stop_ = true;
    }
    changed_.notify_all();
    helper_.join();
  }

  Aligned_Row Row(std::size_t i, bool with_shape) {
    if (with_shape && !with_shape_) throw std::logic_error("rows were read ahead without shapes");
    if (i >= count_) throw std::logic_error("no such row");
    Batch* batch = &batches_[taken_ % kBatches];
    // Nothing follows a batch that ends in a failure.
    if (holding_ && batch->error && i >= batch->first + batch->rows) {
      std::rethrow_exception(batch->error);
    }
    if (!holding_ || i >= batch->first + batch->rows) {
      if (holding_) Release();
      {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait(lock, [&] { return filled_ > taken_; });
      }
      holding_ = true;
      batch = &batches_[taken_ % kBatches];
    }
    if (i < batch->first) throw std::logic_error("rows taken out of order");
    const std::size_t k = i - batch->first;
    if (k >= batch->rows) {
      if (batch->error) std::rethrow_exception(batch->error);
      throw std::logic_error("rows taken out of order");
    }
    const std::string_view shape =
        with_shape
            ? std::string_view(batch->shapes)
                  .substr(batch->shape_ends[k], batch->shape_ends[k + 1] - batch->shape_ends[k])
            : std::string_view();
    return {&batch->records[k], shape};
  }

 private:
  void Release() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      ++taken_;
    }
    holding_ = false;
    changed_.notify_all();
  }

  void Fill() {
    std::size_t next = 0;
    for (std::size_t b = 0; next < count_; ++b) {
      {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait(lock, [&] { return stop_ || b < taken_ + kBatches; });
        if (stop_) return;
      }
      Batch& batch = batches_[b % kBatches];
      batch.first = next;
      batch.rows = 0;
      batch.shapes.clear();
      batch.error = nullptr;
      try {
        while (batch.rows < kBatchRows && next < count_) {
          const Aligned_Row row = source_(next, with_shape_);
          batch.records[batch.rows] = *row.record;
          batch.shapes += row.written_shape;
          batch.shape_ends[++batch.rows] = batch.shapes.size();
          ++next;
        }
      } catch (...) {
        batch.error = std::current_exception();
        next = count_;  // nothing after a failure
      }
      {
        std::lock_guard<std::mutex> lock(mutex_);
        ++filled_;
      }
      changed_.notify_all();
    }
  }

  Aligned_Row_Source source_;
  const std::size_t count_;
  const bool with_shape_;
  std::array<Batch, kBatches> batches_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::size_t filled_ = 0;  // batches the helper has filled
  std::size_t taken_ = 0;   // batches the taker is done with
  bool holding_ = false;    // the taker reads batch taken_
  bool stop_ = false;
  std::thread helper_;  // last: starts when everything above is ready
};

}  // namespace

Aligned_Row_Source Read_Ahead(Aligned_Row_Source source, std::size_t count, bool with_shape) {
  auto reader = std::make_shared<Reader>(std::move(source), count, with_shape);
  return [reader](std::size_t i, bool shape) { return reader->Row(i, shape); };
}
