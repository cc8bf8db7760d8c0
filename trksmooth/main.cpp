// trksmooth: replaces every long enough track of a track file by points resampled at a fixed
// step along a cubic spline through a thinned subset of its points.

#include <sys/stat.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>
#include <string>
#include <vector>

#include "CTrackReader.h"
#include "CTrackWriter.h"
#include "ExitStatus.h"
#include "RunStep.h"
#include "Spline.h"
#include "TrackRecordReader.h"

namespace {

void printUsage() {
    std::fputs(
        "\n"
        "Usage: trksmooth INPUT_TRACK_FILE STEP_LENGTH OUTPUT_TRACK_FILE\n"
        "\n"
        "Note:\n"
        "  STEP_LENGTH is in the unit of minimum voxel size\n"
        "\n"
        "Example:\n"
        "  trksmooth tracks.trk 0.5 tracks_spline.trk\n"
        "\n",
        stderr);
}

// The smallest voxel size, or NaN when any of them is not finite: the output header is a copy
// of the input's, and an infinite size there would pass into every later step.
float smallestVoxelSize(const TRACK_HEADER& header) {
    float smallest = header.voxel_size[0];
    for (const float size : header.voxel_size) {
        if (!std::isfinite(size)) {
            return std::numeric_limits<float>::quiet_NaN();
        }
        if (size < smallest) {
            smallest = size;
        }
    }
    return smallest;
}

// True when both names lead to the same existing file: creating the output would then erase
// the input before it is read.
bool sameFile(const std::string& a, const std::string& b) {
    struct stat first {};
    struct stat second {};
    return stat(a.c_str(), &first) == 0 && stat(b.c_str(), &second) == 0 &&
           first.st_dev == second.st_dev && first.st_ino == second.st_ino;
}

// Prints the spinner mark for the count-th record: one character per thousand records,
// nothing on a thousand boundary.
void showProgress(int count) {
    if (count % 1000 == 0) {
        return;
    }
    static const char marks[] = {'\\', '|', '/'};
    std::putchar('\b');
    std::putchar(marks[(count / 1000) % 3]);
    // Flushing only when the mark changes keeps the terminal current without a system call
    // per track.
    if (count % 1000 == 1) {
        std::fflush(stdout);
    }
}

class Smoother {
  public:
    Smoother(CTrackReader& reader, CTrackWriter& writer, const TRACK_HEADER& header, float step)
        : m_records(reader),
          m_writer(writer),
          m_width(3 + header.scalar_count),
          m_properties(header.property_count),
          m_step(step) {}

    // Smooths and writes records until the input ends (kGoOn) or something fails (the status to
    // end with). The failure is told by PrintFailure once the summary is out.
    RunStep Run() {
        try {
            for (;;) {
                switch (m_records.ReadNext()) {
                    case TrackRecordReader::Outcome::kEnd:
                        return kGoOn;
                    case TrackRecordReader::Outcome::kDamaged:
                        return Stop(Failure::kCorrupt);
                    case TrackRecordReader::Outcome::kRecord:
                        break;
                }
                if (const RunStep stop = SmoothAndWrite()) {
                    return stop;
                }
                ++m_processed;
                showProgress(m_processed);
            }
        } catch (const std::bad_alloc&) {
            return Stop(Failure::kOutOfMemory);
        }
    }

    // The message for the failure that stopped Run.
    void PrintFailure(const std::string& input, const std::string& output) const {
        switch (m_failure) {
            case Failure::kCorrupt:
                std::fprintf(stderr, "Track file is truncated or corrupt after %d tracks: %s\n",
                             m_processed, input.c_str());
                break;
            case Failure::kWriteFailed:
                std::fprintf(stderr, "Can not write file %s\n", output.c_str());
                break;
            case Failure::kStepTooSmall:
                std::fprintf(stderr, "Step length is too small to resample track %d of %s\n",
                             m_processed + 1, input.c_str());
                break;
            case Failure::kOutOfMemory:
                std::fprintf(stderr, "Not enough memory to smooth track %d of %s\n",
                             m_processed + 1, input.c_str());
                break;
        }
    }

    int GetProcessed() const { return m_processed; }

