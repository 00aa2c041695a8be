// Content hashes of input files, for the run record: XXH3-128 (libxxhash).
#ifndef VARNEL_RUN_FILE_HASH_H_
#define VARNEL_RUN_FILE_HASH_H_

#include <cstddef>
#include <cstdint>
#include <string>

struct File_Digest {
  std::uint64_t size = 0;  // bytes read, which is the file's size
  std::string xxh3_128;    // 32 lowercase hex digits, canonical (big-endian) order
};

// Reads the whole file at path in blocks of kHashBlockBytes and returns its
// size and XXH3-128 hash. Memory: one block. Throws std::runtime_error
// "<path>: cannot read: <system reason>" when the file cannot be opened or read
// (a folder included).
File_Digest Digest_File(const std::string& path);

// Digest_File(path).xxh3_128.
std::string Hash_File_XXH3_128(const std::string& path);

inline constexpr std::size_t kHashBlockBytes = std::size_t{1} << 20;

#endif  // VARNEL_RUN_FILE_HASH_H_
