#include "Spline.h"

#include <cmath>
#include <cstring>
#include <utility>

namespace {

constexpr int kJacobiSweeps = 10;
// Chord lengths and diagonal entries below this are treated as this, so that coinciding
// control points do not divide by zero.
constexpr double kTiny = 1e-8;
constexpr float kTinyFloat = 1e-8f;

}  // namespace

int Spline::SelectControlPoints(const float* track, int n, int w, float threshold,
                                std::vector<float>& selected) {
    selected.clear();
    const std::size_t width = static_cast<std::size_t>(w);
    // Starts far beyond any threshold so that the first point is always picked.
    float distance = 10000.0f;
    int count = 0;
    for (int i = 0; i < n; ++i) {
        const float* const point = track + static_cast<std::size_t>(i) * width;
        if (i > 0) {
            const float* const previous = point - width;
            const float dx = point[0] - previous[0];
            const float dy = point[1] - previous[1];
            const float dz = point[2] - previous[2];
            distance = distance + std::sqrt((dx * dx + dy * dy) + dz * dz);
        }
        if (distance > threshold || i == n - 1) {
            selected.insert(selected.end(), point, point + width);
            distance = 0.0f;
            ++count;
        }
    }
    return count;
}

void Spline::SetControlPoints(const float* controlPoints, int J, int K) {
    m_J = J;
    m_K = K;
    const std::size_t size = static_cast<std::size_t>(J) * static_cast<std::size_t>(K);
    m_values.resize(size);
    m_chord.assign(size, 0.0f);
    m_start.assign(size, 0.0f);
    m_end.assign(size, 0.0f);
    for (int k = 0; k < J; ++k) {
        const float* const point = controlPoints + static_cast<std::size_t>(k) * K;
        for (int l = 0; l < K; ++l) {
            m_values[Index(l, k)] = point[l];
        }
    }
    for (int l = 0; l < K; ++l) {
        const float* const p = &m_values[Index(l, 0)];
        float* const c = &m_chord[Index(l, 0)];
        for (int k = 0; k + 1 < J; ++k) {
            c[k] = p[k + 1] - p[k];
        }
    }

    m_ratio.assign(static_cast<std::size_t>(J), 1.0f);
    if (J >= 3) {
        const float* const cx = &m_chord[Index(0, 0)];
        const float* const cy = &m_chord[Index(1, 0)];
        const float* const cz = &m_chord[Index(2, 0)];
        auto chordLength = [&](int k) {
            return std::sqrt((cx[k] * cx[k] + cy[k] * cy[k]) + cz[k] * cz[k]);
        };
        float numerator = chordLength(0);
        for (int k = 0; k + 2 < J; ++k) {
            float denominator = chordLength(k + 1);
            if (static_cast<double>(denominator) < kTiny) {
                denominator = kTinyFloat;
            }
            m_ratio[static_cast<std::size_t>(k)] = numerator / denominator;
            numerator = denominator;
        }
    }
    SolveTangents();
}

void Spline::SolveTangents() {
    const int J = m_J;
    if (J < 2) {
        return;
    }
    const std::size_t rows = static_cast<std::size_t>(J);
    m_sub.assign(rows, 0.0f);
    m_main.assign(rows, 0.0f);
    m_super.assign(rows, 0.0f);
    m_divisor.assign(rows, 0.0f);
    m_rhs.resize(rows);
    m_previous.resize(rows);
    const float* const rho = m_ratio.data();

    m_main[0] = 2.0f;
    m_super[0] = rho[0];
    for (int k = 1; k + 1 < J; ++k) {
        const float r = rho[k - 1];
        m_sub[k] = 1.0f;
        m_main[k] = (r + r) * (r + 1.0f);
        m_super[k] = (r * r) * rho[k];
    }
    m_sub[J - 1] = 1.0f;
    m_main[J - 1] = 2.0f * rho[J - 2];
    for (std::size_t k = 0; k < rows; ++k) {
        m_divisor[k] = static_cast<double>(m_main[k]) >= kTiny ? m_main[k] : kTinyFloat;
    }

    for (int l = 0; l < m_K; ++l) {
        const float* const c = &m_chord[Index(l, 0)];
        float* const rhs = m_rhs.data();
        rhs[0] = 3.0f * c[0];
        for (int k = 1; k + 1 < J; ++k) {
            const float r = rho[k - 1];
            rhs[k] = ((r * r) * c[k] + c[k - 1]) * 3.0f;
        }
        rhs[J - 1] = 3.0f * c[J - 2];

        // The starting guess uses the guarded divisor as well: a first chord of length 0
        // makes row 1's diagonal 0, and a plain division would seed the sweeps with NaN.
        float* x = &m_start[Index(l, 0)];
        float* previous = m_previous.data();
        for (int k = 0; k < J; ++k) {
            x[k] = rhs[k] / m_divisor[k];
        }
        for (int sweep = 0; sweep < kJacobiSweeps; ++sweep) {
            std::swap(previous, x);
            x[0] = (rhs[0] - m_super[0] * previous[1]) / m_divisor[0];
            for (int k = 1; k + 1 < J; ++k) {
                x[k] = (rhs[k] - m_sub[k] * previous[k - 1] - m_super[k] * previous[k + 1]) /
                       m_divisor[k];
            }
            x[J - 1] = (rhs[J - 1] - m_sub[J - 1] * previous[J - 2]) / m_divisor[J - 1];
        }

        // An even number of sweeps leaves the result in the tangent array itself.
        static_assert(kJacobiSweeps % 2 == 0, "the last sweep must write m_start");
        float* const n = &m_end[Index(l, 0)];
        for (int k = 0; k + 1 < J; ++k) {
            n[k] = x[k + 1] * rho[k];
        }
    }
}

