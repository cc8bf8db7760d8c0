#include "FloatColumn.h"

#include <cmath>
#include <cstdint>
#include <cstring>

namespace {

// The float's bits turned into an unsigned number of the same order: negative numbers have
// every bit flipped, positive ones the sign bit set.
std::uint32_t orderKey(float value) {
    std::uint32_t bits = 0;
    std::memcpy(&bits, &value, sizeof bits);
    return (bits & 0x80000000U) != 0 ? ~bits : bits | 0x80000000U;
}

float fromOrderKey(std::uint32_t key) {
    const std::uint32_t bits = (key & 0x80000000U) != 0 ? key & 0x7FFFFFFFU : ~key;
    float value = 0.0f;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

}  // namespace

void FloatColumn::Append(const float* values, std::size_t count) {
    while (count > 0) {
        const std::size_t used = size_ & kMask;
        if (used == 0 && size_ >> kShift == blocks_.size()) {
            blocks_.emplace_back(kBlock);
        }
        const std::size_t take = count < kBlock - used ? count : kBlock - used;
        std::memcpy(blocks_[size_ >> kShift].data() + used, values, take * sizeof(float));
        values += take;
        count -= take;
        size_ += take;
    }
}

float FloatColumn::OrderStatistic(std::size_t k) const {
    // Radix selection: the high 16 bits of the order key find the bucket holding the k-th
    // value, the low 16 bits its exact key. Two passes, no copy, the same answer as a sort.
    std::vector<std::size_t> counts(65536);
    for (std::size_t i = 0; i < size_; ++i) {
        ++counts[orderKey((*this)[i]) >> 16];
    }
    std::uint32_t high = 0;
    for (; k >= counts[high]; ++high) {
        k -= counts[high];
    }
    counts.assign(65536, 0);
    for (std::size_t i = 0; i < size_; ++i) {
        const std::uint32_t key = orderKey((*this)[i]);
        if (key >> 16 == high) {
            ++counts[key & 0xFFFFU];
        }
    }
    std::uint32_t low = 0;
    for (; k >= counts[low]; ++low) {
        k -= counts[low];
    }
    // Adding zero turns -0 into 0, which the tables would otherwise print as "-0".
    return fromOrderKey(high << 16 | low) + 0.0f;
}

double FloatColumn::Median() const {
    if (size_ == 0) {
        return std::nan("");
    }
    const double upper = OrderStatistic(size_ / 2);
    return size_ % 2 == 1 ? upper : 0.5 * (OrderStatistic(size_ / 2 - 1) + upper);
}
