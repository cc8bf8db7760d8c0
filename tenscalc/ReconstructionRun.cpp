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
#include "BackgroundWindow.h"
#include "FitMask.h"
#include "ExitStatus.h"
#include "FailureReason.h"
#include "GradientTableFile.h"
#include "ImageOrientation.h"
#include "OrderedChunks.h"
#include "ProgressDisplay.h"
#include "TenscalcCommandLine.h"
#include "TensorMetrics.h"

namespace {

int failure(const std::string& message) {
    std::cerr << message << std::endl;
    return kExitFailure;
}

int outOfMemory(const std::string& what) {
    return failure("\nNot enough memory for " + what + ".");
}

}  // namespace

ReconstructionRun::ReconstructionRun(const TenscalcSettings& settings)
    : settings_(settings),
      messages_(TenscalcCommandLine::kProgramName),
      acquisition_(settings, messages_) {}

RunStep ReconstructionRun::OpenRawData() {
    return acquisition_.OpenRawData();
}

RunStep ReconstructionRun::SettleOrientation() {
    return acquisition_.SettleOrientation();
}

RunStep ReconstructionRun::LoadGradientTable() {
    return acquisition_.LoadGradientTable();
}

RunStep ReconstructionRun::ReadFitMask() {
    if (settings_.maskFile.empty()) {
        return kGoOn;
    }
    std::string reason;
    if (!FitMask::Read(settings_.maskFile, acquisition_.Header(), settings_.rawDataName, fitMask_,
                       reason)) {
        return messages_.Failure("\nCan not use the mask " + settings_.maskFile, reason,
                                 settings_.maskFile);
    }
    return kGoOn;
}

RunStep ReconstructionRun::ReadRawVolumes() {
    start_ = std::time(nullptr);
    if (const RunStep stop = acquisition_.ReadRawVolumes()) {
        return stop;
    }
    // The maps are written with the raw data's header, changed for each map.
    header_ = acquisition_.Header();
    voxels_ = acquisition_.Voxels();
    rows_ = acquisition_.Rows();
    return kGoOn;
}

// Voxels [first, end), in blocks whose signals are first gathered voxel by voxel, so that the
// raw volumes are read sequentially. block holds kBlock voxels of all rows.
void ReconstructionRun::FitRange(size_t first, size_t end, WorkerScratch& scratch) {
    short* block = scratch.block.data();
    const size_t slabVoxels = acquisition_.SlabVoxels();
    for (size_t start = first; start < end; start += kBlock) {
        const size_t count = std::min(kBlock, end - start);
        // A block may begin in one slab and end in the next.
        for (size_t j0 = 0; j0 < count;) {
            const size_t p = start + j0;
            const size_t s = p / slabVoxels;
            const size_t offset = p % slabVoxels;
            const size_t stride = acquisition_.VoxelsInSlab(s);
            const size_t inSlab = std::min(count - j0, stride - offset);
            const short* slab = acquisition_.Slab(s);
            for (size_t i = 0; i < rows_; ++i) {
                const short* source = slab + i * stride + offset;
                for (size_t j = 0; j < inSlab; ++j) {
                    block[(j0 + j) * rows_ + i] = source[j];
                }
            }
            j0 += inSlab;
        }
        for (size_t j = 0; j < count; ++j) {
            FitVoxel(start + j, block + j * rows_, scratch.logs.data());
        }
    }
}

void ReconstructionRun::FitVoxel(size_t p, const short* signals, double* logs) {
    float* tensor = fitted_.data() + 6 * p;
    const DTIReconstructor& fit = acquisition_.Reconstructor();
    if (!fitMask_.empty() && fitMask_[p] == 0) {
        // Outside the mask nothing is fitted. The means still enter the background window, so
        // that the maps inside the mask are those of a run without it; MaskBackground then
        // clears them too.
        double b0Mean = 0.0;
        double dwMean = 0.0;
        fit.Means(signals, b0Mean, dwMean);
        maps_.b0[p] = static_cast<short>(b0Mean);
        maps_.dwi[p] = static_cast<short>(dwMean);
        maps_.exp[p] = 0.0f;
        std::fill(tensor, tensor + 6, 0.0f);
        return;
    }
    fit.FitTensor(signals, tensor, maps_.b0[p], maps_.dwi[p], maps_.exp[p], logs);
}

