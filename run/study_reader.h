// Reads the databases of a study on several threads and hands them over one
// by one in their order, so that what a run does with them does not depend on
// how many threads read.
#ifndef VARNEL_RUN_STUDY_READER_H_
#define VARNEL_RUN_STUDY_READER_H_

#include <cstddef>
#include <functional>
#include <optional>
#include <vector>

#include "run/alignment_request.h"
#include "run/file_hash.h"
#include "storage/annotated_reader.h"

// One database as read.
struct Study_File {
  Annotated_Batch batch;
  std::optional<File_Digest> digest;  // with hash: size and hash, taken right after the read
};

// Reads files[0], files[1], ... (Read_Annotated_Batch, and Digest_File when
// `hash`) on `threads` threads (0: one per core; never more than the files)
// and calls take(i, file) for i = 0, 1, ... in order on the calling thread.
// At most `threads` files wait in memory at once. A failure is reported as
// the sequential read would report it: the first failing file in list order
// throws its exception from here, after the files before it were taken. An
// exception from take stops the readers and passes out unchanged.
void Read_Study(const std::vector<Annotated_File>& files, unsigned threads, bool hash,
                const std::function<void(std::size_t i, Study_File& file)>& take);

#endif  // VARNEL_RUN_STUDY_READER_H_
