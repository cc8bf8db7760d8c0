#include "PhantomModel.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <string>
#include <vector>

namespace {

double Dot(const Vec3& a, const Vec3& b) {
    return a[0] * b[0] + a[1] * b[1] + a[2] * b[2];
}

Vec3 Sub(const Vec3& a, const Vec3& b) {
    return {a[0] - b[0], a[1] - b[1], a[2] - b[2]};
}

Vec3 Add(const Vec3& a, const Vec3& b) {
    return {a[0] + b[0], a[1] + b[1], a[2] + b[2]};
}

double Norm(const Vec3& a) {
    return std::sqrt(Dot(a, a));
}

Vec3 Unit(const Vec3& a) {
    const double n = Norm(a);
    return {a[0] / n, a[1] / n, a[2] / n};
}

// Leaves the axial plane steeply enough that a z axis of the wrong sign turns its fibres far
// from the truth, and is oblique to every axis so that no other sign or swap leaves it alone.
constexpr Vec3 kSlantedDirection{1.0, 0.4, 0.9};

// Semi-axes of the brain's outer surface in fractions of the field of view.
constexpr Vec3 kBrainSemiAxes{0.45, 0.45, 0.42};

bool InsideEllipsoid(const Vec3& p, const Vec3& centre, const Vec3& semiAxes) {
    double sum = 0.0;
    for (int a = 0; a < 3; ++a) {
        const double t = (p[a] - centre[a]) / semiAxes[a];
        sum += t * t;
    }
    return sum <= 1.0;
}

}  // namespace

PhantomModel::PhantomModel(int dimx, int dimy, int dimz, double voxelSizeMm, Layout layout,
                           const Vec3& shiftMm, const std::vector<std::string>& lesioned)
    : dims_{dimx, dimy, dimz},
      voxelSize_(voxelSizeMm),
      extent_{dimx * voxelSizeMm, dimy * voxelSizeMm, dimz * voxelSizeMm},
      shift_(shiftMm) {
    // Every size shares one layout in fractions of the field of view, so the larger phantoms
    // are the small one at a finer sampling and their figures stay comparable.
    const double X = extent_[0];
    const double Y = extent_[1];
    const double Z = extent_[2];
    const double radius = 0.065 * X;

    Bundle straight{"straight", kLabelStraight, radius, {}};
    straight.centreLine = {{0.15 * X, 0.32 * Y, 0.5 * Z}, {0.85 * X, 0.32 * Y, 0.5 * Z}};

    Bundle crossing{"crossing", kLabelCrossing, radius, {}};
    crossing.centreLine = {{0.25 * X, 0.15 * Y, 0.5 * Z}, {0.25 * X, 0.55 * Y, 0.5 * Z}};

    // Half circle in the axial plane around the CSF region, like a callosal arch.
    Bundle arc{"arc", kLabelArc, radius, {}};
    const double arcRadius = 0.2 * X;
    const int arcSegments = 180;
    for (int s = 0; s <= arcSegments; ++s) {
        const double theta = M_PI * s / arcSegments;
        arc.centreLine.push_back({0.62 * X + arcRadius * std::cos(theta),
                                  0.60 * Y + arcRadius * std::sin(theta), 0.5 * Z});
    }
    if (layout == Layout::Isotropic) {
        return;
    }
    for (Bundle* bundle : {&straight, &arc, &crossing}) {
        for (Vec3& point : bundle->centreLine) {
            point = Add(point, shift_);
        }
    }
    bundles_ = {straight, arc, crossing};
    if (layout == Layout::WithSlanted) {
        bundles_.push_back(SlantedBundle(radius));
    }
    for (Bundle& bundle : bundles_) {
        bundle.lesioned =
            std::find(lesioned.begin(), lesioned.end(), bundle.name) != lesioned.end();
    }
}

std::vector<std::string> PhantomModel::BundleNames(Layout layout) {
    switch (layout) {
        case Layout::Standard:
            return {"straight", "arc", "crossing"};
        case Layout::WithSlanted:
            return {"straight", "arc", "crossing", "slanted"};
        case Layout::Isotropic:
            break;
    }
    return {};
}

