#include "Shells.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <numeric>

double Shells::Tolerance(double b) {
    return std::max(50.0, 0.05 * b);
}

Shells::Shells(const EncodingScheme& scheme) {
    Shell b0;
    std::vector<size_t> weighted;
    for (size_t r = 0; r < scheme.rows.size(); ++r) {
        if (EncodingScheme::IsDiffusionWeighted(scheme.rows[r])) {
            weighted.push_back(r);
        } else {
            b0.rows.push_back(r);
        }
    }
    if (!b0.rows.empty()) {
        shells_.push_back(b0);
    }
    // Stable, so that the rows of a shell stay in row order after the grouping below.
    std::stable_sort(weighted.begin(), weighted.end(), [&scheme](size_t a, size_t b) {
        return scheme.rows[a].b < scheme.rows[b].b;
    });
    for (size_t i = 0; i < weighted.size();) {
        const double start = scheme.rows[weighted[i]].b;
        Shell shell;
        double sum = 0.0;
        for (; i < weighted.size() && scheme.rows[weighted[i]].b <= start + Tolerance(start); ++i) {
            shell.rows.push_back(weighted[i]);
            sum += scheme.rows[weighted[i]].b;
        }
        shell.b = std::lround(sum / static_cast<double>(shell.rows.size()));
        std::sort(shell.rows.begin(), shell.rows.end());
        shells_.push_back(shell);
    }
}

int Shells::WeightedCount() const {
    const bool hasB0 = !shells_.empty() && shells_.front().b == 0;
    return static_cast<int>(shells_.size()) - (hasB0 ? 1 : 0);
}

std::string Shells::Describe() const {
    std::string text;
    for (const Shell& shell : shells_) {
        char item[64];
        std::snprintf(item, sizeof item, "%sb=%ld x %zu", text.empty() ? "" : ", ", shell.b,
                      shell.rows.size());
        text += item;
    }
    return text;
}

const Shells::Shell* Shells::Find(double b) const {
    for (const Shell& shell : shells_) {
        const double name = static_cast<double>(shell.b);
        if (shell.b == 0 ? b == 0.0 : std::fabs(b - name) <= Tolerance(name)) {
            return &shell;
        }
    }
    return nullptr;
}

bool Shells::Select(const std::vector<double>& requested, std::vector<size_t>& rows,
                    std::string& reason) const {
    rows.clear();
    for (const double b : requested) {
        const Shell* shell = Find(b);
        if (shell == nullptr) {
            char value[64];
            std::snprintf(value, sizeof value, "%g", b);
            reason = std::string("no shell at b=") + value + "; the data hold " + Describe();
            return false;
        }
        rows.insert(rows.end(), shell->rows.begin(), shell->rows.end());
    }
    std::sort(rows.begin(), rows.end());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    return true;
}
