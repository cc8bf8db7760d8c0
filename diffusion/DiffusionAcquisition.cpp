#include "DiffusionAcquisition.h"

#include <sys/mman.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <future>
#include <new>
#include <numeric>
#include <vector>

#include "CMyUtils.h"
#include "ExitStatus.h"
#include "GradientSchemeLoader.h"
#include "ImageOrientation.h"
#include "NiftiFileNames.h"
#include "Shells.h"
#include "TensorDeterminacy.h"

DiffusionAcquisition::DiffusionAcquisition(const AcquisitionSettings& settings,
                                           RunMessages& messages)
    : settings_(settings), messages_(messages) {}

RunStep DiffusionAcquisition::OpenRawData() {
    const std::string& name = settings_.rawDataName;
    if (!raw_.Open(name, &header_, NiftiIO::kRead)) {
        return messages_.Failure("\nCan not load image data from " + name, raw_.LastError(), name);
    }
    const short* dim = header_.dim;
    // One volume read selects a single index of every dimension after the fourth, so a fifth
    // dimension with more than one index cannot be read volume by volume.
    if (dim[0] > 4 && dim[5] > 1) {
        return messages_.Failure("\nCan not load image data from " + name,
                       "dimension 5 has " + std::to_string(dim[5]) +
                           " entries; volumes can only be read with one",
                       name);
    }
    fourD_ = (dim[0] == 4 && dim[4] > 1) || (dim[0] > 4 && dim[4] > 1);
    voxels_ =
        static_cast<size_t>(dim[1]) * static_cast<size_t>(dim[2]) * static_cast<size_t>(dim[3]);
    if (fourD_) {
        infoBaseName_ = get_nifti_prefix(name, false, 3);
        inputVolumes_ = dim[4];
    } else {
        const std::string extension = CMyUtils::getFileExtension(name);
        seriesEnding_ = extension == "gz" ? ".nii.gz" : "." + extension;
        seriesPrefix_ = get_nifti_prefix(name, true, settings_.paddings);
        infoBaseName_ = seriesPrefix_;
    }
    return kGoOn;
}

RunStep DiffusionAcquisition::SettleOrientation() {
    const bool fromHeader = raw_.GetOrientationInfo(orientation_, &sliceOrder_);

    std::string orientationFile;
    if (settings_.iopPresent) {
        orientationFile = settings_.iopValues.empty() ? "" : settings_.iopValues[0];
        if (orientationFile.empty()) {
            return messages_.UsageError("\nMissing argument(s) for -iop or --image_orientation_patient.");
        }
    }
    std::string infoFile;
    if (settings_.infoPresent) {
        infoFile = settings_.infoName;
        if (infoFile.empty()) {
            return messages_.UsageError("\nMissing argument(s) for -info or --image_info.");
        }
    } else if (!fromHeader) {
        infoFile = infoBaseName_ + ".info";
        if (!CMyUtils::pathExist(infoFile)) {
            messages_.Notice("\nDid not find image info file '" + infoFile +
                             "'. Default info being used.\n");
            infoFile.clear();
        }
    }
    if (!infoFile.empty()) {
        if (!info_.Open(infoFile) || !info_.GetImageOrientation(orientation_)) {
            const std::string reason = info_.LastError().empty()
                                           ? "no usable image orientation in it"
                                           : info_.LastError();
            return messages_.Failure("\nCan not read image info from " + infoFile + ".", reason, infoFile);
        }
        sliceOrder_ = info_.GetSliceOrder();
    }

    static const float kSagittal[6] = {0, 1, 0, 0, 0, -1};
    static const float kCoronal[6] = {1, 0, 0, 0, 0, -1};
    static const float kAxial[6] = {1, 0, 0, 0, 1, 0};
    const float* fixed = settings_.sagittal  ? kSagittal
                         : settings_.coronal ? kCoronal
                         : settings_.axial   ? kAxial
                                             : nullptr;
    if (fixed != nullptr) {
        std::copy(fixed, fixed + 6, orientation_);
    }

    if (settings_.iopValues.size() > 5) {
        for (int i = 0; i < 6; ++i) {
            orientation_[i] =
                static_cast<float>(std::strtod(settings_.iopValues[i].c_str(), nullptr));
        }
    } else if (!orientationFile.empty() &&
               !ImageOrientation::LoadImageOrientation(orientationFile, orientation_)) {
        return messages_.Failure("\nCannot load image orientation matrix from " + orientationFile);
    }

    return CheckOrientation();
}

