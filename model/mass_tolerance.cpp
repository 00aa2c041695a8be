#include "model/mass_tolerance.h"

#include <charconv>
#include <cmath>

namespace {

// Shortest decimal text that reads back to the same double ("0.1", "20",
// "1e-05").
std::string Shortest_Number_Text(double value) {
  char buf[64];
  return std::string(buf, std::to_chars(buf, buf + sizeof buf, value).ptr);
}

}  // namespace

bool Mass_Tolerance::Is_Valid() const { return std::isfinite(value) && value >= 0.0; }

const char* Mass_Tolerance::Unit_Name() const { return unit == Unit::kPpm ? "ppm" : "Da"; }

const char* Mass_Tolerance::Record_Item() const {
  return unit == Unit::kPpm ? "mass_tol_ppm" : "mass_tol";
}

std::string Mass_Tolerance::Text() const { return Shortest_Number_Text(value) + " " + Unit_Name(); }

std::optional<Mass_Tolerance::Unit> Mass_Tolerance_Unit_Of_Item(std::string_view item) {
  if (item == "mass_tol") return Mass_Tolerance::Unit::kDa;
  if (item == "mass_tol_ppm") return Mass_Tolerance::Unit::kPpm;
  return std::nullopt;
}
