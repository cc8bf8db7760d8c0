#include "DTIReconstructor.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <fstream>

#include "CMyMath.h"
#include "CMyUtils.h"
#include "ImageOrientation.h"

namespace {

constexpr double kZeroLength = 1e-8;

double length(double x, double y, double z) {
    return std::sqrt(x * x + y * y + z * z);
}

}  // namespace

DTIReconstructor::DTIReconstructor()
    : orientation_{{1, 0, 0}, {0, 1, 0}, {0, 0, 1}} {}

void DTIReconstructor::SetImageOrientation(const float* orientation) {
    for (int r = 0; r < 2; ++r) {
        double v[3] = {orientation[3 * r], orientation[3 * r + 1], orientation[3 * r + 2]};
        const double norm = length(v[0], v[1], v[2]);
        for (int a = 0; a < 3; ++a) {
            orientation_[r][a] = norm != 0.0 ? v[a] / norm : v[a];
        }
    }
    const double(&u)[3] = orientation_[0];
    const double(&w)[3] = orientation_[1];
    orientation_[2][0] = u[1] * w[2] - u[2] * w[1];
    orientation_[2][1] = u[2] * w[0] - u[0] * w[2];
    orientation_[2][2] = u[0] * w[1] - u[1] * w[0];
}

bool DTIReconstructor::LoadImageOrientationMatrix(const std::string& fileName) {
    float orientation[6] = {0, 0, 0, 0, 0, 0};
    if (!ImageOrientation::LoadImageOrientation(fileName, orientation)) {
        return false;
    }
    SetImageOrientation(orientation);
    return true;
}

void DTIReconstructor::GetImageOrientation(float* orientation) const {
    for (int a = 0; a < 3; ++a) {
        orientation[a] = static_cast<float>(orientation_[0][a]);
        orientation[a + 3] = static_cast<float>(orientation_[1][a]);
    }
}

// The gradient loader's messages, as the program prints them on standard error.
std::string DTIReconstructor::TableFailureText(const GradientTableFile::Failure& failure,
                                               const std::string& tableName) {
    using Problem = GradientTableFile::Problem;
    const std::string where = tableName.empty() ? "row " : tableName + " line ";
    switch (failure.problem) {
        case Problem::kCannotOpen:
            return "Can not open " + tableName;
        case Problem::kLineTooLong:
        case Problem::kBadRow:
            return "\nGradient table " + where + std::to_string(failure.line) + ": " +
                   failure.reason + ".";
        case Problem::kTooFewDirections:
            return "\nNeed at least 6 gradient directions to reconstruct DTI data.";
        case Problem::kNone:
            break;
    }
    return "";
}

bool DTIReconstructor::LoadGradientMatrix(const std::vector<std::string>& rows, int requestedB0,
                                          double bValue, bool tabledBValues,
                                          std::vector<GradientVec>& gradients, int& b0Count,
                                          std::string* failureText) {
    std::vector<int> numbers;
    for (size_t i = 0; i < rows.size(); ++i) {
        numbers.push_back(static_cast<int>(i) + 1);
    }
    EncodingScheme scheme;
    GradientTableFile::Failure failure;
    if (!GradientTableFile::ParseRows(rows, numbers, requestedB0, bValue, tabledBValues, scheme,
                                      failure)) {
        if (failureText != nullptr) {
            *failureText = TableFailureText(failure, "");
        }
        return false;
    }
    gradients = std::move(scheme.rows);
    b0Count = scheme.b0Count;
    return true;
}