void ReconstructionRun::DecomposeRange(size_t first, size_t end, const int* channel) {
    const size_t v = voxels_;
    const DTIReconstructor& fit = acquisition_.Reconstructor();
    // The fit gives (xx, xy, xz, yy, yz, zz); the file holds (xx, xy, yy, xz, yz, zz).
    static const int kFilePlane[6] = {0, 1, 3, 2, 4, 5};
    for (size_t p = first; p < end; ++p) {
        const float* tensor = fitted_.data() + 6 * p;
        for (int j = 0; j < 6; ++j) {
            maps_.tensor[static_cast<size_t>(kFilePlane[j]) * v + p] = tensor[j];
        }
        if (!fitMask_.empty() && fitMask_[p] == 0) {
            maps_.fa[p] = maps_.adc[p] = 0.0f;
            for (int k = 0; k < 3; ++k) {
                maps_.eigenvalues[k][p] = 0.0f;
                for (int c = 0; c < 3; ++c) {
                    maps_.eigenvectors[k][static_cast<size_t>(c) * v + p] = 0.0f;
                }
                maps_.color[3 * p + static_cast<size_t>(k)] = 0;
            }
            continue;
        }
        float eigenvalues[3];
        float eigenvectors[3][3];
        fit.Decompose(tensor, eigenvalues, eigenvectors, maps_.fa[p], maps_.adc[p]);
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
}

RunStep ReconstructionRun::FitVoxels() {
    std::printf("\nReconstructing...     ");
    std::fflush(stdout);
    const size_t v = voxels_;
    constexpr size_t kChunk = 16 * kBlock;
    const size_t chunks = (v + kChunk - 1) / kChunk;
    // Scratch for the threads that have work: a small image fits on few, whatever was asked.
    const int threads = OrderedChunks::Workers(settings_.threads, chunks);
    std::vector<WorkerScratch> scratch(static_cast<size_t>(threads));
    try {
        maps_.b0.resize(v);
        maps_.dwi.resize(v);
        maps_.exp.resize(v);
        fitted_.resize(6 * v);
        for (WorkerScratch& worker : scratch) {
            worker.block.resize(kBlock * rows_);
            worker.logs.resize(acquisition_.Reconstructor().ScratchSize());
        }
    } catch (const std::bad_alloc&) {
        return outOfMemory("the output maps (" + std::to_string(v) + " voxels)");
    }

    // First the tensors, while the raw data is held: only four places fill at a time (the
    // tensors, b0, DWI and EXP), and each slab of raw data is given back once its voxels are
    // fitted. The maps of the tensors come after, when the raw data is gone, so that the peak
    // memory stays near the raw data's.
    // Chunks of voxels are fitted side by side; the progress is shown in voxel order as chunks
    // finish, as one thread shows it.
    const size_t sliceSize =
        static_cast<size_t>(header_.dim[1]) * static_cast<size_t>(header_.dim[2]);
    OrderedChunks::Run(
        threads, chunks, 4 * static_cast<size_t>(threads),
        [&](size_t chunk, int worker) {
            FitRange(chunk * kChunk, std::min(v, (chunk + 1) * kChunk),
                     scratch[static_cast<size_t>(worker)]);
        },
        [&](size_t chunk) {
            // Every chunk up to this one is fitted: the slabs wholly below its end are done.
            acquisition_.ReleaseSlabsBefore(std::min(v, (chunk + 1) * kChunk));
            for (size_t p = chunk * kChunk; p < std::min(v, (chunk + 1) * kChunk); ++p) {
                if ((sliceSize > 0 && p % sliceSize == 0) || p + 1 == v) {
                    ProgressDisplay::Show(static_cast<double>(p + 1) / static_cast<double>(v) *
                                          100.0);
                }
            }
            return true;
        });
    acquisition_.ReleaseRawVolumes();
    scratch = std::vector<WorkerScratch>();
    return DecomposeTensors();
}

RunStep ReconstructionRun::DecomposeTensors() {
    const size_t v = voxels_;
    try {
        maps_.fa.resize(v);
        maps_.adc.resize(v);
        maps_.color.resize(3 * v);
        maps_.tensor.resize(6 * v);
        for (int k = 0; k < 3; ++k) {
            maps_.eigenvalues[k].resize(v);
            maps_.eigenvectors[k].resize(3 * v);
        }
    } catch (const std::bad_alloc&) {
        return outOfMemory("the output maps (" + std::to_string(v) + " voxels)");
    }
    // The colour channels follow the image plane: coronal and sagittal slices show the
    // through-plane component in the blue channel.
    int channel[3] = {0, 1, 2};
    switch (std::abs(ImageOrientation::GetOrientationType(acquisition_.Orientation()))) {
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
    constexpr size_t kChunk = 16 * kBlock;
    const size_t chunks = (v + kChunk - 1) / kChunk;
    OrderedChunks::Run(
        settings_.threads, chunks, 4 * static_cast<size_t>(settings_.threads),
        [&](size_t chunk, int) {
            DecomposeRange(chunk * kChunk, std::min(v, (chunk + 1) * kChunk), channel);
        },
        [](size_t) { return true; });
    fitted_ = UninitializedVector<float>();
    return kGoOn;
}

RunStep ReconstructionRun::MaskBackground() {
    const size_t v = voxels_;
    double lower = 0.0;
    double upper = 0.0;
    BackgroundWindow::Find(maps_.b0.data(), v, settings_.b0ThresholdValues, settings_.b0Lower,
                           settings_.b0Upper, &lower, &upper);
    std::cout << "\nb0 threshold used to mask background: " << lower << " " << upper << std::endl;
    foreground_.assign(v, 1);
    size_t negative = 0;
    for (size_t p = 0; p < v; ++p) {
        const double b0 = maps_.b0[p];
        const bool outsideMask = !fitMask_.empty() && fitMask_[p] == 0;
        if (b0 < lower || b0 > upper || outsideMask) {
            foreground_[p] = 0;
            maps_.fa[p] = 0.0f;
            maps_.adc[p] = 0.0f;
            maps_.exp[p] = 0.0f;
            maps_.color[3 * p] = maps_.color[3 * p + 1] = maps_.color[3 * p + 2] = 0;
        } else if (maps_.eigenvalues[2][p] < 0.0f) {
            ++negative;
        }
        if (outsideMask) {
            maps_.b0[p] = 0;
            maps_.dwi[p] = 0;
        }
    }
    if (!settings_.metrics.empty()) {
        std::printf("Voxels with a negative eigenvalue: %zu\n", negative);
    }
    return kGoOn;
}

// The rows the fit used, turned back into the gradient table's frame (the inverse of the
// orientation transform that -gm applies), so that '-gm FILE 1' repeats the fit.
void ReconstructionRun::WriteMetrics() {
    const size_t v = voxels_;
    static const int kFilePlane[6] = {0, 1, 3, 2, 4, 5};  // fit order -> tensor file plane
    for (const std::string& name : settings_.metrics) {
        TensorMetrics::Metric metric = TensorMetrics::Metric::kAxial;
        TensorMetrics::Named(name, metric);
        const char* intentName = "";
        for (const TensorMetrics::Description& description : TensorMetrics::All()) {
            if (description.metric == metric) {
                intentName = description.intentName;
            }
        }
        UninitializedVector<float> map(v);
        for (size_t p = 0; p < v; ++p) {
            if (foreground_[p] == 0) {
                map[p] = 0.0f;
                continue;
            }
            const float eigenvalues[3] = {maps_.eigenvalues[0][p], maps_.eigenvalues[1][p],
                                          maps_.eigenvalues[2][p]};
            float tensor[6];
            for (int j = 0; j < 6; ++j) {
                tensor[j] = maps_.tensor[static_cast<size_t>(kFilePlane[j]) * v + p];
            }
            map[p] = static_cast<float>(TensorMetrics::Value(metric, eigenvalues, tensor));
        }
        WriteMap(name, DT_FLOAT32, 3, 0, 0, NIFTI_INTENT_ESTIMATE, intentName, map.data(),
                 v * sizeof(float));
    }
}

void ReconstructionRun::WriteGradientExport() {
    const std::string& name = settings_.exportGradientFile;
    if (name.empty()) {
        return;
    }
    double transform[3][3];
    double inverse[3][3];
    if (!acquisition_.Reconstructor().DirectionTransform(settings_.obliqueCorrection, transform) ||
        !CMyMath::InvertMatrix(inverse, transform)) {
        std::cerr << "Can not write file " << name << "\n  the orientation cannot be inverted"
                  << std::endl;
        writeFailed_ = true;
        return;
    }
    std::vector<GradientVec> rows = acquisition_.Reconstructor().GetGradients();
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
    WriteMetrics();
    if (settings_.analyzeOutput) {
        const std::string& prefix = settings_.outputPrefix;
        const std::string name = prefix.substr(0, prefix.size() - 1) + ".info";
        acquisition_.Info().UpdateImageOrientation(acquisition_.Orientation());
        acquisition_.Info().UpdateSliceOrder(acquisition_.SliceOrder());
        std::string reason;
        if (!acquisition_.Info().WriteToFile(name, &reason)) {
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
