// Exports of an aligned result (.aligndb) for statistics: the formats of
// export/formats.h (a feature table, a MetaboAnalyst peak-intensity table and
// mzTab-M 2.0.0-M).
//
// A feature is one alignment group (Align_ID >= 1); rows with Align_ID 0 are
// not exported, but their samples still get a column. Samples are those of
// Aligned_Result::Samples(): the SAMPLE_IDs of Align_Peaklist with those of
// the run record's inputs (a file that gave no peak), in ascending SAMPLE_ID;
// a SAMPLE_NAME shared by several samples is shown as "NAME (SAMPLE_ID)" for
// each of them. A sample's quantity in a feature is that of
// export/quantities.h, written empty ("null" in mzTab-M) when it has none.
//
// Every output file is written under a temporary name beside it and renamed
// over it only when complete, so a failure leaves no partial file and any old
// file untouched. Numbers are written in plain decimal (never exponent form)
// with at most six decimals, the precision a result carries (Append_Number in
// export/output_file.h).
//
// Time columns: when the result holds a drift correction
// (Align_RT_Correction), Align_RT is on the corrected scale, and so are RT_Min
// and RT_Max (each compound's Compound_Retention_Time corrected by its
// sample's curve, storage/rt_shift_curves.h); RT_Min_Original and
// RT_Max_Original follow them with the original times. Align_RT has no
// original counterpart: it is a time on the study's common scale, no one
// sample's. Without a correction those two columns are absent.
#ifndef VARNEL_EXPORT_EXPORT_RESULT_H_
#define VARNEL_EXPORT_EXPORT_RESULT_H_

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "export/formats.h"
#include "export/quantities.h"
#include "export/sample_sheet.h"
#include "export/signal_correction.h"

struct Export_Options {
  Export_Format format = Export_Format::kFeatureTable;
  Export_Quantity quantity = Export_Quantity::kCompound;
  // Groups of the samples: required for kMetaboAnalyst; for kMzTab it gives
  // the study variables (without it, one "undefined" holds every assay);
  // unused by kFeatureTable. Each result sample is looked up by its shown
  // name first, then by its SAMPLE_NAME; one missing is an error. Sheet rows
  // naming no sample of the result are ignored.
  std::optional<Sample_Sheet> groups;
  std::string software_version;  // written into mzTab-M's software[1]
  // QC-based drift and batch correction, normalisation and feature filters
  // (export/signal_correction.h); they need the sample sheet (groups) with
  // the QCs. Off by default: the export is then the result's values.
  Signal_Options signal;
};

// Writes the export of the result at result_path to out_path.
// Feature table columns: Align_ID, Mass (median Compound_MolecularMass of the
// group's compounds, one value per sample and Compound_ID), Align_RT, RT_Min,
// RT_Max (of the compounds' Compound_Retention_Time), [RT_Min_Original,
// RT_Max_Original when corrected], Adducts (distinct
// Adduct_Annotation texts, sorted, ";"-joined), Samples_Present, then one
// column per sample. MetaboAnalyst rows are named "<mass, 4 decimals>_<Align_RT,
// 2 decimals>", with "_<Align_ID>" added to a name met before.
// mzTab-M: SML_ID is the Align_ID; one SMF row per group and adduct text (see
// export/mztab.cpp for each column).
// Throws std::runtime_error naming the file: a file that is not an aligned
// result (Aligned_Result_Error), a result without rows or without aligned
// rows, a missing or bad sample sheet, an output that cannot be written or
// that is the result or the sample sheet itself.
// One pass over the rows in Align_ID order (the Align_ID index), reading only
// the columns the format uses; memory is one group's rows plus a line.
// mzTab-M writes its two tables to scratch files beside out_path first (its
// metadata needs every adduct) and removes them.
//
// With options.signal active, the quantities are corrected (and features
// filtered) before any format writes them, after a first pass over the groups
// when the options need one (auto, pqn: memory four bytes per feature and
// sample then), and the record of the correction is written to
// Signal_Record_Path(out_path) with the output. Returns the lines to tell the
// user about it (none without it).
std::vector<std::string> Export_Result(const std::string& result_path,
                                       const Export_Options& options, const std::string& out_path);

class Group_Stream;

// Refuses, before anything is read, options a format cannot take (a missing
// sample sheet it needs) and an output that is `input` or the sample sheet.
void Check_Export_Options(const Export_Options& options, const std::string& out_path,
                          const std::string& input);
// Writes the export of the groups of `stream` (made with the format's
// columns) to out_path, as Export_Result does for a result file.
// `first_pass` opens the same groups again (with kGroupColumns) for a QC
// correction that needs a first pass over them; it may be empty otherwise.
using Group_Stream_Factory = std::function<std::unique_ptr<Group_Stream>()>;
std::vector<std::string> Export_Groups(Group_Stream& stream, const Export_Options& options,
                                       const std::string& out_path,
                                       const Group_Stream_Factory& first_pass = {});

#endif  // VARNEL_EXPORT_EXPORT_RESULT_H_
