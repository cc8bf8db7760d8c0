#pragma once
// The one way the programs load the gradients of an acquisition: the -gm table, or the FSL/BIDS
// .bvec/.bval pair, into an encoding scheme as the input gives it (the .bvec's x as written).

#include <string>

#include "AcquisitionSettings.h"
#include "EncodingScheme.h"

class GradientSchemeLoader {
  public:
    // What to print when the gradients cannot be loaded: the reader's own message (may be
    // empty), the loader's message, and the reason to add under it (may be empty).
    struct Failure {
        std::string detail;
        std::string message;
        std::string reason;
    };

    // The scheme the settings name, or false with the failure filled.
    static bool Load(const AcquisitionSettings& settings, EncodingScheme& scheme,
                     Failure& failure);
    // The same scheme with the x of every diffusion-weighted direction negated (the .bvec axes
    // of an image stored with a positive voxel-to-world determinant).
    static EncodingScheme NegatedX(const EncodingScheme& scheme);
};
