#pragma once

#include <string>
#include <vector>

// The two developer modes of flenn. Each takes the arguments after its option and the worker
// limit, prints one JSON record per photo on standard output and returns the exit status.

// "--features PHOTO...": the measurements and the predictor's answer for each photo.
int runFeatures(std::vector<std::string> args, int jobs);

// "--matched SCALES [sub-options] PHOTO...": matched writes with estimated and actual sizes, and
// how they compare with reference files. Setting up with bad arguments prints the usage text and
// ends the process with status 2.
int runMatched(std::vector<std::string> args, int jobs);
