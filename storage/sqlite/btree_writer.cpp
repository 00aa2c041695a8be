#include "storage/sqlite/btree_writer.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <limits>
#include <mutex>
#include <thread>

#include "storage/sqlite/cppsqlite3.h"

namespace {

[[noreturn]] void Fail(const std::string& what) {
  throw CppSQLite3Exception(CPPSQLITE_ERROR, what);
}

// A full disk or a file size limit reads as SQLite's own "database or disk
// is full", the system's reason after it.
[[noreturn]] void Fail_Errno(const char* what) {
  const int error = errno;
  if (error == ENOSPC || error == EFBIG || error == EDQUOT) {
    throw CppSQLite3Exception(SQLITE_FULL,
                              std::string("database or disk is full: ") + std::strerror(error));
  }
  Fail(std::string(what) + ": " + std::strerror(error));
}

// SQLite's variable-length integer: 1 to 9 bytes, big-endian groups of 7
// bits with the high bit set on all but the last; a ninth byte holds 8 bits.
int Varint_Length(std::uint64_t v) {
  int n = 1;
  while (n < 9 && v > 0x7f) {
    v >>= 7;
    ++n;
  }
  return n;
}

int Put_Varint(unsigned char* p, std::uint64_t v) {
  if (v <= 0x7f) {
    p[0] = static_cast<unsigned char>(v);
    return 1;
  }
  if (v <= 0x3fff) {
    p[0] = static_cast<unsigned char>(((v >> 7) & 0x7f) | 0x80);
    p[1] = static_cast<unsigned char>(v & 0x7f);
    return 2;
  }
  if (v & (std::uint64_t{0xff000000} << 32)) {
    p[8] = static_cast<unsigned char>(v);
    v >>= 8;
    for (int i = 7; i >= 0; --i) {
      p[i] = static_cast<unsigned char>((v & 0x7f) | 0x80);
      v >>= 7;
    }
    return 9;
  }
  unsigned char buf[10];
  int n = 0;
  do {
    buf[n++] = static_cast<unsigned char>((v & 0x7f) | 0x80);
    v >>= 7;
  } while (v != 0);
  buf[0] &= 0x7f;
  for (int i = 0, j = n - 1; j >= 0; --j, ++i) p[i] = buf[j];
  return n;
}

void Put_U16(unsigned char* p, std::uint32_t v) {
  p[0] = static_cast<unsigned char>(v >> 8);
  p[1] = static_cast<unsigned char>(v);
}
void Put_U32(unsigned char* p, std::uint32_t v) {
  p[0] = static_cast<unsigned char>(v >> 24);
  p[1] = static_cast<unsigned char>(v >> 16);
  p[2] = static_cast<unsigned char>(v >> 8);
  p[3] = static_cast<unsigned char>(v);
}
std::uint32_t Get_U16(const unsigned char* p) { return (std::uint32_t{p[0]} << 8) | p[1]; }
std::uint32_t Get_U32(const unsigned char* p) {
  return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) |
         p[3];
}

// The serial type of an integer and the size of its body: the smallest of
// 1, 2, 3, 4, 6 or 8 bytes, or the constants 0 (type 8) and 1 (type 9).
struct Int_Type {
  std::uint64_t type;
  int size;
};
Int_Type Integer_Type(std::int64_t i) {
  const std::uint64_t u = i < 0 ? ~static_cast<std::uint64_t>(i) : static_cast<std::uint64_t>(i);
  if (u <= 127) {
    if (i == 0 || i == 1) return {static_cast<std::uint64_t>(8 + i), 0};
    return {1, 1};
  }
  if (u <= 32767) return {2, 2};
  if (u <= 8388607) return {3, 3};
  if (u <= 2147483647) return {4, 4};
  if (u <= 140737488355327) return {5, 6};
  return {6, 8};
}

void Put_Big_Endian(unsigned char* p, std::uint64_t v, int size) {
  for (int i = size - 1; i >= 0; --i) {
    p[i] = static_cast<unsigned char>(v);
    v >>= 8;
  }
}

// Page types.
constexpr unsigned char kIndexInterior = 2;
constexpr unsigned char kTableInterior = 5;
constexpr unsigned char kIndexLeaf = 10;
constexpr unsigned char kTableLeaf = 13;

constexpr std::size_t kChunkBytes = std::size_t{4} << 20;

}  // namespace

// ---------------------------------------------------------------- record

void Sqlite_Record::Clear() {
  types_.clear();
  pieces_.clear();
  small_.clear();
  body_size_ = 0;
}

void Sqlite_Record::Add_Type(std::uint64_t serial_type) {
  unsigned char buf[9];
  types_.append(reinterpret_cast<const char*>(buf),
                static_cast<std::size_t>(Put_Varint(buf, serial_type)));
}

void Sqlite_Record::Add_Small(const unsigned char* body, std::size_t size) {
  if (size == 0) return;
  if (pieces_.empty() || pieces_.back().external != nullptr) {
    pieces_.push_back({nullptr, small_.size(), 0});
  }
  small_.append(reinterpret_cast<const char*>(body), size);
  pieces_.back().size += size;
  body_size_ += size;
}

void Sqlite_Record::Add_Null() { Add_Type(0); }

void Sqlite_Record::Add_Integer(std::int64_t value) {
  const Int_Type t = Integer_Type(value);
  Add_Type(t.type);
  unsigned char body[8];
  Put_Big_Endian(body, static_cast<std::uint64_t>(value), t.size);
  Add_Small(body, static_cast<std::size_t>(t.size));
}

