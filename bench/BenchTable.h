// One row of the benchmark table, tab-separated, for scripts/bench.sh to lay out
// beside the rows of the other benchmark programs.
#pragma once

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

namespace quorrel {

inline double MedianOf(std::vector<double> v) {
    if (v.empty()) {
        return 0;
    }
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

inline std::string FormatSeconds(double s) {
    char buffer[32];
    if (s < 1.0) {
        std::snprintf(buffer, sizeof buffer, "%.3f ms", s * 1000.0);
    } else {
        std::snprintf(buffer, sizeof buffer, "%.3f s", s);
    }
    return buffer;
}

// rate: show MB/s (the operation goes over the whole document); peakMb <= 0
// and reference <= 0 leave those columns empty.
inline void PrintRow(const std::string& operation, double megabytes,
                     const std::vector<double>& seconds, bool rate, double peakMb, double reference,
                     const std::string& referenceName) {
    if (seconds.empty()) {
        std::printf("ROW\t%s\t%.0f MB\tfailed\t\t\t\t\t\n", operation.c_str(), megabytes);
        return;
    }
    double median = MedianOf(seconds);
    auto [lo, hi] = std::minmax_element(seconds.begin(), seconds.end());
    std::string mbps = "-";
    if (rate && median > 0) {
        char buffer[32];
        std::snprintf(buffer, sizeof buffer, "%.1f", megabytes / median);
        mbps = buffer;
    }
    std::string peak = "-";
    if (peakMb > 0) {
        char buffer[32];
        std::snprintf(buffer, sizeof buffer, "%.0f MB", peakMb);
        peak = buffer;
    }
    std::string ratio = "-";
    if (reference > 0) {
        char buffer[64];
        std::snprintf(buffer, sizeof buffer, "%.2f x", median / reference);
        ratio = buffer + (" " + referenceName);
    }
    std::printf("ROW\t%s\t%.0f MB\t%s\t%s .. %s\t%zu\t%s\t%s\t%s\n", operation.c_str(), megabytes,
                FormatSeconds(median).c_str(), FormatSeconds(*lo).c_str(),
                FormatSeconds(*hi).c_str(), seconds.size(), mbps.c_str(), peak.c_str(),
                ratio.c_str());
    std::fflush(stdout);
}

}  // namespace quorrel
