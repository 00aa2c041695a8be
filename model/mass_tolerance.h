// The mass tolerance of an alignment: a value and its unit, in one type from
// the request a front end fills to the engine and the run's record.
#ifndef VARNEL_MODEL_MASS_TOLERANCE_H_
#define VARNEL_MODEL_MASS_TOLERANCE_H_

#include <optional>
#include <string>
#include <string_view>

// A mass tolerance in Da, or in ppm of the seed's Compound_MolecularMass.
struct Mass_Tolerance {
  enum class Unit { kDa, kPpm };
  Unit unit = Unit::kDa;
  double value = 0.1;

  // Whether a run accepts it: a finite value >= 0 (0 matches equal masses
  // only). NaN, infinities and negative values are refused.
  bool Is_Valid() const;

  // The unit as people read it: "Da" or "ppm".
  const char* Unit_Name() const;

  // The item that holds it in a run's record: "mass_tol" (Da) or
  // "mass_tol_ppm".
  const char* Record_Item() const;

  // The value as the shortest decimal text that reads back to the same
  // double, then a space and Unit_Name(): "0.1 Da", "10 ppm".
  std::string Text() const;

  friend bool operator==(const Mass_Tolerance&, const Mass_Tolerance&) = default;
};

// The unit a run record's item names (see Record_Item); nothing for any other
// item.
std::optional<Mass_Tolerance::Unit> Mass_Tolerance_Unit_Of_Item(std::string_view item);

#endif  // VARNEL_MODEL_MASS_TOLERANCE_H_