void Sqlite_Record::Add_Real(double value) {
  // SQLite keeps an integral REAL as an integer when that fits in 6 bytes.
  constexpr double kLimit = 140737488355328.0;  // 2^47
  if (value >= -kLimit && value < kLimit && value == std::trunc(value)) {
    Add_Integer(static_cast<std::int64_t>(value));
    return;
  }
  Add_Type(7);
  std::uint64_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  unsigned char body[8];
  Put_Big_Endian(body, bits, 8);
  Add_Small(body, 8);
}

void Sqlite_Record::Add_Text(std::string_view text) {
  Add_Type(2 * static_cast<std::uint64_t>(text.size()) + 13);
  const auto* data = reinterpret_cast<const unsigned char*>(text.data());
  if (text.size() <= 64) {
    Add_Small(data, text.size());
    return;
  }
  pieces_.push_back({data, 0, text.size()});
  body_size_ += text.size();
}

namespace {

// The header's size including the varint that holds it, as SQLite counts it.
std::size_t Header_Size(std::size_t types) {
  if (types <= 126) return types + 1;
  const std::size_t n = static_cast<std::size_t>(Varint_Length(types));
  std::size_t total = types + n;
  if (n < static_cast<std::size_t>(Varint_Length(total))) ++total;
  return total;
}

}  // namespace

std::size_t Sqlite_Record::Size() const { return Header_Size(types_.size()) + body_size_; }

void Sqlite_Record::Copy(std::size_t offset, std::size_t n, unsigned char* out) const {
  // The record is: header size, serial types, then the pieces.
  unsigned char size_bytes[9];
  const std::size_t header = Header_Size(types_.size());
  const std::size_t size_length = static_cast<std::size_t>(Put_Varint(size_bytes, header));
  auto take = [&](const unsigned char* data, std::size_t size) {
    if (n == 0) return;
    if (offset >= size) {
      offset -= size;
      return;
    }
    const std::size_t k = std::min(size - offset, n);
    std::memcpy(out, data + offset, k);
    out += k;
    n -= k;
    offset = 0;
  };
  take(size_bytes, size_length);
  take(reinterpret_cast<const unsigned char*>(types_.data()), types_.size());
  const auto* small = reinterpret_cast<const unsigned char*>(small_.data());
  for (const Piece& piece : pieces_) {
    take(piece.external ? piece.external : small + piece.offset, piece.size);
  }
}

// ---------------------------------------------------------------- sorting

void Sort_Index_Entries(std::vector<std::uint64_t>& entries, std::vector<std::uint64_t>& scratch) {
  if (std::is_sorted(entries.begin(), entries.end())) return;
  // Three passes of 11, 11 and 10 bits over the value (bits 32 to 63), each
  // stable; a pass whose digit is the same for every entry is skipped.
  constexpr int kShifts[3] = {32, 43, 54};
  constexpr std::size_t kBuckets = 2048;
  scratch.resize(entries.size());
  std::vector<std::size_t> start(kBuckets);
  for (const int shift : kShifts) {
    std::fill(start.begin(), start.end(), 0);
    for (const std::uint64_t e : entries) ++start[(e >> shift) & (kBuckets - 1)];
    if (std::find(start.begin(), start.end(), entries.size()) != start.end()) continue;
    std::size_t at = 0;
    for (std::size_t& b : start) {
      const std::size_t n = b;
      b = at;
      at += n;
    }
    for (const std::uint64_t e : entries) scratch[start[(e >> shift) & (kBuckets - 1)]++] = e;
    entries.swap(scratch);
  }
}

// ---------------------------------------------------------------- runs

class Index_Entry_Sorter::Impl {
 public:
  Impl(std::size_t indexes, const std::string& temporary_pattern, std::size_t run_rows)
      : pattern_(temporary_pattern),
        run_rows_(std::max<std::size_t>(1, run_rows)),
        values_(indexes) {
    if (indexes == 0) Fail("an index sorter for no index");
  }
  ~Impl() {
    if (fd_ >= 0) ::close(fd_);
  }

  void Add_Row(std::span<const std::int32_t> values) {
    if (values.size() != values_.size()) Fail("a row with another number of index values");
    if (reading_) Fail("a row added after the entries were read");
    if (values_[0].size() == run_rows_) Spill();
    if (rows_ >= std::numeric_limits<std::uint32_t>::max()) Fail("too many rows for an index");
    for (std::size_t j = 0; j < values_.size(); ++j) values_[j].push_back(values[j]);
    ++rows_;
  }

  Index_Entry_Blocks Entries(std::size_t index) {
    if (index >= values_.size()) Fail("no such index");
    if (!reading_) {
      reading_ = true;
      if (!runs_.empty() && !values_[0].empty()) Spill();
      if (!runs_.empty()) {
        values_ = std::vector<std::vector<std::int32_t>>(values_.size());
        entries_ = {};
        scratch_ = {};
      }
    }
    if (runs_.empty()) {  // every row in memory: one run, sorted here
      std::vector<std::int32_t> values = std::move(values_[index]);
      values_[index] = {};
      Sorted_Run(values, 0);
      values = {};
      scratch_ = {};
      return [this, given = false]() mutable -> std::span<const std::uint64_t> {
        if (given) return {};
        given = true;
        return entries_;
      };
    }
    Start_Merge(index);
    return [this]() { return Next_Merged(); };
  }

  std::size_t Spilled_Runs() const { return runs_.size(); }

