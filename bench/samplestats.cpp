#include "samplestats.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numeric>

namespace sampleStats {

namespace {
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
}

double median(std::vector<double> samples)
{
    if (samples.empty())
        return kNaN;
    std::sort(samples.begin(), samples.end());
    const size_t n = samples.size();
    return n % 2 ? samples[n / 2] : (samples[n / 2 - 1] + samples[n / 2]) / 2.0;
}

double mean(const std::vector<double>& samples)
{
    if (samples.empty())
        return kNaN;
    return std::accumulate(samples.begin(), samples.end(), 0.0) / static_cast<double>(samples.size());
}

double maximum(const std::vector<double>& samples)
{
    if (samples.empty())
        return kNaN;
    return *std::max_element(samples.begin(), samples.end());
}

double percentile(std::vector<double> samples, double p)
{
    if (samples.empty())
        return kNaN;
    std::sort(samples.begin(), samples.end());
    const double rank = std::ceil(p / 100.0 * static_cast<double>(samples.size()));
    const size_t index = static_cast<size_t>(std::clamp(rank, 1.0, static_cast<double>(samples.size()))) - 1;
    return samples[index];
}

} // namespace sampleStats