bool DTIReconstructor::LoadGradientMatrix(const std::string& fileName, int requestedB0,
                                          double bValue, bool tabledBValues,
                                          bool obliqueCorrection) {
    double transform[3][3];
    if (!DirectionTransform(obliqueCorrection, transform)) {
        lastFailure_ =
            "\nThe image orientation is degenerate (zero-length or parallel row and column "
            "vectors); gradient directions cannot be turned into the image frame.";
        return false;
    }
    EncodingScheme scheme;
    GradientTableFile::Failure failure;
    if (!GradientTableFile::Read(fileName, requestedB0, bValue, tabledBValues, scheme, failure)) {
        lastFailure_ = TableFailureText(failure, fileName);
        return false;
    }
    return SetEncodingScheme(scheme, obliqueCorrection);
}

bool DTIReconstructor::DirectionTransform(bool obliqueCorrection, double transform[3][3]) const {
    float orientation[6];
    GetImageOrientation(orientation);
    return ImageOrientation::GetImageOrientationTransformationMatrix(orientation, transform,
                                                                     obliqueCorrection);
}

bool DTIReconstructor::SetEncodingScheme(const EncodingScheme& scheme, bool obliqueCorrection) {
    double transform[3][3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
    const bool turned = scheme.frame == EncodingScheme::Frame::kScanner;
    if (turned && !DirectionTransform(obliqueCorrection, transform)) {
        return false;
    }
    gradients_ = scheme.rows;
    b0Count_ = scheme.b0Count;
    directionCount_ = scheme.DirectionCount();
    rowFlags_.assign(gradients_.size(), 0);
    for (size_t i = 0; i < gradients_.size(); ++i) {
        GradientVec& g = gradients_[i];
        if (!EncodingScheme::IsDiffusionWeighted(g)) {
            continue;
        }
        if (turned) {
            const double d[3] = {g.x, g.y, g.z};
            double t[3];
            for (int k = 0; k < 3; ++k) {
                t[k] = transform[k][0] * d[0] + transform[k][1] * d[1] + transform[k][2] * d[2];
            }
            g.x = t[0];
            g.y = t[1];
            g.z = t[2];
        }
        rowFlags_[i] = 1;
    }
    return InitializeWmatrix();
}

bool DTIReconstructor::InitializeWmatrix() {
    if (rowFlags_.empty() || directionCount_ < 6) {
        return false;
    }
    const int rows = directionCount_ + 1;
    std::vector<std::vector<double>> design(static_cast<size_t>(rows), std::vector<double>(7, 0.0));
    design[0][6] = 1.0;  // the averaged b0 measurement: -ln S0
    int r = 1;
    for (size_t i = 0; i < gradients_.size() && r < rows; ++i) {
        if (rowFlags_[i] != 1) {
            continue;
        }
        const GradientVec& g = gradients_[i];
        std::vector<double>& a = design[static_cast<size_t>(r++)];
        a[0] = g.b * g.x * g.x;
        a[1] = 2 * g.b * g.x * g.y;
        a[2] = 2 * g.b * g.x * g.z;
        a[3] = g.b * g.y * g.y;
        a[4] = 2 * g.b * g.y * g.z;
        a[5] = g.b * g.z * g.z;
        a[6] = 1.0;
    }
    std::vector<double> inverse(static_cast<size_t>(7 * rows), 0.0);
    std::vector<double*> inRows;
    std::vector<double*> outRows;
    inRows.reserve(design.size());
    outRows.reserve(7);
    for (auto& row : design) {
        inRows.push_back(row.data());
    }
    for (int j = 0; j < 7; ++j) {
        outRows.push_back(inverse.data() + static_cast<size_t>(j * rows));
    }
    CMyMath::PseudoInverse(outRows.data(), inRows.data(), rows, 7);
    std::vector<double> flat;
    flat.reserve(static_cast<size_t>(rows) * 7);
    for (const auto& row : design) {
        flat.insert(flat.end(), row.begin(), row.end());
    }
    weighted_.SetDesign(flat, b0Count_);
    // Kept column by column, so that one pass over a voxel's log signals feeds all six sums.
    fitMatrix_.assign(inverse.size(), 0.0);
    for (int j = 0; j < 7; ++j) {
        for (int c = 0; c < rows; ++c) {
            fitMatrix_[static_cast<size_t>(c * 7 + j)] = inverse[static_cast<size_t>(j * rows + c)];
        }
    }
    // Background voxels (every signal below 1) all fit to the zero tensor; its decomposition is
    // done once here and copied for each of them.
    float zero[3][3] = {{0, 0, 0}, {0, 0, 0}, {0, 0, 0}};
    CalculateMaps(zero, zeroEigenvalues_, zeroEigenvectors_, zeroFa_, zeroAdc_);
    logSignals_.assign(static_cast<size_t>(directionCount_ + b0Count_), 0.0);
    b0Rows_.clear();
    dwRows_.clear();
    for (size_t i = 0; i < rowFlags_.size(); ++i) {
        (rowFlags_[i] == 1 ? dwRows_ : b0Rows_).push_back(i);
    }
    // Signals are 16-bit, so every logarithm the fit needs is known in advance; the table holds
    // exactly the values std::log gives and saves one call per row and voxel.
    if (negativeLogs_.empty()) {
        negativeLogs_.resize(32768);
        negativeLogs_[0] = 0.0;
        for (size_t s = 1; s < negativeLogs_.size(); ++s) {
            negativeLogs_[s] = -std::log(static_cast<double>(s));
        }
    }
    return true;
}

void DTIReconstructor::SetFitMethod(WeightedFit::Method method, int extraRounds) {
    weighted_.SetMethod(method, extraRounds);
}

size_t DTIReconstructor::ScratchSize() const {
    return static_cast<size_t>(directionCount_) + 1;
}

void DTIReconstructor::Means(const short* signals, double& b0Mean, double& dwMean) const {
    double b0Sum = 0.0;
    for (const size_t row : b0Rows_) {
        b0Sum += signals[row];
    }
    double dwSum = 0.0;
    for (const size_t row : dwRows_) {
        dwSum += signals[row];
    }
    b0Mean = b0Count_ > 0 ? b0Sum / b0Count_ : 0.0;
    dwMean = dwSum / directionCount_;
}

bool DTIReconstructor::Reconstruct(const short* signals, float* tensor, float* eigenvalues,
                                   float eigenvectors[3][3], float& fa, short& b0, short& dwi,
                                   float& adc, float& exp) const {
    std::vector<double> scratch(weighted_.Rounds() > 0 ? ScratchSize() : 0);
    return Reconstruct(signals, tensor, eigenvalues, eigenvectors, fa, b0, dwi, adc, exp,
                       scratch.data());
}

bool DTIReconstructor::Reconstruct(const short* signals, float* tensor, float* eigenvalues,
                                   float eigenvectors[3][3], float& fa, short& b0, short& dwi,
                                   float& adc, float& exp, double* scratch) const {
    if (!FitTensor(signals, tensor, b0, dwi, exp, scratch)) {
        return false;
    }
    Decompose(tensor, eigenvalues, eigenvectors, fa, adc);
    return true;
}

void DTIReconstructor::Decompose(const float* tensor, float* eigenvalues, float eigenvectors[3][3],
                                 float& fa, float& adc) const {
    // Every voxel without signal fits to the zero tensor, whose decomposition is kept.
    if (std::all_of(tensor, tensor + 6, [](float t) { return t == 0.0f && !std::signbit(t); })) {
        std::copy(zeroEigenvalues_, zeroEigenvalues_ + 3, eigenvalues);
        std::copy(&zeroEigenvectors_[0][0], &zeroEigenvectors_[0][0] + 9, &eigenvectors[0][0]);
        fa = zeroFa_;
        adc = zeroAdc_;
        return;
    }
    // The decomposition works in place, so every call has its own copy: fits of different voxels
    // may run side by side.
    float work[3][3] = {{tensor[0], tensor[1], tensor[2]},
                        {tensor[1], tensor[3], tensor[4]},
                        {tensor[2], tensor[4], tensor[5]}};
    CalculateMaps(work, eigenvalues, eigenvectors, fa, adc);
}

bool DTIReconstructor::FitTensor(const short* signals, float* tensor, short& b0, short& dwi,
                                 float& exp, double* scratch) const {
    if (fitMatrix_.empty() || logSignals_.empty()) {
        return false;
    }
    // The observations are kept only when a weighted fit needs them again.
    double* observed = weighted_.Rounds() > 0 ? scratch : nullptr;
    double b0Mean = 0.0;
    double dwMean = 0.0;
    Means(signals, b0Mean, dwMean);
    b0 = static_cast<short>(b0Mean);
    dwi = static_cast<short>(dwMean);
    exp = static_cast<float>(b0 > 0 ? dwMean / b0Mean : dwMean);

    // Signals below 1 count as 1 (log 0), so background voxels fit to a zero tensor. The six
    // sums run side by side, each still adding its terms in column order.
    const double* w = fitMatrix_.data();
    const double first = b0Mean >= 1 ? -std::log(b0Mean) : 0.0;
    bool anySignal = b0Mean >= 1;
    double x[6];
    for (int j = 0; j < 6; ++j) {
        x[j] = 0.0 + w[j] * first;
    }
    size_t k = 0;
    if (observed != nullptr) {
        observed[k++] = first;
    }
    for (const size_t row : dwRows_) {
        w += 7;
        const short s = signals[row];
        if (s < 1) {
            for (int j = 0; j < 6; ++j) {
                x[j] += w[j] * 0.0;
            }
            if (observed != nullptr) {
                observed[k++] = 0.0;
            }
            continue;
        }
        anySignal = true;
        const double e = negativeLogs_[static_cast<size_t>(s)];
        for (int j = 0; j < 6; ++j) {
            x[j] += w[j] * e;
        }
        if (observed != nullptr) {
            observed[k++] = e;
        }
    }
    if (!anySignal) {
        std::fill(tensor, tensor + 6, 0.0f);
        return true;
    }
    if (observed != nullptr) {
        // The weighted rounds start from the ordinary fit; its seventh unknown, -ln S0, is the
        // one sum the tensor did not need.
        double ordinary[7];
        for (int j = 0; j < 6; ++j) {
            ordinary[j] = x[j];
        }
        ordinary[6] = 0.0;
        for (size_t r = 0; r < k; ++r) {
            ordinary[6] += fitMatrix_[r * 7 + 6] * observed[r];
        }
        if (weighted_.Refine(observed, ordinary)) {
            for (int j = 0; j < 6; ++j) {
                x[j] = ordinary[j];
            }
        }
    }
    for (int j = 0; j < 6; ++j) {
        tensor[j] = static_cast<float>(x[j]);
    }
    return true;
}

bool DTIReconstructor::CalculateMaps(float tensor[3][3], float* eigenvalues,
                                     float eigenvectors[3][3], float& fa, float& adc) {
    float* tensorRows[3] = {tensor[0], tensor[1], tensor[2]};
    float* vectorRows[3] = {eigenvectors[0], eigenvectors[1], eigenvectors[2]};
    CMyMath::MyJacobi(tensorRows, 3, eigenvalues, vectorRows);
    CMyMath::Eigsrt(eigenvalues, vectorRows, 3);
    const double mean = (static_cast<double>(eigenvalues[0]) + eigenvalues[1] + eigenvalues[2]) / 3;
    double ss = 0.0;
    double dev = 0.0;
    for (int i = 0; i < 3; ++i) {
        ss += static_cast<double>(eigenvalues[i] * eigenvalues[i]);
        dev += (eigenvalues[i] - mean) * (eigenvalues[i] - mean);
    }
    fa = static_cast<float>(ss > 0 ? std::sqrt(1.5 * dev / ss) : 0.0);
    adc = static_cast<float>(mean);
    return true;
}
