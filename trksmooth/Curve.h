#pragma once
// One segment of a track's spline: a cubic Hermite curve from one control point to the next,
// run over its own parameter t in [0, 1] and sampled at R + 1 evenly spaced parameters.

#include <vector>

class Curve {
  public:
    // The most steps one segment may take; more could not be counted in a track record.
    static constexpr int kMaxSteps = 0x3FFFFFFF;

    Curve() = default;

    // Takes the chord (next minus start control point), the start and the end tangent, K values
    // each, kept by reference until the next call, and sets R = trunc(max(|chord x|, |chord y|,
    // |chord z|) / step) computed in double precision, at least 1. A non-finite chord takes one
    // step. Returns false, with R set to kMaxSteps, when the segment would need more steps.
    bool PutCurve(const float* chord, const float* startTangent, const float* endTangent,
                  float step, int K);

    // The step count PutCurve would set for this chord (x, y, z read), without copying
    // anything; false (R = kMaxSteps) when it exceeds kMaxSteps.
    static bool CountSteps(const float* chord, float step, int* R);

    int GetStepCount() const { return m_steps; }
    int GetValueCount() const { return m_count; }

    // Writes the K values of the point at t = i / R (the reciprocal of R taken in single
    // precision first) for 1 <= i < R, given the segment's start control point. The point at
    // i = R is the next control point and is not evaluated here.
    void GetPoint(int i, const float* start, float* out) const;

  private:
    // Views of the caller's arrays, which stay alive while the segment is evaluated (the
    // spline resamples one segment at a time); copying them cost more than evaluating them.
    const float* m_chord = nullptr;
    const float* m_startTangent = nullptr;
    const float* m_endTangent = nullptr;
    int m_steps = 1;
    int m_count = 0;
    float m_stepFraction = 1.0f;  // 1 / R in single precision
};