PhantomModel::Bundle PhantomModel::SlantedBundle(double radiusMm) const {
    // The line crosses the mid-axial plane between the end of the crossing bundle and the left
    // end of the arc, and its slope takes it out of that plane before it comes near either:
    // it meets no other bundle and no CSF at any size. It ends where it leaves the brain shrunk
    // by 1.25 radii, which keeps the tube inside the head whatever the proportions of the field
    // of view, as a fixed length would not for the flatter large phantom.
    const Vec3 direction = Unit(kSlantedDirection);
    const Vec3 through = Add({0.26 * extent_[0], 0.70 * extent_[1], 0.5 * extent_[2]}, shift_);
    const double margin = 1.25 * radiusMm;
    double a = 0.0;
    double b = 0.0;
    double c = -1.0;
    for (int axis = 0; axis < 3; ++axis) {
        const double semiAxis = kBrainSemiAxes[axis] * extent_[axis] - margin;
        const double offset = (through[axis] - 0.5 * extent_[axis]) / semiAxis;
        const double slope = direction[axis] / semiAxis;
        a += slope * slope;
        b += 2.0 * offset * slope;
        c += offset * offset;
    }
    const double root = std::sqrt(b * b - 4.0 * a * c);
    Bundle slanted{"slanted", kLabelSlanted, radiusMm, {}};
    for (const double t : {(-b - root) / (2.0 * a), (-b + root) / (2.0 * a)}) {
        slanted.centreLine.push_back({through[0] + t * direction[0], through[1] + t * direction[1],
                                      through[2] + t * direction[2]});
    }
    return slanted;
}

double PhantomModel::DistanceToBundle(const Bundle& bundle, const Vec3& p, Vec3* direction,
                                      double* alongMm) {
    double best = std::numeric_limits<double>::infinity();
    double before = 0.0;  // centre-line length ahead of the segment
    for (size_t s = 0; s + 1 < bundle.centreLine.size(); ++s) {
        const Vec3& a = bundle.centreLine[s];
        const Vec3 segment = Sub(bundle.centreLine[s + 1], a);
        const double length = Norm(segment);
        const Vec3 unit{segment[0] / length, segment[1] / length, segment[2] / length};
        const double along = std::min(std::max(Dot(Sub(p, a), unit), 0.0), length);
        const Vec3 foot{a[0] + unit[0] * along, a[1] + unit[1] * along, a[2] + unit[2] * along};
        const double distance = Norm(Sub(p, foot));
        if (distance < best) {
            best = distance;
            *direction = unit;
            if (alongMm != nullptr) {
                *alongMm = before + along;
            }
        }
        before += length;
    }
    return best;
}

double PhantomModel::LengthOf(const Bundle& bundle) {
    double length = 0.0;
    for (size_t s = 0; s + 1 < bundle.centreLine.size(); ++s) {
        length += Norm(Sub(bundle.centreLine[s + 1], bundle.centreLine[s]));
    }
    return length;
}

Vec3 PhantomModel::PointAlong(const Bundle& bundle, double alongMm, Vec3* direction) {
    double left = std::max(alongMm, 0.0);
    const size_t segments = bundle.centreLine.size() - 1;
    for (size_t s = 0; s < segments; ++s) {
        const Vec3& a = bundle.centreLine[s];
        const Vec3 segment = Sub(bundle.centreLine[s + 1], a);
        const double length = Norm(segment);
        *direction = Unit(segment);
        if (left <= length || s + 1 == segments) {
            const double t = std::min(left, length);
            return {a[0] + (*direction)[0] * t, a[1] + (*direction)[1] * t,
                    a[2] + (*direction)[2] * t};
        }
        left -= length;
    }
    return bundle.centreLine.front();
}

double PhantomModel::RadialAt(const Bundle& bundle, double alongMm) {
    if (!bundle.lesioned) {
        return kFibreRadial;
    }
    const double length = LengthOf(bundle);
    return alongMm >= kLesionFrom * length && alongMm <= kLesionTo * length ? kLesionRadial
                                                                            : kFibreRadial;
}

PhantomModel::Voxel PhantomModel::Classify(int i, int j, int k) const {
    const Vec3 p{(i + 0.5) * voxelSize_, (j + 0.5) * voxelSize_, (k + 0.5) * voxelSize_};
    Voxel voxel;

    int hits = 0;
    for (const Bundle& bundle : bundles_) {
        Vec3 direction{};
        double along = 0.0;
        if (DistanceToBundle(bundle, p, &direction, &along) <= bundle.radiusMm) {
            const double radial = RadialAt(bundle, along);
            if (hits == 0) {
                voxel.fibreA = direction;
                voxel.radialA = radial;
                voxel.label = bundle.label;
            } else if (bundle.label == kLabelSlanted) {
                // Keeps the label of the bundle it passes through; where two bundles meet
                // already, the third fibre is left out of the signal.
                if (hits == 1) {
                    voxel.fibreB = direction;
                    voxel.radialB = radial;
                }
            } else {
                voxel.fibreB = direction;
                voxel.radialB = radial;
                voxel.label = kLabelOverlap;
            }
            ++hits;
        }
    }
    if (hits > 0) {
        voxel.tissue = hits == 1 ? Tissue::Fibre : Tissue::Crossing;
        voxel.s0 = kFibreS0;
        return voxel;
    }

    const Vec3 X = extent_;
    if (InsideEllipsoid(p, Add({0.62 * X[0], 0.60 * X[1], 0.5 * X[2]}, shift_),
                        {0.10 * X[0], 0.10 * X[1], 0.18 * X[2]})) {
        voxel.tissue = Tissue::Csf;
        voxel.s0 = kCsfS0;
    } else {
        const double fraction = BrainFraction(i, j, k);
        if (fraction > 0.0) {
            voxel.tissue = Tissue::Brain;
            voxel.s0 = kBrainS0 * fraction;
        }
    }
    return voxel;
}

