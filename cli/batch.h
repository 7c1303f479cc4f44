// Many articles in one call: FILEs and FOLDERs shuffled into an output folder, in parallel.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "cli/shuffle_command.h"

// One article of a batch: the file read and the file its result is written to.
struct BatchItem {
  std::string input;
  std::string output;
};

// The articles of `inputs` into `output_dir`: a FILE goes to output_dir under its own name; each
// FOLDER is walked (links to folders are not followed, nor is output_dir when it lies inside) for
// *.html and *.htm files, any letter case, mirrored under output_dir, in name order. An input
// that cannot be read, or whose result would overwrite an input or another article's result, is
// left out with a one-line message in `failures`.
std::vector<BatchItem> PlanBatch(const std::vector<std::string>& inputs,
                                 const std::string& output_dir, std::vector<std::string>* failures);

struct BatchCounts {
  size_t done = 0;
  size_t failed = 0;
};

// Shuffles every item on options.jobs threads (one per processor when 0), creating folders as
// needed. A failed article gets its one-line message on `err_fd` and nothing written; the others
// go on. Each result depends only on its article and the options, not on the threads or the
// order. On a terminal, a progress line stays on `err_fd` while the batch runs.
BatchCounts RunBatch(const std::vector<BatchItem>& items, const ShuffleOptions& options,
                     int err_fd);
