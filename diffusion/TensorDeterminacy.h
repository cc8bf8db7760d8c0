#pragma once
// Whether the diffusion-weighted directions of a scheme determine a tensor. A tensor has six
// unknowns; directions that span fewer than six independent combinations (all the same, two
// directions repeated, all in one plane) leave some of them to rounding noise, and the fit then
// "succeeds" with infinite ADC or FA above 1. The measure is the condition number of the
// directions' design matrix: rows (x^2, y^2, z^2, sqrt2 xy, sqrt2 xz, sqrt2 yz), in which a
// rotation of all directions changes nothing, so the image orientation does not matter.
// Well-spread schemes score about 2 (20 to 30 for six or seven random directions).

#include <string>

#include "EncodingScheme.h"

class TensorDeterminacy {
  public:
    // Past this the fit amplifies noise a thousandfold along some tensor component.
    static constexpr double kMostCondition = 1000.0;

    // The design's rank (0 to 6) and its condition number (infinite below rank 6).
    static TensorDeterminacy Of(const EncodingScheme& scheme);

    bool Determines() const { return rank_ == 6 && condition_ <= kMostCondition; }
    int Rank() const { return rank_; }
    double Condition() const { return condition_; }
    // Why the directions do not determine a tensor, e.g. "the 30 weighted directions span 3 of
    // the 6 tensor components (all in one plane?)".
    std::string Describe(int directions) const;

  private:
    int rank_ = 0;
    double condition_ = 0.0;
};