double PhantomModel::BrainFraction(int i, int j, int k) const {
    // Partial volume at the brain surface gives the b0 histogram the continuous ramp between
    // background and tissue that real head images have; without it the automatic background
    // threshold finds no valley. Each voxel is sampled at 4 x 4 x 4 points.
    const Vec3 centre{0.5 * extent_[0], 0.5 * extent_[1], 0.5 * extent_[2]};
    const Vec3 semiAxes{kBrainSemiAxes[0] * extent_[0], kBrainSemiAxes[1] * extent_[1],
                        kBrainSemiAxes[2] * extent_[2]};
    constexpr int kSamples = 4;
    int inside = 0;
    for (int a = 0; a < kSamples; ++a) {
        for (int b = 0; b < kSamples; ++b) {
            for (int c = 0; c < kSamples; ++c) {
                const Vec3 q{(i + (a + 0.5) / kSamples) * voxelSize_,
                             (j + (b + 0.5) / kSamples) * voxelSize_,
                             (k + (c + 0.5) / kSamples) * voxelSize_};
                inside += InsideEllipsoid(q, centre, semiAxes) ? 1 : 0;
            }
        }
    }
    return static_cast<double>(inside) / (kSamples * kSamples * kSamples);
}

double PhantomModel::ApparentDiffusion(const Vec3& fibre, double radial, const Vec3& g) {
    const double c = Dot(fibre, g);
    return radial + (kFibreAxial - radial) * c * c;
}

double PhantomModel::Signal(const Voxel& voxel, const Vec3& g, double b) {
    switch (voxel.tissue) {
        case Tissue::Background:
            return 0.0;
        case Tissue::Brain:
            return voxel.s0 * std::exp(-b * kBrainDiffusivity);
        case Tissue::Csf:
            return voxel.s0 * std::exp(-b * kCsfDiffusivity);
        case Tissue::Fibre:
            return voxel.s0 * std::exp(-b * ApparentDiffusion(voxel.fibreA, voxel.radialA, g));
        case Tissue::Crossing:
            // Two equal compartments in slow exchange.
            return voxel.s0 * 0.5 *
                   (std::exp(-b * ApparentDiffusion(voxel.fibreA, voxel.radialA, g)) +
                    std::exp(-b * ApparentDiffusion(voxel.fibreB, voxel.radialB, g)));
    }
    return 0.0;
}

namespace {

double kurtosisDecay(double b, double d, double k) {
    return std::exp(-b * d + b * b * d * d * k / 6.0);
}

double fibreKurtosis(const Vec3& fibre, const Vec3& g) {
    constexpr double kAxial = 0.5;
    constexpr double kRadial = 1.2;
    const double c = Dot(fibre, g);
    return kRadial + (kAxial - kRadial) * c * c;
}

}  // namespace

double PhantomModel::SignalWithKurtosis(const Voxel& voxel, const Vec3& g, double b) {
    switch (voxel.tissue) {
        case Tissue::Background:
            return 0.0;
        case Tissue::Brain:
            return voxel.s0 * kurtosisDecay(b, kBrainDiffusivity, 0.7);
        case Tissue::Csf:
            return voxel.s0 * kurtosisDecay(b, kCsfDiffusivity, 0.0);
        case Tissue::Fibre:
            return voxel.s0 * kurtosisDecay(b, ApparentDiffusion(voxel.fibreA, voxel.radialA, g),
                                            fibreKurtosis(voxel.fibreA, g));
        case Tissue::Crossing:
            return voxel.s0 * 0.5 *
                   (kurtosisDecay(b, ApparentDiffusion(voxel.fibreA, voxel.radialA, g),
                                  fibreKurtosis(voxel.fibreA, g)) +
                    kurtosisDecay(b, ApparentDiffusion(voxel.fibreB, voxel.radialB, g),
                                  fibreKurtosis(voxel.fibreB, g)));
    }
    return 0.0;
}

