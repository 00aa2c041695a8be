#include "run/row_spill.h"

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "storage/cppsqlite3.h"
#include "storage/path.h"
#include "storage/result_pair.h"

namespace {

// A row's fixed part; the annotation and then the shape follow it.
struct Fixed_Part {
  std::uint32_t adduct_bytes;
  std::uint32_t EIC_ID, Peak_ID, Apex_Pos, Left_Boundary, Right_Boundary, Group_ID, Compound_ID;
  double Apex_MZ, Apex_Retention_Time, Apex_Intensity, Peak_Area, Peak_SNR;
  double Compound_MolecularMass, Compound_Retention_Time, Compound_Intensity;
};

// A shape in the written form (storage/stored_shape.h) is the byte 1 and
// then bytes of 16 values at most: digits, '.', ',' and '-' lowered by one.
// The spill keeps such a shape as 4-bit codes, two a byte, which halves what
// is written and read back; any other shape is kept as it is. The annotation
// length's two top bits say which, and whether the code count is odd.
constexpr std::uint32_t kPacked = 0x80000000u;
constexpr std::uint32_t kOddCodes = 0x40000000u;
constexpr std::uint32_t kLengthMask = 0x3fffffffu;
constexpr unsigned char kCodeBase = ',' - 1;  // the lowest byte coded: ',' lowered

// Packs shape[1...] as codes at out (room for (n + 1) / 2 bytes) and returns
// true, or returns false when a byte has no code (out is then scratch).
bool Pack_Codes(std::string_view shape, unsigned char* out) {
  if (shape.empty() || shape[0] != 1) return false;
  const auto* in = reinterpret_cast<const unsigned char*>(shape.data()) + 1;
  const std::size_t n = shape.size() - 1;
  std::size_t i = 0;  // pairs done
  unsigned char outside = 0;
#ifdef __SSE2__
  // 32 codes at a time: as 16-bit lanes e + 256 * o (e, o < 16 when coded),
  // the packed byte e | o << 4 is (lane & 0x0f) | (lane >> 4 & 0xf0).
  const __m128i base = _mm_set1_epi8(static_cast<char>(kCodeBase));
  const __m128i low = _mm_set1_epi16(0x0f);
  const __m128i high = _mm_set1_epi16(0xf0);
  __m128i seen = _mm_setzero_si128();
  for (; 2 * i + 32 <= n; i += 16) {
    const __m128i a =
        _mm_sub_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(in + 2 * i)), base);
    const __m128i b =
        _mm_sub_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(in + 2 * i + 16)), base);
    seen = _mm_or_si128(seen, _mm_or_si128(a, b));
    const __m128i pa =
        _mm_or_si128(_mm_and_si128(a, low), _mm_and_si128(_mm_srli_epi16(a, 4), high));
    const __m128i pb =
        _mm_or_si128(_mm_and_si128(b, low), _mm_and_si128(_mm_srli_epi16(b, 4), high));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), _mm_packus_epi16(pa, pb));
  }
  if (_mm_movemask_epi8(_mm_cmpeq_epi8(_mm_and_si128(seen, _mm_set1_epi8(static_cast<char>(0xf0))),
                                       _mm_setzero_si128())) != 0xffff) {
    return false;
  }
#endif
  for (; i < n / 2; ++i) {
    const auto lo = static_cast<unsigned char>(in[2 * i] - kCodeBase);
    const auto hi = static_cast<unsigned char>(in[2 * i + 1] - kCodeBase);
    outside |= lo | hi;
    out[i] = static_cast<unsigned char>(lo | (hi << 4));
  }
  if (n % 2) {
    const auto lo = static_cast<unsigned char>(in[n - 1] - kCodeBase);
    outside |= lo;
    out[n / 2] = lo;
  }
  return (outside & 0xf0) == 0;
}

// The shape of `codes` 4-bit codes packed at in, written at out (room for
// codes + 1 bytes).
void Unpack_Codes(const unsigned char* in, std::size_t codes, unsigned char* out) {
  *out++ = 1;
  std::size_t i = 0;  // bytes of in done
#ifdef __SSE2__
  const __m128i base = _mm_set1_epi8(static_cast<char>(kCodeBase));
  const __m128i low = _mm_set1_epi8(0x0f);
  for (; 2 * i + 32 <= codes; i += 16) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + i));
    const __m128i lo = _mm_and_si128(v, low);
    const __m128i hi = _mm_and_si128(_mm_srli_epi16(v, 4), low);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 2 * i),
                     _mm_add_epi8(_mm_unpacklo_epi8(lo, hi), base));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 2 * i + 16),
                     _mm_add_epi8(_mm_unpackhi_epi8(lo, hi), base));
  }
#endif
  for (; i < codes / 2; ++i) {
    out[2 * i] = static_cast<unsigned char>((in[i] & 15) + kCodeBase);
    out[2 * i + 1] = static_cast<unsigned char>((in[i] >> 4) + kCodeBase);
  }
  if (codes % 2) out[codes - 1] = static_cast<unsigned char>((in[codes / 2] & 15) + kCodeBase);
}

constexpr std::size_t kWriteChunk = std::size_t{4} << 20;
// What a reader reads at once when it needs no shape: the fixed part and an
// annotation of usual length.
constexpr std::size_t kHeadBytes = sizeof(Fixed_Part) + 64;

[[noreturn]] void Throw_Errno(const std::string& what) {
  const int error = errno;
  throw CppSQLite3Exception(CPPSQLITE_ERROR, what + ": " + std::strerror(error));
}

}  // namespace

