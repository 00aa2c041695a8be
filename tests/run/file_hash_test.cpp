// Content hashes of the inputs: streamed in blocks, equal to the one-shot
// hash at every block edge; an unreadable file is named.
#include "run/file_hash.h"

#include <xxhash.h>

#include <cstdio>
#include <stdexcept>
#include <string>

#include <gtest/gtest.h>

#include "storage/path.h"
#include "tests/support/test_files.h"

namespace {

std::string One_Shot(const std::string& bytes) {
  XXH128_canonical_t c;
  XXH128_canonicalFromHash(&c, XXH3_128bits(bytes.data(), bytes.size()));
  char hex[33];
  for (int i = 0; i < 16; ++i) std::snprintf(hex + 2 * i, 3, "%02x", c.digest[i]);
  return hex;
}

TEST(FileHashTest, StreamingInBlocksEqualsOneShotAtEveryBlockEdge) {
  Temp_Folder dir;
  const std::string path = Join_Path(dir.path(), "f");
  Write_File(path, "");
  EXPECT_EQ(Hash_File_XXH3_128(path), "99aa06d3014798d86001c324468d497f");
  for (std::size_t size : {std::size_t{1}, kHashBlockBytes - 1, kHashBlockBytes,
                           kHashBlockBytes + 1, 3 * kHashBlockBytes + 17}) {
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 131) >> 3);
    Write_File(path, bytes);
    const File_Digest digest = Digest_File(path);
    EXPECT_EQ(digest.size, size);
    EXPECT_EQ(digest.xxh3_128, One_Shot(bytes)) << size;
  }
}

TEST(FileHashTest, UnreadableFileIsNamed) {
  Temp_Folder dir;
  const std::string missing = Join_Path(dir.path(), "missing.db");
  EXPECT_THROW(
      {
        try {
          Digest_File(missing);
        } catch (const std::runtime_error& e) {
          EXPECT_EQ(std::string(e.what()), missing + ": cannot read: No such file or directory");
          throw;
        }
      },
      std::runtime_error);
  EXPECT_THROW(Hash_File_XXH3_128(dir.path()), std::runtime_error);
}

}  // namespace
