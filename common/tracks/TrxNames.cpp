#include "TrxNames.h"

#include "TrackSpace.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

// The numbers of the JSON value after "key": (a number or nested arrays of numbers), in order.
bool numbersOf(const std::string& json, const std::string& key, std::vector<double>& numbers) {
    const std::size_t at = json.find("\"" + key + "\"");
    if (at == std::string::npos) {
        return false;
    }
    std::size_t i = json.find(':', at);
    if (i == std::string::npos) {
        return false;
    }
    ++i;
    int depth = 0;
    for (; i < json.size(); ++i) {
        const char c = json[i];
        if (c == '[') {
            ++depth;
        } else if (c == ']') {
            if (--depth <= 0) {
                break;
            }
        } else if (c == ',' || c == '}') {
            if (depth == 0) {
                break;
            }
        } else if (c == '-' || c == '+' || c == '.' || std::isdigit(static_cast<unsigned char>(c))) {
            char* end = nullptr;
            numbers.push_back(std::strtod(json.c_str() + i, &end));
            i = static_cast<std::size_t>(end - json.c_str()) - 1;
            if (depth == 0) {
                break;
            }
        } else if (!std::isspace(static_cast<unsigned char>(c))) {
            return false;
        }
    }
    return !numbers.empty();
}

}  // namespace

std::string TrxNames::HeaderJson(const TRACK_HEADER& header, std::uint64_t streamlines,
                                 std::uint64_t vertices) {
    // A .trk file without a matrix still has a grid: the one its points were converted with.
    const TrackSpace space(header);
    std::string json = "{\n  \"VOXEL_TO_RASMM\": [";
    for (int r = 0; r < 4; ++r) {
        json += r == 0 ? "[" : ", [";
        for (int c = 0; c < 4; ++c) {
            char number[40];
            std::snprintf(number, sizeof number, "%s%.9g", c == 0 ? "" : ", ",
                          space.VoxelToRas()[r][c]);
            json += number;
        }
        json += "]";
    }
    json += "],\n  \"DIMENSIONS\": [" + std::to_string(header.dim[0]) + ", " +
            std::to_string(header.dim[1]) + ", " + std::to_string(header.dim[2]) + "],\n";
    json += "  \"NB_STREAMLINES\": " + std::to_string(streamlines) + ",\n";
    json += "  \"NB_VERTICES\": " + std::to_string(vertices) + "\n}\n";
    return json;
}

bool TrxNames::ParseHeader(const std::string& json, Header& header, std::string& reason) {
    std::vector<double> matrix;
    std::vector<double> dimensions;
    std::vector<double> streamlines;
    std::vector<double> vertices;
    if (!numbersOf(json, "VOXEL_TO_RASMM", matrix) || matrix.size() != 16) {
        reason = "header.json has no VOXEL_TO_RASMM of 4 x 4 numbers";
        return false;
    }
    if (!numbersOf(json, "DIMENSIONS", dimensions) || dimensions.size() != 3) {
        reason = "header.json has no DIMENSIONS of 3 numbers";
        return false;
    }
    if (!numbersOf(json, "NB_STREAMLINES", streamlines) || streamlines.size() != 1 ||
        !(streamlines[0] >= 0) || streamlines[0] > 9e15) {
        reason = "header.json has no NB_STREAMLINES count";
        return false;
    }
    if (!numbersOf(json, "NB_VERTICES", vertices) || vertices.size() != 1 ||
        !(vertices[0] >= 0) || vertices[0] > 9e15) {
        reason = "header.json has no NB_VERTICES count";
        return false;
    }
    for (int r = 0; r < 4; ++r) {
        for (int c = 0; c < 4; ++c) {
            header.voxelToRas[r][c] = matrix[static_cast<std::size_t>(4 * r + c)];
        }
    }
    for (int a = 0; a < 3; ++a) {
        header.dimensions[a] = static_cast<int>(dimensions[static_cast<std::size_t>(a)]);
    }
    header.streamlines = static_cast<std::uint64_t>(streamlines[0]);
    header.vertices = static_cast<std::uint64_t>(vertices[0]);
    return true;
}

std::string TrxNames::ValueName(const char* name, const char* fallback, std::size_t index) {
    std::string text;
    for (int i = 0; i < 20 && name[i] != '\0'; ++i) {
        const unsigned char c = static_cast<unsigned char>(name[i]);
        if (std::isalnum(c) || c == '_' || c == '-') {
            text += static_cast<char>(c);
        }
    }
    return text.empty() ? std::string(fallback) + "_" + std::to_string(index + 1) : text;
}
