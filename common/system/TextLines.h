#pragma once
// The lines of a small text file (gradient tables, .bvec and .bval files), read only from a
// regular file and only up to a line length: a device or a pipe named by mistake (/dev/zero)
// would otherwise be read for as long as it gives bytes, and one endless line held whole.

#include <cstddef>
#include <string>
#include <vector>

class TextLines {
  public:
    enum class Problem { kNone, kCannotOpen, kNotRegular, kLineTooLong, kCannotRead };

    // Every line without its line end (a '\r' before it is kept). On failure: the problem, the
    // 1-based line it was found on (0 for the file) and why, e.g. "not a regular file".
    static bool Read(const std::string& path, std::size_t maxLineLength,
                     std::vector<std::string>& lines, Problem& problem, int& line,
                     std::string& reason);
};