 private:
  struct Run {
    std::uint64_t offset;  // of its first index's entries in the file
    std::size_t rows;
    // While merging: the entries read and not yet taken.
    std::uint64_t next = 0;  // the next entry's place in the index's block
    std::vector<std::uint64_t> buffer;
    std::size_t taken = 0;
  };

  // The entries of a run whose first row has rowid first_row + 1, sorted,
  // into entries_.
  void Sorted_Run(const std::vector<std::int32_t>& values, std::size_t first_row) {
    entries_.resize(values.size());
    for (std::size_t r = 0; r < values.size(); ++r) {
      entries_[r] = Pack_Index_Entry(values[r], static_cast<std::uint32_t>(first_row + r + 1));
    }
    Sort_Index_Entries(entries_, scratch_);
  }

  void Spill() {
    if (fd_ < 0) {
      // A file without a name where the file system allows, else one named
      // and removed at once.
      const std::size_t slash = pattern_.rfind('/');
      const std::string folder =
          slash == std::string::npos ? std::string(".") : pattern_.substr(0, slash);
      const std::string where = folder.empty() ? std::string("/") : folder;
      fd_ = ::open(where.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
      if (fd_ < 0) {
        std::string pattern = pattern_;
        fd_ = ::mkostemp(pattern.data(), O_CLOEXEC);
        if (fd_ < 0) Fail_Errno("cannot create a file for the index runs");
        ::unlink(pattern.c_str());
      }
    }
    Run run{};
    run.offset = file_size_;
    run.rows = values_[0].size();
    const std::size_t first_row = rows_ - run.rows;
    for (std::vector<std::int32_t>& values : values_) {
      Sorted_Run(values, first_row);
      values.clear();
      Write_All(entries_.data(), entries_.size() * sizeof(std::uint64_t), file_size_);
      file_size_ += entries_.size() * sizeof(std::uint64_t);
    }
    runs_.push_back(std::move(run));
  }

  void Write_All(const void* data, std::size_t bytes, std::uint64_t at) {
    const auto* p = static_cast<const unsigned char*>(data);
    while (bytes > 0) {
      const ssize_t n = ::pwrite(fd_, p, bytes, static_cast<off_t>(at));
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) Fail_Errno("cannot write the index runs");
      p += n;
      at += static_cast<std::uint64_t>(n);
      bytes -= static_cast<std::size_t>(n);
    }
  }

  // Reads the next entries of run r (of the index being merged) into its
  // buffer; false when it has none left.
  bool Refill(Run& run) {
    const std::uint64_t left = run.rows - run.next;
    run.taken = 0;
    if (left == 0) {
      run.buffer = {};
      return false;
    }
    run.buffer.resize(static_cast<std::size_t>(std::min<std::uint64_t>(left, buffer_entries_)));
    auto* p = reinterpret_cast<unsigned char*>(run.buffer.data());
    std::size_t bytes = run.buffer.size() * sizeof(std::uint64_t);
    std::uint64_t at = run.offset + (index_ * run.rows + run.next) * sizeof(std::uint64_t);
    while (bytes > 0) {
      const ssize_t n = ::pread(fd_, p, bytes, static_cast<off_t>(at));
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) Fail_Errno("cannot read the index runs");
      if (n == 0) Fail("the file of the index runs ends early");
      p += n;
      at += static_cast<std::uint64_t>(n);
      bytes -= static_cast<std::size_t>(n);
    }
    run.next += run.buffer.size();
    return true;
  }

  // The heap holds each unfinished run's smallest entry not taken, smallest
  // on top. Entries are unique and a run is known by its rows: entry's
  // rowid - 1 over the run size.
  void Start_Merge(std::size_t index) {
    index_ = index;
    buffer_entries_ = std::clamp<std::size_t>(run_rows_ / runs_.size(), 4096, 65536);
    heap_.clear();
    for (Run& run : runs_) {
      run.next = 0;
      if (Refill(run)) heap_.push_back(run.buffer[0]);
    }
    std::make_heap(heap_.begin(), heap_.end(), std::greater<>());
    out_.resize(65536);
  }

  std::span<const std::uint64_t> Next_Merged() {
    std::size_t n = 0;
    while (n < out_.size() && !heap_.empty()) {
      const std::uint64_t top = heap_[0];
      out_[n++] = top;
      Run& run = runs_[((top & 0xffffffffu) - 1) / run_rows_];
      if (++run.taken < run.buffer.size() || Refill(run)) {
        Replace_Top(run.buffer[run.taken]);
      } else {  // the run is done: the heap's last entry takes its place
        const std::uint64_t last = heap_.back();
        heap_.pop_back();
        if (!heap_.empty()) Replace_Top(last);
      }
    }
    return {out_.data(), n};
  }

  // Puts v in the heap's top place and moves it down to where it belongs.
  void Replace_Top(std::uint64_t v) {
    const std::size_t size = heap_.size();
    std::size_t at = 0;
    for (;;) {
      std::size_t child = 2 * at + 1;
      if (child >= size) break;
      if (child + 1 < size && heap_[child + 1] < heap_[child]) ++child;
      if (heap_[child] >= v) break;
      heap_[at] = heap_[child];
      at = child;
    }
    heap_[at] = v;
  }

  std::string pattern_;  // mkostemp pattern in the folder of the runs
  std::size_t run_rows_;
  std::vector<std::vector<std::int32_t>> values_;  // of the run being filled, by index
  std::size_t rows_ = 0;
  bool reading_ = false;
  std::vector<std::uint64_t> entries_, scratch_;
  int fd_ = -1;
  std::uint64_t file_size_ = 0;
  std::vector<Run> runs_;
  std::size_t index_ = 0;  // being merged
  std::size_t buffer_entries_ = 0;
  std::vector<std::uint64_t> heap_;
  std::vector<std::uint64_t> out_;
};

