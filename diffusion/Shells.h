#pragma once
// The shells of an acquisition: its volumes grouped by b value. The b0 volumes are one shell
// (b = 0); the others, taken by increasing b, start a new shell at the smallest b not yet
// grouped, and that shell takes every b up to max(50, 5 %) above it. A shell is named by the
// mean of its b values, rounded to a whole number: b = 995, 1000 and 1005 are the shell 1000.

#include <string>
#include <vector>

#include "EncodingScheme.h"

class Shells {
  public:
    struct Shell {
        long b = 0;                // the shell's name: its mean b value, rounded
        std::vector<size_t> rows;  // the scheme's rows in the shell, in row order
    };

    explicit Shells(const EncodingScheme& scheme);

    // b0 shell first (when there is one), then by increasing b.
    const std::vector<Shell>& All() const { return shells_; }
    // Shells of diffusion-weighted volumes.
    int WeightedCount() const;
    // "b=0 x 18, b=1000 x 90, b=2000 x 90"
    std::string Describe() const;
    // The shell a requested b value names (within max(50, 5 %) of the shell's name; 0 names the
    // b0 shell), or null.
    const Shell* Find(double b) const;
    // The scheme's rows in the named shells, in row order; false with the reason when a value
    // names no shell.
    bool Select(const std::vector<double>& requested, std::vector<size_t>& rows,
                std::string& reason) const;

    // How far above a shell's smallest b value the shell reaches.
    static double Tolerance(double b);

  private:
    std::vector<Shell> shells_;
};
