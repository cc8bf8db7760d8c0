#pragma once
// The planes across every bundle near its two ends, as a track selection takes its regions of
// interest: a track that runs the bundle's length passes through both planes of that bundle,
// and a track of any other bundle passes through neither.
//
// A plane is perpendicular to the centre-line where it crosses it and holds the voxels whose
// centres lie within radius + kMarginVoxels voxels of that point across the centre-line and
// within half a voxel of the plane, measured along each axis (for a plane oblique to the voxel
// axes, half the sum of the normal's absolute components times a voxel): one voxel thick when
// the plane is square to an axis, and without a gap a track could slip through when it is not.
//
// It crosses at kStartFraction (start) and kEndFraction (end) of the centre-line's length,
// counted from its first point, where every voxel centre of the plane keeps more than
// kClearanceVoxels voxels outside every other bundle's radius. Where a plane there would come
// nearer another bundle it takes the nearest place that does not, in steps of kStepFraction
// (towards the middle first of two places equally near), no nearer its bundle's end than
// kEndKeepFraction and short of the middle; if no place does, the one that keeps farthest.
// A plane never holds a voxel the truth gives to another bundle: only the planes of the slanted
// bundle, which passes close by the ends of the arc and the crossing, come to lose any.

#include <string>
#include <vector>

#include "PhantomModel.h"

class BundlePlanes {
  public:
    static constexpr double kStartFraction = 0.15;
    static constexpr double kEndFraction = 0.85;
    static constexpr double kStepFraction = 0.01;
    // Tracks that end a little early still reach a plane this far in from the bundle's end.
    static constexpr double kEndKeepFraction = 0.05;
    static constexpr double kMarginVoxels = 1.0;
    // Past a voxel's half diagonal (0.87), so that no voxel of a plane reaches into another
    // bundle, with room for tracks that stray a little outside their bundle.
    static constexpr double kClearanceVoxels = 1.5;

    struct Plane {
        std::string bundle;
        std::string end;        // "start" (near the first centre-line point) or "end"
        double fraction = 0.0;  // where it crosses the centre-line, of the centre-line's length
        std::vector<unsigned char> mask;  // 1 in the plane, 0 elsewhere; file order (x fastest)
    };

    // Two planes per bundle of the model, each bundle's start plane first, in the order of
    // the model's bundles.
    static std::vector<Plane> Across(const PhantomModel& model);
};
