#include "run/read_ahead.h"

#include <algorithm>
#include <array>
#include <condition_variable>
#include <exception>
#include <limits>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>

namespace {

using Align = Chromatogram_Peak_Group_Compound_Align;

constexpr std::size_t kBatchRows = 1024;
constexpr std::size_t kBatches = 8;

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
  Reader(Aligned_Row_Source source, std::size_t count, bool with_shape, std::size_t takers)
      : source_(std::move(source)),
        count_(count),
        with_shape_(with_shape),
        taken_(takers, 0),
        gone_(takers, false) {
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

  // Row i for taker t; holding says whether t reads batch taken_[t] now.
  Aligned_Row Row(std::size_t t, bool& holding, std::size_t i, bool with_shape) {
    if (with_shape && !with_shape_) throw std::logic_error("rows were read ahead without shapes");
    if (i >= count_) throw std::logic_error("no such row");
    // taken_[t] changes only on this taker's thread.
    Batch* batch = &batches_[taken_[t] % kBatches];
    // Nothing follows a batch that ends in a failure.
    if (holding && batch->error && i >= batch->first + batch->rows) {
      std::rethrow_exception(batch->error);
    }
    if (!holding || i >= batch->first + batch->rows) {
      {
        std::unique_lock<std::mutex> lock(mutex_);
        if (holding) ++taken_[t];
        changed_.notify_all();
        changed_.wait(lock, [&] { return filled_ > taken_[t]; });
      }
      holding = true;
      batch = &batches_[taken_[t] % kBatches];
    }
    if (i < batch->first) throw std::logic_error("rows taken out of order");
    const std::size_t k = i - batch->first;
    if (k >= batch->rows) {
      if (batch->error) std::rethrow_exception(batch->error);
      throw std::logic_error("rows taken out of order");
    }
    if (!with_shape) return {&batch->records[k], {}};
    const std::size_t begin = batch->shape_ends[k];
    return {&batch->records[k],
            std::string_view(batch->shapes).substr(begin, batch->shape_ends[k + 1] - begin)};
  }

  // Taker t takes no more rows.
  void Leave(std::size_t t) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      gone_[t] = true;
    }
    changed_.notify_all();
  }

 private:
  // Batches every taker still there is done with; all of them when none is.
  std::size_t Released() const {
    std::size_t least = std::numeric_limits<std::size_t>::max();
    for (std::size_t t = 0; t < taken_.size(); ++t) {
      if (!gone_[t]) least = std::min(least, taken_[t]);
    }
    return least;
  }

  void Fill() {
    std::size_t next = 0;
    for (std::size_t b = 0; next < count_; ++b) {
      {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait(lock, [&] { return stop_ || b < Released() + kBatches; });
        if (stop_ || Released() == std::numeric_limits<std::size_t>::max()) return;
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
  std::size_t filled_ = 0;          // batches the helper has filled
  std::vector<std::size_t> taken_;  // batches each taker is done with
  std::vector<bool> gone_;          // takers whose source is gone
  bool stop_ = false;
  std::thread helper_;  // last: starts when everything above is ready
};

// One taker's end: leaves the reader when its source is destroyed.
struct Taker {
  std::shared_ptr<Reader> reader;
  std::size_t t;
  bool holding = false;
  Taker(std::shared_ptr<Reader> r, std::size_t index) : reader(std::move(r)), t(index) {}
  Taker(const Taker&) = delete;
  Taker& operator=(const Taker&) = delete;
  ~Taker() { reader->Leave(t); }
};

}  // namespace

std::vector<Aligned_Row_Source> Read_Ahead(Aligned_Row_Source source, std::size_t count,
                                           bool with_shape, std::size_t takers) {
  auto reader = std::make_shared<Reader>(std::move(source), count, with_shape, takers);
  std::vector<Aligned_Row_Source> sources;
  for (std::size_t t = 0; t < takers; ++t) {
    auto taker = std::make_shared<Taker>(reader, t);
    sources.push_back([taker](std::size_t i, bool shape) {
      return taker->reader->Row(taker->t, taker->holding, i, shape);
    });
  }
  return sources;
}
