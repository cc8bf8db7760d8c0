#include "GradientCheck.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "CTrack.h"
#include "BackgroundWindow.h"
#include "DTIReconstructor.h"
#include "ExitStatus.h"
#include "GradientTableFile.h"
#include "OrderedChunks.h"
#include "OwnedHandles.h"
#include "ReadMask.h"

namespace {

// Tracking as fiberwalk does it by default: FACT, sub-steps of 0.05 of the smallest voxel size,
// turns of at most 35 degrees.
constexpr float kStep = 0.05f;
constexpr float kAngle = 35.0f;

double trackLength(const std::vector<float>& points, int count) {
    double length = 0.0;
    for (int i = 1; i < count; ++i) {
        const float* a = &points[3 * static_cast<size_t>(i - 1)];
        const float* b = a + 3;
        length += std::sqrt(static_cast<double>((b[0] - a[0]) * (b[0] - a[0]) +
                                                (b[1] - a[1]) * (b[1] - a[1]) +
                                                (b[2] - a[2]) * (b[2] - a[2])));
    }
    return length;
}

}  // namespace

GradientCheck::GradientCheck(const DiffusionAcquisition& data, const GradcheckSettings& settings)
    : data_(data), settings_(settings) {}

EncodingScheme GradientCheck::SchemeOf(const AxisCandidate& candidate) const {
    EncodingScheme scheme = data_.InputScheme();
    const bool fsl = !settings_.data.bvecFile.empty();
    const bool negateX = fsl && data_.FslFilesNegateX();
    for (GradientVec& g : scheme.rows) {
        const double in[3] = {g.x, g.y, g.z};
        double out[3];
        candidate.Apply(in, out);
        g.x = negateX ? -out[0] : out[0];
        g.y = out[1];
        g.z = out[2];
    }
    return scheme;
}

RunStep GradientCheck::SelectWhiteMatter() {
    const nifti_1_header& header = data_.Header();
    const int dims[3] = {header.dim[1], header.dim[2], header.dim[3]};
    const size_t voxels = data_.Voxels();
    const size_t rows = data_.Rows();
    if (!settings_.maskFile.empty()) {
        const float bounds[2] = {settings_.maskLow, settings_.maskHigh};
        std::string reason;
        std::string notice;
        if (!ReadMask(settings_.maskFile, bounds, dims, mask_, &reason, &notice)) {
            std::fputs(notice.c_str(), stdout);
            std::fflush(stdout);
            std::fprintf(stderr, "\nCan not load mask file %s\n", settings_.maskFile.c_str());
            return kExitFailure;
        }
    } else {
        // FA does not change under any candidate (each turns every tensor by the same
        // rotation or reflection), so the table as given decides the white matter.
        const DTIReconstructor& fit = data_.Reconstructor();
        std::vector<float> fa(voxels, 0.0f);
        std::vector<short> b0(voxels, 0);
        std::vector<short> signal(rows);
        for (size_t p = 0; p < voxels; ++p) {
            for (size_t r = 0; r < rows; ++r) {
                signal[r] = data_.Value(r, p);
            }
            float tensor[6];
            float eigenvalues[3];
            float eigenvectors[3][3];
            short dwi = 0;
            float adc = 0.0f;
            float exp = 0.0f;
            fit.Reconstruct(signal.data(), tensor, eigenvalues, eigenvectors, fa[p], b0[p], dwi,
                            adc, exp);
        }
        double lower = 0.0;
        double upper = 0.0;
        BackgroundWindow::Find(b0.data(), voxels, 0, 0.0, 0.0, &lower, &upper);
        mask_.assign(voxels, 0);
        for (size_t p = 0; p < voxels; ++p) {
            mask_[p] = fa[p] >= GradcheckSettings::kDefaultFaThreshold && b0[p] >= lower &&
                               b0[p] <= upper
                           ? 1
                           : 0;
        }
    }
    for (size_t p = 0; p < voxels; ++p) {
        if (mask_[p] > 0) {
            maskVoxels_.push_back(static_cast<int>(p));
        }
    }
    whiteMatter_ = static_cast<int>(maskVoxels_.size());
    const size_t stride = std::max<size_t>(1, (maskVoxels_.size() + kMaximumSeeds - 1) /
                                                  static_cast<size_t>(kMaximumSeeds));
    for (size_t i = 0; i < maskVoxels_.size(); i += stride) {
        seeds_.push_back(maskVoxels_[i]);
    }
    // The signals of the white matter, gathered once for every candidate.
    signals_.resize(maskVoxels_.size() * rows);
    for (size_t i = 0; i < maskVoxels_.size(); ++i) {
        for (size_t r = 0; r < rows; ++r) {
            signals_[i * rows + r] =
                data_.Value(r, static_cast<size_t>(maskVoxels_[i]));
        }
    }
    return kGoOn;
}

