#include "DTIReconstructor.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <iostream>

#include "CMyMath.h"
#include "CMyUtils.h"
#include "ImageOrientation.h"

namespace {

constexpr double kZeroLength = 1e-8;
// Lines longer than this cannot be a gradient row.
constexpr size_t kMaxLineLength = 998;

double length(double x, double y, double z) {
    return std::sqrt(x * x + y * y + z * z);
}

// The first split position: ',' anywhere wins over ' ', which wins over tab, then ':'.
size_t findSeparator(const std::string& text) {
    for (const char separator : {',', ' ', '\t', ':'}) {
        const size_t position = text.find(separator);
        if (position != std::string::npos) {
            return position;
        }
    }
    return std::string::npos;
}

bool isFieldFiller(char c) {
    return std::isspace(static_cast<unsigned char>(c)) || c == ',' || c == ':';
}

// Reads the one number a field must hold. False for a field with no number, or with anything
// but separators after it (a field holding two numbers when separator kinds are mixed).
bool readField(const std::string& field, double& value) {
    const char* begin = field.c_str();
    char* end = nullptr;
    value = std::strtod(begin, &end);
    if (end == begin) {
        return false;
    }
    for (size_t i = static_cast<size_t>(end - begin); i < field.size(); ++i) {
        if (!isFieldFiller(field[i])) {
            return false;
        }
    }
    return true;
}

// White space around ',' and ':' belongs to the separator, so "1 : 2 : 3" reads like "1:2:3"
// instead of taking the blank as the separator and losing a number to each ':'.
std::string joinSeparators(const std::string& row) {
    std::string joined;
    for (size_t i = 0; i < row.size(); ++i) {
        const char c = row[i];
        if (std::isspace(static_cast<unsigned char>(c))) {
            size_t next = i;
            while (next < row.size() && std::isspace(static_cast<unsigned char>(row[next]))) {
                ++next;
            }
            const bool beforeSeparator =
                next < row.size() && (row[next] == ',' || row[next] == ':');
            const bool afterSeparator =
                !joined.empty() && (joined.back() == ',' || joined.back() == ':');
            if (beforeSeparator || afterSeparator) {
                i = next - 1;
                continue;
            }
        }
        joined.push_back(c);
    }
    return joined;
}

// Parses one row into g. On failure, reason says what is wrong.
bool parseRow(const std::string& row, double bValue, bool tabledBValues, GradientVec& g,
              std::string& reason) {
    double values[4] = {0.0, 0.0, 0.0, 0.0};
    bool haveB = false;
    std::string text = joinSeparators(row);
    CMyUtils::trimWhiteSpace(text);
    for (int j = 0; j <= 3; ++j) {
        const size_t split = findSeparator(text);
        std::string field;
        if (split != std::string::npos) {
            field = text.substr(0, split + 1);
            text = text.substr(split + 1);
            CMyUtils::trimWhiteSpace(text);
        } else {
            if (j < 2) {
                reason = "fewer than three numbers";
                return false;
            }
            field = text;
            text.clear();
        }
        if (j == 3 && !tabledBValues) {
            break;  // a fourth number is only used as the b value when tabled values are on
        }
        if (!readField(field, values[j])) {
            reason = field.find_first_not_of(" \t,:") == std::string::npos
                         ? "fewer than three numbers"
                         : "'" + field + "' is not one number";
            return false;
        }
        if (j == 3) {
            haveB = true;
        }
        if (split == std::string::npos || text.empty()) {
            if (j < 2) {
                reason = "fewer than three numbers";
                return false;
            }
            break;
        }
    }

    g.x = values[0];
    g.y = values[1];
    g.z = values[2];
    const double magnitude = length(g.x, g.y, g.z);
    if (haveB) {
        g.b = values[3];
    } else if (tabledBValues) {
        // "max b value scaled by the magnitude" of the direction as written.
        g.b = magnitude * bValue;
    } else {
        g.b = magnitude > kZeroLength ? bValue : 0.0;
    }
    if (magnitude > kZeroLength) {
        g.x /= magnitude;
        g.y /= magnitude;
        g.z /= magnitude;
    }
    return true;
}

}  // namespace

DTIReconstructor::DTIReconstructor()
    : orientation_{{1, 0, 0}, {0, 1, 0}, {0, 0, 1}}, tensorWork_{} {}

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

bool DTIReconstructor::IsDiffusionWeighted(const GradientVec& g) {
    return length(g.x, g.y, g.z) > kZeroLength && g.b > 0.0;
}

bool DTIReconstructor::LoadGradientMatrix(const std::vector<std::string>& rows, int requestedB0,
                                          double bValue, bool tabledBValues,
                                          std::vector<GradientVec>& gradients, int& b0Count) {
    std::vector<int> numbers;
    for (size_t i = 0; i < rows.size(); ++i) {
        numbers.push_back(static_cast<int>(i) + 1);
    }
    return LoadRows(rows, numbers, "", requestedB0, bValue, tabledBValues, gradients, b0Count);
}