Index_Entry_Sorter::Index_Entry_Sorter(std::size_t indexes, const std::string& temporary_pattern,
                                       std::size_t run_rows)
    : impl_(std::make_unique<Impl>(indexes, temporary_pattern, run_rows)) {}
Index_Entry_Sorter::~Index_Entry_Sorter() = default;
void Index_Entry_Sorter::Add_Row(std::span<const std::int32_t> values) { impl_->Add_Row(values); }
Index_Entry_Blocks Index_Entry_Sorter::Entries(std::size_t index) { return impl_->Entries(index); }
std::size_t Index_Entry_Sorter::Spilled_Runs() const { return impl_->Spilled_Runs(); }

// ---------------------------------------------------------------- chunks

namespace {

// Writes chunks of the file in order on a thread of its own, so that filling
// pages and writing them overlap. Where the file system allows, the writes
// bypass the page cache (O_DIRECT): the data goes from the chunk to the disk
// without the kernel's copy, which costs about as much CPU as making the
// pages, and a result of gigabytes does not push the run's other files out
// of memory. Chunks are 4096-aligned and whole pages; a write the system
// refuses for its alignment is made through the page cache instead.
class Chunk_Writer {
 public:
  static constexpr int kBuffers = 4;

  Chunk_Writer(const std::string& path, int buffered_fd, std::size_t chunk_bytes, bool direct)
      : buffered_fd_(buffered_fd), chunk_bytes_(chunk_bytes) {
    if (direct) direct_fd_ = ::open(path.c_str(), O_WRONLY | O_DIRECT | O_CLOEXEC);
    for (int i = 0; i < kBuffers; ++i) {
      auto* b = static_cast<unsigned char*>(std::aligned_alloc(4096, chunk_bytes_));
      if (b == nullptr) {
        Release();
        Fail("out of memory");
      }
      all_.push_back(b);
      free_.push_back(b);
    }
    thread_ = std::thread([this] { Run(); });
  }
  Chunk_Writer(const Chunk_Writer&) = delete;
  Chunk_Writer& operator=(const Chunk_Writer&) = delete;
  ~Chunk_Writer() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stop_ = true;
    }
    wake_.notify_all();
    thread_.join();
    Release();
    if (direct_fd_ >= 0) ::close(direct_fd_);
  }

  // A free buffer of chunk_bytes, waiting for one if all are being written.
  unsigned char* Buffer() {
    std::unique_lock<std::mutex> lock(mutex_);
    done_.wait(lock, [this] { return !free_.empty() || failure_ != 0; });
    Throw_Failure();
    unsigned char* b = free_.back();
    free_.pop_back();
    return b;
  }

  // Queues `bytes` of a buffer from Buffer() for writing at offset `at`;
  // the buffer comes back free once written. Throws the failure of an
  // earlier write.
  void Submit(unsigned char* buffer, std::size_t bytes, off_t at) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (failure_ == 0) {
        jobs_.push_back({buffer, bytes, at});
      } else {
        free_.push_back(buffer);
      }
    }
    wake_.notify_all();
    std::lock_guard<std::mutex> lock(mutex_);
    Throw_Failure();
  }

  // Waits until every queued chunk is written. Throws the first failure.
  void Drain() {
    std::unique_lock<std::mutex> lock(mutex_);
    done_.wait(lock, [this] { return (jobs_.empty() && !busy_) || failure_ != 0; });
    Throw_Failure();
  }

 private:
  struct Job {
    unsigned char* buffer;
    std::size_t bytes;
    off_t at;
  };

  void Throw_Failure() {
    if (failure_ != 0) {
      errno = failure_;
      Fail_Errno("cannot write the database");
    }
  }

  void Release() {
    for (unsigned char* b : all_) std::free(b);
    all_.clear();
  }

  // Returns 0 or the errno of the failed write.
  int Write(const Job& job) {
    const unsigned char* p = job.buffer;
    std::size_t left = job.bytes;
    off_t at = job.at;
    while (left > 0) {
      const bool direct = direct_fd_ >= 0 && !direct_refused_ && left % 4096 == 0 && at % 4096 == 0;
      ssize_t n = ::pwrite(direct ? direct_fd_ : buffered_fd_, p, left, at);
      if (n < 0 && errno == EINVAL && direct) {
        direct_refused_ = true;  // this file system wants other alignments
        n = ::pwrite(buffered_fd_, p, left, at);
      }
      if (n < 0) {
        if (errno == EINTR) continue;
        return errno;
      }
      if (n == 0) return EIO;
      p += n;
      left -= static_cast<std::size_t>(n);
      at += n;
    }
    return 0;
  }

  void Run() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
      wake_.wait(lock, [this] { return stop_ || !jobs_.empty(); });
      if (stop_) return;  // what is left is dropped with the file
      const Job job = jobs_.front();
      jobs_.pop_front();
      busy_ = true;
      lock.unlock();
      const int error = failure_ == 0 ? Write(job) : 0;
      lock.lock();
      busy_ = false;
      if (error != 0 && failure_ == 0) failure_ = error;
      free_.push_back(job.buffer);
      done_.notify_all();
    }
  }

  int buffered_fd_;
  int direct_fd_ = -1;
  bool direct_refused_ = false;  // the thread's own
  std::size_t chunk_bytes_;
  std::vector<unsigned char*> all_;
  std::mutex mutex_;
  std::condition_variable wake_;  // jobs or stop, for the thread
  std::condition_variable done_;  // a buffer free or a failure, for the filler
  std::vector<unsigned char*> free_;
  std::deque<Job> jobs_;
  bool busy_ = false;
  bool stop_ = false;
  int failure_ = 0;
  std::thread thread_;
};

}  // namespace

