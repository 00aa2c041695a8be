// What the alignment tab reads, checks, computes and calls, without widgets.
//
// The window reads its controls into the plain values below, asks these
// functions for a decision (a refusal text or the run's arguments) and shows
// it. The file table is a QStandardItemModel so the grid can show it as is.
#ifndef VARNEL_UI_ALIGN_TAB_H_
#define VARNEL_UI_ALIGN_TAB_H_

#include <QLocale>
#include <QString>
#include <QStringList>
#include <array>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "run/alignment_run.h"

class QObject;
class QStandardItemModel;

namespace Varnel {

// One picked database: its folder (no trailing separator) and its file name.
struct Picked_File {
  QString folder;
  QString name;

  friend bool operator==(const Picked_File&, const Picked_File&) = default;
};

// The tab's own texts.
inline constexpr char kAnnotationDialogTitle[] = "Select Annotation Database Files";
inline constexpr char kAnnotationDialogFilter[] = ".db Files (*.db *.DB)";
inline constexpr char kSelectAnnotationMessage[] =
    "Please select the Annotation result Files(.db) that outputed from Ostrand!";
inline constexpr char kLoadAnnotationMessage[] =
    "Please load the Annotation result Files(.db) that outputed from Ostrand!";
inline constexpr char kAlignFinishedMessage[] = "Align Process Finished!";
inline constexpr char kHeaderCheckBoxName[] = "checkboxHeader_Align";

// File table columns.
inline constexpr int kFileNameColumn = 0;
inline constexpr int kFolderNameColumn = 1;
inline constexpr int kAlignColumn = 2;
inline constexpr char kFileNameHeader[] = "File Name";
inline constexpr char kFolderNameHeader[] = "Folder Name";
inline constexpr char kAlignHeader[] = "     Align";  // five spaces: room for the header tick box
inline constexpr int kAlignColumnWidth = 70;          // pixels
inline constexpr int kFileColumnsWidth = 250;         // pixels, File Name + Align

// ---- Pick ----------------------------------------------------------------

// Splits a picked full path at its last separator into {folder, file name}.
// A file at the root gives the empty folder.
Picked_File Split_Picked_Path(const QString& path);

struct Pick_Outcome {
  QString path_text;                             // the path box's new text
  std::optional<std::vector<Picked_File>> rows;  // replaces Result_Data_Load when set
  std::optional<QString> message;                // shown when set
};
// The outcome of a file dialog closed with OK that returned `paths`: every
// path followed by ";" in the path box and one row per path in dialog order;
// no path gives an empty box, the select message and no new rows.
Pick_Outcome Pick_Annotation_Files(const QStringList& paths);

// ---- Load ----------------------------------------------------------------

// The refusal text of a load, or nothing when it goes ahead: a load needs
// text in the path box and files from an earlier pick.
std::optional<QString> Check_Load(const QString& path_text,
                                  const std::optional<std::vector<Picked_File>>& picked);

// A new file table: one row per picked file in pick order, "File Name",
// "Folder Name", and an unticked, user-checkable "     Align" cell. Text cells
// are read-only. The caller owns the model (parented to `parent` if given).
QStandardItemModel* Build_File_Table(const std::vector<Picked_File>& rows,
                                     QObject* parent = nullptr);

// Ticks (or clears) column 2 of every row, first to last.
void Set_All_Ticks(QStandardItemModel& table, bool ticked);

// "File Name" of every ticked row, in row order. A table with fewer than
// three columns has no ticked rows.
QStringList Ticked_File_Names(const QStandardItemModel& table);

// ---- Align ---------------------------------------------------------------

// The number in a parameter box: '.' is always the decimal point, and so is
// the locale's own separator ("0.1" and, in a German locale, "0,1" are 0.1;
// "0.1" is never read as 1). Surrounding blanks and the locale's group
// separators are accepted. Nothing for an empty text or no number; NaN and
// infinities are no numbers here.
std::optional<double> Read_Box_Number(const QString& text, const QLocale& locale);

// The controls of the tab as Align reads them.
struct Align_Form_Values {
  std::optional<std::vector<Picked_File>> picked;  // Result_Data_Load
  QStringList ticked_files;                        // Ticked_File_Names of the grid
  bool two_phase = false;                          // radioButton_Two_Phase_Align checked
  QString window1;                                 // textBox_Align_Window1
  QString window2;                                 // textBox_Align_Window2
  QString mass_tol;                                // textBox_Align_Mass_Tol
  bool rt_correction = false;                      // checkBox_RT_Drift_Correction ticked
  bool record_run = false;                         // checkBox_Record_Run ticked
  // checkBox_Scored_Member_Choice ticked: each sample's member chosen by
  // time, mass and intensity, and split groups joined (Member_Pick::kScored
  // and join_splits together).
  bool scored_member_choice = false;
};

struct Align_Plan {
  // Default_Result_Folder of the first pick's folder; empty when nothing was
  // ever picked.
  // The caller stores it in FilePathOut and creates it before it shows a
  // refusal.
  QString result_folder;
  std::optional<QString> refusal;  // first failed check, in the tab's order
  Alignment_Request request;       // meaningful only without a refusal
  bool rt_correction = false;      // the tick boxes, as read
  bool record_run = false;
};

// Checks in order: a pick exists (else the load message), then the numbers as
// Check_Alignment_Parameters checks them (read with Read_Box_Number), then at
// least one ticked file (kNoFileMessage: a run over no file would replace the
// last result with empty files). Names and folders become engine strings.
Align_Plan Plan_Align(const Align_Form_Values& values, const QLocale& locale = QLocale());

// Creates `folder` (and missing parents) unless it exists. Returns false when
// it cannot be created or a non-folder is in the way.
bool Make_Folder(const QString& folder);

// The run an accepted request calls, with the window's observer; Run_Alignment
// by default. Throws whatever the run throws.
using Align_Run_Function =
    std::function<Alignment_Run_Summary(const Alignment_Request&, const Alignment_Run_Observer&)>;

// Shown after a Cancel of the run; the result files are as they were.
inline constexpr char kAlignCancelledMessage[] =
    "The alignment was cancelled; earlier results are unchanged.";
// The details under "Align Process Finished!": where the two result files
// are; after a Cancel that came when the run could no longer stop (its
// files were being put in place), that it had finished and replaced the
// earlier results.
QString Align_Finished_Details(const QString& result_folder, bool late_cancel);
// The finish notice's button that opens the new result on the other tab.
inline constexpr char kOpenResultAction[] = "Open in Align_Visualization";

// Asked when the window is closed while a run works.
inline constexpr char kStopRunAndCloseQuestion[] = "An alignment is running. Stop it and close?";

// The notice after a run that read inputs without the annotated table
// (Alignment_Run_Summary::inputs_without_table): one line saying so, then
// one line per input.
QString Inputs_Without_Table_Text(const std::vector<std::string>& inputs);

// ---- Estimate ------------------------------------------------------------

// Reads the study's spreads and suggests the three numbers; reports through
// the observer (and stops by throwing from it, like a run).
using Estimate_Function =
    std::function<Tolerance_Suggestion(const std::vector<Annotated_File>& files, bool rt_correction,
                                       const Alignment_Run_Observer& observer)>;

inline constexpr char kEstimateUnavailableMessage[] =
    "Estimating tolerances is not available in this build.";
inline constexpr char kEstimateCancelledMessage[] = "The estimate was cancelled.";

struct Estimate_Plan {
  std::optional<QString> refusal;     // the load message, then kNoFileMessage
  std::vector<Annotated_File> files;  // the ticked files, in grid order
};
// The files an Estimate reads: the ticked ones, in the folder of the first
// pick as Plan_Align takes them. Only the pick and the ticks are checked.
Estimate_Plan Plan_Estimate(const Align_Form_Values& values);

// A suggested number as a parameter box shows it: at most 4 decimals ('.'
// always), trailing zeros dropped ("0.0125", "12.5", "20"); a positive
// number below 0.0001 keeps 4 significant digits ("0.00001235"). Nothing for
// NaN, infinities and negative numbers (the box then keeps its text).
std::optional<QString> Format_Suggested_Number(double value);

// The estimate in plain words, as the tab shows it beside the boxes it
// filled: "Mass tolerance 0.0125 Da, windows 96.1 s (Fast_Align) and 75 s
// (Deep_Align), from the spreads of 1,234 anchor compounds (the most intense
// ones found in at least half of the samples)." (from the pairs of compounds
// across samples when there were no anchors). With rt_correction a sentence
// on the correction that holds for `samples`: the windows are for
// drift-corrected times, or, below kMinCorrectionSamples, that the samples
// keep their times as read; uncorrected samples are counted. Windows with 3
// significant digits.
QString Estimate_Summary_Text(const Tolerance_Suggestion& suggestion, bool rt_correction,
                              std::size_t samples);

// The drift correction needs anchors in this many samples at least.
inline constexpr std::size_t kMinCorrectionSamples = 3;

// What an Estimate read and filled in, so that its words can say later
// whether they still hold for the tab as it stands.
struct Estimate_Record {
  Tolerance_Suggestion suggestion;
  QString folder;     // the first pick's folder
  QStringList files;  // the ticked files it read, in grid order
  bool rt_correction = false;
  QString mass_tol;  // the boxes' texts after it filled them
  QString window1;
  QString window2;
};

// The words under the boxes: Estimate_Summary_Text of the record, then what
// changed since on the tab (`now`): other files or ticks, the
// RT_Drift_Correction tick, edited boxes, each with what to do. A change of
// the tick that cannot change the numbers (the correction corrected no
// sample, or there are fewer samples than it needs) asks for no new Estimate:
// the correction sentence then follows the tick as it stands.
QString Estimate_Words(const Estimate_Record& record, const Align_Form_Values& now);

// The report's lines without the last one (the command line's options), for
// a tooltip: what the spreads were.
QString Estimate_Details_Text(const Tolerance_Suggestion& suggestion);

// The sentence the estimate's words end with when Scored_Member_Choice is
// ticked (empty when not): the run will choose members by score and join
// split groups, as "--pick scored --join-splits" does.
QString Member_Choice_Words(bool scored_member_choice);

}  // namespace Varnel

#endif  // VARNEL_UI_ALIGN_TAB_H_
