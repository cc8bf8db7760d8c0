#include "MyLog.h"

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

#include "OwnedHandles.h"
#include "CMyUtils.h"

namespace {

using FilePtr = OwnedFile;

// What the existing entries tell about the next one.
struct LogState {
    int nextNumber = 1;
    bool newFolder = true;
};

LogState scanLog(std::FILE* file, const std::string& cwd) {
    LogState state;
    std::rewind(file);
    // Lines longer than the buffer are taken piece by piece, as separate lines.
    char buffer[1000];
    while (std::fgets(buffer, sizeof buffer, file) != nullptr) {
        std::string line = buffer;
        CMyUtils::trimWhiteSpace(line);
        const std::vector<std::string> entryParts = CMyUtils::parseString(line, '[');
        if (entryParts.size() >= 2) {
            const long number = std::strtol(entryParts[0].c_str(), nullptr, 10);
            if (number >= 1) {
                state.nextNumber = static_cast<int>(number) + 1;
            }
            continue;
        }
        const std::vector<std::string> words = CMyUtils::parseString(line, ' ');
        if (!words.empty()) {
            // Only the last word is compared, so a folder whose name holds a blank never matches.
            std::string folder = words.back();
            CMyUtils::toValidatePath(folder);
            state.newFolder = folder != cwd;
        }
    }
    return state;
}

std::string currentTimeText() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char text[64] = {};
    std::strftime(text, sizeof text, "%m/%d/%y %H:%M", &local);
    return text;
}

bool isEmptyFile(std::FILE* file) {
    std::fseek(file, 0, SEEK_END);
    return std::ftell(file) <= 0;
}

}  // namespace

void MyLog::WriteLog(const char* text, const char* logPath, const char* tag) {
    std::string cwd = CMyUtils::getCurrentPath();
    CMyUtils::trimWhiteSpace(cwd);
    CMyUtils::toValidatePath(cwd);

    const FilePtr file(std::fopen(logPath, "a+"));
    if (!file) {
        std::printf("Can not open %s to write.\n", logPath);
        return;
    }
    const LogState state = scanLog(file.get(), cwd);

    // Switching from reading to writing needs a positioning call; appends go to the end anyway.
    const bool empty = isEmptyFile(file.get());
    if (state.newFolder) {
        if (!empty) {
            std::fputs("\n", file.get());
        }
        std::fprintf(file.get(), "    In folder %s\n", cwd.c_str());
    }

    const std::string when = currentTimeText();
    if (tag != nullptr) {
        const int width = static_cast<int>(std::string(tag).size()) / 4 * 4 + 4;
        std::fprintf(file.get(), "%-*s[%s] %s\n", width, tag, when.c_str(), text);
    } else {
        std::fprintf(file.get(), "%-4d[%s] %s\n", state.nextNumber, when.c_str(), text);
    }
}
