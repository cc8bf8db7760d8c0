#include "ProfileRun.h"

#include <algorithm>
#include <array>
#include <future>
#include <new>

#include "ExitStatus.h"
#include "OrderedChunks.h"

// The records of a window one after another, and what measuring made of each.
struct ProfileRun::Window {
    std::vector<float> values;
    std::vector<std::size_t> starts;
    std::vector<int> counts;
    std::vector<TrackMeasures> measures;  // kept from window to window for their room

    void Clear() {
        values.clear();
        starts.clear();
        counts.clear();
    }
    std::size_t Size() const { return counts.size(); }
};

ProfileRun::ProfileRun(TrackSource& source, const TrackMeasurer& measurer,
                       const Destinations& to, int threads, const Extent& extent,
                       RunMessages& messages)
    : source_(source),
      measurer_(measurer),
      to_(to),
      threads_(std::max(threads, 1)),
      extent_(extent),
      messages_(messages),
      recordWidth_(3 + static_cast<std::size_t>(std::max<int>(source.Header().scalar_count, 0))),
      properties_(static_cast<std::size_t>(std::max<int>(source.Header().property_count, 0))) {}

RunStep ProfileRun::Stop(Failure failure) {
    failure_ = failure;
    return kExitFailure;
}

RunStep ProfileRun::Run() {
    try {
        // With more than one thread the next window is read while this one is measured.
        std::array<Window, 2> windows;
        TrackSource::Outcome last = ReadWindow(windows[0]);
        for (std::size_t current = 0;; current ^= 1U) {
            const bool more = last == TrackSource::Outcome::kTrack;
            std::future<TrackSource::Outcome> next;
            if (more) {
                Window& following = windows[current ^ 1U];
                next = std::async(threads_ > 1 ? std::launch::async : std::launch::deferred,
                                  [this, &following] { return ReadWindow(following); });
            }
            if (const RunStep stop = MeasureAndHandOn(windows[current])) {
                if (next.valid()) {
                    next.wait();
                }
                return stop;
            }
            if (!more) {
                return last == TrackSource::Outcome::kEnd ? kGoOn : Stop(Failure::kDamaged);
            }
            last = next.get();
        }
    } catch (const std::bad_alloc&) {
        return Stop(Failure::kOutOfMemory);
    }
}

TrackSource::Outcome ProfileRun::ReadWindow(Window& window) {
    window.Clear();
    while (window.Size() < kWindow) {
        const TrackSource::Outcome outcome = source_.Next();
        if (outcome != TrackSource::Outcome::kTrack) {
            return outcome;
        }
        const int n = source_.PointCount();
        const std::size_t size = static_cast<std::size_t>(n) * recordWidth_ + properties_;
        window.starts.push_back(window.values.size());
        window.counts.push_back(n);
        window.values.insert(window.values.end(), source_.Values().data(),
                             source_.Values().data() + size);
    }
    return TrackSource::Outcome::kTrack;
}

RunStep ProfileRun::MeasureAndHandOn(Window& window) {
    const std::size_t tracks = window.Size();
    if (window.measures.size() < tracks) {
        window.measures.resize(tracks);
    }
    const std::size_t chunks = (tracks + kChunk - 1) / kChunk;
    bool written = true;
    OrderedChunks::Run(
        threads_, chunks, chunks,
        [&](std::size_t chunk, int /*worker*/) {
            for (std::size_t t = chunk * kChunk; t < std::min(tracks, (chunk + 1) * kChunk); ++t) {
                measurer_.Measure(window.values.data() + window.starts[t], window.counts[t],
                                  window.measures[t]);
            }
        },
        [&](std::size_t chunk) {
            for (std::size_t t = chunk * kChunk; t < std::min(tracks, (chunk + 1) * kChunk); ++t) {
                if (!HandOn(window, t)) {
                    written = false;
                    return false;
                }
            }
            return true;
        });
    if (!written) {
        return Stop(Failure::kWriteFailed);
    }
    if (extent_.total > 0.0) {
        // The display changes only when its figure does: a window is a small share of a file.
        const int percent = static_cast<int>(std::min(1000.0, done_ * 1000.0 / extent_.total));
        if (percent != shownPercent_) {
            shownPercent_ = percent;
            messages_.Progress(percent / 10.0);
        }
    }
    return kGoOn;
}

bool ProfileRun::HandOn(const Window& window, std::size_t track) {
    ++read_;
    // A .trk record: its point count, then its floats.
    done_ += extent_.inBytes ? 4.0 + 4.0 * static_cast<double>(
                                         static_cast<std::size_t>(window.counts[track]) *
                                             recordWidth_ +
                                         properties_)
                             : 1.0;
    const TrackMeasures& measures = window.measures[track];
    if (!measures.selected) {
        return true;
    }
    ++selected_;
    if (to_.statistics != nullptr) {
        to_.statistics->Add(measures);
    }
    if (to_.profile != nullptr) {
        to_.profile->Add(measures);
    }
    return to_.selected == nullptr ||
           to_.selected->Write(window.counts[track], window.values.data() + window.starts[track]);
}
