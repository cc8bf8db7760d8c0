#include "BundleProfile.h"

#include <cmath>
#include <cstddef>
#include <utility>

#include "CoreWeights.h"
#include "TsvText.h"

namespace {

template <typename A, typename B>
double squaredDistance(const A& a, const B& b) {
    double sum = 0.0;
    for (int c = 0; c < 3; ++c) {
        const double d = static_cast<double>(a[c]) - static_cast<double>(b[c]);
        sum += d * d;
    }
    return sum;
}

}  // namespace

BundleProfile::BundleProfile(std::vector<std::string> mapNames, int nodes, Weighting weighting,
                             const std::optional<std::array<double, 3>>& reference)
    : mapNames_(std::move(mapNames)), nodes_(nodes), weighting_(weighting), reference_(reference) {}

void BundleProfile::Add(const TrackMeasures& track) {
    if (track.length > longestLength_) {
        longestLength_ = track.length;
        longest_ = static_cast<std::int64_t>(firsts_.size());
    }
    firsts_.push_back(track.first);
    lasts_.push_back(track.last);
    nodeValues_.Append(track.nodeValues.data(), track.nodeValues.size());
    if (weighting_ == Weighting::kGaussian) {
        nodePositions_.Append(track.nodePositions.data(), track.nodePositions.size());
    }
}

std::vector<bool> BundleProfile::Turned() const {
    std::vector<bool> turned(firsts_.size(), false);
    for (std::size_t t = 0; t < firsts_.size(); ++t) {
        if (reference_) {
            // The end nearer the reference becomes node 0; a tie leaves the track as it is.
            turned[t] = squaredDistance(lasts_[t], *reference_) <
                        squaredDistance(firsts_[t], *reference_);
        } else {
            const auto& start = firsts_[static_cast<std::size_t>(longest_)];
            const auto& end = lasts_[static_cast<std::size_t>(longest_)];
            turned[t] = squaredDistance(firsts_[t], end) < squaredDistance(firsts_[t], start);
        }
    }
    return turned;
}

std::string BundleProfile::Table(const std::string& bundle) const {
    std::string table = "bundle\tnode\tmap\tmean\tsd\ttracks\n";
    const std::size_t tracks = firsts_.size();
    const std::size_t nodes = static_cast<std::size_t>(nodes_);
    const std::size_t maps = mapNames_.size();
    const std::vector<bool> turned = Turned();
    // The row of node k of track t in its stored order.
    auto stored = [&](std::size_t t, std::size_t k) { return turned[t] ? nodes - 1 - k : k; };

    // Node by node, so that only one node's weights are held; rows go out map by map.
    std::vector<double> means(maps * nodes, std::nan(""));
    std::vector<double> sds(maps * nodes, std::nan(""));
    std::vector<double> weights(tracks, tracks > 0 ? 1.0 / static_cast<double>(tracks) : 0.0);
    std::vector<std::array<double, 3>> positions(
        weighting_ == Weighting::kGaussian ? tracks : 0);
    for (std::size_t k = 0; k < nodes && tracks > 0; ++k) {
        if (weighting_ == Weighting::kGaussian) {
            for (std::size_t t = 0; t < tracks; ++t) {
                const std::size_t p = (t * nodes + stored(t, k)) * 3;
                positions[t] = {nodePositions_[p], nodePositions_[p + 1], nodePositions_[p + 2]};
            }
            CoreWeights::Gaussian(positions, weights);
        }
        for (std::size_t m = 0; m < maps; ++m) {
            auto value = [&](std::size_t t) {
                return static_cast<double>(nodeValues_[(t * nodes + stored(t, k)) * maps + m]);
            };
            double mean = 0.0;
            for (std::size_t t = 0; t < tracks; ++t) {
                mean += weights[t] * value(t);
            }
            double spread = 0.0;
            for (std::size_t t = 0; t < tracks; ++t) {
                spread += weights[t] * (value(t) - mean) * (value(t) - mean);
            }
            means[m * nodes + k] = mean;
            sds[m * nodes + k] = std::sqrt(spread);
        }
    }
    for (std::size_t m = 0; m < maps; ++m) {
        for (std::size_t k = 0; k < nodes; ++k) {
            table += bundle + "\t" + std::to_string(k) + "\t" + mapNames_[m] + "\t" +
                     TsvText::Number(means[m * nodes + k]) + "\t" +
                     TsvText::Number(sds[m * nodes + k]) + "\t" + std::to_string(tracks) + "\n";
        }
    }
    return table;
}
