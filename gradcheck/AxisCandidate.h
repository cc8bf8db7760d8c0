#pragma once
// One way a gradient table's axes may be wrong: its directions with the axes permuted and at
// most one axis negated. Negating all three axes gives the same tensor, and negating two is
// negating the third, so 6 permutations x 4 sign choices cover every distinct case.

#include <string>
#include <vector>

class AxisCandidate {
  public:
    // All 24, the table as given first.
    static std::vector<AxisCandidate> All();

    // out[i] = in[permutation[i]], then the flipped axis negated.
    void Apply(const double in[3], double out[3]) const;
    bool IsAsGiven() const;

    std::string PermutationText() const;  // "x y z": where each axis is taken from
    std::string FlipText() const;          // "none", "x", "y" or "z"
    // What to do to the table: "as given", "flip x", "swap x/y", "swap y/z, flip z",
    // "axes y z x" (x taken from y, y from z, z from x).
    std::string Description() const;

  private:
    int permutation_[3] = {0, 1, 2};
    int flip_ = -1;  // -1: no axis negated
};
