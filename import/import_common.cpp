#include "import/import_common.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <thread>
#include <unordered_map>

#include <sys/stat.h>

#include "import/import_formats.h"
#include "storage/path.h"

namespace import_detail {

void Place::Fail(const std::string& what) const {
  std::string message = file != nullptr ? *file : std::string();
  if (line != 0) message += ':' + std::to_string(line);
  message += ": ";
  if (!column.empty()) message += "column \"" + Shown(column) + "\": ";
  throw Import_Error(message + what);
}

std::string Shown(std::string_view text) {
  constexpr std::size_t kShown = 60;
  if (text.size() <= kShown + 20) return std::string(text);
  std::size_t cut = kShown;
  // Back to the start of a UTF-8 character.
  while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
  return std::string(text.substr(0, cut)) + "\u2026 (" + std::to_string(text.size()) +
         " characters)";
}

std::string_view Trim(std::string_view text) {
  const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
  while (!text.empty() && blank(text.front())) text.remove_prefix(1);
  while (!text.empty() && blank(text.back())) text.remove_suffix(1);
  return text;
}

std::optional<double> Number(std::string_view text) {
  text = Trim(text);
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  if (text.empty() || text.front() == '+') return std::nullopt;
  // from_chars also reads "inf", "nan" and "infinity": the digits check keeps them out.
  const char c = text.front() == '-' && text.size() > 1 ? text[1] : text.front();
  if ((c < '0' || c > '9') && c != '.') return std::nullopt;
  double value = 0.0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size() || !std::isfinite(value)) {
    return std::nullopt;
  }
  return value;
}

bool Missing(std::string_view text) {
  text = Trim(text);
  return text.empty() || text == "NA" || text == "NaN" || text == "nan";
}

std::optional<double> Intensity_Value(std::string_view text, const Place& place) {
  if (Missing(text)) return std::nullopt;
  const double value = Required_Number(text, place);
  if (value < 0.0) place.Fail("negative intensity " + Shown(Trim(text)));
  if (value == 0.0) return std::nullopt;
  return value;
}

double Required_Number(std::string_view text, const Place& place) {
  const std::optional<double> value = Number(text);
  if (!value) place.Fail('"' + Shown(text) + "\" is not a number");
  return *value;
}

Imported_Sample& Sample_Set::Get(std::string_view name, const Place& place,
                                 std::string_view as_written) {
  const std::string_view origin = Trim(as_written.empty() ? name : as_written);
  std::string safe(Trim(name));
  for (char& c : safe) {
    const auto u = static_cast<unsigned char>(c);
    if (c == '/' || c == '\\' || u < 0x20 || u == 0x7f) c = '_';
  }
  if (safe.empty()) place.Fail("empty sample name");
  const auto [at, added] = index_.try_emplace(safe, samples_.size());
  if (added) {
    Imported_Sample sample{safe, *place.file, {}};
    sample.origin = origin;
    samples_.push_back(std::move(sample));
  } else if (samples_[at->second].origin != origin) {
    place.Fail("samples \"" + Shown(samples_[at->second].origin) + "\" and \"" + Shown(origin) +
               "\" would both be stored as \"" + Shown(safe) + "\"; rename one of them");
  }
  return samples_[at->second];
}

std::vector<Imported_Sample> Sample_Set::Take() {
  std::vector<Imported_Sample> taken;
  taken.reserve(samples_.size());
  for (Imported_Sample& sample : samples_) taken.push_back(std::move(sample));
  samples_.clear();
  index_.clear();
  return taken;
}

void Check_Stop(const Import_Options& options) {
  if (options.stop && options.stop()) throw Import_Stopped();
}

std::string Read_Input(const std::string& path) {
  std::FILE* file = std::fopen(path.c_str(), "rb");
  const Place place{&path};
  if (file == nullptr) place.Fail(std::string("cannot open: ") + std::strerror(errno));
  std::string text;
  char buffer[1 << 16];
  std::size_t n = 0;
  for (;;) {
    while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0) text.append(buffer, n);
    // A stop signal interrupts the read: it goes on, and the stop is seen next.
    if (!std::ferror(file) || errno != EINTR) break;
    std::clearerr(file);
  }
  const bool failed = std::ferror(file) != 0;
  const int error = errno;
  std::fclose(file);
  if (failed) place.Fail(std::string("cannot read: ") + std::strerror(error));
  return text;
}

