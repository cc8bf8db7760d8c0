#include "AxisLetters.h"

#include <cctype>
#include <cmath>

namespace {

// The world axis of a letter (R/L 0, A/P 1, S/I 2), or -1.
int WorldAxisOf(char letter) {
    switch (letter) {
        case 'R':
        case 'L':
            return 0;
        case 'A':
        case 'P':
            return 1;
        case 'S':
        case 'I':
            return 2;
        default:
            return -1;
    }
}

char Opposite(char letter) {
    switch (letter) {
        case 'R':
            return 'L';
        case 'L':
            return 'R';
        case 'A':
            return 'P';
        case 'P':
            return 'A';
        case 'S':
            return 'I';
        case 'I':
            return 'S';
        default:
            return '\0';
    }
}

}  // namespace

AxisLetters AxisLetters::FromLetters(const std::array<char, 3>& letters) {
    AxisLetters result;
    std::array<bool, 3> taken = {false, false, false};
    for (const char letter : letters) {
        const int world = WorldAxisOf(letter);
        if (world < 0 || taken[world]) {
            return result;
        }
        taken[world] = true;
    }
    result.known_ = true;
    result.toward_ = letters;
    return result;
}

AxisLetters AxisLetters::FromMatrix(const Matrix& voxelToRas) {
    constexpr std::array<char, 3> kPositive = {'R', 'A', 'S'};
    constexpr std::array<char, 3> kNegative = {'L', 'P', 'I'};
    std::array<char, 3> letters = {'\0', '\0', '\0'};
    for (int axis = 0; axis < 3; ++axis) {
        int closest = -1;
        double largest = 0.0;
        for (int world = 0; world < 3; ++world) {
            const double component = voxelToRas[world][axis];
            if (!std::isfinite(component)) {
                return {};
            }
            if (std::fabs(component) > largest) {
                largest = std::fabs(component);
                closest = world;
            }
        }
        if (closest < 0) {
            return {};
        }
        letters[axis] = voxelToRas[closest][axis] > 0.0 ? kPositive[closest] : kNegative[closest];
    }
    return FromLetters(letters);
}

AxisLetters AxisLetters::FromVoxelOrder(const std::string& order) {
    if (order.size() < 3) {
        return {};
    }
    std::array<char, 3> letters = {'\0', '\0', '\0'};
    for (int axis = 0; axis < 3; ++axis) {
        letters[axis] = static_cast<char>(std::toupper(static_cast<unsigned char>(order[axis])));
    }
    return FromLetters(letters);
}

char AxisLetters::Toward(int axis) const {
    return known_ && axis >= 0 && axis < 3 ? toward_[axis] : '\0';
}

char AxisLetters::Away(int axis) const {
    return Opposite(Toward(axis));
}
