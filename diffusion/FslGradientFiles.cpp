#include "FslGradientFiles.h"

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <vector>

#include "TextLines.h"

namespace {

// A .bvec line holds one number per volume: a megabyte is some 60,000 volumes.
constexpr std::size_t kMaxLineLength = std::size_t{1} << 20;

// A word as a message can carry it: control bytes (a NUL would end the message) as \xNN.
std::string shown(const std::string& word) {
    std::string text;
    for (const char c : word) {
        if (std::iscntrl(static_cast<unsigned char>(c))) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\x%02X", static_cast<unsigned char>(c));
            text += escape;
        } else {
            text += c;
        }
    }
    return text;
}

// The numbers of one non-empty line, with its number in the file and the words as written.
struct NumberRow {
    int line = 0;
    std::vector<double> values;
    std::vector<std::string> words;
};

// Reads every non-empty line of a file of white-space separated numbers. Non-finite numbers
// (nan, inf) are refused unless allowed: a .bvec holds them where a direction has no meaning.
bool readNumbers(const std::string& fileName, bool allowNonFinite, std::vector<NumberRow>& rows,
                 std::string& reason) {
    std::vector<std::string> lines;
    TextLines::Problem problem = TextLines::Problem::kNone;
    int at = 0;
    if (!TextLines::Read(fileName, kMaxLineLength, lines, problem, at, reason)) {
        reason = fileName + (at > 0 ? " line " + std::to_string(at) : std::string()) + ": " +
                 reason;
        return false;
    }
    int number = 0;
    for (const std::string& text : lines) {
        ++number;
        std::istringstream words(text);
        std::string word;
        NumberRow row;
        row.line = number;
        while (words >> word) {
            const char* begin = word.c_str();
            char* end = nullptr;
            const double value = std::strtod(begin, &end);
            // A NUL inside the word ends the number early: the rest must not be dropped.
            if (end == begin || end != begin + word.size()) {
                reason = fileName + " line " + std::to_string(number) + ": '" + shown(word) +
                         "' is not a number";
                return false;
            }
            if (!allowNonFinite && !std::isfinite(value)) {
                reason = fileName + " line " + std::to_string(number) + ": '" + word +
                         "' is not a finite number";
                return false;
            }
            row.values.push_back(value);
            row.words.push_back(word);
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

// Where a direction's first non-finite component stands in the .bvec, for the message that
// refuses it; empty when all three are finite.
struct Place {
    int line = 0;
    size_t column = 0;  // 1 first
    std::string word;
};

// Directions, volume by volume: three rows of N (the usual layout, also taken for 3 x 3), or N
// rows of three. places receives, for every volume, its first non-finite component.
bool readDirections(const std::string& fileName, std::vector<GradientVec>& directions,
                    std::vector<Place>& places, std::string& reason) {
    std::vector<NumberRow> rows;
    if (!readNumbers(fileName, true, rows, reason)) {
        return false;
    }
    const std::string ragged = raggedRow(fileName, rows);
    const auto placeOf = [](const NumberRow& row, size_t column) {
        return Place{row.line, column + 1, row.words[column]};
    };
    if (rows.size() == 3 && ragged.empty()) {
        directions.resize(rows.front().values.size());
        places.assign(directions.size(), Place{});
        for (size_t v = 0; v < directions.size(); ++v) {
            directions[v] = {rows[0].values[v], rows[1].values[v], rows[2].values[v], 0.0};
            for (const NumberRow& row : rows) {
                if (places[v].line == 0 && !std::isfinite(row.values[v])) {
                    places[v] = placeOf(row, v);
                }
            }
        }
        return true;
    }
    if (rows.front().values.size() == 3 && ragged.empty()) {
        for (const NumberRow& row : rows) {
            directions.push_back({row.values[0], row.values[1], row.values[2], 0.0});
            Place place;
            for (size_t c = 0; c < 3 && place.line == 0; ++c) {
                if (!std::isfinite(row.values[c])) {
                    place = placeOf(row, c);
                }
            }
            places.push_back(place);
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
    if (!readNumbers(fileName, false, rows, reason)) {
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

bool FslGradientFiles::Read(const std::string& bvecFile, const std::string& bvalFile,
                            EncodingScheme& scheme, std::string& reason, double b0Threshold) {
    std::vector<GradientVec> directions;
    std::vector<Place> places;
    std::vector<double> bValues;
    if (!readDirections(bvecFile, directions, places, reason) ||
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
        // A volume without diffusion weighting has no direction: whatever the .bvec says there
        // (zeros, nan as some converters write, or any numbers) is not used.
        if (b <= b0Threshold) {
            read.rows.push_back(GradientVec{});
            ++read.b0Count;
            continue;
        }
        if (b > EncodingScheme::kMostB) {
            char text[64];
            std::snprintf(text, sizeof text, "%g", b);
            reason = bvalFile + ": volume " + std::to_string(v + 1) + " has b = " + text +
                     " s/mm^2, more than the " +
                     std::to_string(static_cast<long>(EncodingScheme::kMostB)) + " taken";
            return false;
        }
        if (places[v].line != 0) {
            reason = bvecFile + " line " + std::to_string(places[v].line) + " column " +
                     std::to_string(places[v].column) + ": '" + places[v].word +
                     "' is not a finite number (volume " + std::to_string(v + 1) +
                     " has b = " + std::to_string(static_cast<long>(std::lround(b))) + ")";
            return false;
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
        g.x /= length;
        g.y /= length;
        g.z /= length;
        g.b = b;
        read.rows.push_back(g);
    }
    scheme = std::move(read);
    return true;
}
