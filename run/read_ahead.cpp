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
constexpr std::size_t kBatchesPerHelper = 4;
constexpr std::size_t kNotFilled = std::numeric_limits<std::size_t>::max();

// kBatchRows rows copied out of the source: records and shapes side by side.
struct Batch {
  std::size_t number = kNotFilled;  // the batch it holds once filled
  std::size_t first = 0;            // row number of records[0]
  std::size_t rows = 0;
  std::vector<Align> records = std::vector<Align>(kBatchRows);
  std::string shapes;
  std::array<std::size_t, kBatchRows + 1> shape_ends{};
  std::exception_ptr error;  // the source failed at row first + rows
};

class Reader {
 public:
  Reader(const std::function<Aligned_Row_Source()>& make_source, std::size_t count, bool with_shape,
         std::size_t takers, std::size_t helpers)
      : count_(count),
        with_shape_(with_shape),
        batches_(kBatchesPerHelper * std::max<std::size_t>(helpers, 1)),
        taken_(takers, 0),
        gone_(takers, false) {
    const std::size_t n = std::max<std::size_t>(helpers, 1);
    for (std::size_t h = 0; h < n; ++h) sources_.push_back(make_source());
    try {
      for (std::size_t h = 0; h < n; ++h) helpers_.emplace_back([this, h, n] { Fill(h, n); });
    } catch (...) {
      Stop();
      throw;
    }
  }
  Reader(const Reader&) = delete;
  Reader& operator=(const Reader&) = delete;
  ~Reader() { Stop(); }

  // Row i for taker t; holding says whether t reads batch taken_[t] now.
  Aligned_Row Row(std::size_t t, bool& holding, std::size_t i, bool with_shape) {
    if (with_shape && !with_shape_) throw std::logic_error("rows were read ahead without shapes");
    if (i >= count_) throw std::logic_error("no such row");
    // taken_[t] changes only on this taker's thread.
    Batch* batch = &Slot(taken_[t]);
    // Nothing follows a batch that ends in a failure.
    if (holding && batch->error && i >= batch->first + batch->rows) {
      std::rethrow_exception(batch->error);
    }
    if (!holding || i >= batch->first + batch->rows) {
      {
        std::unique_lock<std::mutex> lock(mutex_);
        if (holding) ++taken_[t];
        changed_.notify_all();
        const std::size_t wanted = taken_[t];
        changed_.wait(lock, [&] { return Slot(wanted).number == wanted; });
      }
      holding = true;
      batch = &Slot(taken_[t]);
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
  Batch& Slot(std::size_t number) { return batches_[number % batches_.size()]; }

  void Stop() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stop_ = true;
    }
    changed_.notify_all();
    for (std::thread& helper : helpers_) helper.join();
  }

  // Batches every taker still there is done with; all of them when none is.
  std::size_t Released() const {
    std::size_t least = kNotFilled;
    for (std::size_t t = 0; t < taken_.size(); ++t) {
      if (!gone_[t]) least = std::min(least, taken_[t]);
    }
    return least;
  }

  // Helper h of n fills batches h, h + n, h + 2n, ...
  void Fill(std::size_t h, std::size_t n) {
    const Aligned_Row_Source& source = sources_[h];
    for (std::size_t b = h; b * kBatchRows < count_; b += n) {
      {
        std::unique_lock<std::mutex> lock(mutex_);
        // The slot is free once every taker is past the batch it held.
        changed_.wait(lock,
                      [&] { return stop_ || b > failed_ || b < Released() + batches_.size(); });
        // Batches after a failure are not needed; those before it are.
        if (stop_ || b > failed_ || Released() == kNotFilled) return;
      }
      Batch& batch = Slot(b);
      batch.first = b * kBatchRows;
      batch.rows = 0;
      batch.shapes.clear();
      batch.error = nullptr;
      const std::size_t end = std::min(count_, batch.first + kBatchRows);
      try {
        for (std::size_t row = batch.first; row < end; ++row) {
          const Aligned_Row read = source(row, with_shape_);
          batch.records[batch.rows] = *read.record;
          batch.shapes += read.written_shape;
          batch.shape_ends[++batch.rows] = batch.shapes.size();
        }
      } catch (...) {
        batch.error = std::current_exception();
      }
      {
        std::lock_guard<std::mutex> lock(mutex_);
        batch.number = b;
        if (batch.error) failed_ = std::min(failed_, b);
      }
      changed_.notify_all();
    }
  }

  const std::size_t count_;
  const bool with_shape_;
  std::vector<Aligned_Row_Source> sources_;  // one per helper
  std::vector<Batch> batches_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<std::size_t> taken_;   // batches each taker is done with
  std::vector<bool> gone_;           // takers whose source is gone
  std::size_t failed_ = kNotFilled;  // the first batch known to hold a failure
  bool stop_ = false;
  std::vector<std::thread> helpers_;
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

std::vector<Aligned_Row_Source> Read_Ahead(const std::function<Aligned_Row_Source()>& make_source,
                                           std::size_t count, bool with_shape, std::size_t takers,
                                           std::size_t helpers) {
  auto reader = std::make_shared<Reader>(make_source, count, with_shape, takers, helpers);
  std::vector<Aligned_Row_Source> sources;
  for (std::size_t t = 0; t < takers; ++t) {
    auto taker = std::make_shared<Taker>(reader, t);
    sources.push_back([taker](std::size_t i, bool shape) {
      return taker->reader->Row(taker->t, taker->holding, i, shape);
    });
  }
  return sources;
}