void For_Each_Parallel(std::size_t n, const std::function<void(std::size_t)>& work) {
  const std::size_t threads =
      std::min<std::size_t>(n, std::max(1u, std::thread::hardware_concurrency()));
  std::vector<std::exception_ptr> errors(n);
  std::atomic<std::size_t> next{0};
  const auto run = [&] {
    for (std::size_t i = next++; i < n; i = next++) {
      try {
        work(i);
      } catch (...) {
        errors[i] = std::current_exception();
      }
    }
  };
  std::vector<std::thread> helpers;
  for (std::size_t t = 1; t < threads; ++t) helpers.emplace_back(run);
  run();
  for (std::thread& helper : helpers) helper.join();
  for (const std::exception_ptr& error : errors) {
    if (error) std::rethrow_exception(error);
  }
}

std::string Stem(std::string_view path) {
  std::string name = Split_Path(std::string(path)).name;
  const std::size_t dot = name.rfind('.');
  if (dot != std::string::npos && dot > 0) name.resize(dot);
  return name;
}

namespace {

constexpr double kElectron = 0.000548579909;  // Da

// Monoisotopic masses of the parts an adduct is written with, Da.
struct Adduct_Part {
  std::string_view name;
  double mass;
};
constexpr Adduct_Part kAdductParts[] = {
    {"H", 1.00782503207},   {"Na", 22.9897692809},      {"K", 38.96370668},
    {"Li", 7.01600455},     {"NH4", 18.0343741331},     {"NH3", 17.0265491015},
    {"Cl", 34.968852682},   {"Br", 78.9183371},         {"H2O", 18.0105646837},
    {"FA", 46.0054792895},  {"HCOOH", 46.0054792895},   {"HCOO", 44.9976542574},
    {"Hac", 60.0211293533}, {"CH3COOH", 60.0211293533}, {"CH3COO", 59.0133043213},
    {"ACN", 41.0265491015}, {"CH3CN", 41.0265491015},   {"MeOH", 32.0262147},
    {"CH3OH", 32.0262147},
};

// Digits at the front of text, taken off it; `fallback` when there are none.
int Count(std::string_view& text, int fallback) {
  int value = 0;
  std::size_t digits = 0;
  while (digits < text.size() && digits < 4 && text[digits] >= '0' && text[digits] <= '9') {
    value = value * 10 + (text[digits] - '0');
    ++digits;
  }
  text.remove_prefix(digits);
  return digits == 0 ? fallback : value;
}

}  // namespace

}  // namespace import_detail

using import_detail::Count;

std::optional<double> Neutral_Mass(double mz, std::string_view adduct, int charge) {
  std::string_view text = import_detail::Trim(adduct);
  // "[" n "M" then (+|-) k PART ... "]" z (+|-)
  if (text.size() < 4 || text.front() != '[') return std::nullopt;
  text.remove_prefix(1);
  const int molecules = Count(text, 1);
  if (molecules == 0 || text.empty() || text.front() != 'M') return std::nullopt;
  text.remove_prefix(1);
  double parts = 0.0;
  while (!text.empty() && (text.front() == '+' || text.front() == '-')) {
    const double sign = text.front() == '+' ? 1.0 : -1.0;
    text.remove_prefix(1);
    const int times = Count(text, 1);
    std::size_t length = 0;
    while (length < text.size() && text[length] != '+' && text[length] != '-' &&
           text[length] != ']') {
      ++length;
    }
    const std::string_view name = text.substr(0, length);
    text.remove_prefix(length);
    const import_detail::Adduct_Part* found = nullptr;
    for (const auto& part : import_detail::kAdductParts) {
      if (part.name == name) found = &part;
    }
    if (found == nullptr || times == 0) return std::nullopt;
    parts += sign * times * found->mass;
  }
  if (text.empty() || text.front() != ']') return std::nullopt;
  text.remove_prefix(1);
  const int size = Count(text, 1);
  if (text.size() != 1 || (text.front() != '+' && text.front() != '-') || size == 0) {
    return std::nullopt;
  }
  if (charge != 0 && std::abs(charge) != size) {
    throw Import_Error("charge " + std::to_string(charge) + " differs from the adduct's " +
                       std::string(adduct));
  }
  const int z = text.front() == '+' ? size : -size;
  // ion mass = molecules * M + parts - z * electron, and ion mass = mz * |z|
  return (mz * size - parts + z * import_detail::kElectron) / molecules;
}