// ---------------------------------------------------------------- writer

class Btree_Writer::Impl {
 public:
  Impl(const std::string& path, bool direct);
  ~Impl() {
    chunks_.reset();
    if (fd_ >= 0) ::close(fd_);
  }

  void Append_Row(std::uint32_t root, const Sqlite_Record& record);
  void Finish_Table();
  void Write_Index(std::uint32_t root, const Index_Entry_Blocks& blocks);
  void Finish();

  std::uint32_t page_size_ = 0;

 private:
  struct Child {
    std::uint32_t page;
    std::int64_t key;  // the largest rowid below (tables)
  };

  // Pages: the one open page is the next slot of the chunk.
  unsigned char* Open_Page();
  std::uint32_t Open_Page_Number() const {
    return chunk_first_ + static_cast<std::uint32_t>(chunk_used_);
  }
  void Commit_Page();
  void Flush();
  void Write_At(std::uint32_t page, const unsigned char* data);
  void Read_At(std::uint32_t page, unsigned char* data);
  void Check_Empty_Root(std::uint32_t root, unsigned char type);

  // Table leaves.
  std::uint32_t Local_Size(std::uint64_t payload) const;
  void Open_Leaf();
  void Close_Leaf();
  std::uint32_t Write_Overflow(const Sqlite_Record& record, std::size_t local, std::size_t payload);
  void Write_Table_Interior(std::vector<Child> level);

  // Writes an interior or leaf page with the given cells at `out`.
  void Finish_Page(unsigned char* page, unsigned char type, std::uint32_t cells,
                   std::uint32_t content, std::uint32_t right_child);

  int fd_ = -1;
  std::uint32_t usable_ = 0;  // page size less the reserved bytes at each page's end
  std::uint32_t pages_ = 0;   // pages in the file, committed ones included
  std::uint32_t lock_page_ = 0;

  std::unique_ptr<Chunk_Writer> chunks_;
  unsigned char* chunk_ = nullptr;  // being filled; from chunks_
  std::size_t chunk_pages_ = 0;
  std::size_t chunk_used_ = 0;     // committed pages in the chunk
  std::uint32_t chunk_first_ = 0;  // page number of the chunk's first slot

  // The table being filled.
  std::uint32_t table_root_ = 0;
  std::int64_t rowid_ = 0;
  unsigned char* leaf_ = nullptr;  // the open leaf, or null
  std::uint32_t leaf_cells_ = 0;
  std::uint32_t leaf_content_ = 0;  // where its cell content starts
  std::vector<Child> leaves_;
};

Btree_Writer::Impl::Impl(const std::string& path, bool direct) {
  fd_ = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
  if (fd_ < 0) Fail_Errno("cannot open the database to fill");
  unsigned char header[100];
  if (::pread(fd_, header, sizeof header, 0) != static_cast<ssize_t>(sizeof header) ||
      std::memcmp(header, "SQLite format 3", 16) != 0) {
    Fail("not an SQLite database");
  }
  const std::uint32_t size = Get_U16(header + 16);
  page_size_ = size == 1 ? 65536 : size;
  if (page_size_ < 512 || page_size_ > 65536 || (page_size_ & (page_size_ - 1)) != 0) {
    Fail("bad page size");
  }
  usable_ = page_size_ - header[20];
  if (usable_ < 480) Fail("bad reserved space");
  if (Get_U32(header + 56) != 1) Fail("not a UTF-8 database");
  if (Get_U32(header + 52) != 0) Fail("an auto-vacuum database");
  if (Get_U32(header + 36) != 0) Fail("a database with free pages");
  // Format 4 reads the record types 8 and 9 (the integers 0 and 1) that rows
  // are written with; a WAL file or a journal would hold pages this writer
  // does not see.
  if (Get_U32(header + 44) < 4) Fail("a database of schema format below 4");
  if (header[18] != 1 || header[19] != 1) Fail("a database in WAL mode");
  for (const char* side : {"-journal", "-wal"}) {
    struct stat journal;
    if (::stat((path + side).c_str(), &journal) == 0 && journal.st_size > 0) {
      Fail(std::string("a database with a ") + (side + 1) + " beside it");
    }
  }
  struct stat st;
  if (::fstat(fd_, &st) != 0) Fail_Errno("cannot read the database's size");
  if (st.st_size % page_size_ != 0) Fail("a partial page at the end of the database");
  pages_ = static_cast<std::uint32_t>(st.st_size / page_size_);
  if (Get_U32(header + 24) == Get_U32(header + 92) && Get_U32(header + 28) != pages_) {
    Fail("the database's size does not match its header");
  }
  lock_page_ = static_cast<std::uint32_t>((std::uint64_t{1} << 30) / page_size_ + 1);
  chunk_pages_ = std::max<std::size_t>(2, kChunkBytes / page_size_);
  chunks_ = std::make_unique<Chunk_Writer>(path, fd_, chunk_pages_ * page_size_, direct);
  chunk_ = chunks_->Buffer();
  chunk_first_ = pages_ + 1;
}

