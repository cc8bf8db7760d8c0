#pragma once
// The pass over the track file: windows of tracks read in order, measured side by side on the
// threads, and handed in the file's order to the figures, the profile and the file of selected
// tracks, so that every output is the same for every thread count. Memory holds two windows.

#include <cstdint>
#include <string>
#include <vector>

#include "BundleProfile.h"
#include "BundleStatistics.h"
#include "RunMessages.h"
#include "RunStep.h"
#include "TrackMeasurer.h"
#include "TrackSink.h"
#include "TrackSource.h"

class ProfileRun {
  public:
    // Where the selected tracks go; any may be null.
    struct Destinations {
        BundleStatistics* statistics = nullptr;
        BundleProfile* profile = nullptr;
        TrackSink* selected = nullptr;
    };
    // How far through the file the run is: by tracks against the count the file declares, or
    // (for .trk files, which seldom declare one) by the bytes of the records read against the
    // bytes of the file after its header. A total of 0 shows no progress.
    struct Extent {
        bool inBytes = false;
        double total = 0.0;
    };
    enum class Failure {
        kDamaged,      // a record of the track file is cut short or impossible
        kWriteFailed,  // the file of selected tracks refused a track
        kOutOfMemory,
    };

    ProfileRun(TrackSource& source, const TrackMeasurer& measurer, const Destinations& to,
               int threads, const Extent& extent, RunMessages& messages);

    // Reads every track (kGoOn) or stops at the first failure (status 1; Failed() says which).
    RunStep Run();
    Failure Failed() const { return failure_; }
    std::int64_t TracksRead() const { return read_; }
    std::int64_t TracksSelected() const { return selected_; }

  private:
    struct Window;
    static constexpr std::size_t kWindow = 1024;  // tracks read and measured together
    static constexpr std::size_t kChunk = 32;      // tracks a worker takes at a time

    TrackSource::Outcome ReadWindow(Window& window);
    RunStep MeasureAndHandOn(Window& window);
    bool HandOn(const Window& window, std::size_t track);
    RunStep Stop(Failure failure);

    TrackSource& source_;
    const TrackMeasurer& measurer_;
    const Destinations to_;
    const int threads_;
    const Extent extent_;
    RunMessages& messages_;
    const std::size_t recordWidth_;   // floats per point
    const std::size_t properties_;    // floats per track after the points
    std::int64_t read_ = 0;
    std::int64_t selected_ = 0;
    double done_ = 0.0;  // in the unit of extent_
    int shownPercent_ = -1;
    Failure failure_ = Failure::kDamaged;
};