// The fit uses the orientation with both directions normalised, so that is what is checked: an
// orientation that only fails after normalising would otherwise surface as an unreadable table.
RunStep DiffusionAcquisition::CheckOrientation() const {
    DTIReconstructor normalising;
    normalising.SetImageOrientation(orientation_);
    float normalised[6];
    normalising.GetImageOrientation(normalised);
    double transform[3][3];
    const bool usable =
        ImageOrientation::GetImageOrientationTransformationMatrix(orientation_, transform,
                                                                  settings_.obliqueCorrection) &&
        ImageOrientation::GetImageOrientationTransformationMatrix(normalised, transform,
                                                                  settings_.obliqueCorrection);
    if (!usable) {
        char text[160];
        std::snprintf(text, sizeof text, "%g, %g, %g, %g, %g, %g", orientation_[0], orientation_[1],
                      orientation_[2], orientation_[3], orientation_[4], orientation_[5]);
        return messages_.Failure(std::string("\nImage orientation (") + text +
                       ") is degenerate: the row and column directions must be non-zero and not "
                       "parallel.");
    }
    return kGoOn;
}

int DiffusionAcquisition::CountSeriesVolumes() const {
    int count = 0;
    while (CMyUtils::pathExist(seriesPrefix_ +
                               format_series_number(settings_.startNumber + count,
                                                    settings_.paddings) +
                               seriesEnding_)) {
        ++count;
    }
    return count;
}

RunStep DiffusionAcquisition::LoadFslGradients() {
    const std::string& bvec = settings_.bvecFile;
    const std::string& bval = settings_.bvalFile;
    // The files follow the voxel axes, x negated for a positive determinant; a header without
    // any voxel-to-world matrix is taken as positive, as the converters that write them do.
    const int handedness = NiftiIO::VoxelToWorldHandedness(header_);
    if (handedness == 0) {
        messages_.Notice("\nNo voxel-to-world matrix in the header of " + settings_.rawDataName +
                         ": x of " + bvec + " is read as for a positive determinant (negated).\n");
    }
    GradientSchemeLoader::Failure failure;
    if (!GradientSchemeLoader::Load(settings_, inputScheme_, failure)) {
        return messages_.Failure(failure.message, failure.reason, "");
    }
    const int volumes = fourD_ ? inputVolumes_ : CountSeriesVolumes();
    if (static_cast<int>(inputScheme_.rows.size()) != volumes) {
        return messages_.Failure("\nThe gradient files " + bvec + " and " + bval + " list " +
                                 std::to_string(inputScheme_.rows.size()) +
                                 " volumes, but the raw data " + settings_.rawDataName + " has " +
                                 std::to_string(volumes) + ".");
    }
    if (const RunStep stop = SelectShells()) {
        return stop;
    }
    const EncodingScheme& scheme = inputScheme_;
    if (scheme.DirectionCount() < 6) {
        char threshold[32];
        std::snprintf(threshold, sizeof threshold, "%g", settings_.b0Threshold);
        return messages_.Failure("\nNeed at least 6 gradient directions to reconstruct DTI data.",
                                 bval + ": " + std::to_string(scheme.DirectionCount()) +
                                     " of the volumes fitted have b above " + threshold,
                                 "");
    }
    if (const RunStep stop = CheckDeterminacy(bvec)) {
        return stop;
    }
    const EncodingScheme fitted =
        handedness >= 0 ? GradientSchemeLoader::NegatedX(scheme) : scheme;
    if (!reconstructor_.SetEncodingScheme(fitted, settings_.obliqueCorrection)) {
        return messages_.Failure("\nCannot load gradient files " + bvec + " and " + bval,
                                 "the fit cannot be set up from these directions", "");
    }
    return kGoOn;
}