unsigned char* Btree_Writer::Impl::Open_Page() {
  if (chunk_used_ == chunk_pages_) Flush();
  if (pages_ >= std::numeric_limits<std::uint32_t>::max() - 2) Fail("the database is too large");
  if (Open_Page_Number() == lock_page_) {
    // The page holding the file's byte 2^30 belongs to no tree: SQLite
    // keeps it for its file locks. It stays in the file, blank.
    std::memset(chunk_ + chunk_used_ * page_size_, 0, page_size_);
    Commit_Page();
    if (chunk_used_ == chunk_pages_) Flush();
  }
  return chunk_ + chunk_used_ * page_size_;
}

void Btree_Writer::Impl::Commit_Page() {
  ++chunk_used_;
  ++pages_;
}

void Btree_Writer::Impl::Flush() {
  if (chunk_used_ == 0) return;
  unsigned char* full = chunk_;
  chunk_ = nullptr;
  chunks_->Submit(full, chunk_used_ * page_size_,
                  static_cast<off_t>(chunk_first_ - 1) * page_size_);
  chunk_first_ += static_cast<std::uint32_t>(chunk_used_);
  chunk_used_ = 0;
  chunk_ = chunks_->Buffer();
}

void Btree_Writer::Impl::Write_At(std::uint32_t page, const unsigned char* data) {
  const off_t at = static_cast<off_t>(page - 1) * page_size_;
  if (::pwrite(fd_, data, page_size_, at) != static_cast<ssize_t>(page_size_)) {
    Fail_Errno("cannot write the database");
  }
}

void Btree_Writer::Impl::Read_At(std::uint32_t page, unsigned char* data) {
  const off_t at = static_cast<off_t>(page - 1) * page_size_;
  if (::pread(fd_, data, page_size_, at) != static_cast<ssize_t>(page_size_)) {
    Fail_Errno("cannot read the database");
  }
}

void Btree_Writer::Impl::Check_Empty_Root(std::uint32_t root, unsigned char type) {
  if (root < 2 || root >= chunk_first_) Fail("no such root page");
  std::vector<unsigned char> page(page_size_);
  Read_At(root, page.data());
  if (page[0] != type || Get_U16(&page[3]) != 0) Fail("the tree to fill is not empty");
}

void Btree_Writer::Impl::Finish_Page(unsigned char* page, unsigned char type, std::uint32_t cells,
                                     std::uint32_t content, std::uint32_t right_child) {
  const bool leaf = type == kTableLeaf || type == kIndexLeaf;
  const std::uint32_t header = leaf ? 8 : 12;
  page[0] = type;
  page[1] = page[2] = 0;  // no free blocks
  Put_U16(page + 3, cells);
  Put_U16(page + 5, content == 65536 ? 0 : content);
  page[7] = 0;  // no fragments
  if (!leaf) Put_U32(page + 8, right_child);
  const std::uint32_t gap = header + 2 * cells;
  std::memset(page + gap, 0, content - gap);
  std::memset(page + usable_, 0, page_size_ - usable_);
}

// How much of a payload a table leaf cell keeps on its page; the rest
// overflows. (Index records here are a few bytes and never overflow.)
std::uint32_t Btree_Writer::Impl::Local_Size(std::uint64_t payload) const {
  const std::uint64_t max_local = usable_ - 35;
  if (payload <= max_local) return static_cast<std::uint32_t>(payload);
  const std::uint64_t min_local = (usable_ - 12) * 32 / 255 - 23;
  const std::uint64_t k = min_local + (payload - min_local) % (usable_ - 4);
  return static_cast<std::uint32_t>(k <= max_local ? k : min_local);
}

void Btree_Writer::Impl::Open_Leaf() {
  leaf_ = Open_Page();
  leaf_cells_ = 0;
  leaf_content_ = usable_;
}

void Btree_Writer::Impl::Close_Leaf() {
  Finish_Page(leaf_, kTableLeaf, leaf_cells_, leaf_content_, 0);
  leaves_.push_back({Open_Page_Number(), rowid_});
  Commit_Page();
  leaf_ = nullptr;
}

std::uint32_t Btree_Writer::Impl::Write_Overflow(const Sqlite_Record& record, std::size_t local,
                                                 std::size_t payload) {
  const std::size_t per_page = usable_ - 4;
  std::uint32_t first = 0;
  for (std::size_t at = local; at < payload; at += per_page) {
    unsigned char* page = Open_Page();
    if (first == 0) first = Open_Page_Number();
    const std::size_t n = std::min(per_page, payload - at);
    const bool last = at + n >= payload;
    const std::uint32_t following = Open_Page_Number() + 1;
    Put_U32(page, last ? 0 : following == lock_page_ ? following + 1 : following);
    record.Copy(at, n, page + 4);
    std::memset(page + 4 + n, 0, page_size_ - 4 - n);
    Commit_Page();
  }
  return first;
}

void Btree_Writer::Impl::Append_Row(std::uint32_t root, const Sqlite_Record& record) {
  if (table_root_ == 0) {
    Check_Empty_Root(root, kTableLeaf);
    table_root_ = root;
  } else if (root != table_root_) {
    Fail("rows of a second table");
  }
  const std::int64_t rowid = rowid_ + 1;
  const std::size_t payload = record.Size();
  const std::uint32_t local = Local_Size(payload);
  const bool overflow = local < payload;
  const std::uint32_t cell = static_cast<std::uint32_t>(
      Varint_Length(payload) + Varint_Length(static_cast<std::uint64_t>(rowid)) + local +
      (overflow ? 4 : 0));
  // A record that overflows starts a leaf of its own after its chain, so
  // that pages are always appended whole.
  if (leaf_ != nullptr && (overflow || leaf_content_ - (8 + 2 * leaf_cells_) < cell + 2)) {
    Close_Leaf();
  }
  std::uint32_t first_overflow = 0;
  if (overflow) first_overflow = Write_Overflow(record, local, payload);
  if (leaf_ == nullptr) Open_Leaf();
  leaf_content_ -= cell;
  unsigned char* p = leaf_ + leaf_content_;
  p += Put_Varint(p, payload);
  p += Put_Varint(p, static_cast<std::uint64_t>(rowid));
  record.Copy(0, local, p);
  if (overflow) Put_U32(p + local, first_overflow);
  Put_U16(leaf_ + 8 + 2 * leaf_cells_, leaf_content_);
  ++leaf_cells_;
  rowid_ = rowid;
}

