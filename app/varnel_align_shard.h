// The steps of an alignment in shards, as varnel-align sub-commands:
//
//   varnel-align --scan OUTFILE [alignment options] DATABASE...
//   varnel-align --plan DIR --shards N [alignment options] SCANFILE...
//   varnel-align --plan DIR --split DATABASE...
//   varnel-align --plan DIR --deviations K   } only for a plan with --pick scored
//   varnel-align --plan DIR --spreads        } or --join-splits, before --shard
//   varnel-align --plan DIR --shard K
//
// (then varnel-merge DIR --result-dir OUT). See cohort/shard_steps.h.
#ifndef VARNEL_APP_VARNEL_ALIGN_SHARD_H_
#define VARNEL_APP_VARNEL_ALIGN_SHARD_H_

#include <optional>
#include <string>
#include <vector>

#include "run/alignment_request.h"

struct Shard_Command {
  std::string scan_file;
  std::string plan_folder;
  std::optional<unsigned> shards;
  bool split = false;
  std::optional<unsigned> shard;
  std::optional<unsigned> deviations;
  bool spreads = false;

  bool Given() const { return !scan_file.empty() || !plan_folder.empty(); }
};

// Runs the step; `request` holds the checked alignment options and, for
// --scan, the inputs; `arguments` are the positional arguments as given.
// Returns the exit status: 0 done, 1 failed (messages on stderr naming the
// file), 2 a usage error.
int Run_Shard_Command(const Shard_Command& command, const Alignment_Request& request,
                      const std::vector<std::string>& arguments);

#endif  // VARNEL_APP_VARNEL_ALIGN_SHARD_H_
