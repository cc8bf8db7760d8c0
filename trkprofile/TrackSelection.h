#pragma once
// Which tracks belong to the bundle: those with a point in every include mask, none in an
// exclude mask, an end point in the ends mask, and a length within the range given. A track
// without points belongs to none.

#include <array>
#include <cstddef>
#include <optional>
#include <utility>
#include <vector>

#include "RegionMask.h"

class TrackSelection {
  public:
    struct LengthRange {
        double min = 0.0;
        double max = 0.0;
    };

    void AddInclude(RegionMask mask) { includes_.push_back(std::move(mask)); }
    void AddExclude(RegionMask mask) { excludes_.push_back(std::move(mask)); }
    void SetEnds(RegionMask mask) { ends_ = std::move(mask); }
    void SetLength(const LengthRange& range) { length_ = range; }

    // record: n points of stride floats, x, y, z first.
    bool Selects(const float* record, int n, std::size_t stride, double length) const;
    // Where node 0 of the profile lies nearest: the centroid of the ends mask, else of the
    // first include mask; false when neither is given (or the mask is empty).
    bool ReferenceCentre(std::array<double, 3>& centre) const;

  private:
    std::vector<RegionMask> includes_;
    std::vector<RegionMask> excludes_;
    std::optional<RegionMask> ends_;
    std::optional<LengthRange> length_;
};
