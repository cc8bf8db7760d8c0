#include "CMyCmdParser.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

CMyCmdParser::CMyCmdParser(int argc, const char* const* argv) {
    std::vector<std::string>* current = nullptr;
    for (int i = 1; i < argc; ++i) {
        const std::string word = argv[i];
        if (IsSwitchWord(word)) {
            switches_.push_back({word});
            current = &switches_.back();
        } else if (current != nullptr) {
            // Every value after a switch attaches to it, positional arguments included;
            // ExtractPureArguments separates them again by the declared counts.
            current->push_back(word);
        }
        arguments_.push_back(word);
    }
}

bool CMyCmdParser::IsSwitchWord(const std::string& word) {
    if (word.empty() || word[0] != '-') {
        return false;
    }
    // Negative numbers ("-5", "-.5") are values; a lone "-" is a switch word.
    const char second = word.size() > 1 ? word[1] : '\0';
    return !(second >= '0' && second <= '9') && second != '.';
}

const std::vector<std::string>* CMyCmdParser::FindFirst(const char* name) const {
    for (const auto& entry : switches_) {
        if (entry[0] == name) {
            return &entry;
        }
    }
    return nullptr;
}

int CMyCmdParser::GetNumberOfSwitches() const {
    return static_cast<int>(switches_.size());
}

bool CMyCmdParser::HasSwitch(const char* name) const {
    return FindFirst(name) != nullptr;
}

bool CMyCmdParser::HasSwitch(const char* shortName, const char* longName) const {
    return HasSwitch(shortName) || HasSwitch(longName);
}

int CMyCmdParser::GetNumberOfArguments(const char* name) const {
    const auto* entry = FindFirst(name);
    return entry == nullptr ? 0 : static_cast<int>(entry->size()) - 1;
}

int CMyCmdParser::GetNumberOfArguments(const char* shortName, const char* longName) const {
    return HasSwitch(shortName) ? GetNumberOfArguments(shortName) : GetNumberOfArguments(longName);
}

std::string CMyCmdParser::GetArgument(const char* name, int index, const char* defaultValue) const {
    if (index >= 0) {
        for (const auto& entry : switches_) {
            if (entry[0] == name && static_cast<int>(entry.size()) > index) {
                return entry[static_cast<size_t>(index)];
            }
        }
    }
    return defaultValue;
}

std::string CMyCmdParser::GetArgument(const char* shortName, const char* longName, int index,
                                      const char* defaultValue) const {
    return HasSwitch(shortName) ? GetArgument(shortName, index, defaultValue)
                                : GetArgument(longName, index, defaultValue);
}

bool CMyCmdParser::HasSwitch(const SwitchEntry& entry) const {
    return HasSwitch(entry.shortName, entry.longName);
}

int CMyCmdParser::GetNumberOfArguments(const SwitchEntry& entry) const {
    return GetNumberOfArguments(entry.shortName, entry.longName);
}

std::string CMyCmdParser::GetArgument(const SwitchEntry& entry, int index,
                                      const char* defaultValue) const {
    return GetArgument(entry.shortName, entry.longName, index, defaultValue);
}

std::string CMyCmdParser::ExtractPureArguments(std::vector<std::string>* out,
                                               const std::vector<SwitchEntry>& switches) const {
    out->assign(arguments_.begin(), arguments_.end());
    for (const auto& known : switches) {
        // The count comes from the first occurrence and applies to every occurrence.
        const int attached = GetNumberOfArguments(known.shortName, known.longName);
        const size_t take = static_cast<size_t>(std::max(0, std::min(known.valueCount, attached)));
        size_t j = 0;
        while (j < out->size()) {
            const std::string& word = (*out)[j];
            if (word == known.shortName || word == known.longName) {
                const size_t end = std::min(out->size(), j + 1 + take);
                out->erase(out->begin() + static_cast<std::ptrdiff_t>(j),
                           out->begin() + static_cast<std::ptrdiff_t>(end));
            } else {
                ++j;
            }
        }
    }
    for (const auto& word : *out) {
        if (!word.empty() && word[0] == '-') {
            return word;
        }
    }
    return "";
}

void CMyCmdParser::Print() const {
    for (const auto& entry : switches_) {
        for (const auto& element : entry) {
            std::printf("%s   ", element.c_str());
        }
        std::printf("%d\n", GetNumberOfArguments(entry[0].c_str()));
    }
}
