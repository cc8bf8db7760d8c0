#include "ThreadCount.h"

#include <sched.h>

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
    if (!option.empty()) {
        if (!Parse(option, threads)) {
            *reason = "-nthreads must be a whole number of at least 1, not '" + option + "'.";
            return false;
        }
        return true;
    }
    const char* variable = std::getenv(kVariable);
    if (variable != nullptr && *variable != '\0') {
        if (!Parse(variable, threads)) {
            *reason = std::string(kVariable) + " must be a whole number of at least 1, not '" +
                      variable + "'.";
            return false;
        }
        return true;
    }
    *threads = Available();
    return true;
}
