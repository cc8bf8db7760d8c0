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
    // A non-finite chord cannot be sampled sensibly and a short one would truncate to 0 steps:
    // one step keeps the segment's end point.
    const bool singleStep = !std::isfinite(largest) || std::isnan(steps) || steps < 1.0;
    if (!singleStep && steps > static_cast<double>(kMaxSteps)) {
        *R = kMaxSteps;
        return false;
    }
    *R = singleStep ? 1 : static_cast<int>(steps);
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
