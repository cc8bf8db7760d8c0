#include "ReconstructionRun.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <new>

#include "CMyMath.h"
#include "CMyUtils.h"
#include "FailureReason.h"
#include "FslGradientFiles.h"
#include "GradientTableFile.h"
#include "ExitStatus.h"
#include "ImageOrientation.h"
#include "NiftiFileNames.h"
#include "OrderedChunks.h"
#include "ProgressDisplay.h"
#include "TenscalcCommandLine.h"

namespace {

int failure(const std::string& message) {
    std::cerr << message << std::endl;
    return kExitFailure;
}

// The message, then why (the reason names subject or another file).
int failure(const std::string& message, const std::string& reason, const std::string& subject) {
    std::cerr << message << '\n' << FailureReason::Line(reason, subject) << std::flush;
    return kExitFailure;
}

int outOfMemory(const std::string& what) {
    return failure("\nNot enough memory for " + what + ".");
}

}  // namespace

ReconstructionRun::ReconstructionRun(const TenscalcSettings& settings) : settings_(settings) {}

int ReconstructionRun::UsageError(const std::string& message) const {
    std::cerr << message << std::endl;
    TenscalcCommandLine::ShowHint();
    return kExitUsage;
}

RunStep ReconstructionRun::OpenRawData() {
    const std::string& name = settings_.rawDataName;
    if (!raw_.Open(name, &header_, NiftiIO::kRead)) {
        return failure("\nCan not load image data from " + name, raw_.LastError(), name);
    }
    const short* dim = header_.dim;
    // One volume read selects a single index of every dimension after the fourth, so a fifth
    // dimension with more than one index cannot be read volume by volume.
    if (dim[0] > 4 && dim[5] > 1) {
        return failure("\nCan not load image data from " + name,
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

RunStep ReconstructionRun::SettleOrientation() {
    const bool fromHeader = raw_.GetOrientationInfo(orientation_, &sliceOrder_);

    std::string orientationFile;
    if (settings_.iopPresent) {
        orientationFile = settings_.iopValues.empty() ? "" : settings_.iopValues[0];
        if (orientationFile.empty()) {
            return UsageError("\nMissing argument(s) for -iop or --image_orientation_patient.");
        }
    }
    std::string infoFile;
    if (settings_.infoPresent) {
        infoFile = settings_.infoName;
        if (infoFile.empty()) {
            return UsageError("\nMissing argument(s) for -info or --image_info.");
        }
    } else if (!fromHeader) {
        infoFile = infoBaseName_ + ".info";
        if (!CMyUtils::pathExist(infoFile)) {
            std::printf("\nDid not find image info file '%s'. Default info being used.\n",
                        infoFile.c_str());
            infoFile.clear();
        }
    }
    if (!infoFile.empty()) {
        if (!info_.Open(infoFile) || !info_.GetImageOrientation(orientation_)) {
            const std::string reason = info_.LastError().empty()
                                           ? "no usable image orientation in it"
                                           : info_.LastError();
            return failure("\nCan not read image info from " + infoFile + ".", reason, infoFile);
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
        return failure("\nCannot load image orientation matrix from " + orientationFile);
    }

    return CheckOrientation();
}

// The fit uses the orientation with both directions normalised, so that is what is checked: an
// orientation that only fails after normalising would otherwise surface as an unreadable table.
RunStep ReconstructionRun::CheckOrientation() const {
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
        return failure(std::string("\nImage orientation (") + text +
                       ") is degenerate: the row and column directions must be non-zero and not "
                       "parallel.");
    }
    return kGoOn;
}

int ReconstructionRun::CountSeriesVolumes() const {
    int count = 0;
    while (CMyUtils::pathExist(seriesPrefix_ +
                               format_series_number(settings_.startNumber + count,
                                                    settings_.paddings) +
                               seriesEnding_)) {
        ++count;
    }
    return count;
}

RunStep ReconstructionRun::LoadFslGradients() {
    const std::string& bvec = settings_.bvecFile;
    const std::string& bval = settings_.bvalFile;
    // The files follow the voxel axes, x negated for a positive determinant; a header without
    // any voxel-to-world matrix is taken as positive, as the converters that write them do.
    const int handedness = NiftiIO::VoxelToWorldHandedness(header_);
    if (handedness == 0) {
        std::printf("\nNo voxel-to-world matrix in the header of %s: x of %s is read as for a "
                    "positive determinant (negated).\n",
                    settings_.rawDataName.c_str(), bvec.c_str());
    }
    EncodingScheme scheme;
    std::string reason;
    if (!FslGradientFiles::Read(bvec, bval, handedness >= 0, scheme, reason)) {
        return failure("\nCannot load gradient files " + bvec + " and " + bval, reason, "");
    }
    const int volumes = fourD_ ? inputVolumes_ : CountSeriesVolumes();
    if (static_cast<int>(scheme.rows.size()) != volumes) {
        return failure("\nThe gradient files " + bvec + " and " + bval + " list " +
                       std::to_string(scheme.rows.size()) + " volumes, but the raw data " +
                       settings_.rawDataName + " has " + std::to_string(volumes) + ".");
    }
    if (scheme.DirectionCount() < 6) {
        return failure("\nNeed at least 6 gradient directions to reconstruct DTI data.");
    }
    if (!reconstructor_.SetEncodingScheme(scheme, settings_.obliqueCorrection)) {
        return failure("\nCannot load gradient files " + bvec + " and " + bval,
                       "the fit cannot be set up from these directions", "");
    }
    return kGoOn;
}

RunStep ReconstructionRun::LoadGradientTable() {
    reconstructor_.SetImageOrientation(orientation_);
    reconstructor_.SetFitMethod(settings_.fitMethod, settings_.fitExtraRounds);
    if (!settings_.bvecFile.empty()) {
        if (const RunStep stop = LoadFslGradients()) {
            return stop;
        }
    } else if (!reconstructor_.LoadGradientMatrix(settings_.gradientTable, settings_.requestedB0,
                                                  settings_.bValue, settings_.tabledBValues,
                                                  settings_.obliqueCorrection)) {
        return failure("\nCannot load gradient matrix from " + settings_.gradientTable);
    }
    if (reconstructor_.GetNumberOfB0() < 1) {
        return failure("\nCan not detect number of b0 for this data.");
    }
    rows_ = static_cast<size_t>(reconstructor_.GetNumberOfB0() +
                                reconstructor_.GetNumberOfDirections());
    std::printf(
        "\nVolume dimension: %d %d %d\nVoxel size: %.3f %.3f %.3f\nNumber of b0's: %d\nNumber of "
        "gradient directions: %d\n",
        header_.dim[1], header_.dim[2], header_.dim[3], header_.pixdim[1], header_.pixdim[2],
        header_.pixdim[3], reconstructor_.GetNumberOfB0(), reconstructor_.GetNumberOfDirections());
    return kGoOn;
}

// Reads acquisition number `acquisition` (a 4D volume index, or the offset in the series) into
// a volume of all voxels.
RunStep ReconstructionRun::ReadVolume(int acquisition, short* volume) {
    if (fourD_) {
        if (acquisition >= inputVolumes_) {
            return failure("\nCan not read file " + settings_.rawDataName,
                           "it holds " + std::to_string(inputVolumes_) + " volumes; volume " +
                               std::to_string(acquisition + 1) + " is needed",
                           settings_.rawDataName);
        }
        if (!raw_.ReadCollapsedAsShort(volume, voxels_, -1, -1, -1, acquisition, -1, -1, -1)) {
            return failure("\nCan not read file " + settings_.rawDataName, raw_.LastError(),
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
        return failure("\nCan not read file " + name, reason, name);
    }
    // Every file of a series must have the first file's size, or it would not fit the volume.
    if (dims[0] != header_.dim[1] || dims[1] != header_.dim[2] || dims[2] != header_.dim[3]) {
        char text[200];
        std::snprintf(text, sizeof text, "its size %d x %d x %d is not the first file's %d x %d x %d",
                      dims[0], dims[1], dims[2], header_.dim[1], header_.dim[2], header_.dim[3]);
        return failure("\nCan not read file " + name, text, name);
    }
    if (!NiftiIO::ReadAsShort(name, volume, voxels_, 0, 0, false, &reason)) {
        return failure("\nCan not read file " + name, reason, name);
    }
    return kGoOn;
}

RunStep ReconstructionRun::ReadRawVolumes() {
    start_ = std::time(nullptr);
    std::printf("\nReading raw data...     ");
    std::fflush(stdout);

    const int nex = settings_.nex > 0 ? settings_.nex
                    : fourD_          ? std::max(1, inputVolumes_ / static_cast<int>(rows_))
                                      : 1;
    UninitializedVector<short> repetition;
    std::vector<int> sum;
    try {
        rawVolumes_.resize(voxels_ * rows_);
        if (nex > 1) {
            repetition.resize(voxels_);
            sum.resize(voxels_);
        }
    } catch (const std::bad_alloc&) {
        return outOfMemory("the raw volumes (" + std::to_string(rows_) + " volumes of " +
                           std::to_string(voxels_) + " voxels)");
    }
    if (fourD_ && !raw_.Open(settings_.rawDataName, nullptr, NiftiIO::kRead)) {
        return failure("\nCan not read file " + settings_.rawDataName, raw_.LastError(),
                       settings_.rawDataName);
    }

    ProgressDisplay::Show(100.0 / static_cast<double>(rows_));
    for (size_t i = 0; i < rows_; ++i) {
        short* volume = rawVolumes_.data() + i * voxels_;
        if (nex == 1) {
            if (const RunStep stop = ReadVolume(static_cast<int>(i), volume)) {
                return stop;
            }
        } else {
            std::fill(sum.begin(), sum.end(), 0);
            for (int r = 0; r < nex; ++r) {
                if (const RunStep stop = ReadVolume(
                        static_cast<int>(i) + r * static_cast<int>(rows_), repetition.data())) {
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
        ProgressDisplay::Show(static_cast<double>(i + 1) / static_cast<double>(rows_) * 100.0);
    }
    return kGoOn;
}

// Voxels [first, end), in blocks whose signals are first gathered voxel by voxel, so that the
// raw volumes are read sequentially. block holds kBlock voxels of all rows.
void ReconstructionRun::FitRange(size_t first, size_t end, WorkerScratch& scratch,
                                 const int* channel) {
    short* block = scratch.block.data();
    const size_t v = voxels_;
    for (size_t start = first; start < end; start += kBlock) {
        const size_t count = std::min(kBlock, end - start);
        for (size_t i = 0; i < rows_; ++i) {
            const short* source = rawVolumes_.data() + i * v + start;
            for (size_t j = 0; j < count; ++j) {
                block[j * rows_ + i] = source[j];
            }
        }
        for (size_t j = 0; j < count; ++j) {
            FitVoxel(start + j, block + j * rows_, scratch.logs.data(), channel);
        }
    }
}

void ReconstructionRun::FitVoxel(size_t p, const short* signals, double* logs,
                                 const int* channel) {
    const size_t v = voxels_;
    float tensor[6];
    float eigenvalues[3];
    float eigenvectors[3][3];
    reconstructor_.Reconstruct(signals, tensor, eigenvalues, eigenvectors, maps_.fa[p], maps_.b0[p],
                               maps_.dwi[p], maps_.adc[p], maps_.exp[p], logs);
    // The fit gives (xx, xy, xz, yy, yz, zz); the file holds (xx, xy, yy, xz, yz, zz).
    static const int kFilePlane[6] = {0, 1, 3, 2, 4, 5};
    for (int j = 0; j < 6; ++j) {
        maps_.tensor[static_cast<size_t>(kFilePlane[j]) * v + p] = tensor[j];
    }
    for (int k = 0; k < 3; ++k) {
        maps_.eigenvalues[k][p] = eigenvalues[k];
        for (int c = 0; c < 3; ++c) {
            maps_.eigenvectors[k][static_cast<size_t>(c) * v + p] = eigenvectors[c][k];
        }
    }
    const double scaled = static_cast<double>(maps_.fa[p] * 255.0f);
    for (int c = 0; c < 3; ++c) {
        const double value = scaled * std::fabs(eigenvectors[channel[c]][0]);
        // Compared as a double first so that NaN or huge values never reach an int.
        unsigned char byte = 0;
        if (value >= 255.0) {
            byte = 255;
        } else if (value >= 1.0) {
            byte = static_cast<unsigned char>(static_cast<int>(value));
        }
        maps_.color[3 * p + static_cast<size_t>(c)] = byte;
    }
}

RunStep ReconstructionRun::FitVoxels() {
    std::printf("\nReconstructing...     ");
    std::fflush(stdout);
    const size_t v = voxels_;
    const int threads = settings_.threads;
    std::vector<WorkerScratch> scratch(static_cast<size_t>(threads));
    try {
        maps_.b0.resize(v);
        maps_.dwi.resize(v);
        maps_.fa.resize(v);
        maps_.adc.resize(v);
        maps_.exp.resize(v);
        maps_.color.resize(3 * v);
        maps_.tensor.resize(6 * v);
        for (int k = 0; k < 3; ++k) {
            maps_.eigenvalues[k].resize(v);
            maps_.eigenvectors[k].resize(3 * v);
        }
        for (WorkerScratch& worker : scratch) {
            worker.block.resize(kBlock * rows_);
            worker.logs.resize(reconstructor_.ScratchSize());
        }
    } catch (const std::bad_alloc&) {
        return outOfMemory("the output maps (" + std::to_string(v) + " voxels)");
    }

    // The colour channels follow the image plane: coronal and sagittal slices show the
    // through-plane component in the blue channel.
    int channel[3] = {0, 1, 2};
    switch (std::abs(ImageOrientation::GetOrientationType(orientation_))) {
        case 2:
            channel[1] = 2;
            channel[2] = 1;
            break;
        case 3:
            channel[0] = 2;
            channel[1] = 0;
            channel[2] = 1;
            break;
        default:
            break;
    }

    // Chunks of voxels are fitted side by side; each voxel's maps have their own places, and the
    // progress is shown in voxel order as chunks finish, as one thread shows it.
    const size_t sliceSize =
        static_cast<size_t>(header_.dim[1]) * static_cast<size_t>(header_.dim[2]);
    constexpr size_t kChunk = 16 * kBlock;
    const size_t chunks = (v + kChunk - 1) / kChunk;
    OrderedChunks::Run(
        threads, chunks, 4 * static_cast<size_t>(threads),
        [&](size_t chunk, int worker) {
            FitRange(chunk * kChunk, std::min(v, (chunk + 1) * kChunk),
                     scratch[static_cast<size_t>(worker)], channel);
        },
        [&](size_t chunk) {
            for (size_t p = chunk * kChunk; p < std::min(v, (chunk + 1) * kChunk); ++p) {
                if ((sliceSize > 0 && p % sliceSize == 0) || p + 1 == v) {
                    ProgressDisplay::Show(static_cast<double>(p + 1) / static_cast<double>(v) *
                                          100.0);
                }
            }
            return true;
        });
    rawVolumes_ = UninitializedVector<short>();
    return kGoOn;
}

void ReconstructionRun::BackgroundWindow(const short* b0, size_t v, const TenscalcSettings& settings,
                                         double* lower, double* upper) {
    double range[2] = {0.0, 0.0};
    const double automatic = CMyMath::GetAutoThreshold(b0, static_cast<int64_t>(v), 50, range);
    double sum = 0.0;
    for (size_t p = 0; p < v; ++p) {
        sum += b0[p];
    }
    const double mean = sum / static_cast<double>(v);
    *lower = std::min(mean, 0.9 * automatic);
    *upper = range[1];
    if (settings.b0ThresholdValues >= 1) {
        *lower = settings.b0Lower;
    }
    if (settings.b0ThresholdValues >= 2) {
        *upper = settings.b0Upper;
    }
}

RunStep ReconstructionRun::MaskBackground() {
    const size_t v = voxels_;
    double lower = 0.0;
    double upper = 0.0;
    BackgroundWindow(maps_.b0.data(), v, settings_, &lower, &upper);
    std::cout << "\nb0 threshold used to mask background: " << lower << " " << upper << std::endl;
    for (size_t p = 0; p < v; ++p) {
        const double b0 = maps_.b0[p];
        if (b0 < lower || b0 > upper) {
            maps_.fa[p] = 0.0f;
            maps_.adc[p] = 0.0f;
            maps_.exp[p] = 0.0f;
            maps_.color[3 * p] = maps_.color[3 * p + 1] = maps_.color[3 * p + 2] = 0;
        }
    }
    return kGoOn;
}

// The rows the fit used, turned back into the gradient table's frame (the inverse of the
// orientation transform that -gm applies), so that '-gm FILE 1' repeats the fit.
void ReconstructionRun::WriteGradientExport() {
    const std::string& name = settings_.exportGradientFile;
    if (name.empty()) {
        return;
    }
    double transform[3][3];
    double inverse[3][3];
    if (!reconstructor_.DirectionTransform(settings_.obliqueCorrection, transform) ||
        !CMyMath::InvertMatrix(inverse, transform)) {
        std::cerr << "Can not write file " << name << "\n  the orientation cannot be inverted"
                  << std::endl;
        writeFailed_ = true;
        return;
    }
    std::vector<GradientVec> rows = reconstructor_.GetGradients();
    for (GradientVec& g : rows) {
        const double d[3] = {g.x, g.y, g.z};
        g.x = inverse[0][0] * d[0] + inverse[0][1] * d[1] + inverse[0][2] * d[2];
        g.y = inverse[1][0] * d[0] + inverse[1][1] * d[1] + inverse[1][2] * d[2];
        g.z = inverse[2][0] * d[0] + inverse[2][1] * d[1] + inverse[2][2] * d[2];
    }
    const std::string comment =
        "Gradient table of the fit of " + settings_.rawDataName +
        ": x y z b per volume, b0 rows 0 0 0 0.\nRead it with '-gm <file> 1' and the same "
        "orientation options" + (settings_.obliqueCorrection ? " (with -oc)." : ".");
    std::string reason;
    if (!GradientTableFile::Write(name, rows, comment, reason)) {
        std::cerr << "Can not write file " << name << '\n'
                  << FailureReason::Line(reason, name) << std::flush;
        writeFailed_ = true;
    }
}

bool ReconstructionRun::WriteMap(const std::string& suffix, short datatype, int dims0, int dims4,
                                 int dims5, int intentCode, const char* intentName,
                                 const void* data, size_t bytes) {
    header_.datatype = datatype;
    header_.dim[0] = static_cast<short>(dims0);
    if (dims4 > 0) {
        header_.dim[4] = static_cast<short>(dims4);
    }
    if (dims5 > 0) {
        header_.dim[5] = static_cast<short>(dims5);
    }
    header_.intent_code = static_cast<short>(intentCode);
    std::memset(header_.intent_name, 0, sizeof header_.intent_name);
    std::strncpy(header_.intent_name, intentName, sizeof header_.intent_name - 1);
    const std::string name = settings_.outputPrefix + suffix + settings_.outputEnding;
    std::string reason;
    if (!NiftiIO::WriteData(name, header_, data, bytes, &reason)) {
        std::printf("\nCan not write file %s\n", name.c_str());
        std::fflush(stdout);
        std::fputs(FailureReason::Line(reason, name).c_str(), stderr);
        writeFailed_ = true;
        return false;
    }
    return true;
}

RunStep ReconstructionRun::WriteOutputs() {
    std::printf("\nWriting output...");
    std::fflush(stdout);
    if (!settings_.outputMagic.empty()) {
        std::memset(header_.magic, 0, sizeof header_.magic);
        std::memcpy(header_.magic, settings_.outputMagic.c_str(), settings_.outputMagic.size());
    }
    const size_t v = voxels_;
    const size_t shortBytes = v * sizeof(short);
    const size_t floatBytes = v * sizeof(float);
    WriteMap("b0", DT_INT16, 3, 0, 0, NIFTI_INTENT_ESTIMATE, "b0", maps_.b0.data(), shortBytes);
    WriteMap("dwi", DT_INT16, 3, 0, 0, NIFTI_INTENT_ESTIMATE, "DWI", maps_.dwi.data(), shortBytes);
    // b0 and DWI hold stored raw values and keep the raw scaling; every other map holds computed
    // values, which a viewer must show as they are.
    const bool rawScaling = (header_.scl_slope != 0.0f && header_.scl_slope != 1.0f) ||
                            header_.scl_inter != 0.0f;
    if (rawScaling) {
        header_.scl_slope = 0.0f;
        header_.scl_inter = 0.0f;
    }
    WriteMap("fa", DT_FLOAT32, 3, 0, 0, NIFTI_INTENT_ESTIMATE, "FA", maps_.fa.data(), floatBytes);
    WriteMap("adc", DT_FLOAT32, 3, 0, 0, NIFTI_INTENT_ESTIMATE, "ADC", maps_.adc.data(),
             floatBytes);
    WriteMap("fa_color", DT_RGB24, 3, 0, 0, NIFTI_INTENT_ESTIMATE, "Color FA", maps_.color.data(),
             3 * v);
    if (settings_.writeExp) {
        WriteMap("exp", DT_FLOAT32, 3, 0, 0, NIFTI_INTENT_ESTIMATE, "EXP", maps_.exp.data(),
                 floatBytes);
    }
    if (settings_.writeTensor) {
        header_.intent_p1 = 3;
        if (settings_.output5d) {
            WriteMap("tensor", DT_FLOAT32, 5, 1, 6, NIFTI_INTENT_SYMMATRIX, "Tensor",
                     maps_.tensor.data(), 6 * floatBytes);
        } else {
            WriteMap("tensor", DT_FLOAT32, 4, 6, 0, NIFTI_INTENT_SYMMATRIX, "Tensor",
                     maps_.tensor.data(), 6 * floatBytes);
        }
    }
    if (settings_.writeEigen) {
        static const char* const kValueSuffix[3] = {"e1", "e2", "e3"};
        static const char* const kVectorSuffix[3] = {"v1", "v2", "v3"};
        for (int k = 0; k < 3; ++k) {
            WriteMap(kValueSuffix[k], DT_FLOAT32, 3, 0, 0, NIFTI_INTENT_ESTIMATE, "Eigen value",
                     maps_.eigenvalues[k].data(), floatBytes);
        }
        for (int k = 0; k < 3; ++k) {
            if (settings_.output5d) {
                WriteMap(kVectorSuffix[k], DT_FLOAT32, 5, 1, 3, NIFTI_INTENT_VECTOR, "Eigen vector",
                         maps_.eigenvectors[k].data(), 3 * floatBytes);
            } else {
                WriteMap(kVectorSuffix[k], DT_FLOAT32, 4, 3, 0, NIFTI_INTENT_VECTOR, "Eigen vector",
                         maps_.eigenvectors[k].data(), 3 * floatBytes);
            }
        }
    }
    if (settings_.analyzeOutput) {
        const std::string& prefix = settings_.outputPrefix;
        const std::string name = prefix.substr(0, prefix.size() - 1) + ".info";
        info_.UpdateImageOrientation(orientation_);
        info_.UpdateSliceOrder(sliceOrder_);
        std::string reason;
        if (!info_.WriteToFile(name, &reason)) {
            std::cerr << "Can not write file " << name << '\n'
                      << FailureReason::Line(reason, name) << std::flush;
            writeFailed_ = true;
        }
    }
    maps_ = Maps();
    WriteGradientExport();
    if (writeFailed_) {
        return kExitFailure;
    }
    const long elapsed = static_cast<long>(std::difftime(std::time(nullptr), start_));
    std::printf("Done.\nReconstruction completed successfully.\n");
    std::printf("Time taken: %02ld:%02ld:%02ld\n", elapsed / 3600, (elapsed / 60) % 60,
                elapsed % 60);
    return kGoOn;
}