GradientCheck::Score GradientCheck::ScoreOf(const AxisCandidate& candidate) const {
    Score score;
    score.candidate = candidate;
    DTIReconstructor fit;
    fit.SetImageOrientation(data_.Orientation());
    if (!fit.SetEncodingScheme(SchemeOf(candidate), settings_.data.obliqueCorrection)) {
        return score;
    }
    const nifti_1_header& header = data_.Header();
    const int dims[3] = {header.dim[1], header.dim[2], header.dim[3]};
    const float voxelSize[3] = {header.pixdim[1], header.pixdim[2], header.pixdim[3]};
    const size_t voxels = data_.Voxels();
    const size_t rows = data_.Rows();
    // Tensors in the white matter only: tracks never leave it.
    std::vector<float> tensors(6 * voxels, 0.0f);
    for (size_t i = 0; i < maskVoxels_.size(); ++i) {
        float eigenvalues[3];
        float eigenvectors[3][3];
        float fa = 0.0f;
        short b0 = 0;
        short dwi = 0;
        float adc = 0.0f;
        float exp = 0.0f;
        fit.Reconstruct(&signals_[i * rows], &tensors[6 * static_cast<size_t>(maskVoxels_[i])],
                        eigenvalues, eigenvectors, fa, b0, dwi, adc, exp);
    }
    std::vector<float> cache;
    std::vector<float> points;
    double total = 0.0;
    for (const int seed : seeds_) {
        const int voxel[3] = {seed % dims[0], seed / dims[0] % dims[1], seed / (dims[0] * dims[1])};
        int count = 0;
        if (CTrack::GetTrack(dims, voxelSize, tensors.data(), mask_.data(), voxel, CTrack::kFACT,
                             kStep, kAngle, nullptr, points, count, 0, &cache) != 0) {
            total += trackLength(points, count);
            ++score.tracks;
        }
    }
    score.meanLength = score.tracks > 0 ? total / score.tracks : 0.0;
    return score;
}

std::vector<GradientCheck::Score> GradientCheck::ScoreCandidates() const {
    const std::vector<AxisCandidate> candidates = AxisCandidate::All();
    std::vector<Score> scores(candidates.size());
    OrderedChunks::Run(
        settings_.data.threads, candidates.size(), candidates.size(),
        [&](size_t c, int) { scores[c] = ScoreOf(candidates[c]); },
        [](size_t) { return true; });
    std::stable_sort(scores.begin(), scores.end(), [](const Score& a, const Score& b) {
        return a.meanLength > b.meanLength;
    });
    return scores;
}

bool GradientCheck::WriteTable(const AxisCandidate& candidate, const std::string& file,
                               std::string* reason) const {
    std::vector<GradientVec> rows = data_.InputScheme().rows;
    for (GradientVec& g : rows) {
        const double in[3] = {g.x, g.y, g.z};
        double out[3];
        candidate.Apply(in, out);
        g.x = out[0];
        g.y = out[1];
        g.z = out[2];
    }
    if (settings_.data.bvecFile.empty()) {
        return GradientTableFile::Write(
            file, rows,
            "Gradient table as gradcheck finds it right (" + candidate.Description() +
                "): x y z b per volume; the b column is read with tabled b values on.",
            *reason);
    }
    // The .bvec layout: one line per axis, one number per volume.
    std::string text;
    for (int axis = 0; axis < 3; ++axis) {
        for (size_t v = 0; v < rows.size(); ++v) {
            const GradientVec& g = rows[v];
            const double value = axis == 0 ? g.x : axis == 1 ? g.y : g.z;
            char number[40];
            std::snprintf(number, sizeof number, "%s%.17g", v == 0 ? "" : " ", value + 0.0);
            text += number;
        }
        text += "\n";
    }
    OwnedFile out(std::fopen(file.c_str(), "w"));
    if (!out) {
        *reason = std::string("cannot create: ") + std::strerror(errno);
        return false;
    }
    const bool written = std::fwrite(text.data(), 1, text.size(), out.get()) == text.size();
    if (std::fclose(out.release()) != 0 || !written) {
        *reason = std::string("cannot write: ") + std::strerror(errno);
        return false;
    }
    return true;
}