Row_Spill::Row_Spill(const std::string& folder) : folder_(folder) {
  const std::string where = folder.empty() ? std::string("/") : folder;
#ifdef O_TMPFILE
  fd_ = ::open(where.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
#endif
  if (fd_ < 0) {
    // No unnamed files here: a named one, unlinked at once.
    std::string pattern = Own_Temporary_Pattern(folder);
    fd_ = mkostemp(pattern.data(), O_CLOEXEC);
    if (fd_ < 0) Throw_Errno(where + ": cannot create a temporary file");
    ::unlink(pattern.c_str());
  }
}

Row_Spill::~Row_Spill() {
  if (fd_ >= 0) ::close(fd_);
}

void Row_Spill::Append(const Annotated_Batch& batch) {
  std::uint64_t end = Bytes();
  for (std::size_t i = 0; i < batch.peaks.size(); ++i) {
    const Chromatogram_Peak_Group_Compound& p = batch.peaks[i];
    const std::string_view shape = batch.Shape(i);
    if (p.Adduct_Annotation.size() > kLengthMask) {
      throw CppSQLite3Exception(CPPSQLITE_ERROR, "an annotation of a gigabyte");
    }
    Fixed_Part fixed{static_cast<std::uint32_t>(p.Adduct_Annotation.size()),
                     p.EIC_ID,
                     p.Peak_ID,
                     p.Apex_Pos,
                     p.Left_Boundary,
                     p.Right_Boundary,
                     p.Group_ID,
                     p.Compound_ID,
                     p.Apex_MZ,
                     p.Apex_Retention_Time,
                     p.Apex_Intensity,
                     p.Peak_Area,
                     p.Peak_SNR,
                     p.Compound_MolecularMass,
                     p.Compound_Retention_Time,
                     p.Compound_Intensity};
    const std::size_t at = pending_.size();
    pending_.append(reinterpret_cast<const char*>(&fixed), sizeof fixed);
    pending_ += p.Adduct_Annotation;
    const std::size_t codes = shape.empty() ? 0 : shape.size() - 1;
    const std::size_t shape_at = pending_.size();
    pending_.resize(shape_at + (codes + 1) / 2);
    if (Pack_Codes(shape, reinterpret_cast<unsigned char*>(pending_.data() + shape_at))) {
      fixed.adduct_bytes |= kPacked | (codes % 2 ? kOddCodes : 0);
      std::memcpy(pending_.data() + at, &fixed.adduct_bytes, sizeof fixed.adduct_bytes);
    } else {
      pending_.resize(shape_at);
      pending_ += shape;
    }
    end += pending_.size() - at;
    ends_.push_back(end);
    if (pending_.size() >= kWriteChunk) Write_Out();
  }
}

void Row_Spill::Flush() { Write_Out(); }

void Row_Spill::Write_Out() {
  std::string_view data = pending_;
  while (!data.empty()) {
    const ssize_t n = ::write(fd_, data.data(), data.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      Throw_Errno(folder_ + ": cannot write the run's temporary file");
    }
    data.remove_prefix(static_cast<std::size_t>(n));
  }
  pending_.clear();
}

std::string_view Row_Spill::Reader::Read(std::size_t row, bool with_shape,
                                         Chromatogram_Peak_Group_Compound_Align& record) {
  const std::uint64_t begin = row == 0 ? 0 : spill_.ends_[row - 1];
  const std::size_t length = static_cast<std::size_t>(spill_.ends_[row] - begin);
  auto read = [&](std::size_t bytes) {
    buffer_.resize(bytes);
    std::size_t done = 0;
    while (done < bytes) {
      const ssize_t n = ::pread(spill_.fd_, buffer_.data() + done, bytes - done,
                                static_cast<off_t>(begin + done));
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) Throw_Errno(spill_.folder_ + ": cannot read the run's temporary file");
      done += static_cast<std::size_t>(n);
    }
  };
  read(with_shape ? length : std::min(length, kHeadBytes));
  Fixed_Part fixed;
  std::memcpy(&fixed, buffer_.data(), sizeof fixed);
  const bool packed = fixed.adduct_bytes & kPacked;
  const bool odd = fixed.adduct_bytes & kOddCodes;
  fixed.adduct_bytes &= kLengthMask;
  const std::size_t head = sizeof fixed + fixed.adduct_bytes;
  if (buffer_.size() < head) read(head);
  record.EIC_ID = fixed.EIC_ID;
  record.Peak_ID = fixed.Peak_ID;
  record.Apex_MZ = fixed.Apex_MZ;
  record.Apex_Pos = fixed.Apex_Pos;
  record.Apex_Retention_Time = fixed.Apex_Retention_Time;
  record.Apex_Intensity = fixed.Apex_Intensity;
  record.Peak_Area = fixed.Peak_Area;
  record.Peak_SNR = fixed.Peak_SNR;
  record.Left_Boundary = fixed.Left_Boundary;
  record.Right_Boundary = fixed.Right_Boundary;
  record.Group_ID = fixed.Group_ID;
  record.Adduct_Annotation.assign(buffer_.data() + sizeof fixed, fixed.adduct_bytes);
  record.Compound_ID = fixed.Compound_ID;
  record.Compound_MolecularMass = fixed.Compound_MolecularMass;
  record.Compound_Retention_Time = fixed.Compound_Retention_Time;
  record.Compound_Intensity = fixed.Compound_Intensity;
  if (!with_shape) return {};
  if (!packed) return std::string_view(buffer_).substr(head, length - head);
  const std::size_t codes = 2 * (length - head) - (odd ? 1 : 0);
  shape_.resize(codes + 1);
  Unpack_Codes(reinterpret_cast<const unsigned char*>(buffer_.data()) + head, codes,
               reinterpret_cast<unsigned char*>(shape_.data()));
  return shape_;
}
