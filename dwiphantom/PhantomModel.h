#pragma once
// Layout and tissue properties of the synthetic diffusion phantom: which tissue every voxel
// holds, the diffusion it shows and the ground truth a reconstruction should recover.
//
// Positions are in millimetres in the track frame: voxel (i, j, k) spans
// [i*vs, (i+1)*vs) x [j*vs, (j+1)*vs) x [k*vs, (k+1)*vs), so its centre is ((i+0.5)*vs, ...).
// Directions are in the voxel frame (x along i, y along j, z along k).

#include <array>
#include <string>
#include <vector>

using Vec3 = std::array<double, 3>;

class PhantomModel {
  public:
    enum class Tissue { Background, Brain, Csf, Fibre, Crossing };

    // Labels of the white-matter truth mask.
    static constexpr int kLabelNone = 0;
    static constexpr int kLabelStraight = 1;
    static constexpr int kLabelArc = 2;
    static constexpr int kLabelCrossing = 3;  // the bundle that crosses the straight one
    static constexpr int kLabelOverlap = 4;   // voxels where both crossing bundles meet
    // The bundle that leaves the axial plane. Where it passes through another bundle the voxel
    // keeps that bundle's label (the other labels keep meaning what they always meant) and its
    // signal is the crossing of the two fibres.
    static constexpr int kLabelSlanted = 5;

    // Which bundles the phantom holds.
    enum class Layout {
        Standard,     // straight, arc and crossing, all in the axial plane
        WithSlanted,  // the standard bundles and a straight bundle leaving the axial plane
        Isotropic,    // no bundles: brain-like and CSF-like tissue only
    };

    // Diffusivities in mm^2/s, for b values in s/mm^2.
    static constexpr double kFibreAxial = 1.7e-3;
    static constexpr double kFibreRadial = 0.35e-3;
    static constexpr double kBrainDiffusivity = 0.8e-3;
    static constexpr double kCsfDiffusivity = 3.0e-3;
    static constexpr double kBrainS0 = 1000.0;
    static constexpr double kFibreS0 = 900.0;
    static constexpr double kCsfS0 = 1800.0;
    // A lesioned stretch of a bundle: the radial diffusivity of its fibres rises, as where
    // myelin is lost, so that its FA falls from 0.762 to 0.508 while the fibre direction stays.
    static constexpr double kLesionRadial = 0.7e-3;
    // The stretch, in fractions of the bundle's centre-line length: its middle 30 %.
    static constexpr double kLesionFrom = 0.35;
    static constexpr double kLesionTo = 0.65;

    struct Bundle {
        std::string name;
        int label = kLabelNone;
        double radiusMm = 0.0;
        std::vector<Vec3> centreLine;  // polyline in millimetres
        bool lesioned = false;         // its middle stretch has kLesionRadial
    };

    struct Voxel {
        Tissue tissue = Tissue::Background;
        int label = kLabelNone;
        double s0 = 0.0;
        Vec3 fibreA{0.0, 0.0, 0.0};  // unit fibre direction (Fibre and Crossing)
        Vec3 fibreB{0.0, 0.0, 0.0};  // second fibre direction (Crossing only)
        // Radial diffusivity of each fibre: kFibreRadial unless a lesion raised it.
        double radialA = kFibreRadial;
        double radialB = kFibreRadial;
    };

    // shiftMm moves every bundle and the CSF region inside an unmoved head, as one subject's
    // anatomy sits a little differently from another's; the slanted bundle still ends inside
    // the brain. The bundles named in lesioned (of those the layout has) carry a lesion.
    PhantomModel(int dimx, int dimy, int dimz, double voxelSizeMm, Layout layout = Layout::Standard,
                 const Vec3& shiftMm = {0.0, 0.0, 0.0},
                 const std::vector<std::string>& lesioned = {});
    // The names of the bundles a layout holds, in the order of bundles().
    static std::vector<std::string> BundleNames(Layout layout);

    int dimx() const { return dims_[0]; }
    int dimy() const { return dims_[1]; }
    int dimz() const { return dims_[2]; }
    double voxelSize() const { return voxelSize_; }
    const std::vector<Bundle>& bundles() const { return bundles_; }

    Voxel Classify(int i, int j, int k) const;
    // Noise-free signal of a voxel for a unit gradient direction g (voxel frame) and b value.
    static double Signal(const Voxel& voxel, const Vec3& g, double b);
    // As above with a kurtosis term, S = S0 exp(-b D + b^2 D^2 K / 6), so that several shells
    // are not mono-exponential, as in tissue: K 0.5 along a fibre rising to 1.2 across it,
    // 0.7 in brain-like tissue, 0 in CSF. Below b = 3000 every signal still falls with b.
    static double SignalWithKurtosis(const Voxel& voxel, const Vec3& g, double b);
    // Fractional anisotropy and principal direction of the voxel's diffusion; the principal
    // direction is zero where it is not defined (isotropic tissue, the crossing's oblate mean).
    static double TrueFA(const Voxel& voxel);
    static Vec3 TruePrincipalDirection(const Voxel& voxel);
    static double FractionalAnisotropy(double l1, double l2, double l3);

    // Distance from p to the bundle's centre-line and the unit direction of the nearest segment;
    // alongMm (may be null) receives how far along the centre-line the nearest point lies.
    static double DistanceToBundle(const Bundle& bundle, const Vec3& p, Vec3* direction,
                                   double* alongMm = nullptr);
    static double LengthOf(const Bundle& bundle);
    // The point alongMm along the centre-line (clamped to its ends) and the unit direction of
    // the segment it lies on.
    static Vec3 PointAlong(const Bundle& bundle, double alongMm, Vec3* direction);

  private:
    Bundle SlantedBundle(double radiusMm) const;
    // The radial diffusivity of the bundle's fibre at alongMm.
    static double RadialAt(const Bundle& bundle, double alongMm);
    // Share of the voxel inside the brain's outer surface (0 to 1).
    double BrainFraction(int i, int j, int k) const;
    static double ApparentDiffusion(const Vec3& fibre, double radial, const Vec3& g);

    std::array<int, 3> dims_;
    double voxelSize_;
    Vec3 extent_;  // field of view in millimetres
    Vec3 shift_;   // of the bundles and the CSF region, in millimetres
    std::vector<Bundle> bundles_;
};
