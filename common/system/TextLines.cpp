#include "TextLines.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "OwnedHandles.h"

bool TextLines::Read(const std::string& path, std::size_t maxLineLength,
                     std::vector<std::string>& lines, Problem& problem, int& line,
                     std::string& reason) {
    lines.clear();
    line = 0;
    problem = Problem::kNone;
    struct stat status {};
    if (stat(path.c_str(), &status) != 0) {
        problem = Problem::kCannotOpen;
        reason = std::string("cannot open: ") + std::strerror(errno);
        return false;
    }
    if (!S_ISREG(status.st_mode)) {
        problem = Problem::kNotRegular;
        reason = "not a regular file";
        return false;
    }
    OwnedFile file(std::fopen(path.c_str(), "rb"));
    if (!file) {
        problem = Problem::kCannotOpen;
        reason = std::string("cannot open: ") + std::strerror(errno);
        return false;
    }
    std::string current;
    char block[1 << 16];
    bool pending = false;  // characters after the last line end
    for (;;) {
        const std::size_t got = std::fread(block, 1, sizeof block, file.get());
        for (std::size_t i = 0; i < got; ++i) {
            if (block[i] == '\n') {
                lines.push_back(std::move(current));
                current.clear();
                pending = false;
                continue;
            }
            if (current.size() >= maxLineLength) {
                problem = Problem::kLineTooLong;
                line = static_cast<int>(lines.size()) + 1;
                reason = "longer than " + std::to_string(maxLineLength) + " characters";
                return false;
            }
            current.push_back(block[i]);
            pending = true;
        }
        if (got < sizeof block) {
            break;
        }
    }
    if (std::ferror(file.get())) {
        problem = Problem::kCannotRead;
        reason = std::string("cannot read: ") + std::strerror(errno);
        return false;
    }
    if (pending) {
        lines.push_back(std::move(current));
    }
    return true;
}
