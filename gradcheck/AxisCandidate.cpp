#include "AxisCandidate.h"

namespace {
const char kAxis[3] = {'x', 'y', 'z'};
}

std::vector<AxisCandidate> AxisCandidate::All() {
    static const int kPermutations[6][3] = {{0, 1, 2}, {1, 0, 2}, {0, 2, 1},
                                            {2, 1, 0}, {1, 2, 0}, {2, 0, 1}};
    std::vector<AxisCandidate> all;
    for (const auto& permutation : kPermutations) {
        for (int flip = -1; flip < 3; ++flip) {
            AxisCandidate candidate;
            for (int i = 0; i < 3; ++i) {
                candidate.permutation_[i] = permutation[i];
            }
            candidate.flip_ = flip;
            all.push_back(candidate);
        }
    }
    return all;
}

void AxisCandidate::Apply(const double in[3], double out[3]) const {
    for (int i = 0; i < 3; ++i) {
        out[i] = in[permutation_[i]];
    }
    if (flip_ >= 0) {
        out[flip_] = -out[flip_];
    }
}

bool AxisCandidate::IsAsGiven() const {
    return permutation_[0] == 0 && permutation_[1] == 1 && permutation_[2] == 2 && flip_ < 0;
}

std::string AxisCandidate::PermutationText() const {
    return {kAxis[permutation_[0]], ' ', kAxis[permutation_[1]], ' ', kAxis[permutation_[2]]};
}

std::string AxisCandidate::FlipText() const {
    return flip_ < 0 ? "none" : std::string(1, kAxis[flip_]);
}

std::string AxisCandidate::Description() const {
    int moved = 0;
    for (int i = 0; i < 3; ++i) {
        moved += permutation_[i] != i ? 1 : 0;
    }
    std::string text;
    if (moved == 2) {
        int first = -1;
        int second = -1;
        for (int i = 0; i < 3; ++i) {
            if (permutation_[i] != i) {
                (first < 0 ? first : second) = i;
            }
        }
        text = std::string("swap ") + kAxis[first] + "/" + kAxis[second];
    } else if (moved == 3) {
        text = "axes " + PermutationText();
    }
    if (flip_ >= 0) {
        text += (text.empty() ? "" : ", ") + std::string("flip ") + kAxis[flip_];
    }
    return text.empty() ? "as given" : text;
}
