// What an alignment run is asked to do, and the one check of the parameters
// that the window and varnel-align both make before they start a run.
//
// The check knows no toolkit: each front end reads its boxes or options as
// texts and hands over the way it reads a number (the window accepts the
// locale's decimal separator and '.', the command line '.' only).
#ifndef VARNEL_RUN_ALIGNMENT_REQUEST_H_
#define VARNEL_RUN_ALIGNMENT_REQUEST_H_

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "align/compound_align.h"
#include "storage/annotated_reader.h"

// The result folder is the first input's folder followed by this name.
inline constexpr const char* kResultFolderName = "Result";
// An input's sample name is its file name cut before kAnnotatedSuffix
// (storage/annotated_reader.h).

// Defaults of the three numbers: Da, seconds (full width), seconds.
inline constexpr double kDefaultMassTol = 0.1;
inline constexpr double kDefaultWindow1 = 20.0;
inline constexpr double kDefaultWindow2 = 10.0;
// The same defaults as the window's boxes and the command line show them.
inline constexpr const char* kDefaultMassTolText = "0.1";
inline constexpr const char* kDefaultWindow1Text = "20";
inline constexpr const char* kDefaultWindow2Text = "10";
// The deep window handed to the fast alignment when its text holds no number
// (the one-phase alignment never reads it): the default deep window.
inline constexpr double kFastModeFallbackWindow2 = kDefaultWindow2;

// Refusals, in the order the check makes them.
inline constexpr const char* kInvalidWindow2Message = "You must configure a valid Align Window2!";
inline constexpr const char* kInvalidMassTolMessage =
    "You must configure a valid Align Mass Tolerance!";
inline constexpr const char* kInvalidWindow1Message = "You must configure a valid Align Window1!";
inline constexpr const char* kNoFileMessage =
    "Please tick at least one Annotation result File(.db) to align!";

// One annotated database of a run: its folder (no trailing separator) and its
// bare file name. Its position in the run's list is its SAMPLE_ID.
struct Annotated_File {
  std::string folder;
  std::string name;

  friend bool operator==(const Annotated_File&, const Annotated_File&) = default;
};

// The sample name of a database file name: the part before the first
// occurrence of kAnnotatedSuffix, or the whole name when it does not occur.
std::string Sample_Name_Of(std::string_view file_name);

// The result folder of a run whose first input lies in `data_folder`:
// data_folder joined with kResultFolderName. The window and varnel-align (when
// not given --result-dir) both write there.
std::string Default_Result_Folder(const std::string& data_folder);

// A whole run: what to read, how to align, where to write.
struct Alignment_Request {
  Compound_Align_Mode mode = One_Phase_Align;
  // Da, or ppm of each group's seed mass (both phases).
  Mass_Tolerance Mass_Tol{Mass_Tolerance::Unit::kDa, kDefaultMassTol};
  double Align_Window1 = kDefaultWindow1;  // seconds, full width
  double Align_Window2 = kDefaultWindow2;  // seconds, full width (deep mode)
  std::vector<Annotated_File> files;       // in SAMPLE_ID order
  std::string result_folder;               // must exist when the run starts
  // Options beyond the three numbers; each one off leaves every stored byte
  // of the result as the three numbers alone make it.
  bool rt_correction = false;  // align on drift-corrected retention times
  bool record_run = false;     // store the run's record (tables Align_Run*)
  // How each group keeps one member per sample (align/member_choice.h), and
  // whether a compound split over two groups is joined again.
  Member_Pick pick = Member_Pick::kClosest;
  bool join_splits = false;
  unsigned threads = 0;  // threads reading the inputs (0: one per core)
  std::string version;   // for the run's record; empty: this build's version

  friend bool operator==(const Alignment_Request&, const Alignment_Request&) = default;
};

// Tolerances read from the study itself (see run/alignment_estimate.h): the
// three numbers to put in the boxes, and a few lines on what was found.
struct Tolerance_Suggestion {
  Mass_Tolerance Mass_Tol{Mass_Tolerance::Unit::kDa, 0.0};
  double Align_Window1 = 0.0;  // seconds, full width
  double Align_Window2 = 0.0;  // seconds, full width
  std::string report;          // the spreads found, one per line
  std::size_t compounds = 0;   // anchor compounds: found in at least half of the samples
  std::size_t pairs = 0;       // pairs of compounds across samples the mass spread came from
  std::size_t uncorrected_samples = 0;  // samples the drift correction could not correct
};

// The three numbers as typed.
struct Alignment_Parameter_Texts {
  Compound_Align_Mode mode = One_Phase_Align;
  std::string mass_tol;  // in mass_tol_unit
  Mass_Tolerance::Unit mass_tol_unit = Mass_Tolerance::Unit::kDa;
  std::string window1;
  std::string window2;
};

// Reads one number; nothing when the text holds none.
using Number_Reader = std::function<std::optional<double>(std::string_view)>;

// The numbers of an accepted check, or the first refusal.
struct Checked_Parameters {
  std::optional<std::string> refusal;
  Mass_Tolerance Mass_Tol{Mass_Tolerance::Unit::kDa, 0.0};
  double Align_Window1 = 0.0;
  double Align_Window2 = 0.0;
};

// Checks in this order: in deep mode the deep window, then the mass
// tolerance (Mass_Tolerance::Is_Valid, in texts.mass_tol_unit), then the
// fast window. A text passes when `read` gives a finite number >= 0 (0 is
// valid: it matches equal values only); NaN, infinities and negative numbers
// are refused with the box's message. In fast mode a deep
// window that holds no valid number becomes kFastModeFallbackWindow2.
Checked_Parameters Check_Alignment_Parameters(const Alignment_Parameter_Texts& texts,
                                              const Number_Reader& read);

// What a front end read for a run: the three numbers as typed, the options
// as values, the inputs and the result folder as the run is to use them.
struct Alignment_Form {
  Alignment_Parameter_Texts numbers;
  std::vector<Annotated_File> files;  // in SAMPLE_ID order
  std::string result_folder;          // taken as given (no default here)
  bool rt_correction = false;
  bool record_run = false;
  Member_Pick pick = Member_Pick::kClosest;
  bool join_splits = false;
  unsigned threads = 0;
};

// The request a form asks for, or the first refusal of its numbers.
struct Built_Alignment_Request {
  std::optional<std::string> refusal;  // a message of Check_Alignment_Parameters
  Alignment_Request request;           // the form's, when there is no refusal; else default
};

// The one way from what a front end read to a run's request: checks
// form.numbers as Check_Alignment_Parameters does (its messages, in its
// order, each number read with `read`), then copies the checked numbers,
// the mode and every option and input into the request. The inputs are not
// checked here: the window refuses its ticks with Check_Alignment_Files, the
// command line its paths as typed with Check_Distinct_Inputs.
Built_Alignment_Request Build_Alignment_Request(const Alignment_Form& form,
                                                const Number_Reader& read);

// The refusal of a run over no file (kNoFileMessage) or over one file given
// twice (Check_Distinct_Inputs), or nothing.
std::optional<std::string> Check_Alignment_Files(const std::vector<Annotated_File>& files);

// The refusal of a list of inputs that names one file twice, by any path
// (the same device and inode; paths that name no file are compared as
// text): "<first> and <second> are the same file; give each input once",
// with both paths as given. Nothing when every input is distinct.
std::optional<std::string> Check_Distinct_Inputs(const std::vector<std::string>& paths);

#endif  // VARNEL_RUN_ALIGNMENT_REQUEST_H_