RunStep DiffusionAcquisition::LoadTableFile() {
    GradientSchemeLoader::Failure failure;
    if (!GradientSchemeLoader::Load(settings_, inputScheme_, failure)) {
        messages_.Failure(failure.detail);
        return messages_.Failure(failure.message);
    }
    if (const RunStep stop = SelectShells()) {
        return stop;
    }
    if (inputScheme_.DirectionCount() < 6) {
        return messages_.Failure("\nNeed at least 6 gradient directions to reconstruct DTI data.");
    }
    if (const RunStep stop = CheckDeterminacy(settings_.gradientTable)) {
        return stop;
    }
    if (!reconstructor_.SetEncodingScheme(inputScheme_, settings_.obliqueCorrection)) {
        return messages_.Failure("\nCannot load gradient matrix from " + settings_.gradientTable);
    }
    return kGoOn;
}

RunStep DiffusionAcquisition::CheckDeterminacy(const std::string& source) {
    const TensorDeterminacy determinacy = TensorDeterminacy::Of(inputScheme_);
    if (determinacy.Determines()) {
        return kGoOn;
    }
    directionsUndetermined_ = true;
    return messages_.Failure("\nThe gradient directions of " + source +
                                 " do not determine a tensor.",
                             determinacy.Describe(inputScheme_.DirectionCount()), "");
}

RunStep DiffusionAcquisition::SelectShells() {
    fullRows_ = inputScheme_.rows.size();
    volumeOfRow_.resize(fullRows_);
    std::iota(volumeOfRow_.begin(), volumeOfRow_.end(), size_t{0});
    const Shells shells(inputScheme_);
    const bool selecting = !settings_.shells.empty() || settings_.shellsUpTo >= 0.0;
    if (shells.WeightedCount() > 1 || selecting) {
        messages_.Notice("\nShells: " + shells.Describe() + "\n");
    }
    if (!selecting) {
        return kGoOn;
    }
    std::vector<double> requested = settings_.shells;
    if (settings_.shellsUpTo >= 0.0) {
        for (const Shells::Shell& shell : shells.All()) {
            if (static_cast<double>(shell.b) <= settings_.shellsUpTo) {
                requested.push_back(static_cast<double>(shell.b));
            }
        }
    }
    std::string reason;
    if (!shells.Select(requested, volumeOfRow_, reason)) {
        return messages_.UsageError("\n-shells: " + reason + ".");
    }
    std::string fitted;
    for (const Shells::Shell& shell : shells.All()) {
        const bool asked = std::any_of(requested.begin(), requested.end(),
                                       [&](double b) { return shells.Find(b) == &shell; });
        if (asked) {
            fitted += (fitted.empty() ? "" : ",") + std::to_string(shell.b);
        }
    }
    messages_.Notice("Shells fitted: " + fitted + "\n");
    EncodingScheme selected;
    selected.frame = inputScheme_.frame;
    for (const size_t row : volumeOfRow_) {
        const GradientVec& g = inputScheme_.rows[row];
        selected.rows.push_back(g);
        selected.b0Count += EncodingScheme::IsDiffusionWeighted(g) ? 0 : 1;
    }
    inputScheme_ = std::move(selected);
    return kGoOn;
}

