// The stages of an alignment run, as one table: what each is called on the
// command line's progress bar, what the window's progress dialog says, and
// what it counts. A new stage is one enumerator and one row.
#ifndef VARNEL_RUN_RUN_STAGES_H_
#define VARNEL_RUN_RUN_STAGES_H_

#include <array>

// In the order a run goes through them: kCorrecting only with drift
// correction; the writers' stages follow Result_Writers().
enum class Run_Stage { kReading, kCorrecting, kAligning, kWritingCsv, kWritingDatabase };

// What a stage's progress counts, and so which observer call reports it.
enum class Stage_Count {
  kFiles,   // on_read: files read of all, peaks gathered
  kGroups,  // on_align: groups made, peaks left
  kRows,    // on_write: rows written of all
  kNone,    // no count: only on_stage
};

struct Run_Stage_Info {
  Run_Stage stage;
  // Lower-case name on the command line's progress bar ("reading").
  const char* name;
  // The progress dialog's text, followed by the count as Stage_Count says
  // ("Reading file 2 of 5", "Aligning: 120 groups made, 3400 peaks left",
  // "Writing the CSV file: row 10000 of 52000").
  const char* caption;
  Stage_Count count;
};

inline constexpr std::array<Run_Stage_Info, 5> kRunStages = {{
    {Run_Stage::kReading, "reading", "Reading file", Stage_Count::kFiles},
    {Run_Stage::kCorrecting, "correcting drift", "Correcting the retention-time drift",
     Stage_Count::kNone},
    {Run_Stage::kAligning, "aligning", "Aligning", Stage_Count::kGroups},
    {Run_Stage::kWritingCsv, "writing CSV", "Writing the CSV file", Stage_Count::kRows},
    {Run_Stage::kWritingDatabase, "writing database", "Writing the database", Stage_Count::kRows},
}};

// The row of `stage`.
const Run_Stage_Info& Stage_Info(Run_Stage stage);

// Stage_Info(stage).name.
const char* Run_Stage_Name(Run_Stage stage);

#endif  // VARNEL_RUN_RUN_STAGES_H_
