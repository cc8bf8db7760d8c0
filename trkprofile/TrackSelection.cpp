#include "TrackSelection.h"

namespace {

bool anyPointIn(const RegionMask& mask, const float* record, int n, std::size_t stride) {
    for (int i = 0; i < n; ++i) {
        if (mask.Contains(record + static_cast<std::size_t>(i) * stride)) {
            return true;
        }
    }
    return false;
}

}  // namespace

bool TrackSelection::Selects(const float* record, int n, std::size_t stride,
                             double length) const {
    if (n <= 0) {
        return false;
    }
    if (length_ && !(length >= length_->min && length <= length_->max)) {
        return false;
    }
    if (ends_ && !ends_->Contains(record) &&
        !ends_->Contains(record + static_cast<std::size_t>(n - 1) * stride)) {
        return false;
    }
    for (const RegionMask& mask : includes_) {
        if (!anyPointIn(mask, record, n, stride)) {
            return false;
        }
    }
    for (const RegionMask& mask : excludes_) {
        if (anyPointIn(mask, record, n, stride)) {
            return false;
        }
    }
    return true;
}

bool TrackSelection::ReferenceCentre(std::array<double, 3>& centre) const {
    if (ends_) {
        return ends_->Centroid(centre);
    }
    return !includes_.empty() && includes_.front().Centroid(centre);
}
