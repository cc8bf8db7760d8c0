#pragma once
// Weighted least squares on the log signal: the ordinary fit's design rows, each weighted by
// the square of the signal the previous fit predicts for it (Salvador et al. 2005), solved
// again; iterated, each round weighting by the previous round's prediction. The log makes low
// signals noisy, and the weights take that noise back out.
//
// The design has one row for the averaged b0 measurement, (0, ..., 0, 1), and one per
// diffusion-weighted volume, (b x^2, 2b xy, 2b xz, b y^2, 2b yz, b z^2, 1); the unknowns are
// the six tensor elements and -ln S0, and the observations are -ln S.

#include <vector>

class WeightedFit {
  public:
    enum class Method { kOrdinary, kWeighted, kIterative };

    // The design rows (7 values each, the b0 row first). b0Count weights the b0 row as that many
    // b0 measurements, so that an acquisition with several b0 volumes is weighted as if each
    // were its own row.
    void SetDesign(const std::vector<double>& rows, int b0Count);
    // kOrdinary: no weighted round; kWeighted: one; kIterative: 1 + extraRounds.
    void SetMethod(Method method, int extraRounds);
    int Rounds() const { return rounds_; }
    int RowCount() const { return static_cast<int>(design_.size() / 7); }

    // Refines x (7 unknowns, the ordinary fit on entry) from the observations y (one per design
    // row). False, x unchanged, when a weighted system is singular or not finite: the voxel
    // keeps the fit it had. Allocates nothing.
    bool Refine(const double* y, double x[7]) const;

  private:
    std::vector<double> design_;    // RowCount() x 7
    std::vector<double> products_;  // RowCount() x 28: the lower triangle of each row's a a^T
    std::vector<double> rowFactor_;  // how many measurements each row stands for
    int rounds_ = 0;
};
