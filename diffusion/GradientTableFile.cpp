#include "GradientTableFile.h"

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "CMyUtils.h"
#include "OwnedHandles.h"
#include "TextLines.h"

namespace {

constexpr double kZeroLength = 1e-8;
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
    const double given = haveB ? g.b : bValue;
    if (!std::isfinite(given) || given > EncodingScheme::kMostB) {
        char number[64];
        std::snprintf(number, sizeof number, "%g", given);
        reason = std::string("b = ") + number + (haveB ? "" : " (the -b value)") +
                 " s/mm^2 is not a finite value up to " +
                 std::to_string(static_cast<long>(EncodingScheme::kMostB));
        return false;
    }
    if (magnitude > kZeroLength) {
        g.x /= magnitude;
        g.y /= magnitude;
        g.z /= magnitude;
    }
    return true;
}

}  // namespace

bool GradientTableFile::ReadRows(const std::string& fileName, std::vector<std::string>& rows,
                                 std::vector<int>& lineNumbers, Failure& failure) {
    std::vector<std::string> lines;
    TextLines::Problem problem = TextLines::Problem::kNone;
    int at = 0;
    std::string why;
    // One more than the longest line, for the '\r' of a line end written on Windows.
    if (!TextLines::Read(fileName, kMaxLineLength + 1, lines, problem, at, why)) {
        failure = problem == TextLines::Problem::kLineTooLong
                      ? Failure{Problem::kLineTooLong, at,
                                "longer than " + std::to_string(kMaxLineLength) + " characters"}
                      : Failure{Problem::kCannotOpen, 0, why};
        return false;
    }
    rows.clear();
    lineNumbers.clear();
    int number = 0;
    for (std::string& line : lines) {
        ++number;
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        if (line.size() > kMaxLineLength) {
            failure = {Problem::kLineTooLong, number,
                       "longer than " + std::to_string(kMaxLineLength) + " characters"};
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
    return true;
}

bool GradientTableFile::ParseRows(const std::vector<std::string>& rows,
                                  const std::vector<int>& lineNumbers, int requestedB0,
                                  double bValue, bool tabledBValues, EncodingScheme& scheme,
                                  Failure& failure) {
    std::vector<GradientVec> parsed;
    parsed.reserve(rows.size());
    int b0Rows = 0;
    for (size_t i = 0; i < rows.size(); ++i) {
        GradientVec g;
        std::string reason;
        if (!parseRow(rows[i], bValue, tabledBValues, g, reason)) {
            failure = {Problem::kBadRow, lineNumbers[i], reason};
            return false;
        }
        if (!EncodingScheme::IsDiffusionWeighted(g)) {
            ++b0Rows;
        }
        parsed.push_back(g);
    }
    if (static_cast<int>(parsed.size()) - b0Rows < 6) {
        failure = {Problem::kTooFewDirections, 0, "fewer than 6 gradient directions"};
        return false;
    }
    if (b0Rows == 0) {
        // Tables that list only directions leave the b0 volumes (acquired first) to -b0.
        const int inserted = requestedB0 > 0 ? requestedB0 : 0;
        parsed.insert(parsed.begin(), static_cast<size_t>(inserted), GradientVec{});
        b0Rows = inserted;
    }
    scheme.rows = std::move(parsed);
    scheme.b0Count = b0Rows;
    scheme.frame = EncodingScheme::Frame::kScanner;
    return true;
}

bool GradientTableFile::Read(const std::string& fileName, int requestedB0, double bValue,
                             bool tabledBValues, EncodingScheme& scheme, Failure& failure) {
    std::vector<std::string> rows;
    std::vector<int> lineNumbers;
    return ReadRows(fileName, rows, lineNumbers, failure) &&
           ParseRows(rows, lineNumbers, requestedB0, bValue, tabledBValues, scheme, failure);
}

bool GradientTableFile::Write(const std::string& fileName, const std::vector<GradientVec>& rows,
                              const std::string& comment, std::string& reason) {
    OwnedFile file(std::fopen(fileName.c_str(), "w"));
    if (!file) {
        reason = std::string("cannot create: ") + std::strerror(errno);
        return false;
    }
    std::string text;
    size_t start = 0;
    while (start < comment.size()) {
        const size_t end = comment.find('\n', start);
        text += "# " + comment.substr(start, end - start) + "\n";
        start = end == std::string::npos ? comment.size() : end + 1;
    }
    for (const GradientVec& g : rows) {
        const bool weighted = EncodingScheme::IsDiffusionWeighted(g);
        char line[128];
        std::snprintf(line, sizeof line, "%.17g %.17g %.17g %.17g\n", weighted ? g.x + 0.0 : 0.0,
                      weighted ? g.y + 0.0 : 0.0, weighted ? g.z + 0.0 : 0.0, weighted ? g.b : 0.0);
        text += line;
    }
    const bool written = std::fwrite(text.data(), 1, text.size(), file.get()) == text.size();
    const int writeError = errno;
    if (std::fclose(file.release()) != 0 || !written) {
        reason = std::string("cannot write: ") + std::strerror(written ? errno : writeError);
        return false;
    }
    return true;
}
