#include "run/study_reader.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <thread>

#include "storage/path.h"

namespace {

void Read_One(const Annotated_File& file, bool hash, Study_File& out) {
  Read_Annotated_Batch(file.folder, file.name, out.batch);
  if (hash) out.digest = Digest_File(Join_Path(file.folder, file.name));
}

struct Slot {
  Study_File file;
  std::exception_ptr error;
  bool ready = false;
};

}  // namespace

void Read_Study(const std::vector<Annotated_File>& files, unsigned threads, bool hash,
                const std::function<void(std::size_t i, Study_File& file)>& take) {
  if (threads == 0) threads = std::max(1u, std::thread::hardware_concurrency());
  threads = static_cast<unsigned>(std::min<std::size_t>(threads, files.size()));
  if (threads <= 1) {
    Study_File file;
    for (std::size_t i = 0; i < files.size(); ++i) {
      Read_One(files[i], hash, file);
      take(i, file);
    }
    return;
  }

  // Slot i % threads holds file i from its read until it is taken.
  std::vector<Slot> slots(threads);
  std::mutex mutex;
  std::condition_variable changed;
  std::size_t next = 0;   // the next file a reader starts
  std::size_t taken = 0;  // files taken so far
  bool stop = false;
  auto reader = [&] {
    for (;;) {
      std::size_t i = 0;
      {
        std::unique_lock<std::mutex> lock(mutex);
        changed.wait(lock, [&] { return stop || next >= files.size() || next < taken + threads; });
        if (stop || next >= files.size()) return;
        i = next++;
      }
      Slot& slot = slots[i % threads];
      try {
        Read_One(files[i], hash, slot.file);
      } catch (...) {
        slot.error = std::current_exception();
      }
      {
        std::lock_guard<std::mutex> lock(mutex);
        slot.ready = true;
      }
      changed.notify_all();
    }
  };
  std::vector<std::thread> readers;
  auto finish = [&] {
    {
      std::lock_guard<std::mutex> lock(mutex);
      stop = true;
    }
    changed.notify_all();
    for (std::thread& t : readers) t.join();
  };
  try {
    for (unsigned t = 0; t < threads; ++t) readers.emplace_back(reader);
    for (std::size_t i = 0; i < files.size(); ++i) {
      Slot& slot = slots[i % threads];
      {
        std::unique_lock<std::mutex> lock(mutex);
        changed.wait(lock, [&] { return slot.ready; });
      }
      if (slot.error) std::rethrow_exception(slot.error);
      take(i, slot.file);
      slot.file.batch.clear();
      slot.file.digest.reset();
      {
        std::lock_guard<std::mutex> lock(mutex);
        slot.ready = false;
        ++taken;
      }
      changed.notify_all();
    }
  } catch (...) {
    finish();
    throw;
  }
  finish();
}
