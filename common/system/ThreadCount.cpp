#include "ThreadCount.h"

#include <sched.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <thread>

int ThreadCount::Available() {
    cpu_set_t mask;
    CPU_ZERO(&mask);
    if (sched_getaffinity(0, sizeof mask, &mask) == 0) {
        const int count = CPU_COUNT(&mask);
        if (count > 0) {
            return count;
        }
    }
    const unsigned hardware = std::thread::hardware_concurrency();
    return hardware > 0 ? static_cast<int>(hardware) : 1;
}

bool ThreadCount::Parse(const std::string& text, int* threads) {
    const char* begin = text.c_str();
    char* end = nullptr;
    errno = 0;
    const long value = std::strtol(begin, &end, 10);
    if (end == begin || errno != 0 || value < 1 || value > INT_MAX) {
        return false;
    }
    for (; *end != '\0'; ++end) {
        if (*end != ' ' && *end != '\t') {
            return false;
        }
    }
    *threads = static_cast<int>(value);
    return true;
}

bool ThreadCount::Choose(const std::string& option, int* threads, std::string* reason) {
    reason->clear();
    const char* variable = std::getenv(kVariable);
    const bool fromVariable = option.empty() && variable != nullptr && *variable != '\0';
    if (!option.empty() || fromVariable) {
        const std::string text = fromVariable ? variable : option;
        if (!Parse(text, threads)) {
            *reason = (fromVariable ? std::string(kVariable) : std::string("-nthreads")) +
                      " must be a whole number of at least 1, not '" + text + "'.";
            return false;
        }
        if (*threads > kMost) {
            *reason = "Threads: " + std::to_string(kMost) + ", the most used (" +
                      std::to_string(*threads) + " asked).";
            *threads = kMost;
        }
        return true;
    }
    *threads = std::min(Available(), kMost);
    return true;
}
