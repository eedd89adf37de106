#pragma once

#include "Bytes.h"
#include "RequantSettings.h"

namespace flenn::Compressor {

// A lossy rewrite that the checker admitted, as the lossy sources hand it to the pipeline.
struct Candidate {
    Bytes data;
    double score = 0;
    RequantSettings settings;
    bool nearRepack = false; // may not beat a plain repack by enough: the pipeline must compare
};

} // namespace flenn::Compressor
