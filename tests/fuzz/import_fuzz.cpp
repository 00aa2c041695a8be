// The feature-list import's readers on arbitrary files: the first byte picks
// the format (featureXML, MZmine, XCMS, table) and whether retention times
// are minutes, the rest is the file. Reading either succeeds, with finite
// values in every feature, or throws Import_Error naming the file.
#include <unistd.h>

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "import/feature_import.h"

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

const std::string& Input_Path() {
  static const std::string path = [] {
    char folder[] = "/tmp/varnel-import-fuzz-XXXXXX";
    Check(mkdtemp(folder) != nullptr);
    return std::string(folder) + "/input.txt";
  }();
  return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  Import_Options options;
  options.format = static_cast<Import_Format>(data[0] % 4);
  if (data[0] & 4) options.rt_unit = Rt_Unit::kMinutes;
  options.mass_is_mz = (data[0] & 8) != 0;
  const std::string& path = Input_Path();
  std::FILE* file = std::fopen(path.c_str(), "wb");
  Check(file != nullptr);
  Check(std::fwrite(data + 1, 1, size - 1, file) == size - 1);
  Check(std::fclose(file) == 0);
  try {
    for (const Imported_Sample& sample : Read_Feature_Lists(options, {path})) {
      Check(!sample.name.empty());
      for (const Imported_Feature& f : sample.features) {
        Check(std::isfinite(f.mz) && std::isfinite(f.rt) && f.rt >= 0.0 && std::isfinite(f.height));
        Check(std::isfinite(f.mass) && std::isfinite(f.width) && f.width >= 0.0);
      }
    }
  } catch (const Import_Error& e) {
    Check(std::string(e.what()).rfind(path, 0) == 0);
  }
  return 0;
}
