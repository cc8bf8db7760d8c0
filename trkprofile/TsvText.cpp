#include "TsvText.h"

#include <cmath>
#include <cstdio>

std::string TsvText::Number(double value) {
    if (!std::isfinite(value)) {
        return "NA";
    }
    char text[32];
    std::snprintf(text, sizeof text, "%.7g", value);
    return text;
}
