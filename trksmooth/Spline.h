#pragma once
// Cubic spline through a track's control points, each segment over its own parameter 0..1,
// with first and second derivatives continuous with respect to chord length, resampled at a
// fixed step. x, y, z follow the cubic; further values (scalars) ramp linearly between
// control points.
//
// Arrays are kept per value index l (one entry per control point or segment), the layout in
// which the tangent system is solved. Buffers are reused from track to track, so memory
// follows the largest track seen.

#include <cstdint>
#include <vector>

#include "Curve.h"

class Spline {
  public:
    Spline() = default;

    // Picks the control points of a track of n points of w values (point after point): the
    // first point, every point at which the path length since the last pick exceeds
    // threshold, and the last point. Writes them, all w values each, to selected (resized)
    // and returns their number J.
    static int SelectControlPoints(const float* track, int n, int w, float threshold,
                                   std::vector<float>& selected);

    // Builds the spline through J >= 2 control points of K >= 3 values (point after point):
    // chords, chord ratios, and the tangents from exactly 10 Jacobi sweeps of the tangent
    // system.
    void SetControlPoints(const float* controlPoints, int J, int K);

    int GetControlPointCount() const { return m_J; }
    int GetValueCount() const { return m_K; }

    // Room (in points) that Resample needs for this step: the sum over segments of R + 1.
    // -1 when a segment would need more steps than a track record can hold.
    std::int64_t GetCurveCount(double step);

    // Writes the resampled points, K values each, into out (room for GetCurveCount points)
    // and returns their number S.
    int Resample(float step, float* out);

    // Values of the solved spline, for inspection.
    float GetChord(int k, int l) const { return m_chord[Index(l, k)]; }
    float GetRatio(int k) const { return m_ratio[k]; }
    float GetStartTangent(int k, int l) const { return m_start[Index(l, k)]; }
    float GetEndTangent(int k, int l) const { return m_end[Index(l, k)]; }

  private:
    std::size_t Index(int l, int k) const {
        return static_cast<std::size_t>(l) * static_cast<std::size_t>(m_J) +
               static_cast<std::size_t>(k);
    }
    // Fills the K-value arrays of segment k for Curve::PutCurve.
    void GatherSegment(int k);
    void SolveTangents();

    int m_J = 0;
    int m_K = 0;
    // Per value index, one entry per control point (chords and end tangents use J - 1).
    std::vector<float> m_values;
    std::vector<float> m_chord;
    std::vector<float> m_start;
    std::vector<float> m_end;
    // Per control point: chord ratio and the tangent system's three diagonals and divisor.
    std::vector<float> m_ratio;
    std::vector<float> m_sub;
    std::vector<float> m_main;
    std::vector<float> m_super;
    std::vector<float> m_divisor;
    // Scratch: right-hand side and the previous sweep of one value index; one segment's values.
    std::vector<float> m_rhs;
    std::vector<float> m_previous;
    std::vector<float> m_segmentChord;
    std::vector<float> m_segmentStart;
    std::vector<float> m_segmentEnd;
    std::vector<float> m_segmentStartPoint;
    std::vector<float> m_segmentEndPoint;
    Curve m_curve;
};