  private:
    // What stopped the run; each has its own message.
    enum class Failure {
        kCorrupt,       // a record ends early or its point count cannot be right
        kWriteFailed,   // the output refused a record
        kStepTooSmall,  // a track would need more points than a record can hold
        kOutOfMemory,
    };

    RunStep Stop(Failure failure) {
        m_failure = failure;
        return kExitFailure;
    }

    RunStep Write(int n, const float* data) {
        return m_writer.WriteNextTrack(n, data) ? kGoOn : Stop(Failure::kWriteFailed);
    }

    RunStep SmoothAndWrite() {
        const int n = m_records.GetPointCount();
        const float* const record = m_records.GetValues();
        const int J = Spline::SelectControlPoints(record, n, m_width, 2.0f * m_step, m_controls);
        if (J <= 2) {
            return Write(n, record);
        }
        m_spline.SetControlPoints(m_controls.data(), J, m_width);
        const std::int64_t room = m_spline.GetCurveCount(m_step);
        if (room < 0 || room > std::numeric_limits<std::int32_t>::max()) {
            return Stop(Failure::kStepTooSmall);
        }
        const std::size_t width = static_cast<std::size_t>(m_width);
        m_output.resize(static_cast<std::size_t>(room) * width +
                        static_cast<std::size_t>(m_properties));
        const int S = m_spline.Resample(m_step, m_output.data());
        if (m_properties > 0) {
            std::memcpy(m_output.data() + static_cast<std::size_t>(S) * width,
                        m_records.GetProperties(),
                        static_cast<std::size_t>(m_properties) * sizeof(float));
        }
        return Write(S, m_output.data());
    }

    TrackRecordReader m_records;
    CTrackWriter& m_writer;
    const int m_width;
    const int m_properties;
    const float m_step;
    int m_processed = 0;
    Failure m_failure = Failure::kCorrupt;
    // Reused from track to track: memory follows the largest track, not the file.
    std::vector<float> m_controls;
    std::vector<float> m_output;
    Spline m_spline;
};

}  // namespace

int main(int argc, char* argv[]) {
    if (argc < 4) {
        printUsage();
        return kExitUsage;
    }
    const std::string input = argv[1];
    const std::string output = argv[3];
    const float stepLength = static_cast<float>(std::strtod(argv[2], nullptr));
    if (stepLength <= 0.0f) {
        std::fputs("Step length must be larger than 0. \n", stderr);
        return kExitFailure;
    }

    CTrackReader reader;
    TRACK_HEADER header;
    if (!reader.Open(input.c_str(), &header)) {
        std::fprintf(stderr, "Can not open file %s\n", input.c_str());
        return kExitFailure;
    }
    const float smallest = smallestVoxelSize(header);
    if (!(std::isfinite(smallest) && smallest > 0.0f)) {
        std::fprintf(stderr, "Invalid voxel size in track file %s\n", input.c_str());
        return kExitFailure;
    }
    const float step = stepLength * smallest;
    if (step <= 0.0f) {
        // A positive step length can still vanish when scaled to millimetres.
        std::fputs("Step length must be larger than 0. \n", stderr);
        return kExitFailure;
    }

    CTrackWriter writer;
    if (sameFile(input, output) || !writer.Initialize(output.c_str(), header)) {
        std::fprintf(stderr, "Can not create file %s\n", output.c_str());
        return kExitFailure;
    }

    std::printf("\nVolume dimension: %d %d %d\nVoxel size: %.2f %.2f %.2f\n", header.dim[0],
                header.dim[1], header.dim[2], header.voxel_size[0], header.voxel_size[1],
                header.voxel_size[2]);
    std::printf("\nSpline filtering track data... ");
    std::fflush(stdout);

    Smoother smoother(reader, writer, header, step);
    const RunStep stop = smoother.Run();
    reader.Close();
    const bool closed = writer.Close();
    std::printf("\bDone.\nNumber of tracks: %d\n", smoother.GetProcessed());
    std::fflush(stdout);

    if (stop) {
        smoother.PrintFailure(input, output);
        return *stop;
    }
    if (!closed) {
        std::fprintf(stderr, "Can not write file %s\n", output.c_str());
        return kExitFailure;
    }
    return kExitSuccess;
}
