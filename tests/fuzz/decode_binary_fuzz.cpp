// The binary codec: decoding arbitrary text never writes past the input's
// length and fails only with -1; encoding arbitrary bytes gives text without
// NUL or single quote that decodes back to the same bytes; the holder class
// agrees with the free functions.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "storage/sqlite/cppsqlite3.h"

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

void Decode_Arbitrary_Text(const std::uint8_t* data, std::size_t size) {
  // The text up to its first NUL, as the column text would be.
  std::vector<unsigned char> text(data, data + size);
  text.push_back(0);
  const std::size_t length = std::strlen(reinterpret_cast<const char*>(text.data()));

  std::vector<unsigned char> out(length + 1);
  const int n = sqlite3_decode_binary(text.data(), out.data());
  Check(n == -1 || (n >= 0 && static_cast<std::size_t>(n) <= length));

  // In place, as the holder decodes.
  std::vector<unsigned char> in_place(text);
  const int m = sqlite3_decode_binary(in_place.data(), in_place.data());
  Check(m == n);
  if (n > 0) Check(std::memcmp(in_place.data(), out.data(), static_cast<std::size_t>(n)) == 0);

  CppSQLite3Binary holder;
  holder.setEncoded(text.data());
  try {
    const int decoded = holder.getBinaryLength();
    Check(n >= 0 && decoded == n);
    if (n > 0) Check(std::memcmp(holder.getBinary(), out.data(), static_cast<std::size_t>(n)) == 0);
  } catch (const CppSQLite3Exception& e) {
    Check(n == -1 && e.errorCode() == CPPSQLITE_ERROR);
  }
}

void Round_Trip(const std::uint8_t* data, std::size_t size) {
  const int n = static_cast<int>(size);
  std::vector<unsigned char> encoded(2 + (257 * size) / 254);
  const int length = sqlite3_encode_binary(data, n, encoded.data());
  Check(length >= 1 && static_cast<std::size_t>(length) < encoded.size());
  Check(encoded[static_cast<std::size_t>(length)] == 0);
  for (int i = 0; i < length; ++i) Check(encoded[i] != 0 && encoded[i] != '\'');

  std::vector<unsigned char> decoded(static_cast<std::size_t>(length) + 1);
  Check(sqlite3_decode_binary(encoded.data(), decoded.data()) == n);
  if (n > 0) Check(std::memcmp(decoded.data(), data, size) == 0);

  CppSQLite3Binary holder;
  holder.setBinary(data, n);
  const unsigned char* text = holder.getEncoded();
  Check(std::strcmp(reinterpret_cast<const char*>(text),
                    reinterpret_cast<const char*>(encoded.data())) == 0);
  Check(holder.getBinaryLength() == n);
  if (n > 0) Check(std::memcmp(holder.getBinary(), data, size) == 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Decode_Arbitrary_Text(data, size);
  Round_Trip(data, size);
  return 0;
}