double PhantomModel::FractionalAnisotropy(double l1, double l2, double l3) {
    const double mean = (l1 + l2 + l3) / 3.0;
    const double spread =
        (l1 - mean) * (l1 - mean) + (l2 - mean) * (l2 - mean) + (l3 - mean) * (l3 - mean);
    const double magnitude = l1 * l1 + l2 * l2 + l3 * l3;
    return magnitude > 0.0 ? std::sqrt(1.5 * spread / magnitude) : 0.0;
}

namespace {

// The two larger eigenvalues of wa a a' + wb b b' for unit a and b (the third is 0), from the
// 2 x 2 problem in the plane of a and b.
std::array<double, 2> pairEigenvalues(double wa, double wb, double c) {
    const double sum = wa + wb;
    const double root = std::sqrt(std::max(sum * sum - 4.0 * wa * wb * (1.0 - c * c), 0.0));
    return {0.5 * (sum + root), 0.5 * (sum - root)};
}

// The principal direction of two fibres of different radial diffusivity: the eigenvector
// x a + y b of the larger eigenvalue l of wa a a' + wb b b', where wa (x + y c) = l x and
// wb (x c + y) = l y. Either equation gives it; the longer of the two answers is the one that
// does not vanish.
Vec3 unequalPairDirection(const PhantomModel::Voxel& voxel, double c) {
    const double wa = 0.5 * (PhantomModel::kFibreAxial - voxel.radialA);
    const double wb = 0.5 * (PhantomModel::kFibreAxial - voxel.radialB);
    const double largest = pairEigenvalues(wa, wb, c)[0];
    const std::array<double, 2> first{wa * c, largest - wa};
    const std::array<double, 2> second{largest - wb, wb * c};
    const std::array<double, 2>& weights =
        std::hypot(first[0], first[1]) >= std::hypot(second[0], second[1]) ? first : second;
    const Vec3 sum{weights[0] * voxel.fibreA[0] + weights[1] * voxel.fibreB[0],
                   weights[0] * voxel.fibreA[1] + weights[1] * voxel.fibreB[1],
                   weights[0] * voxel.fibreA[2] + weights[1] * voxel.fibreB[2]};
    const double n = Norm(sum);
    if (n < 1e-12) {
        return {0.0, 0.0, 0.0};
    }
    return {sum[0] / n, sum[1] / n, sum[2] / n};
}

}  // namespace

double PhantomModel::TrueFA(const Voxel& voxel) {
    if (voxel.tissue == Tissue::Fibre) {
        return FractionalAnisotropy(kFibreAxial, voxel.radialA, voxel.radialA);
    }
    if (voxel.tissue == Tissue::Crossing) {
        // The crossing is summarised by the mean of its two tensors, whose extra diffusion
        // (axial - radial)/2 * (a a' + b b') has eigenvalues (axial - radial)/2 * (1 +- |a.b|).
        const double c = std::fabs(Dot(voxel.fibreA, voxel.fibreB));
        if (voxel.radialA == voxel.radialB) {
            const double radial = voxel.radialA;
            const double half = 0.5 * (kFibreAxial - radial);
            return FractionalAnisotropy(radial + half * (1.0 + c), radial + half * (1.0 - c),
                                        radial);
        }
        // A lesioned fibre weighs less in the mean: the closed form above no longer holds.
        const double radial = 0.5 * (voxel.radialA + voxel.radialB);
        const std::array<double, 2> extra = pairEigenvalues(0.5 * (kFibreAxial - voxel.radialA),
                                                            0.5 * (kFibreAxial - voxel.radialB), c);
        return FractionalAnisotropy(radial + extra[0], radial + extra[1], radial);
    }
    return 0.0;
}

Vec3 PhantomModel::TruePrincipalDirection(const Voxel& voxel) {
    if (voxel.tissue == Tissue::Fibre) {
        return voxel.fibreA;
    }
    if (voxel.tissue == Tissue::Crossing) {
        const double c = Dot(voxel.fibreA, voxel.fibreB);
        if (voxel.radialA != voxel.radialB) {
            return unequalPairDirection(voxel, c);
        }
        if (std::fabs(c) < 1e-6) {
            return {0.0, 0.0, 0.0};
        }
        const double sign = c > 0.0 ? 1.0 : -1.0;
        const Vec3 sum{voxel.fibreA[0] + sign * voxel.fibreB[0],
                       voxel.fibreA[1] + sign * voxel.fibreB[1],
                       voxel.fibreA[2] + sign * voxel.fibreB[2]};
        const double n = Norm(sum);
        return {sum[0] / n, sum[1] / n, sum[2] / n};
    }
    return {0.0, 0.0, 0.0};
}
