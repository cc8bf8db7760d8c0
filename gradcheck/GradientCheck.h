#pragma once
// The check itself: the white matter of an acquisition, and for every axis candidate the tensor
// fit and FACT tracks from the same seeds, scored by their mean length. A table whose axes
// disagree with the image bends every fibre at every step, so its tracks stop early.

#include <string>
#include <vector>

#include "AxisCandidate.h"
#include "EncodingScheme.h"
#include "GradcheckSettings.h"
#include "DiffusionAcquisition.h"
#include "RunStep.h"

class GradientCheck {
  public:
    struct Score {
        AxisCandidate candidate;
        double meanLength = 0.0;  // millimetres
        int tracks = 0;
    };
    // Fewer white-matter voxels, or fewer tracks from the best candidate, cannot decide.
    static constexpr int kMinimumVoxels = 100;
    static constexpr int kMinimumTracks = 20;
    // Seeds are spread evenly over the white matter, at most this many.
    static constexpr int kMaximumSeeds = 4000;
    // The table as given counts as right when its mean length is at least this share of the
    // longest.
    static constexpr double kMargin = 0.97;

    GradientCheck(const DiffusionAcquisition& data, const GradcheckSettings& settings);

    // The white-matter mask (FA of the table as given, or -m) and the seeds in it.
    RunStep SelectWhiteMatter();
    int WhiteMatterVoxels() const { return whiteMatter_; }
    int Seeds() const { return static_cast<int>(seeds_.size()); }

    // Every candidate scored, the longest mean track first (the table as given first among
    // equals).
    std::vector<Score> ScoreCandidates() const;

    // Writes the input's gradients as the candidate turns them, in the input's own format.
    bool WriteTable(const AxisCandidate& candidate, const std::string& file,
                    std::string* reason) const;

  private:
    EncodingScheme SchemeOf(const AxisCandidate& candidate) const;
    Score ScoreOf(const AxisCandidate& candidate) const;

    const DiffusionAcquisition& data_;
    const GradcheckSettings& settings_;
    std::vector<short> mask_;       // 1 in white matter
    std::vector<int> maskVoxels_;   // indices of the white-matter voxels
    std::vector<short> signals_;    // their signals, row after row for each voxel in turn
    std::vector<int> seeds_;        // voxel indices
    int whiteMatter_ = 0;
};