bool DTIReconstructor::LoadRows(const std::vector<std::string>& rows,
                                const std::vector<int>& lineNumbers, const std::string& tableName,
                                int requestedB0, double bValue, bool tabledBValues,
                                std::vector<GradientVec>& gradients, int& b0Count) {
    std::vector<GradientVec> parsed;
    parsed.reserve(rows.size());
    int b0Rows = 0;
    for (size_t i = 0; i < rows.size(); ++i) {
        GradientVec g;
        std::string reason;
        if (!parseRow(rows[i], bValue, tabledBValues, g, reason)) {
            std::cerr << "\nGradient table " << (tableName.empty() ? "" : tableName + " ")
                      << (tableName.empty() ? "row " : "line ") << lineNumbers[i] << ": " << reason
                      << "." << std::endl;
            return false;
        }
        if (!IsDiffusionWeighted(g)) {
            ++b0Rows;
        }
        parsed.push_back(g);
    }
    if (static_cast<int>(parsed.size()) - b0Rows < 6) {
        std::cerr << "\nNeed at least 6 gradient directions to reconstruct DTI data." << std::endl;
        return false;
    }
    if (b0Rows == 0) {
        // Tables that list only directions leave the b0 volumes (acquired first) to -b0.
        const int inserted = requestedB0 > 0 ? requestedB0 : 0;
        parsed.insert(parsed.begin(), static_cast<size_t>(inserted), GradientVec{});
        b0Rows = inserted;
    }
    gradients = std::move(parsed);
    b0Count = b0Rows;
    return true;
}

bool DTIReconstructor::LoadGradientMatrix(const std::string& fileName, int requestedB0,
                                          double bValue, bool tabledBValues,
                                          bool obliqueCorrection) {
    float orientation[6];
    GetImageOrientation(orientation);
    double transform[3][3];
    if (!ImageOrientation::GetImageOrientationTransformationMatrix(orientation, transform,
                                                                   obliqueCorrection)) {
        std::cerr << "\nThe image orientation is degenerate (zero-length or parallel row and "
                     "column vectors); gradient directions cannot be turned into the image frame."
                  << std::endl;
        return false;
    }

    std::ifstream file(fileName, std::ios::binary);
    if (!file) {
        std::cerr << "Can not open " << fileName << std::endl;
        return false;
    }
    std::vector<std::string> rows;
    std::vector<int> lineNumbers;
    std::string line;
    for (int number = 1; std::getline(file, line); ++number) {
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        if (line.size() > kMaxLineLength) {
            std::cerr << "\nGradient table " << fileName << " line " << number << ": longer than "
                      << kMaxLineLength << " characters." << std::endl;
            return false;
        }
        CMyUtils::trimWhiteSpace(line);
        if (!line.empty() && (line.back() == ',' || line.back() == ':')) {
            line.pop_back();
        }
        if (line.empty() || line.find_first_of("#;") != std::string::npos) {
            continue;
        }
        rows.push_back(line);
        lineNumbers.push_back(number);
    }

    std::vector<GradientVec> gradients;
    int b0Count = 0;
    if (!LoadRows(rows, lineNumbers, fileName, requestedB0, bValue, tabledBValues, gradients,
                  b0Count)) {
        return false;
    }
    gradients_ = std::move(gradients);
    b0Count_ = b0Count;
    directionCount_ = static_cast<int>(gradients_.size()) - b0Count_;
    rowFlags_.assign(gradients_.size(), 0);
    for (size_t i = 0; i < gradients_.size(); ++i) {
        GradientVec& g = gradients_[i];
        if (!IsDiffusionWeighted(g)) {
            continue;
        }
        const double d[3] = {g.x, g.y, g.z};
        double turned[3];
        for (int k = 0; k < 3; ++k) {
            turned[k] = transform[k][0] * d[0] + transform[k][1] * d[1] + transform[k][2] * d[2];
        }
        g.x = turned[0];
        g.y = turned[1];
        g.z = turned[2];
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

bool DTIReconstructor::Reconstruct(const short* signals, float* tensor, float* eigenvalues,
                                   float eigenvectors[3][3], float& fa, short& b0, short& dwi,
                                   float& adc, float& exp) {
    if (fitMatrix_.empty() || logSignals_.empty()) {
        return false;
    }
    double b0Sum = 0.0;
    for (const size_t row : b0Rows_) {
        b0Sum += signals[row];
    }
    double dwSum = 0.0;
    for (const size_t row : dwRows_) {
        dwSum += signals[row];
    }
    const double b0Mean = b0Count_ > 0 ? b0Sum / b0Count_ : 0.0;
    const double dwMean = dwSum / directionCount_;
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
    for (const size_t row : dwRows_) {
        w += 7;
        const short s = signals[row];
        if (s < 1) {
            for (int j = 0; j < 6; ++j) {
                x[j] += w[j] * 0.0;
            }
            continue;
        }
        anySignal = true;
        const double e = negativeLogs_[static_cast<size_t>(s)];
        for (int j = 0; j < 6; ++j) {
            x[j] += w[j] * e;
        }
    }
    if (!anySignal) {
        std::fill(tensor, tensor + 6, 0.0f);
        std::copy(zeroEigenvalues_, zeroEigenvalues_ + 3, eigenvalues);
        std::copy(&zeroEigenvectors_[0][0], &zeroEigenvectors_[0][0] + 9, &eigenvectors[0][0]);
        fa = zeroFa_;
        adc = zeroAdc_;
        return true;
    }
    for (int j = 0; j < 6; ++j) {
        tensor[j] = static_cast<float>(x[j]);
    }
    tensorWork_[0][0] = tensor[0];
    tensorWork_[0][1] = tensor[1];
    tensorWork_[0][2] = tensor[2];
    tensorWork_[1][0] = tensor[1];
    tensorWork_[1][1] = tensor[3];
    tensorWork_[1][2] = tensor[4];
    tensorWork_[2][0] = tensor[2];
    tensorWork_[2][1] = tensor[4];
    tensorWork_[2][2] = tensor[5];
    return CalculateMaps(tensorWork_, eigenvalues, eigenvectors, fa, adc);
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