namespace import_detail {

void Finish_Feature(Imported_Feature& feature, int charge, const Import_Options& options,
                    bool minutes, const Feature_Columns& columns, Place place) {
  const auto fail = [&place](std::string_view column, const std::string& what) {
    place.column = column;
    place.Fail(what);
  };
  const auto number = [](double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.6g", value);
    return std::string(text);
  };
  if (!(feature.mz > 0.0 && feature.mz < kMaxMass)) {
    fail(columns.mz, "m/z " + number(feature.mz) + " is not above 0 and below 100000");
  }
  if (!(feature.rt >= 0.0 && feature.rt <= kMaxRetentionTime) ||
      !(feature.width >= 0.0 && feature.width <= kMaxRetentionTime)) {
    const double seconds =
        feature.rt >= 0.0 && feature.rt <= kMaxRetentionTime ? feature.width : feature.rt;
    std::string what = "retention time " + number(seconds) + " s is not from 0 to 48 h";
    if (minutes && seconds > kMaxRetentionTime && seconds / 60.0 <= kMaxRetentionTime) {
      what += " (read in minutes: if the times are in seconds, give --rt-unit s)";
    }
    fail(columns.rt, what);
  }
  feature.mass = feature.mz;
  feature.neutral = false;
  if (options.mass_is_mz || feature.adduct.empty()) return;
  std::optional<double> mass;
  try {
    mass = Neutral_Mass(feature.mz, feature.adduct, charge);
  } catch (const Import_Error& e) {
    fail(columns.adduct, e.what());
  }
  if (!mass) {
    fail(columns.adduct, "\"" + Shown(feature.adduct) +
                             "\" is not an adduct with its charge, such as [M+H]+ or [M-H]- "
                             "(--mass mz keeps the m/z as the mass)");
  }
  if (!(*mass > 0.0 && *mass < kMaxMass)) {
    fail(columns.adduct, "neutral mass " + number(*mass) + " of \"" + Shown(feature.adduct) +
                             "\" is not above 0 and below 100000");
  }
  feature.mass = *mass;
  feature.neutral = true;
}

}  // namespace import_detail

namespace {

// The same file by any path: the same device and inode (paths that name no
// file compare as text).
bool Same_File(const std::string& a, const std::string& b) {
  struct stat sa {};
  struct stat sb {};
  if (::stat(a.c_str(), &sa) != 0 || ::stat(b.c_str(), &sb) != 0) return a == b;
  return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

}  // namespace

std::vector<Imported_Sample> Read_Feature_Lists(const Import_Options& options,
                                                const std::vector<std::string>& inputs) {
  using import_detail::Shown;
  // One file given twice would double its features.
  for (std::size_t i = 0; i < inputs.size(); ++i) {
    for (std::size_t j = 0; j < i; ++j) {
      if (Same_File(inputs[j], inputs[i])) {
        throw Import_Error(inputs[i] + ": the same file as " + inputs[j] +
                           " (given twice); give each input once");
      }
    }
  }
  const Feature_List_Reader read = Format_Info(options.format).read;
  // The inputs are read side by side; their samples are then taken in order.
  std::vector<std::vector<Imported_Sample>> read_samples(inputs.size());
  import_detail::For_Each_Parallel(
      inputs.size(), [&](std::size_t i) { read_samples[i] = read(inputs[i], options); });
  std::vector<Imported_Sample> result;
  std::unordered_map<std::string, std::size_t> index;
  for (std::size_t i = 0; i < inputs.size(); ++i) {
    for (Imported_Sample& sample : read_samples[i]) {
      const auto [at, added] = index.try_emplace(sample.name, result.size());
      if (!added) {
        const Imported_Sample& first = result[at->second];
        if (first.origin != sample.origin) {
          throw Import_Error(inputs[i] + ": sample \"" + Shown(sample.origin) + "\" and sample \"" +
                             Shown(first.origin) + "\" of " + first.source +
                             " would both be stored as \"" + Shown(sample.name) +
                             "\"; rename one of them");
        }
        throw Import_Error(inputs[i] + ": sample \"" + Shown(sample.name) + "\" is also in " +
                           first.source);
      }
      result.push_back(std::move(sample));
    }
  }
  if (result.empty()) {
    std::string names;
    for (const std::string& input : inputs) names += (names.empty() ? "" : ", ") + input;
    throw Import_Error(names + ": no features, no samples");
  }
  return result;
}
