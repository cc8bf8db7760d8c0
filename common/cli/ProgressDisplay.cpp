#include "ProgressDisplay.h"

#include <cstdio>

void ProgressDisplay::Show(double percent) {
    // "100%" has no room for a decimal in the five characters the display overwrites.
    if (static_cast<int>(percent + 0.1) > 99) {
        std::printf("\b\b\b\b\b%4.0f%%", percent);
    } else {
        std::printf("\b\b\b\b\b%4.1f%%", percent);
    }
    std::fflush(stdout);
}
