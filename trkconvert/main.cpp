// trkconvert: tracks from one file format into another (.trk, .tck), by the files' endings.

#include <nifti1_io.h>

#include <cstdio>
#include <string>
#include <vector>

#include "CTrackReader.h"
#include "CTrackWriter.h"
#include "ConvertSettings.h"
#include "ExitStatus.h"
#include "NiftiIO.h"
#include "RunStep.h"
#include "TRACK_HEADER.h"
#include "TckReader.h"
#include "TckWriter.h"
#include "TrackRecordReader.h"
#include "TrackSpace.h"

namespace {

bool endsWith(const std::string& name, const std::string& ending) {
    return name.size() >= ending.size() &&
           name.compare(name.size() - ending.size(), ending.size(), ending) == 0;
}

int failure(const std::string& message, const std::string& reason = "") {
    std::fprintf(stderr, "\n%s\n", message.c_str());
    if (!reason.empty()) {
        std::fprintf(stderr, "  %s\n", reason.c_str());
    }
    return kExitFailure;
}

// The .trk header of the reference image's grid, as fiberwalk makes it for a tensor volume.
RunStep headerOfReference(const std::string& reference, TRACK_HEADER* header) {
    NiftiIO image;
    nifti_1_header nifti{};
    if (!image.Open(reference, &nifti, NiftiIO::kRead)) {
        return failure("Can not read the reference image " + reference, image.LastError());
    }
    *header = TRACK_HEADER::MakeDefault();
    for (int a = 0; a < 3; ++a) {
        header->dim[a] = static_cast<std::int16_t>(nifti.dim[a + 1]);
        header->voxel_size[a] = nifti.pixdim[a + 1];
    }
    mat44 voxelToRas{};
    image.GetVoxelToRas(voxelToRas);
    for (int r = 0; r < 4; ++r) {
        for (int c = 0; c < 4; ++c) {
            header->voxel_to_ras[r][c] = voxelToRas.m[r][c];
        }
    }
    char order[3];
    if (NiftiIO::GetVoxelOrder(reference, order)) {
        std::copy(order, order + 3, header->voxel_order);
        std::copy(order, order + 3, header->voxel_order_copy);
    }
    return kGoOn;
}

// Opens the track writer of the output's format; a .tck cannot hold values beside the points.
class Output {
  public:
    RunStep Open(const std::string& name, const TRACK_HEADER& header) {
        name_ = name;
        tck_ = endsWith(name, ".tck");
        if (tck_) {
            if (header.scalar_count > 0 || header.property_count > 0) {
                return failure("Can not write file " + name,
                               "the tracks carry " + std::to_string(header.scalar_count) +
                                   " values per point and " +
                                   std::to_string(header.property_count) +
                                   " per track, which a .tck file cannot hold; write a .trk");
            }
            if (!tckWriter_.Open(name)) {
                return failure("Can not write file " + name, tckWriter_.LastError());
            }
            return kGoOn;
        }
        if (!trkWriter_.Initialize(name.c_str(), header)) {
            return failure("Can not write file " + name);
        }
        return kGoOn;
    }
    bool Write(int n, const float* values) {
        return tck_ ? tckWriter_.Write(n, values) : trkWriter_.WriteNextTrack(n, values);
    }
    RunStep Close() {
        if (tck_ ? !tckWriter_.Close() : !trkWriter_.Close()) {
            return failure("Can not write file " + name_, tck_ ? tckWriter_.LastError() : "");
        }
        return kGoOn;
    }