void Btree_Writer::Impl::Finish_Table() {
  if (leaf_ != nullptr) Close_Leaf();
  if (leaves_.size() == 1) {
    // The one leaf is the root itself: it is still the chunk's last page.
    --chunk_used_;
    --pages_;
    Write_At(table_root_, chunk_ + chunk_used_ * page_size_);
  } else if (leaves_.size() > 1) {
    Write_Table_Interior(std::move(leaves_));
  }
  leaves_ = {};
}

namespace {

// Splits items into pages: page g holds items [ends[g-1], ends[g]). Each page
// holds as many items as fit, `cost(i)` bytes for each but its last (the
// right child, kept in the header), within `room`. The last page gets at
// least two items (one cell) when there are several pages.
template <typename Cost>
std::vector<std::size_t> Split_Interior(std::size_t n, std::uint32_t room, Cost cost) {
  std::vector<std::size_t> ends;
  std::size_t i = 0;
  while (i < n) {
    std::size_t used = 0;
    std::size_t j = i;  // the right child so far
    while (j + 1 < n && used + cost(j) <= room) used += cost(j++);
    ends.push_back(j + 1);
    i = j + 1;
  }
  if (ends.size() > 1 && ends.back() - ends[ends.size() - 2] == 1) --ends[ends.size() - 2];
  return ends;
}

}  // namespace

void Btree_Writer::Impl::Write_Table_Interior(std::vector<Child> level) {
  const std::uint32_t room = usable_ - 12;
  std::vector<unsigned char> root_page(page_size_);
  for (;;) {
    const std::vector<std::size_t> ends = Split_Interior(level.size(), room, [&](std::size_t i) {
      return static_cast<std::size_t>(6 + Varint_Length(static_cast<std::uint64_t>(level[i].key)));
    });
    std::vector<Child> next;
    std::size_t begin = 0;
    for (const std::size_t end : ends) {
      const bool root = ends.size() == 1;
      unsigned char* page = root ? root_page.data() : Open_Page();
      std::uint32_t content = usable_;
      std::uint32_t cells = 0;
      for (std::size_t i = begin; i + 1 < end; ++i, ++cells) {
        unsigned char cell[13];
        Put_U32(cell, level[i].page);
        const std::uint32_t size = 4 + static_cast<std::uint32_t>(Put_Varint(
                                           cell + 4, static_cast<std::uint64_t>(level[i].key)));
        content -= size;
        std::memcpy(page + content, cell, size);
        Put_U16(page + 12 + 2 * cells, content);
      }
      Finish_Page(page, kTableInterior, cells, content, level[end - 1].page);
      if (root) {
        Write_At(table_root_, page);
        return;
      }
      next.push_back({Open_Page_Number(), level[end - 1].key});
      Commit_Page();
      begin = end;
    }
    level = std::move(next);
  }
}

namespace {

struct Index_Entry {
  std::int64_t value;
  std::int64_t rowid;
};
Index_Entry Unpack(std::uint64_t packed) {
  return {static_cast<std::int32_t>(static_cast<std::uint32_t>(packed >> 32) ^ 0x80000000u),
          static_cast<std::int64_t>(packed & 0xffffffffu)};
}

// The cell of an index entry without its child pointer: payload size, then
// the record (value, rowid). Returns its size (at most 20 bytes).
std::uint32_t Entry_Cell(const Index_Entry& e, unsigned char* out) {
  const Int_Type value = Integer_Type(e.value);
  const Int_Type rowid = Integer_Type(e.rowid);
  const int payload = 3 + value.size + rowid.size;  // types below 128: one byte each
  unsigned char* p = out;
  *p++ = static_cast<unsigned char>(payload);
  *p++ = 3;
  *p++ = static_cast<unsigned char>(value.type);
  *p++ = static_cast<unsigned char>(rowid.type);
  Put_Big_Endian(p, static_cast<std::uint64_t>(e.value), value.size);
  p += value.size;
  Put_Big_Endian(p, static_cast<std::uint64_t>(e.rowid), rowid.size);
  p += rowid.size;
  return static_cast<std::uint32_t>(p - out);
}

std::uint32_t Entry_Cell_Size(const Index_Entry& e) {
  return 4 + static_cast<std::uint32_t>(Integer_Type(e.value).size + Integer_Type(e.rowid).size);
}

}  // namespace

