#include "ScalarMap.h"

#include <cmath>
#include <cstddef>
#include <utility>

ScalarMap::ScalarMap(GridVolume&& volume)
    : grid_(volume.Grid()), values_(std::move(volume).TakeValues()) {}

double ScalarMap::Sample(const double point[3]) const {
    std::ptrdiff_t low[3];
    std::ptrdiff_t step[3];  // to the next voxel along the axis; 0 on a grid one voxel thick
    double fraction[3];
    std::ptrdiff_t stride = 1;
    for (int a = 0; a < 3; ++a) {
        const int dim = grid_.Dim(a);
        double index = point[a] / static_cast<double>(grid_.Size(a)) - 0.5;
        // Written so that NaN goes to the first voxel rather than to an index out of range.
        if (!(index > 0.0)) {
            index = 0.0;
        }
        if (index > dim - 1) {
            index = dim - 1;
        }
        std::ptrdiff_t cell = static_cast<std::ptrdiff_t>(std::floor(index));
        if (cell > dim - 2) {
            cell = dim >= 2 ? dim - 2 : 0;
        }
        low[a] = cell * stride;
        step[a] = dim >= 2 ? stride : 0;
        fraction[a] = index - static_cast<double>(cell);
        stride *= dim;
    }
    // Along x, then y, then z: the corners' values blended pairwise.
    const float* c = values_.data() + low[0] + low[1] + low[2];
    auto alongX = [&](const float* row) {
        return row[0] + fraction[0] * (static_cast<double>(row[step[0]]) - row[0]);
    };
    auto alongY = [&](const float* plane) {
        const double near = alongX(plane);
        return near + fraction[1] * (alongX(plane + step[1]) - near);
    };
    const double near = alongY(c);
    const double value = near + fraction[2] * (alongY(c + step[2]) - near);
    return value;
}
