#include "run/file_hash.h"

#include <fcntl.h>
#include <unistd.h>
#include <xxhash.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <vector>

namespace {

[[noreturn]] void Throw_Read_Error(const std::string& path, int error) {
  throw std::runtime_error(path + ": cannot read: " + std::strerror(error));
}

struct State_Deleter {
  void operator()(XXH3_state_t* state) const { XXH3_freeState(state); }
};

struct Fd {
  int fd = -1;
  ~Fd() {
    if (fd >= 0) ::close(fd);
  }
};

}  // namespace

File_Digest Digest_File(const std::string& path) {
  Fd file;
  file.fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (file.fd < 0) Throw_Read_Error(path, errno);
  std::unique_ptr<XXH3_state_t, State_Deleter> state(XXH3_createState());
  if (!state || XXH3_128bits_reset(state.get()) == XXH_ERROR) throw std::bad_alloc();
  std::vector<unsigned char> block(kHashBlockBytes);
  File_Digest digest;
  for (;;) {
    const ssize_t n = ::read(file.fd, block.data(), block.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      Throw_Read_Error(path, errno);  // EISDIR for a folder
    }
    if (n == 0) break;
    XXH3_128bits_update(state.get(), block.data(), static_cast<std::size_t>(n));
    digest.size += static_cast<std::uint64_t>(n);
  }
  XXH128_canonical_t canonical;
  XXH128_canonicalFromHash(&canonical, XXH3_128bits_digest(state.get()));
  static constexpr char kHex[] = "0123456789abcdef";
  digest.xxh3_128.reserve(2 * sizeof canonical.digest);
  for (unsigned char byte : canonical.digest) {
    digest.xxh3_128.push_back(kHex[byte >> 4]);
    digest.xxh3_128.push_back(kHex[byte & 0xF]);
  }
  return digest;
}

std::string Hash_File_XXH3_128(const std::string& path) { return Digest_File(path).xxh3_128; }
