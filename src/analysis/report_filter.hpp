#pragma once

#include <functional>

#include "analysis/findings.hpp"

namespace keyhound {

// Keeps the access and call records of `report` for which `keep` holds,
// then the summaries of the functions that still have a record (the module
// keeps its summary while any lookup of the file is left, as the module
// entry sees them all), and makes the outcome clean when no summary is left.
// Selection and the baseline act after the analysis this way, so that they
// never change what the other findings say.
void filter_report(FileReport& report, const std::function<bool(const Finding&)>& keep);

}  // namespace keyhound
