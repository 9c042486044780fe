#pragma once

#include <span>

#include "formats/caret_renderer.hpp"
#include "output/line_writer.hpp"
#include "project/discovery.hpp"
#include "run/file_loop.hpp"
#include "run/report_stage.hpp"
#include "analysis/analyze_file.hpp"

namespace keyhound {

class ResultCache;

// How the run treats each file: the analysis options, and the stage that
// selection and the baseline apply between the analysis and the rendering
// (none for a plain run).
struct LintPlan {
  AnalysisOptions analysis;
  ReportStage* stage = nullptr;
  const ResultCache* cache = nullptr;
};

// Lints every input with up to `jobs` worker threads, one parser each, and
// writes every report to `out` in input order: the bytes are those of one
// job. Only a small window of reports waits in memory at any time. An
// internal fault in any file ends the run after the reports of the files
// before it, in order, as with one job.
FileLoopResult lint_inputs(std::span<const LintInput> inputs, unsigned jobs, LineWriter& out,
                           const ReportFormat& format, const LintPlan& plan = {});

// The processors this process may run on.
unsigned available_processors();

}  // namespace keyhound
