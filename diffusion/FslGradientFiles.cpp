#include "FslGradientFiles.h"

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <vector>

namespace {

// The numbers of one non-empty line, with its number in the file.
struct NumberRow {
    int line = 0;
    std::vector<double> values;
};

// Reads every non-empty line of a file of white-space separated finite numbers.
bool readNumbers(const std::string& fileName, std::vector<NumberRow>& rows, std::string& reason) {
    std::ifstream file(fileName, std::ios::binary);
    if (!file) {
        reason = fileName + ": cannot open: " + std::strerror(errno);
        return false;
    }
    std::string text;
    for (int number = 1; std::getline(file, text); ++number) {
        std::istringstream words(text);
        std::string word;
        NumberRow row;
        row.line = number;
        while (words >> word) {
            const char* begin = word.c_str();
            char* end = nullptr;
            const double value = std::strtod(begin, &end);
            if (end == begin || *end != '\0') {
                reason = fileName + " line " + std::to_string(number) + ": '" + word +
                         "' is not a number";
                return false;
            }
            if (!std::isfinite(value)) {
                reason = fileName + " line " + std::to_string(number) + ": '" + word +
                         "' is not a finite number";
                return false;
            }
            row.values.push_back(value);
        }
        if (!row.values.empty()) {
            rows.push_back(std::move(row));
        }
    }
    if (rows.empty()) {
        reason = fileName + ": no numbers in the file";
        return false;
    }
    return true;
}

// The first row whose length differs from the first row's, described; empty when all agree.
std::string raggedRow(const std::string& fileName, const std::vector<NumberRow>& rows) {
    for (const NumberRow& row : rows) {
        if (row.values.size() != rows.front().values.size()) {
            return fileName + " line " + std::to_string(row.line) + ": " +
                   std::to_string(row.values.size()) + " numbers where line " +
                   std::to_string(rows.front().line) + " has " +
                   std::to_string(rows.front().values.size());
        }
    }
    return "";
}

// Directions, volume by volume: three rows of N (the usual layout, also taken for 3 x 3), or N
// rows of three.
bool readDirections(const std::string& fileName, std::vector<GradientVec>& directions,
                    std::string& reason) {
    std::vector<NumberRow> rows;
    if (!readNumbers(fileName, rows, reason)) {
        return false;
    }
    const std::string ragged = raggedRow(fileName, rows);
    if (rows.size() == 3 && ragged.empty()) {
        directions.resize(rows.front().values.size());
        for (size_t v = 0; v < directions.size(); ++v) {
            directions[v] = {rows[0].values[v], rows[1].values[v], rows[2].values[v], 0.0};
        }
        return true;
    }
    if (rows.front().values.size() == 3 && ragged.empty()) {
        for (const NumberRow& row : rows) {
            directions.push_back({row.values[0], row.values[1], row.values[2], 0.0});
        }
        return true;
    }
    reason = !ragged.empty() ? ragged
                             : fileName + ": " + std::to_string(rows.size()) + " lines of " +
                                   std::to_string(rows.front().values.size()) +
                                   " numbers; expected three lines (x, y, z) of one number per "
                                   "volume, or one line of three numbers per volume";
    return false;
}

// b values, volume by volume: one row of N, or N rows of one.
bool readBValues(const std::string& fileName, std::vector<double>& bValues,
                 std::string& reason) {
    std::vector<NumberRow> rows;
    if (!readNumbers(fileName, rows, reason)) {
        return false;
    }
    if (rows.size() == 1) {
        bValues = rows.front().values;
        return true;
    }
    for (const NumberRow& row : rows) {
        if (row.values.size() != 1) {
            reason = fileName + " line " + std::to_string(row.line) + ": " +
                     std::to_string(row.values.size()) +
                     " numbers; expected one line of one number per volume, or one number a line";
            return false;
        }
        bValues.push_back(row.values.front());
    }
    return true;
}

}  // namespace

bool FslGradientFiles::Read(const std::string& bvecFile, const std::string& bvalFile, bool flipX,
                            EncodingScheme& scheme, std::string& reason) {
    std::vector<GradientVec> directions;
    std::vector<double> bValues;
    if (!readDirections(bvecFile, directions, reason) ||
        !readBValues(bvalFile, bValues, reason)) {
        return false;
    }
    if (directions.size() != bValues.size()) {
        reason = bvecFile + " lists " + std::to_string(directions.size()) + " directions but " +
                 bvalFile + " lists " + std::to_string(bValues.size()) + " b values";
        return false;
    }
    EncodingScheme read;
    read.frame = EncodingScheme::Frame::kVoxel;
    for (size_t v = 0; v < directions.size(); ++v) {
        const double b = bValues[v];
        if (b <= kB0Threshold) {
            read.rows.push_back(GradientVec{});
            ++read.b0Count;
            continue;
        }
        GradientVec g = directions[v];
        const double length = std::sqrt(g.x * g.x + g.y * g.y + g.z * g.z);
        // Converters write unit vectors; anything far from that is a broken file, not a
        // direction to normalise silently.
        if (!(length >= 0.5 && length <= 1.5)) {
            char text[64];
            std::snprintf(text, sizeof text, "%g", length);
            reason = bvecFile + ": volume " + std::to_string(v + 1) + " (b = " +
                     std::to_string(static_cast<long>(std::lround(b))) +
                     ") has a direction of length " + text + ", not about 1";
            return false;
        }
        g.x = (flipX ? -g.x : g.x) / length;
        g.y /= length;
        g.z /= length;
        g.b = b;
        read.rows.push_back(g);
    }
    scheme = std::move(read);
    return true;
}
