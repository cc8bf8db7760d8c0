#pragma once
// What a finished tracking run leaves behind: the summary on standard output and the line in
// the run log beside the track file.

#include <ctime>
#include <string>
#include <vector>

class RunSummary {
  public:
    static void Print(int tracks, std::time_t start, std::time_t end);
    // The command as typed, then the extra words, joined by blanks.
    static void WriteRunLog(int argc, const char* const* argv, const std::string& outputFile,
                            const std::vector<std::string>& extra);
};
