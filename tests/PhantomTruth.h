#pragma once
// Reading helpers for the tests of the phantom and the pipeline: NIfTI volumes as doubles,
// gradient tables, centre-line files and track files, with nothing taken from the code under
// test except the file formats.

#include <gtest/gtest.h>
#include <nifti1_io.h>

#include <array>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <limits>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "CTrackReader.h"
#include "OwnedHandles.h"
#include "OwnedNiftiImage.h"

namespace phantomtruth {

using Point = std::array<double, 3>;
using Polyline = std::vector<Point>;

struct Volume {
    int dims[8] = {0};  // dim[0..7] as in the header
    float pixdim[4] = {0};
    int datatype = 0;
    std::vector<double> values;  // every voxel of every volume, file order

    size_t voxels() const { return static_cast<size_t>(dims[1]) * dims[2] * dims[3]; }
    double at(size_t p, int volume = 0) const { return values[volume * voxels() + p]; }
};

inline Volume ReadVolume(const std::string& path) {
    const OwnedNiftiImage image(nifti_image_read(path.c_str(), 1));
    Volume volume;
    if (!image || image->data == nullptr) {
        ADD_FAILURE() << "cannot read " << path;
        return volume;
    }
    for (int d = 0; d < 8; ++d) {
        volume.dims[d] = image->dim[d];
    }
    for (int d = 0; d < 4; ++d) {
        volume.pixdim[d] = image->pixdim[d];
    }
    volume.datatype = image->datatype;
    volume.values.resize(image->nvox);
    for (size_t p = 0; p < image->nvox; ++p) {
        switch (image->datatype) {
            case DT_INT16:
                volume.values[p] = static_cast<const short*>(image->data)[p];
                break;
            case DT_FLOAT32:
                volume.values[p] = static_cast<const float*>(image->data)[p];
                break;
            case DT_UINT8:
                volume.values[p] = static_cast<const unsigned char*>(image->data)[p];
                break;
            default:
                ADD_FAILURE() << "unexpected datatype " << image->datatype << " in " << path;
                return volume;
        }
    }
    return volume;
}

// Rows of a comma-separated gradient table, comment lines skipped.
inline std::vector<Point> ReadGradientTable(const std::string& path) {
    std::ifstream in(path);
    std::vector<Point> rows;
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line.find('#') != std::string::npos) {
            continue;
        }
        Point row{};
        const char* cursor = line.c_str();
        for (double& value : row) {
            char* end = nullptr;
            value = std::strtod(cursor, &end);
            cursor = *end == ',' ? end + 1 : end;
        }
        rows.push_back(row);
    }
    return rows;
}

struct Bundle {
    std::string name;
    int label = 0;
    double radius = 0.0;
    Polyline line;
};

inline std::vector<Bundle> ReadBundles(const std::string& path) {
    std::ifstream in(path);
    std::vector<Bundle> bundles;
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#') {
            continue;
        }
        std::istringstream words(line);
        std::string keyword;
        words >> keyword;
        if (keyword == "bundle") {
            Bundle bundle;
            size_t count = 0;
            words >> bundle.name >> bundle.label >> bundle.radius >> count;
            bundles.push_back(bundle);
        } else if (!bundles.empty()) {
            std::istringstream numbers(line);
            Point p{};
            numbers >> p[0] >> p[1] >> p[2];
            bundles.back().line.push_back(p);
        }
    }
    return bundles;
}

inline std::vector<Polyline> ReadTracks(const std::string& path) {
    CTrackReader reader;
    TRACK_HEADER header{};
    std::vector<Polyline> tracks;
    if (!reader.Open(path.c_str(), &header)) {
        ADD_FAILURE() << "cannot open track file " << path;
        return tracks;
    }
    const int width = 3 + header.scalar_count;
    int n = 0;
    while (reader.GetNextPointCount(&n)) {
        std::vector<float> record(static_cast<size_t>(n) * width + header.property_count);
        if (!reader.GetNextRawData(n, record.data())) {
            ADD_FAILURE() << "truncated record in " << path;
            break;
        }
        Polyline track;
        for (int i = 0; i < n; ++i) {
            track.push_back({record[i * width], record[i * width + 1], record[i * width + 2]});
        }
        tracks.push_back(track);
    }
    return tracks;
}

inline double DistanceToPolyline(const Point& p, const Polyline& line) {
    double best = std::numeric_limits<double>::infinity();
    for (size_t s = 0; s < line.size(); ++s) {
        const Point& a = line[s];
        const Point& b = s + 1 < line.size() ? line[s + 1] : line[s];
        double ab2 = 0.0;
        double t = 0.0;
        for (int c = 0; c < 3; ++c) {
            ab2 += (b[c] - a[c]) * (b[c] - a[c]);
            t += (p[c] - a[c]) * (b[c] - a[c]);
        }
        t = ab2 > 0.0 ? std::min(std::max(t / ab2, 0.0), 1.0) : 0.0;
        double d2 = 0.0;
        for (int c = 0; c < 3; ++c) {
            const double q = a[c] + t * (b[c] - a[c]) - p[c];
            d2 += q * q;
        }
        best = std::min(best, std::sqrt(d2));
    }
    return best;
}

inline double FractionalAnisotropy(double l1, double l2, double l3) {
    const double mean = (l1 + l2 + l3) / 3.0;
    const double num =
        (l1 - mean) * (l1 - mean) + (l2 - mean) * (l2 - mean) + (l3 - mean) * (l3 - mean);
    return std::sqrt(1.5 * num / (l1 * l1 + l2 * l2 + l3 * l3));
}

}  // namespace phantomtruth
