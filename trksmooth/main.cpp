// trksmooth: replaces every long enough track of a track file by points resampled at a fixed
// step along a cubic spline through a thinned subset of its points.

#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <condition_variable>
#include <mutex>
#include <limits>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "CommandLineOpening.h"
#include "ExitStatus.h"
#include "RunStep.h"
#include "StandardOptions.h"
#include "Spline.h"
#include "OrderedChunks.h"
#include "ThreadCount.h"
#include "TrackSink.h"
#include "TrackSource.h"

namespace {

// The usage as it has always been printed without arguments (on standard error).
constexpr CommandOption kUsage = CommandOption::HelpText(
    "\n"
    "Usage: trksmooth INPUT_TRACK_FILE STEP_LENGTH OUTPUT_TRACK_FILE\n"
    "\n"
    "Note:\n"
    "  STEP_LENGTH is in the unit of minimum voxel size\n"
    "\n"
    "Example:\n"
    "  trksmooth tracks.trk 0.5 tracks_spline.trk\n"
    "\n");

// The help of -h/--help: the usage, then the options and the thread count.
const OptionTable& options() {
    static const OptionTable table({
        kUsage,
        StandardOptions::Help("  -h, --help\n          display this help\n"),
        StandardOptions::kVersion,
        CommandOption::HelpText(
            "\n"
            "Threads: the DTI_NTHREADS environment variable, else every processor this process\n"
            "may run on. the output is the same for every number of threads\n"
            "\n"),
    });
    return table;
}

void printUsage() {
    std::fputs(kUsage.help, stderr);
}

bool isOption(const char* word, const CommandOption& option) {
    return std::strcmp(word, option.shortName) == 0 || std::strcmp(word, option.longName) == 0;
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

// One chunk of records: what was read, then what smoothing made of each.
struct Window {
    std::vector<float> values;       // the records one after another, properties included
    std::vector<std::size_t> starts; // where each record begins in values
    std::vector<int> counts;         // point count of each record
    // Results, one per record: the values to write and their point count; a count below 0
    // marks a track that needs more points than a record can hold.
    std::vector<std::vector<float>> smoothed;
    std::vector<int> smoothedCounts;
    // How reading ended: kTrack when the input may hold more records.
    TrackSource::Outcome last = TrackSource::Outcome::kTrack;

    void Clear() {
        values.clear();
        starts.clear();
        counts.clear();
    }
    std::size_t Size() const { return counts.size(); }
};

// What one worker reuses from track to track: memory follows the largest track, not the file.
struct SmoothingScratch {
    std::vector<float> controls;
    Spline spline;
};

class Smoother {
  public:
    Smoother(TrackSource& reader, TrackSink& writer, const TRACK_HEADER& header, float step,
             int threads)
        : m_records(reader),
          m_writer(writer),
          m_width(3 + header.scalar_count),
          m_properties(header.property_count),
          m_step(step),
          m_threads(OrderedChunks::Workers(threads, kChunksPerRun)),
          m_scratch(static_cast<std::size_t>(m_threads)) {}

    // Smooths and writes records until the input ends (kGoOn) or something fails (the status to
    // end with). Workers take chunks of records in order; each reads its chunk when the chunk
    // before has been read (reading is sequential) and smooths it while the next worker reads,
    // and this thread writes the chunks in order. So the output is the same for every thread
    // count, no worker waits for others at window ends, and memory holds the chunks in flight.
    // The failure is told by PrintFailure once the summary is out.
    RunStep Run() {
        try {
            // OrderedChunks starts no chunk ring or more past the last one written, so a chunk's
            // slot is free again when its turn comes.
            const std::size_t ring = 4 * static_cast<std::size_t>(m_threads);
            std::vector<Window> chunks(ring);
            ReadingTurn turn;
            RunStep stop = kGoOn;
            bool ended = false;
            for (std::size_t base = 0; !ended && !stop; base += kChunksPerRun) {
                OrderedChunks::Run(
                    m_threads, kChunksPerRun, ring,
                    [&](std::size_t chunk, int worker) {
                        Window& records = chunks[(base + chunk) % ring];
                        ReadChunk(base + chunk, records, turn);
                        records.smoothed.resize(records.Size());
                        records.smoothedCounts.assign(records.Size(), 0);
                        SmoothingScratch& scratch = m_scratch[static_cast<std::size_t>(worker)];
                        for (std::size_t r = 0; r < records.Size(); ++r) {
                            Smooth(records, r, scratch);
                        }
                    },
                    [&](std::size_t chunk) {
                        const Window& records = chunks[(base + chunk) % ring];
                        stop = WriteChunk(records);
                        if (!stop && records.last == TrackSource::Outcome::kDamaged) {
                            stop = Stop(Failure::kCorrupt);
                        }
                        ended = records.last != TrackSource::Outcome::kTrack;
                        return !stop && !ended;
                    });
            }
            return stop;
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
    // Records a worker reads and smooths at a time (few enough to stay in the processor cache
    // from reading to smoothing), and chunks handed out per run of the workers.
    static constexpr std::size_t kChunk = 64;
    static constexpr std::size_t kChunksPerRun = std::size_t{1} << 14;

    // Whose turn it is to read: chunk `next`. Set by the reader of the chunk before, under the
    // mutex, as is `ended` (no later chunk has records).
    struct ReadingTurn {
        std::mutex mutex;
        std::condition_variable changed;
        std::size_t next = 0;
        bool ended = false;
    };

    RunStep Stop(Failure failure) {
        m_failure = failure;
        return kExitFailure;
    }

    // Waits for chunk index's turn, reads up to kChunk records into records (records.last: kTrack
    // when the input may hold more) and hands the turn on, also when reading throws.
    void ReadChunk(std::size_t index, Window& records, ReadingTurn& turn) {
        std::unique_lock<std::mutex> lock(turn.mutex);
        turn.changed.wait(lock, [&] { return turn.next == index; });
        lock.unlock();
        struct HandOn {
            ReadingTurn& turn;
            bool ended = true;  // unless the chunk was read whole
            ~HandOn() {
                const std::lock_guard<std::mutex> guard(turn.mutex);
                turn.ended = turn.ended || ended;
                ++turn.next;
                turn.changed.notify_all();
            }
        } handOn{turn};
        records.Clear();
        records.last = TrackSource::Outcome::kEnd;
        if (turn.ended) {
            return;
        }
        while (records.Size() < kChunk) {
            const std::size_t start = records.values.size();
            const TrackSource::Outcome outcome = m_records.AppendNext(records.values);
            if (outcome != TrackSource::Outcome::kTrack) {
                records.last = outcome;
                return;
            }
            records.starts.push_back(start);
            records.counts.push_back(m_records.PointCount());
        }
        records.last = TrackSource::Outcome::kTrack;
        handOn.ended = false;
    }

    RunStep WriteChunk(const Window& records) {
        for (std::size_t r = 0; r < records.Size(); ++r) {
            if (const RunStep stop = Write(records, r)) {
                return stop;
            }
            ++m_processed;
            showProgress(m_processed);
        }
        return kGoOn;
    }

    // Record r as it is written: the spline's resampled points, or the record unchanged when it
    // has too few control points.
    void Smooth(Window& window, std::size_t r, SmoothingScratch& scratch) const {
        const int n = window.counts[r];
        const float* const record = window.values.data() + window.starts[r];
        std::vector<float>& out = window.smoothed[r];
        const int J = Spline::SelectControlPoints(record, n, m_width, 2.0f * m_step,
                                                  scratch.controls);
        const std::size_t width = static_cast<std::size_t>(m_width);
        if (J <= 2) {
            out.assign(record, record + static_cast<std::size_t>(n) * width +
                                   static_cast<std::size_t>(m_properties));
            window.smoothedCounts[r] = n;
            return;
        }
        scratch.spline.SetControlPoints(scratch.controls.data(), J, m_width);
        const std::int64_t room = scratch.spline.GetCurveCount(m_step);
        if (room < 0 || room > std::numeric_limits<std::int32_t>::max()) {
            window.smoothedCounts[r] = -1;
            out.clear();
            return;
        }
        out.resize(static_cast<std::size_t>(room) * width + static_cast<std::size_t>(m_properties));
        const int S = scratch.spline.Resample(m_step, out.data());
        out.resize(static_cast<std::size_t>(S) * width + static_cast<std::size_t>(m_properties));
        if (m_properties > 0) {
            std::memcpy(out.data() + static_cast<std::size_t>(S) * width,
                        record + static_cast<std::size_t>(n) * width,
                        static_cast<std::size_t>(m_properties) * sizeof(float));
        }
        window.smoothedCounts[r] = S;
    }

    RunStep Write(const Window& window, std::size_t r) {
        const int count = window.smoothedCounts[r];
        if (count < 0) {
            return Stop(Failure::kStepTooSmall);
        }
        // The buffer keeps its room for the record of the next window in this place.
        return m_writer.Write(count, window.smoothed[r].data()) ? kGoOn
                                                                : Stop(Failure::kWriteFailed);
    }

    TrackSource& m_records;
    TrackSink& m_writer;
    const int m_width;
    const int m_properties;
    const float m_step;
    const int m_threads;
    int m_processed = 0;
    Failure m_failure = Failure::kCorrupt;
    std::vector<SmoothingScratch> m_scratch;
};

}  // namespace

int main(int argc, char* argv[]) {
    if (argc == 2 && isOption(argv[1], StandardOptions::kVersion)) {
        CommandLineOpening::PrintVersion("trksmooth");
        return kExitSuccess;
    }
    if (argc == 2 && isOption(argv[1], StandardOptions::Help(""))) {
        CommandLineOpening::ShowHelp(options());
        return kExitSuccess;
    }
    if (argc < 4) {
        printUsage();
        return kExitUsage;
    }
    // The thread count comes from the environment alone: the command line has no options.
    int threads = 1;
    std::string threadProblem;
    if (!ThreadCount::Choose("", &threads, &threadProblem)) {
        std::fprintf(stderr, "%s\n", threadProblem.c_str());
        return kExitUsage;
    }
    if (!threadProblem.empty()) {
        std::printf("%s\n", threadProblem.c_str());  // a note: fewer threads than asked
    }
    const std::string input = argv[1];
    const std::string output = argv[3];
    const float stepLength = static_cast<float>(std::strtod(argv[2], nullptr));
    if (stepLength <= 0.0f) {
        std::fputs("Step length must be larger than 0. \n", stderr);
        return kExitFailure;
    }

    // .trk, .tck or .trx by the name's ending; a .tck file has no grid, so its step is in
    // millimetres (a 1 mm grid).
    std::string reason;
    std::unique_ptr<TrackSource> reader = TrackSource::Open(input, "", reason);
    if (!reader) {
        std::fprintf(stderr, "Can not open file %s\n", input.c_str());
        return kExitFailure;
    }
    const TRACK_HEADER header = reader->Header();
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

    std::unique_ptr<TrackSink> writer;
    if (sameFile(input, output) || !(writer = TrackSink::Create(output, header, reason))) {
        std::fprintf(stderr, "Can not create file %s\n", output.c_str());
        // The .trk message stays as it always was; the other writers say why.
        if (!reason.empty() && TrackSource::FormatOf(output) != TrackSource::Format::kTrk) {
            std::fprintf(stderr, "  %s\n", reason.c_str());
        }
        return kExitFailure;
    }

    std::printf("\nVolume dimension: %d %d %d\nVoxel size: %.2f %.2f %.2f\n", header.dim[0],
                header.dim[1], header.dim[2], header.voxel_size[0], header.voxel_size[1],
                header.voxel_size[2]);
    std::printf("\nSpline filtering track data... ");
    std::fflush(stdout);

    Smoother smoother(*reader, *writer, header, step, threads);
    const RunStep stop = smoother.Run();
    reader.reset();
    const bool closed = writer->Close(reason);
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
