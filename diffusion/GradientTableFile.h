#pragma once
// The toolkit's own gradient table text file (the -gm file): reading it into an encoding
// scheme in the scanner frame, and writing a scheme back as a table that reads to the same rows.
//
// Nothing is printed here: a failure says which line and why, and the caller reports it.

#include <string>
#include <vector>

#include "EncodingScheme.h"

class GradientTableFile {
  public:
    enum class Problem { kNone, kCannotOpen, kLineTooLong, kBadRow, kTooFewDirections };
    struct Failure {
        Problem problem = Problem::kNone;
        int line = 0;        // line (file form) or row number (rows given as text), 1 first
        std::string reason;  // what is wrong with that line
    };
    // Lines longer than this cannot be a gradient row.
    static constexpr size_t kMaxLineLength = 998;

    // Reads the file's lines, trimmed, with a trailing ',' or ':' removed, empty and comment
    // lines left out; lineNumbers receives each kept line's number.
    static bool ReadRows(const std::string& fileName, std::vector<std::string>& rows,
                         std::vector<int>& lineNumbers, Failure& failure);
    // Parses rows of three or four numbers. b0 rows are those without direction or b value; a
    // table without any gets requestedB0 zero rows in front.
    static bool ParseRows(const std::vector<std::string>& rows, const std::vector<int>& lineNumbers,
                          int requestedB0, double bValue, bool tabledBValues,
                          EncodingScheme& scheme, Failure& failure);
    static bool Read(const std::string& fileName, int requestedB0, double bValue,
                     bool tabledBValues, EncodingScheme& scheme, Failure& failure);

    // Writes one "x y z b" row per entry, with every digit a double carries, after the comment
    // lines. Read back with tabled b values on, the rows come out as given (b0 rows as zeros).
    // False with the system's reason when the file cannot be written.
    static bool Write(const std::string& fileName, const std::vector<GradientVec>& rows,
                      const std::string& comment, std::string& reason);
};
