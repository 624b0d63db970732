// `qmv apply` on CSV text: fields are text, records are streamed from the input to the
// output, and a field the removal did not change is written back byte for byte (quotes,
// line breaks and byte-order mark included). Character removals read the input once, with
// memory bounded by the longest record; value removals read their column twice (standard
// input is first copied to a temporary file) and keep one count per distinct value.
#pragma once

#include "tools/qmv/apply.hpp"

namespace qmv::cli {

/// Runs `request` (not --typed). Exit status as runApply's.
int runTextApply(const ApplyRequest& request, ApplyStreams& streams);

}  // namespace qmv::cli
