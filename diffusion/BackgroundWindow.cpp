#include "BackgroundWindow.h"

#include <algorithm>
#include <cstdint>

#include "CMyMath.h"

void BackgroundWindow::Find(const short* b0, size_t voxels, int givenValues, double givenLower,
                            double givenUpper, double* lower, double* upper) {
    double range[2] = {0.0, 0.0};
    const double automatic =
        CMyMath::GetAutoThreshold(b0, static_cast<int64_t>(voxels), 50, range);
    double sum = 0.0;
    for (size_t p = 0; p < voxels; ++p) {
        sum += b0[p];
    }
    const double mean = sum / static_cast<double>(voxels);
    *lower = std::min(mean, 0.9 * automatic);
    *upper = range[1];
    if (givenValues >= 1) {
        *lower = givenLower;
    }
    if (givenValues >= 2) {
        *upper = givenUpper;
    }
}
