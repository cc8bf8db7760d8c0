// Weighted least squares on the log signal, checked against a separate solution of the weighted
// normal equations in long double, and on observations that fit a tensor exactly.

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <random>
#include <vector>

#include "TestSupport.h"
#include "WeightedFit.h"

namespace {

using Row = std::array<double, 7>;

// The design of one b0 row and a row per direction at b = 1000.
std::vector<Row> designRows(const std::vector<std::array<double, 3>>& directions) {
    std::vector<Row> rows = {{0, 0, 0, 0, 0, 0, 1}};
    const double b = 1000.0;
    for (const auto& g : directions) {
        rows.push_back({b * g[0] * g[0], 2 * b * g[0] * g[1], 2 * b * g[0] * g[2], b * g[1] * g[1],
                        2 * b * g[1] * g[2], b * g[2] * g[2], 1.0});
    }
    return rows;
}

std::vector<double> flatten(const std::vector<Row>& rows) {
    std::vector<double> flat;
    for (const Row& row : rows) {
        flat.insert(flat.end(), row.begin(), row.end());
    }
    return flat;
}

// Solves sum_r w_r a_r a_r^T x = sum_r w_r y_r a_r by Gaussian elimination in long double.
std::array<long double, 7> weightedSolution(const std::vector<Row>& rows,
                                            const std::vector<double>& y,
                                            const std::vector<long double>& w) {
    long double m[7][8] = {};
    for (size_t r = 0; r < rows.size(); ++r) {
        for (int i = 0; i < 7; ++i) {
            for (int j = 0; j < 7; ++j) {
                m[i][j] += w[r] * rows[r][i] * rows[r][j];
            }
            m[i][7] += w[r] * y[r] * rows[r][i];
        }
    }
    for (int c = 0; c < 7; ++c) {
        int pivot = c;
        for (int r = c + 1; r < 7; ++r) {
            if (std::fabs(m[r][c]) > std::fabs(m[pivot][c])) {
                pivot = r;
            }
        }
        for (int k = 0; k < 8; ++k) {
            std::swap(m[c][k], m[pivot][k]);
        }
        for (int r = 0; r < 7; ++r) {
            if (r != c) {
                const long double f = m[r][c] / m[c][c];
                for (int k = c; k < 8; ++k) {
                    m[r][k] -= f * m[c][k];
                }
            }
        }
    }
    std::array<long double, 7> x{};
    for (int i = 0; i < 7; ++i) {
        x[i] = m[i][7] / m[i][i];
    }
    return x;
}

const std::array<double, 7> kTensor = {1.4e-3, 0.2e-3, -0.1e-3, 0.6e-3, 0.05e-3, 0.45e-3,
                                       -std::log(900.0)};

std::vector<double> exactObservations(const std::vector<Row>& rows,
                                      const std::array<double, 7>& x) {
    std::vector<double> y;
    for (const Row& row : rows) {
        double value = 0.0;
        for (int i = 0; i < 7; ++i) {
            value += row[i] * x[i];
        }
        y.push_back(value);
    }
    return y;
}

TEST(WeightedFit, ObservationsOfATensorGiveThatTensorInEveryMethod) {
    const auto rows = designRows(testsupport::spiralDirections(30));
    const std::vector<double> y = exactObservations(rows, kTensor);
    for (const int b0Count : {1, 3}) {
        WeightedFit fit;
        fit.SetDesign(flatten(rows), b0Count);
        for (const auto& [method, extra] :
             std::vector<std::pair<WeightedFit::Method, int>>{{WeightedFit::Method::kWeighted, 0},
                                                             {WeightedFit::Method::kIterative, 1},
                                                             {WeightedFit::Method::kIterative, 4}}) {
            fit.SetMethod(method, extra);
            // Start away from the answer: the weights are then off, the solution is not.
            double x[7];
            for (int i = 0; i < 7; ++i) {
                x[i] = kTensor[i] * 1.3;
            }
            ASSERT_TRUE(fit.Refine(y.data(), x));
            for (int i = 0; i < 6; ++i) {
                EXPECT_NEAR(x[i], kTensor[i], 1e-9 * 1.4e-3) << i;
            }
            EXPECT_NEAR(x[6], kTensor[6], 1e-9);
        }
    }
}

TEST(WeightedFit, OneRoundSolvesTheWeightedNormalEquations) {
    const auto rows = designRows(testsupport::spiralDirections(20));
    std::vector<double> y = exactObservations(rows, kTensor);
    std::mt19937 random(5);
    std::normal_distribution<double> noise(0.0, 0.05);
    for (double& value : y) {
        value += noise(random);
    }
    const std::array<double, 7> start = {1.2e-3, 0.1e-3, 0.0, 0.7e-3, 0.0, 0.5e-3, -6.5};
    for (const int b0Count : {1, 4}) {
        WeightedFit fit;
        fit.SetDesign(flatten(rows), b0Count);
        fit.SetMethod(WeightedFit::Method::kWeighted, 0);
        EXPECT_EQ(fit.Rounds(), 1);
        double x[7];
        std::copy(start.begin(), start.end(), x);
        ASSERT_TRUE(fit.Refine(y.data(), x));
        // Weights: the square of the signal the start predicts; the b0 row counts b0Count times.
        std::vector<long double> w;
        for (size_t r = 0; r < rows.size(); ++r) {
            long double predicted = 0;
            for (int i = 0; i < 7; ++i) {
                predicted += rows[r][i] * start[i];
            }
            w.push_back(std::exp(-2.0L * predicted) * (r == 0 ? b0Count : 1));
        }
        const auto expected = weightedSolution(rows, y, w);
        for (int i = 0; i < 6; ++i) {
            EXPECT_NEAR(x[i], static_cast<double>(expected[i]), 1e-9) << i;
        }
    }
}

TEST(WeightedFit, RoundsPerMethod) {
    WeightedFit fit;
    fit.SetMethod(WeightedFit::Method::kOrdinary, 3);
    EXPECT_EQ(fit.Rounds(), 0);
    fit.SetMethod(WeightedFit::Method::kWeighted, 3);
    EXPECT_EQ(fit.Rounds(), 1);
    fit.SetMethod(WeightedFit::Method::kIterative, 2);
    EXPECT_EQ(fit.Rounds(), 3);
}

TEST(WeightedFit, SingularOrOverflowingSystemsKeepTheOrdinaryFit) {
    // Every direction the same: the tensor is not determined.
    const auto same = designRows(std::vector<std::array<double, 3>>(12, {0.0, 0.0, 1.0}));
    WeightedFit fit;
    fit.SetDesign(flatten(same), 1);
    fit.SetMethod(WeightedFit::Method::kWeighted, 0);
    const std::vector<double> y = exactObservations(same, kTensor);
    double x[7];
    std::copy(kTensor.begin(), kTensor.end(), x);
    x[0] = 0.123;
    EXPECT_FALSE(fit.Refine(y.data(), x));
    EXPECT_EQ(x[0], 0.123);

    // A start that predicts signals beyond any range: no weights, no change.
    const auto rows = designRows(testsupport::spiralDirections(12));
    fit.SetDesign(flatten(rows), 1);
    double wild[7] = {-1.0, 0, 0, -1.0, 0, -1.0, 0};
    EXPECT_FALSE(fit.Refine(exactObservations(rows, kTensor).data(), wild));
    EXPECT_EQ(wild[0], -1.0);
}

}  // namespace
