#include "RunSummary.h"

#include <cstdio>

#include "CMyUtils.h"
#include "MyLog.h"

namespace {
const char* const kLogName = "fiberwalk.log";
}

void RunSummary::Print(int tracks, std::time_t start, std::time_t end) {
    const long seconds = static_cast<long>(end - start);
    std::printf("Number of tracks: %d\n", tracks);
    std::printf("Time taken: %02d:%02d:%02d\n", static_cast<int>(seconds / 3600),
                static_cast<int>(seconds / 60 % 60), static_cast<int>(seconds % 60));
}

void RunSummary::WriteRunLog(int argc, const char* const* argv, const std::string& outputFile,
                             const std::vector<std::string>& extra) {
    std::string command;
    for (int i = 0; i < argc; ++i) {
        command += argv[i];
        command += ' ';
    }
    for (const std::string& word : extra) {
        command += word;
        command += ' ';
    }
    const std::string logFile = CMyUtils::getFilePath(outputFile) + kLogName;
    MyLog::WriteLog(command.c_str(), logFile.c_str(), nullptr);
}