RunStep DiffusionAcquisition::LoadGradientTable() {
    reconstructor_.SetImageOrientation(orientation_);
    reconstructor_.SetFitMethod(settings_.fitMethod, settings_.fitExtraRounds);
    const RunStep loaded = settings_.bvecFile.empty() ? LoadTableFile() : LoadFslGradients();
    if (loaded) {
        return loaded;
    }
    if (reconstructor_.GetNumberOfB0() < 1) {
        return messages_.Failure("\nCan not detect number of b0 for this data.");
    }
    rows_ = static_cast<size_t>(reconstructor_.GetNumberOfB0() +
                                reconstructor_.GetNumberOfDirections());
    char text[256];
    std::snprintf(text, sizeof text,
                  "\nVolume dimension: %d %d %d\nVoxel size: %.3f %.3f %.3f\nNumber of b0's: "
                  "%d\nNumber of gradient directions: %d\n",
                  header_.dim[1], header_.dim[2], header_.dim[3], header_.pixdim[1],
                  header_.pixdim[2], header_.pixdim[3], reconstructor_.GetNumberOfB0(),
                  reconstructor_.GetNumberOfDirections());
    messages_.Notice(text);
    return kGoOn;
}

// Reads acquisition number `acquisition` (a 4D volume index, or the offset in the series) into
// a volume of all voxels.
RunStep DiffusionAcquisition::ReadVolume(int acquisition, short* volume) {
    if (fourD_) {
        if (acquisition >= inputVolumes_) {
            return messages_.Failure("\nCan not read file " + settings_.rawDataName,
                           "it holds " + std::to_string(inputVolumes_) + " volumes; volume " +
                               std::to_string(acquisition + 1) + " is needed",
                           settings_.rawDataName);
        }
        if (!raw_.ReadCollapsedAsShort(volume, voxels_, -1, -1, -1, acquisition, -1, -1, -1)) {
            return messages_.Failure("\nCan not read file " + settings_.rawDataName, raw_.LastError(),
                           settings_.rawDataName);
        }
        return kGoOn;
    }
    const std::string name =
        seriesPrefix_ +
        format_series_number(acquisition + settings_.startNumber, settings_.paddings) +
        seriesEnding_;
    nifti_1_header fileHeader{};
    int dims[3] = {0, 0, 0};
    std::string reason;
    if (!NiftiIO::ReadHeader(name, fileHeader, dims, nullptr, &reason)) {
        return messages_.Failure("\nCan not read file " + name, reason, name);
    }
    // Every file of a series must have the first file's size, or it would not fit the volume.
    if (dims[0] != header_.dim[1] || dims[1] != header_.dim[2] || dims[2] != header_.dim[3]) {
        char text[200];
        std::snprintf(text, sizeof text, "its size %d x %d x %d is not the first file's %d x %d x %d",
                      dims[0], dims[1], dims[2], header_.dim[1], header_.dim[2], header_.dim[3]);
        return messages_.Failure("\nCan not read file " + name, text, name);
    }
    if (!NiftiIO::ReadAsShort(name, volume, voxels_, 0, 0, false, &reason)) {
        return messages_.Failure("\nCan not read file " + name, reason, name);
    }
    return kGoOn;
}

size_t DiffusionAcquisition::VoxelsInSlab(size_t s) const {
    return std::min(slabVoxels_, voxels_ - s * slabVoxels_);
}

short DiffusionAcquisition::Value(size_t row, size_t p) const {
    const size_t s = p / slabVoxels_;
    return Slab(s)[row * VoxelsInSlab(s) + p % slabVoxels_];
}