  private:
    std::string name_;
    bool tck_ = false;
    TckWriter tckWriter_;
    CTrackWriter trkWriter_;
};

// .trk in: every record as it is for a .trk out, its points in RAS for a .tck out.
RunStep convertTrk(const ConvertSettings& settings, long* tracks, bool* created) {
    CTrackReader reader;
    TRACK_HEADER header;
    if (!reader.Open(settings.input.c_str(), &header)) {
        return failure("Can not open file " + settings.input, reader.GetLastErrorMessage());
    }
    const TrackSpace space(header);
    const bool toTck = endsWith(settings.output, ".tck");
    if (toTck && !space.Usable()) {
        return failure("Can not convert " + settings.input,
                       "its header's voxel sizes and voxel-to-world matrix give no world "
                       "positions");
    }
    Output output;
    if (const RunStep stop = output.Open(settings.output, header)) {
        return stop;
    }
    *created = true;
    TrackRecordReader records(reader);
    std::vector<float> ras;
    for (TrackRecordReader::Outcome outcome = records.ReadNext();
         outcome != TrackRecordReader::Outcome::kEnd; outcome = records.ReadNext()) {
        if (outcome == TrackRecordReader::Outcome::kDamaged) {
            return failure("Track file " + settings.input + " is truncated or corrupt at track " +
                           std::to_string(records.GetRecordCount() + 1),
                           records.GetFailure());
        }
        const int n = records.GetPointCount();
        const float* values = records.GetValues();
        if (toTck) {
            ras.resize(3 * static_cast<size_t>(n));
            for (int i = 0; i < n; ++i) {
                space.ToRas(records.GetPoint(i), &ras[3 * static_cast<size_t>(i)]);
            }
            values = ras.data();
        }
        if (!output.Write(n, values)) {
            return failure("Can not write file " + settings.output);
        }
        ++*tracks;
    }
    return output.Close();
}

// .tck in: world points, turned into the reference's voxel millimetres for a .trk out.
RunStep convertTck(const ConvertSettings& settings, long* tracks, bool* created) {
    TckReader reader;
    if (!reader.Open(settings.input)) {
        return failure("Can not open file " + settings.input, reader.LastError());
    }
    const bool toTrk = !endsWith(settings.output, ".tck");
    TRACK_HEADER header = TRACK_HEADER::MakeDefault();
    if (toTrk) {
        if (settings.reference.empty()) {
            return failure("Can not convert " + settings.input + " to " + settings.output,
                           "a .tck file has no grid: give the image the tracks lie on with -ref");
        }
        if (const RunStep stop = headerOfReference(settings.reference, &header)) {
            return stop;
        }
    }
    const TrackSpace space(header);
    if (toTrk && !space.Usable()) {
        return failure("Can not use the reference image " + settings.reference,
                       "its voxel sizes and voxel-to-world matrix cannot be inverted");
    }
    Output output;
    if (const RunStep stop = output.Open(settings.output, header)) {
        return stop;
    }
    *created = true;
    std::vector<float> points;
    for (TckReader::Outcome outcome = reader.Next(points); outcome != TckReader::Outcome::kEnd;
         outcome = reader.Next(points)) {
        if (outcome == TckReader::Outcome::kDamaged) {
            return failure("Track file " + settings.input + " is truncated or corrupt",
                           reader.LastError());
        }
        const int n = static_cast<int>(points.size() / 3);
        if (toTrk) {
            for (int i = 0; i < n; ++i) {
                const float ras[3] = {points[3 * i], points[3 * i + 1], points[3 * i + 2]};
                space.FromRas(ras, &points[3 * static_cast<size_t>(i)]);
            }
        }
        if (!output.Write(n, points.data())) {
            return failure("Can not write file " + settings.output);
        }
        ++*tracks;
    }
    return output.Close();
}

}  // namespace

int main(int argc, char** argv) {
    nifti_set_debug_level(0);
    ConvertSettings settings;
    if (const RunStep stop = ConvertSettings::FromCommandLine(argc, argv, &settings)) {
        return *stop;
    }
    long tracks = 0;
    bool created = false;
    const RunStep done = endsWith(settings.input, ".tck")
                             ? convertTck(settings, &tracks, &created)
                             : convertTrk(settings, &tracks, &created);
    if (done) {
        if (created) {
            std::remove(settings.output.c_str());  // no half-written output is left behind
        }
        return *done;
    }
    std::printf("Converted %ld tracks from %s to %s\n", tracks, settings.input.c_str(),
                settings.output.c_str());
    return kExitSuccess;
}
