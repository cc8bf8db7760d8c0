#include "ImageOrientation.h"

#include <cmath>
#include <cstdlib>
#include <fstream>

#include "CMyMath.h"
#include "CMyUtils.h"

namespace {

struct ReferencePlane {
    int type;
    vector3D a;
    vector3D b;
};

// Checked in this order; with equal distances the earlier candidate wins.
constexpr ReferencePlane kReferencePlanes[3] = {
    {1, {1, 0, 0}, {0, 1, 0}},
    {2, {1, 0, 0}, {0, 0, -1}},
    {3, {0, 1, 0}, {0, 0, -1}},
};

constexpr double kAxes[6][3] = {{1, 0, 0},  {0, 1, 0},  {0, 0, 1},
                                {-1, 0, 0}, {0, -1, 0}, {0, 0, -1}};

// The first reachable-distance bar: anything at or above it is "no plane".
constexpr double kNoMatchDistance = 99999.0;

// Components at or below this never contribute a letter.
constexpr double kLetterThreshold = 0.0001;

// Lines longer than this end the reading of an orientation file.
constexpr size_t kMaxLineLength = 998;

vector3D toVector(const float* v) {
    return {static_cast<double>(v[0]), static_cast<double>(v[1]), static_cast<double>(v[2])};
}

bool isNormalisable(const vector3D& v) {
    const double length = std::sqrt(v.x * v.x + v.y * v.y + v.z * v.z);
    return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z) &&
           std::isfinite(length) && length > 0.0;
}

void snapToAxis(double row[3]) {
    int best = 0;
    double bestDot = 0.0;
    for (int k = 0; k < 6; ++k) {
        const double dot = row[0] * kAxes[k][0] + row[1] * kAxes[k][1] + row[2] * kAxes[k][2];
        if (dot > bestDot) {
            bestDot = dot;
            best = k;
        }
    }
    for (int i = 0; i < 3; ++i) {
        row[i] = kAxes[best][i];
    }
}

}  // namespace

const char* const ImageOrientation::OrientationTypeStrings[13] = {
    "Not Applicable",
    "Axial",
    "Coronal",
    "Sagital",
    "Heart Axial",
    "Heart Coronal",
    "Heart Sagital",
    "Axial invert",
    "Coronal invert",
    "Sagital invert",
    "Heart Axial invert",
    "Heart Coronal invert",
    "Heart Sagital invert",
};

vector3D ImageOrientation::ProductVectorial(const vector3D& a, const vector3D& b) {
    return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}

double ImageOrientation::CalculLikelyhood2Vec(const vector3D& a, const vector3D& b,
                                              const vector3D& c, const vector3D& d) {
    const vector3D n1 = ProductVectorial(a, b);
    const vector3D n2 = ProductVectorial(c, d);
    const double dx = n1.x - n2.x;
    const double dy = n1.y - n2.y;
    const double dz = n1.z - n2.z;
    return std::sqrt(dx * dx + dy * dy + dz * dz);
}

std::pair<double, double> ImageOrientation::VerfCriterion(int type, double distance,
                                                          const std::pair<double, double>& best) {
    if (distance < best.second) {
        return {static_cast<double>(type), distance};
    }
    return best;
}

int ImageOrientation::GetOrientationType(const float* orientation6) {
    const vector3D r = toVector(orientation6);
    const vector3D c = toVector(orientation6 + 3);
    std::pair<double, double> best(0.0, kNoMatchDistance);
    for (const ReferencePlane& plane : kReferencePlanes) {
        best = VerfCriterion(plane.type, CalculLikelyhood2Vec(r, c, plane.a, plane.b), best);
        best = VerfCriterion(-plane.type, CalculLikelyhood2Vec(r, c, plane.b, plane.a), best);
    }
    return static_cast<int>(best.first);
}

std::string ImageOrientation::GetOrientationTypeString(int type) {
    if (type < -6 || type > 6) {
        return OrientationTypeStrings[0];
    }
    return OrientationTypeStrings[type >= 0 ? type : 6 - type];
}

std::string ImageOrientation::GetOrientationTypeString(const float* orientation6) {
    return GetOrientationTypeString(GetOrientationType(orientation6));
}

std::string ImageOrientation::GetSingleOrientation(const float* vector3) {
    const bool negX = vector3[0] < 0;
    const bool negY = vector3[1] < 0;
    const bool negZ = vector3[2] < 0;
    double ax = std::fabs(static_cast<double>(vector3[0]));
    double ay = std::fabs(static_cast<double>(vector3[1]));
    double az = std::fabs(static_cast<double>(vector3[2]));
    std::string letters;
    for (int i = 0; i < 3; ++i) {
        if (ax > kLetterThreshold && ax > ay && ax > az) {
            letters += negX ? 'R' : 'L';
            ax = 0;
        } else if (ay > kLetterThreshold && ay > ax && ay > az) {
            letters += negY ? 'A' : 'P';
            ay = 0;
        } else if (az > kLetterThreshold && az > ax && az > ay) {
            letters += negZ ? 'I' : 'S';
            az = 0;
        } else {
            break;
        }
    }
    return letters;
}