void DiffusionAcquisition::ReleaseSlabsBefore(size_t voxel) {
    // Slabs lie in voxel order, so the slabs below voxel are the buffer's first bytes; whole
    // pages of them go back to the system (they are never read again). Whole huge pages, as the
    // buffer has them: giving back part of one would split it, and every read of the rest of it
    // would then take small-page steps.
    const size_t done = std::min(voxel, voxels_) / slabVoxels_ * slabVoxels_ * rows_;
    const size_t page = DefaultInitAllocator<short>::kHugePage;
    char* const base = reinterpret_cast<char*>(slabs_.data());
    // Whole pages only: the offsets count from the page boundary at or before the buffer.
    const std::size_t misalign = reinterpret_cast<std::uintptr_t>(base) % page;
    const std::size_t from = (misalign + releasedBytes_ + page - 1) / page * page;
    const std::size_t to = (misalign + done * sizeof(short)) / page * page;
    if (slabs_.empty() || to <= from) {
        return;
    }
    madvise(base + (from - misalign), to - from, MADV_DONTNEED);
    releasedBytes_ = to - misalign;
}

RunStep DiffusionAcquisition::ReadRawVolumes() {
    messages_.Notice("\nReading raw data...     ");

    const int nex = settings_.nex > 0 ? settings_.nex
                    : fourD_          ? std::max(1, inputVolumes_ / static_cast<int>(fullRows_))
                                      : 1;
    slabVoxels_ = std::max<size_t>(1, static_cast<size_t>(std::max<short>(header_.dim[1], 0)) *
                                          static_cast<size_t>(std::max<short>(header_.dim[2], 0)));
    // Two volumes: while one is copied into the slabs (on a thread of its own when the run has
    // more than one), the next is read into the other.
    UninitializedVector<short> volumes[2];
    UninitializedVector<short> repetition;
    std::vector<int> sum;
    try {
        slabs_.resize(voxels_ * rows_);
        releasedBytes_ = 0;
        for (UninitializedVector<short>& volume : volumes) {
            volume.resize(voxels_);
        }
        if (nex > 1) {
            repetition.resize(voxels_);
            sum.resize(voxels_);
        }
    } catch (const std::bad_alloc&) {
        slabs_ = UninitializedVector<short>();
        return messages_.Failure("\nNot enough memory for the raw volumes (" +
                                 std::to_string(rows_) + " volumes of " +
                                 std::to_string(voxels_) + " voxels).");
    }
    if (fourD_ && !raw_.Open(settings_.rawDataName, nullptr, NiftiIO::kRead)) {
        return messages_.Failure("\nCan not read file " + settings_.rawDataName, raw_.LastError(),
                                 settings_.rawDataName);
    }

    const auto scatter = [this](const short* volume, size_t row) {
        for (size_t s = 0; s < Slabs(); ++s) {
            std::copy_n(volume + s * slabVoxels_, VoxelsInSlab(s),
                        slabs_.data() + s * slabVoxels_ * rows_ + row * VoxelsInSlab(s));
        }
    };
    std::future<void> copying;  // waits for the copy in its destructor, also on an early return
    messages_.Progress(100.0 / static_cast<double>(rows_));
    for (size_t i = 0; i < rows_; ++i) {
        short* volume = volumes[i % 2].data();
        if (nex == 1) {
            if (const RunStep stop = ReadVolume(static_cast<int>(volumeOfRow_[i]), volume)) {
                return stop;
            }
        } else {
            std::fill(sum.begin(), sum.end(), 0);
            for (int r = 0; r < nex; ++r) {
                if (const RunStep stop = ReadVolume(static_cast<int>(volumeOfRow_[i]) +
                                                        r * static_cast<int>(fullRows_),
                                                    repetition.data())) {
                    return stop;
                }
                for (size_t p = 0; p < voxels_; ++p) {
                    sum[p] += repetition[p];
                }
            }
            for (size_t p = 0; p < voxels_; ++p) {
                volume[p] = static_cast<short>(sum[p] / nex);
            }
        }
        if (copying.valid()) {
            copying.wait();
        }
        if (settings_.threads > 1) {
            copying = std::async(std::launch::async, scatter, volume, i);
        } else {
            scatter(volume, i);
        }
        messages_.Progress(static_cast<double>(i + 1) / static_cast<double>(rows_) * 100.0);
    }
    if (copying.valid()) {
        copying.wait();
    }
    return kGoOn;
}
