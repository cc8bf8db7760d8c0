#pragma once
// Floats appended one run after another into blocks of a fixed size: what it holds never moves,
// so growing to hundreds of megabytes copies nothing and takes no more than it holds (a vector
// doubling would copy everything and for a while hold it twice). Order statistics are exact and
// need no sorted copy.

#include <cstddef>
#include <vector>

#include "DefaultInitAllocator.h"

class FloatColumn {
  public:
    void Append(const float* values, std::size_t count);
    std::size_t Size() const { return size_; }
    float operator[](std::size_t i) const { return blocks_[i >> kShift][i & kMask]; }

    // The value that would stand at index k (from 0) if the column were sorted ascending. The
    // column must hold more than k values, none of them NaN.
    float OrderStatistic(std::size_t k) const;
    // The middle value, or the mean of the two middle ones; NaN for an empty column.
    double Median() const;

  private:
    static constexpr unsigned kShift = 20;  // blocks of a million floats, 4 MB
    static constexpr std::size_t kBlock = std::size_t{1} << kShift;
    static constexpr std::size_t kMask = kBlock - 1;

    std::vector<UninitializedVector<float>> blocks_;  // written before they are read
    std::size_t size_ = 0;
};