std::string ImageOrientation::GetOrientationString(const float* orientation6) {
    return GetSingleOrientation(orientation6) + '\\' + GetSingleOrientation(orientation6 + 3);
}

std::string ImageOrientation::GetOrientationStringShort(const float* orientation6) {
    const std::string row = GetSingleOrientation(orientation6);
    const std::string column = GetSingleOrientation(orientation6 + 3);
    std::string result(2, '\0');
    if (!row.empty()) {
        result[0] = row[0];
    }
    if (!column.empty()) {
        result[1] = column[0];
    }
    return result;
}

std::string ImageOrientation::GetVoxelOrder(const float* orientation6, int sliceOrder) {
    std::string order = GetOrientationStringShort(orientation6);
    const int type = GetOrientationType(orientation6);
    const int p = sliceOrder * type;
    switch (std::abs(type)) {
        case 2:
            order += p > 0 ? 'P' : 'A';
            break;
        case 3:
            order += p > 0 ? 'R' : 'L';
            break;
        default:
            order += p > 0 ? 'S' : 'I';
            break;
    }
    return order;
}

int ImageOrientation::GetSliceOrder(const float* orientation6, const std::string& voxelOrder) {
    const int type = GetOrientationType(orientation6);
    const int s = type > 0 ? 1 : -1;
    char expected = 'S';
    if (std::abs(type) == 2) {
        expected = 'P';
    } else if (std::abs(type) == 3) {
        expected = 'R';
    }
    const bool matches = voxelOrder.size() >= 3 && voxelOrder[2] == expected;
    return matches ? s : -s;
}

bool ImageOrientation::GetImageOrientationTransformationMatrix(const float* orientation6,
                                                               double m[3][3],
                                                               bool obliqueCorrection) {
    const vector3D r = toVector(orientation6);
    const vector3D c = toVector(orientation6 + 3);
    // Infinite or NaN components, or a direction without a finite non-zero length, describe no
    // orientation at all; the snapping below would otherwise turn them into a plausible one.
    if (!isNormalisable(r) || !isNormalisable(c)) {
        for (int i = 0; i < 3; ++i) {
            for (int j = 0; j < 3; ++j) {
                m[i][j] = i == j ? 1.0 : 0.0;
            }
        }
        return false;
    }
    const vector3D n = ProductVectorial(r, c);
    double rows[3][3] = {{r.x, r.y, r.z}, {c.x, c.y, c.z}, {n.x, n.y, n.z}};
    if (!obliqueCorrection) {
        for (double* row : rows) {
            snapToAxis(row);
        }
    }
    double transposed[3][3];
    for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 3; ++j) {
            transposed[i][j] = rows[j][i];
        }
    }
    double inverse[3][3];
    const bool inverted = CMyMath::InvertMatrix(inverse, transposed);
    if (!inverted) {
        // Same content an in-place inversion leaves behind when it fails.
        for (int i = 0; i < 3; ++i) {
            for (int j = 0; j < 3; ++j) {
                inverse[i][j] = transposed[i][j];
            }
        }
    }
    // Right-multiplying by diag(1, -1, -1) only negates the last two columns.
    for (int i = 0; i < 3; ++i) {
        m[i][0] = inverse[i][0];
        m[i][1] = -inverse[i][1];
        m[i][2] = -inverse[i][2];
    }
    return inverted;
}

bool ImageOrientation::LoadImageOrientation(const std::string& fileName, float* orientation6) {
    std::ifstream file(fileName);
    if (!file) {
        return false;
    }
    int stored = 0;
    std::string line;
    while (std::getline(file, line)) {
        if (line.size() > kMaxLineLength) {
            break;
        }
        CMyUtils::trimWhiteSpace(line);
        if (line.empty() || line.find_first_of("#;") != std::string::npos) {
            continue;
        }
        // A comma line always gets a closing comma so its last number is cut like the others;
        // a line without commas is split at blanks and tabs and keeps its last piece below.
        if (line.find(',') != std::string::npos && line.back() != ',') {
            line += ',';
        }
        std::string rest = line;
        while (true) {
            size_t pos = rest.find(',');
            if (pos == std::string::npos) {
                pos = rest.find_first_of(" \t");
            }
            if (pos == std::string::npos) {
                break;
            }
            orientation6[stored++] =
                static_cast<float>(std::strtod(rest.substr(0, pos).c_str(), nullptr));
            if (stored == 6) {
                return true;
            }
            rest = rest.substr(pos + 1);
            CMyUtils::trimWhiteSpace(rest);
        }
        if (!rest.empty()) {
            orientation6[stored++] = static_cast<float>(std::strtod(rest.c_str(), nullptr));
            if (stored == 6) {
                return true;
            }
        }
    }
    return false;
}