void Btree_Writer::Impl::Write_Index(std::uint32_t root, const Index_Entry_Blocks& blocks) {
  if (leaf_ != nullptr || !leaves_.empty()) Fail("an index written before the table's end");
  Check_Empty_Root(root, kIndexLeaf);

  // Leaves: as many entries as fit; the entry after a full leaf goes up as
  // the separator between it and the next one. A full leaf waits (`full`)
  // until an entry after its separator comes: when none does, the last
  // entry would be a separator with nothing after it, so the full leaf's
  // own last entry goes up instead and the separator goes down into a last
  // leaf of its own.
  const std::uint32_t leaf_room = usable_ - 8;
  std::vector<Index_Entry> open, full;
  std::uint32_t open_used = 0;
  Index_Entry separator{};
  std::vector<std::uint32_t> children;
  std::vector<Index_Entry> separators;
  auto write_leaf = [&](const std::vector<Index_Entry>& cells_of, unsigned char* page) {
    std::uint32_t content = usable_;
    std::uint32_t cells = 0;
    for (const Index_Entry& e : cells_of) {
      unsigned char cell[24];
      const std::uint32_t size = Entry_Cell(e, cell);
      content -= size;
      std::memcpy(page + content, cell, size);
      Put_U16(page + 8 + 2 * cells++, content);
    }
    Finish_Page(page, kIndexLeaf, cells, content, 0);
  };
  auto append_leaf = [&](const std::vector<Index_Entry>& cells_of) {
    write_leaf(cells_of, Open_Page());
    children.push_back(Open_Page_Number());
    Commit_Page();
  };
  for (std::span<const std::uint64_t> block = blocks(); !block.empty(); block = blocks()) {
    for (const std::uint64_t packed : block) {
      const Index_Entry e = Unpack(packed);
      if (!full.empty()) {
        append_leaf(full);
        full.clear();
        separators.push_back(separator);
      }
      const std::uint32_t cost = Entry_Cell_Size(e) + 2;
      if (open_used + cost <= leaf_room) {
        open.push_back(e);
        open_used += cost;
      } else {
        open.swap(full);
        open_used = 0;
        separator = e;
      }
    }
  }
  if (!full.empty()) {
    separators.push_back(full.back());
    full.pop_back();
    append_leaf(full);
    open.push_back(separator);
  }
  std::vector<unsigned char> root_page(page_size_);
  if (children.empty()) {
    if (open.empty()) return;
    write_leaf(open, root_page.data());
    Write_At(root, root_page.data());
    return;
  }
  if (!open.empty()) append_leaf(open);

  // Interior levels: children and the separators between them.
  const std::uint32_t room = usable_ - 12;
  for (;;) {
    // Pages hold children [begin, end]: cells (child i, separator i) for
    // i < end, child end on the right; separator end goes up.
    struct Span {
      std::size_t begin, end;
    };
    std::vector<Span> pages;
    std::size_t i = 0;
    const std::size_t last = children.size() - 1;
    while (i <= last) {
      std::size_t used = 0;
      std::size_t j = i;
      while (j < last && used + 4 + Entry_Cell_Size(separators[j]) + 2 <= room) {
        used += 4 + Entry_Cell_Size(separators[j]) + 2;
        ++j;
      }
      pages.push_back({i, j});
      i = j + 1;
    }
    if (pages.size() > 1 && pages.back().begin == pages.back().end) {
      Span& before = pages[pages.size() - 2];
      --before.end;
      pages.back().begin = before.end + 1;
    }
    std::vector<std::uint32_t> next_children;
    std::vector<Index_Entry> next_separators;
    for (std::size_t p = 0; p < pages.size(); ++p) {
      const Span& s = pages[p];
      const bool is_root = pages.size() == 1;
      unsigned char* page = is_root ? root_page.data() : Open_Page();
      std::uint32_t content = usable_;
      std::uint32_t cells = 0;
      for (std::size_t c = s.begin; c < s.end; ++c, ++cells) {
        unsigned char cell[24];
        Put_U32(cell, children[c]);
        const std::uint32_t size = 4 + Entry_Cell(separators[c], cell + 4);
        content -= size;
        std::memcpy(page + content, cell, size);
        Put_U16(page + 12 + 2 * cells, content);
      }
      Finish_Page(page, kIndexInterior, cells, content, children[s.end]);
      if (is_root) {
        Write_At(root, page);
        return;
      }
      next_children.push_back(Open_Page_Number());
      Commit_Page();
      if (p + 1 < pages.size()) next_separators.push_back(separators[s.end]);
    }
    children = std::move(next_children);
    separators = std::move(next_separators);
  }
}

void Btree_Writer::Impl::Finish() {
  if (leaf_ != nullptr || !leaves_.empty()) Fail("the table was not finished");
  Flush();
  chunks_->Drain();
  unsigned char count[4];
  Put_U32(count, pages_);
  if (::pwrite(fd_, count, 4, 28) != 4) Fail_Errno("cannot write the database");
}

// ---------------------------------------------------------------- facade

Btree_Writer::Btree_Writer(const std::string& path, bool direct)
    : impl_(std::make_unique<Impl>(path, direct)) {}
Btree_Writer::~Btree_Writer() = default;
std::uint32_t Btree_Writer::Page_Size() const { return impl_->page_size_; }
void Btree_Writer::Append_Row(std::uint32_t table_root, const Sqlite_Record& record) {
  impl_->Append_Row(table_root, record);
}
void Btree_Writer::Finish_Table() { impl_->Finish_Table(); }
void Btree_Writer::Write_Index(std::uint32_t index_root,
                               const std::vector<std::uint64_t>& entries) {
  bool given = false;
  impl_->Write_Index(index_root, [&]() -> std::span<const std::uint64_t> {
    if (given) return {};
    given = true;
    return entries;
  });
}
void Btree_Writer::Write_Index(std::uint32_t index_root, const Index_Entry_Blocks& entries) {
  impl_->Write_Index(index_root, entries);
}
void Btree_Writer::Finish() { impl_->Finish(); }
