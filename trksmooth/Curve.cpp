#include "Curve.h"

#include <cmath>

bool Curve::CountSteps(const float* chord, float step, int* R) {
    float largest = std::fabs(chord[0]);
    for (int l = 1; l < 3; ++l) {
        const float value = std::fabs(chord[l]);
        if (value > largest) {
            largest = value;
        }
    }
    const double steps = static_cast<double>(largest) / static_cast<double>(step);
    if (!std::isfinite(largest) || std::isnan(steps)) {
        // Nothing sensible can be sampled along a non-finite chord; one step keeps the output
        // to the control points themselves.
        *R = 1;
    } else if (steps > static_cast<double>(kMaxSteps)) {
        *R = kMaxSteps;
        return false;
    } else if (steps < 1.0) {
        // Truncation gives 0 steps; the segment still needs its end point.
        *R = 1;
    } else {
        *R = static_cast<int>(steps);
    }
    return true;
}

bool Curve::PutCurve(const float* chord, const float* startTangent, const float* endTangent,
                     float step, int K) {
    m_count = K;
    m_chord = chord;
    m_startTangent = startTangent;
    m_endTangent = endTangent;

    const bool ok = CountSteps(chord, step, &m_steps);
    m_stepFraction = 1.0f / static_cast<float>(m_steps);
    return ok;
}

void Curve::GetPoint(int i, const float* start, float* out) const {
    const float t = m_stepFraction * static_cast<float>(i);
    const float h01 = (3.0f - (t + t)) * (t * t);
    const float h10 = ((t - 1.0f) * t) * (t - 1.0f);
    const float h11 = (t - 1.0f) * (t * t);
    const float* const c = m_chord;
    const float* const m = m_startTangent;
    const float* const n = m_endTangent;
    for (int l = 0; l < m_count; ++l) {
        out[l] = ((c[l] * h01 + start[l]) + m[l] * h10) + n[l] * h11;
    }
}
