// Summaries of timed samples.
#pragma once

#include <vector>

namespace sampleStats {

// NaN for no samples.
double median(std::vector<double> samples);
double mean(const std::vector<double>& samples);
double maximum(const std::vector<double>& samples);
// Nearest-rank percentile, p in 0..100.
double percentile(std::vector<double> samples, double p);

} // namespace sampleStats
