#include "TrackGeometry.h"

#include <cmath>

namespace {

double distance(const float* a, const float* b) {
    const double dx = static_cast<double>(b[0]) - a[0];
    const double dy = static_cast<double>(b[1]) - a[1];
    const double dz = static_cast<double>(b[2]) - a[2];
    return std::sqrt(dx * dx + dy * dy + dz * dz);
}

}  // namespace

double TrackGeometry::Length(const float* record, int n, std::size_t stride) {
    double length = 0.0;
    for (int i = 1; i < n; ++i) {
        length += distance(record + (i - 1) * stride, record + i * stride);
    }
    return length;
}

void TrackGeometry::Resample(const float* record, int n, std::size_t stride, int nodes,
                             double* out) {
    const double total = Length(record, n, stride);
    // Walks the segments once: the nodes come in order along the track.
    int segment = 0;         // the segment from point segment to segment + 1
    double segmentStart = 0.0;  // arc length at point segment
    double segmentLength = n > 1 ? distance(record, record + stride) : 0.0;
    for (int k = 0; k < nodes; ++k) {
        double* node = out + 3 * static_cast<std::size_t>(k);
        if (n == 1 || k == nodes - 1) {
            const float* end = record + static_cast<std::size_t>(n - 1) * stride;
            node[0] = end[0];
            node[1] = end[1];
            node[2] = end[2];
            continue;
        }
        const double target = total * k / (nodes - 1);
        while (segment + 2 < n && segmentStart + segmentLength < target) {
            segmentStart += segmentLength;
            ++segment;
            segmentLength = distance(record + segment * stride, record + (segment + 1) * stride);
        }
        const float* a = record + segment * stride;
        const float* b = a + stride;
        double t = segmentLength > 0.0 ? (target - segmentStart) / segmentLength : 0.0;
        t = t < 0.0 ? 0.0 : (t > 1.0 ? 1.0 : t);
        for (int c = 0; c < 3; ++c) {
            node[c] = a[c] + t * (static_cast<double>(b[c]) - a[c]);
        }
    }
}