void Spline::GatherSegment(int k) {
    const std::size_t K = static_cast<std::size_t>(m_K);
    m_segmentChord.resize(K);
    m_segmentStart.resize(K);
    m_segmentEnd.resize(K);
    for (int l = 0; l < m_K; ++l) {
        m_segmentChord[l] = m_chord[Index(l, k)];
        m_segmentStart[l] = m_start[Index(l, k)];
        m_segmentEnd[l] = m_end[Index(l, k)];
    }
}

std::int64_t Spline::GetCurveCount(double step) {
    // Only the chord decides a segment's step count, so the tangents need not be copied.
    std::int64_t total = 0;
    for (int k = 0; k + 1 < m_J; ++k) {
        const float chord[3] = {m_chord[Index(0, k)], m_chord[Index(1, k)], m_chord[Index(2, k)]};
        int R = 0;
        if (!Curve::CountSteps(chord, static_cast<float>(step), &R)) {
            return -1;
        }
        total += static_cast<std::int64_t>(R) + 1;
    }
    return total;
}

int Spline::Resample(float step, float* out) {
    const int K = m_K;
    const std::size_t width = static_cast<std::size_t>(K);
    std::vector<float>& point = m_segmentStartPoint;
    std::vector<float>& next = m_segmentEndPoint;
    point.resize(width);
    next.resize(width);
    int S = 0;
    for (int k = 0; k + 1 < m_J; ++k) {
        GatherSegment(k);
        m_curve.PutCurve(m_segmentChord.data(), m_segmentStart.data(), m_segmentEnd.data(), step,
                         K);
        for (int l = 0; l < K; ++l) {
            point[l] = m_values[Index(l, k)];
            next[l] = m_values[Index(l, k + 1)];
        }

        const int first = S;
        bool appendStart = S == 0;
        if (!appendStart) {
            const float* const last = out + static_cast<std::size_t>(S - 1) * width;
            for (int l = 0; l < K && !appendStart; ++l) {
                appendStart = static_cast<double>(std::fabs(last[l] - point[l])) >= kTiny;
            }
        }
        if (appendStart) {
            std::memcpy(out + static_cast<std::size_t>(S) * width, point.data(),
                        width * sizeof(float));
            ++S;
        }

        const int R = m_curve.GetStepCount();
        for (int i = 1; i < R; ++i) {
            m_curve.GetPoint(i, point.data(), out + static_cast<std::size_t>(S) * width);
            ++S;
        }
        // The end of the segment is the next control point itself rather than its Hermite
        // value one rounding away, so the next segment starts without a near-duplicate.
        std::memcpy(out + static_cast<std::size_t>(S) * width, next.data(), width * sizeof(float));
        ++S;

        if (K > 3) {
            const int q = S - first;
            for (int j = 0; j < q; ++j) {
                float* const values = out + static_cast<std::size_t>(first + j) * width;
                const double up = static_cast<double>(j + 1) / q;
                const double down = static_cast<double>(q - j - 1) / q;
                for (int l = 3; l < K; ++l) {
                    values[l] = static_cast<float>(up * next[l] + down * point[l]);
                }
            }
        }
    }
    return S;
}
