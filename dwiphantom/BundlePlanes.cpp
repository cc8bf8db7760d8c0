#include "BundlePlanes.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <limits>
#include <utility>

namespace {

// Where a plane crosses its bundle and which way the bundle runs there.
struct Crossing {
    Vec3 point;
    Vec3 normal;
};

// Visits the voxels of the plane of bundle at crossing, with the centre of each voxel.
template <typename Visit>
void forEachPlaneVoxel(const PhantomModel& model, const PhantomModel::Bundle& bundle,
                       const Crossing& crossing, Visit visit) {
    const double size = model.voxelSize();
    const Vec3& n = crossing.normal;
    const double halfThickness = 0.5 * size * (std::fabs(n[0]) + std::fabs(n[1]) + std::fabs(n[2]));
    const double reach = bundle.radiusMm + BundlePlanes::kMarginVoxels * size;
    const std::array<int, 3> dims = {model.dimx(), model.dimy(), model.dimz()};
    std::array<int, 3> low{};
    std::array<int, 3> high{};
    for (int a = 0; a < 3; ++a) {
        const double extent = reach + halfThickness;
        low[a] = std::max(0, static_cast<int>(std::floor((crossing.point[a] - extent) / size)));
        high[a] = std::min(dims[a] - 1,
                           static_cast<int>(std::floor((crossing.point[a] + extent) / size)));
    }
    for (int k = low[2]; k <= high[2]; ++k) {
        for (int j = low[1]; j <= high[1]; ++j) {
            for (int i = low[0]; i <= high[0]; ++i) {
                const Vec3 centre{(i + 0.5) * size, (j + 0.5) * size, (k + 0.5) * size};
                const Vec3 d{centre[0] - crossing.point[0], centre[1] - crossing.point[1],
                             centre[2] - crossing.point[2]};
                const double across = d[0] * n[0] + d[1] * n[1] + d[2] * n[2];
                const double squared = d[0] * d[0] + d[1] * d[1] + d[2] * d[2];
                // Half-open, so that a plane square to an axis takes one voxel of it even where
                // it lies on a voxel boundary.
                if (across > -halfThickness && across <= halfThickness &&
                    squared - across * across <= reach * reach) {
                    visit(i, j, k, centre);
                }
            }
        }
    }
}

// How far the plane's voxel centres keep outside the other bundles' radii, at the least.
double clearance(const PhantomModel& model, const PhantomModel::Bundle& bundle,
                 const Crossing& crossing) {
    double least = std::numeric_limits<double>::infinity();
    bool any = false;
    forEachPlaneVoxel(model, bundle, crossing, [&](int, int, int, const Vec3& centre) {
        any = true;
        for (const PhantomModel::Bundle& other : model.bundles()) {
            if (other.name == bundle.name) {
                continue;
            }
            Vec3 direction{};
            least = std::min(
                least, PhantomModel::DistanceToBundle(other, centre, &direction) - other.radiusMm);
        }
    });
    // A plane that left the grid selects nothing: never a place to take.
    return any ? least : -std::numeric_limits<double>::infinity();
}

// A voxel the truth gives to another bundle: its tracks run there.
bool insideAnotherBundle(const PhantomModel& model, const PhantomModel::Bundle& bundle,
                         const Vec3& centre) {
    for (const PhantomModel::Bundle& other : model.bundles()) {
        Vec3 direction{};
        if (other.name != bundle.name &&
            PhantomModel::DistanceToBundle(other, centre, &direction) <= other.radiusMm) {
            return true;
        }
    }
    return false;
}

// The place of one plane: the clear one nearest to nominal, on its own half of the bundle.
double placeFraction(const PhantomModel& model, const PhantomModel::Bundle& bundle, double nominal,
                     double length) {
    const double wanted = BundlePlanes::kClearanceVoxels * model.voxelSize();
    const double towardsMiddle = nominal < 0.5 ? 1.0 : -1.0;
    // Measured from the bundle's own end, so that start and end planes are placed alike.
    const auto withinHalf = [&](double fraction) {
        const double fromEnd = nominal < 0.5 ? fraction : 1.0 - fraction;
        return fromEnd >= BundlePlanes::kEndKeepFraction - 1e-9 && fromEnd < 0.5 - 1e-9;
    };
    double best = nominal;
    double bestClearance = -std::numeric_limits<double>::infinity();
    for (int step = 0;; ++step) {
        bool anyWithin = false;
        for (const double side : {towardsMiddle, -towardsMiddle}) {
            const double fraction = nominal + side * step * BundlePlanes::kStepFraction;
            if (!withinHalf(fraction) || (step == 0 && side != towardsMiddle)) {
                continue;
            }
            anyWithin = true;
            Crossing crossing{};
            crossing.point = PhantomModel::PointAlong(bundle, fraction * length, &crossing.normal);
            const double kept = clearance(model, bundle, crossing);
            if (kept > wanted) {
                return fraction;
            }
            if (kept > bestClearance) {
                bestClearance = kept;
                best = fraction;
            }
        }
        if (!anyWithin) {
            return best;
        }
    }
}

}  // namespace

std::vector<BundlePlanes::Plane> BundlePlanes::Across(const PhantomModel& model) {
    const std::size_t voxels = static_cast<std::size_t>(model.dimx()) * model.dimy() * model.dimz();
    std::vector<Plane> planes;
    for (const PhantomModel::Bundle& bundle : model.bundles()) {
        const double length = PhantomModel::LengthOf(bundle);
        for (const auto& [end, nominal] :
             {std::pair<const char*, double>{"start", kStartFraction}, {"end", kEndFraction}}) {
            Plane plane{bundle.name, end, placeFraction(model, bundle, nominal, length),
                        std::vector<unsigned char>(voxels, 0)};
            Crossing crossing{};
            crossing.point =
                PhantomModel::PointAlong(bundle, plane.fraction * length, &crossing.normal);
            forEachPlaneVoxel(
                model, bundle, crossing, [&](int i, int j, int k, const Vec3& centre) {
                    if (!insideAnotherBundle(model, bundle, centre)) {
                        const std::size_t index =
                            (static_cast<std::size_t>(k) * model.dimy() + j) * model.dimx() + i;
                        plane.mask[index] = 1;
                    }
                });
            planes.push_back(std::move(plane));
        }
    }
    return planes;
}
