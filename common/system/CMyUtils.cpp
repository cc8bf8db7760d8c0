#include "CMyUtils.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <climits>
#include <vector>

std::string CMyUtils::getFileExtension(const std::string& path) {
    const size_t slash = path.rfind('/');
    const size_t dot = path.rfind('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) {
        return "";
    }
    return path.substr(dot + 1);
}

std::string CMyUtils::getFileTitle(const std::string& path) {
    const size_t slash = path.rfind('/');
    const size_t dot = path.rfind('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) {
        return path;
    }
    return path.substr(0, dot);
}

std::string CMyUtils::getFilePath(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

bool CMyUtils::pathExist(const std::string& path) {
    struct stat info {};
    if (stat(path.c_str(), &info) == 0) {
        return true;
    }
    // Only "no such entry" proves absence; other errors (permissions, loops) leave it possible.
    return errno != ENOENT && errno != ENOTDIR;
}

std::string CMyUtils::upperCase(const std::string& text) {
    std::string result = text;
    for (char& c : result) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    return result;
}

std::string CMyUtils::getCurrentPath() {
    std::vector<char> buffer(PATH_MAX + 1, '\0');
    if (getcwd(buffer.data(), buffer.size()) == nullptr) {
        return "";
    }
    return buffer.data();
}

void CMyUtils::trimWhiteSpace(std::string& text) {
    size_t begin = 0;
    while (begin < text.size() && std::isspace(static_cast<unsigned char>(text[begin]))) {
        ++begin;
    }
    size_t end = text.size();
    while (end > begin && std::isspace(static_cast<unsigned char>(text[end - 1]))) {
        --end;
    }
    text = text.substr(begin, end - begin);
}

void CMyUtils::toValidatePath(std::string& path) {
    for (char& c : path) {
        if (c == '\\') {
            c = '/';
        }
    }
    if (!path.empty() && path.back() != '/') {
        path.push_back('/');
    }
}

std::vector<std::string> CMyUtils::parseString(const std::string& text, char separator) {
    std::string trimmed = text;
    trimWhiteSpace(trimmed);
    std::vector<std::string> pieces;
    std::string piece;
    auto isSeparator = [separator](char c) {
        return separator == ' ' ? std::isspace(static_cast<unsigned char>(c)) != 0 : c == separator;
    };
    for (char c : trimmed) {
        if (isSeparator(c)) {
            if (!piece.empty()) {
                pieces.push_back(piece);
            }
            piece.clear();
        } else {
            piece.push_back(c);
        }
    }
    if (!piece.empty()) {
        pieces.push_back(piece);
    }
    return pieces;
}
