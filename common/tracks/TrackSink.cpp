#include "TrackSink.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

#include "CTrackWriter.h"
#include "TckWriter.h"
#include "TrackSource.h"
#include "TrackSpace.h"
#include "TrxNames.h"
#include "TrxWriter.h"

namespace {

class TrkSink : public TrackSink {
  public:
    bool Open(const std::string& path, const TRACK_HEADER& header, std::string& reason) {
        if (!writer_.Initialize(path.c_str(), header)) {
            reason = path + ": " + writer_.GetLastErrorMessage();
            return false;
        }
        return true;
    }
    bool Write(int n, const float* values) override { return writer_.WriteNextTrack(n, values); }
    bool Close(std::string& reason) override {
        if (!writer_.Close()) {
            reason = writer_.GetLastErrorMessage();
            return false;
        }
        return true;
    }

  private:
    CTrackWriter writer_;
};

// Points turned into RAS millimetres for the formats that store the world.
class WorldSink : public TrackSink {
  public:
    explicit WorldSink(const TRACK_HEADER& header) : header_(header), space_(header) {}

  protected:
    // The points of a record, in RAS.
    const float* World(int n, const float* values) {
        const std::size_t width = 3 + static_cast<std::size_t>(header_.scalar_count);
        ras_.resize(3 * static_cast<std::size_t>(n));
        scalars_.resize(static_cast<std::size_t>(n) * (width - 3));
        for (std::size_t i = 0; i < static_cast<std::size_t>(n); ++i) {
            space_.ToRas(values + i * width, ras_.data() + 3 * i);
            // data(), not [], so that no element is named in an empty vector (no values).
            std::copy_n(values + i * width + 3, width - 3, scalars_.data() + i * (width - 3));
        }
        return ras_.data();
    }
    bool Usable() const { return space_.Usable(); }

    TRACK_HEADER header_;
    TrackSpace space_;
    std::vector<float> ras_;
    std::vector<float> scalars_;
};

// Values per point go into MRtrix3's .tsf files beside the .tck, one per value (OUT_NAME.tsf),
// whose timestamp matches the track file's, as MRtrix3 requires of a pair.
class TckSink : public WorldSink {
  public:
    using WorldSink::WorldSink;
    bool Open(const std::string& path, std::string& reason) {
        if (header_.property_count > 0) {
            reason = "the tracks carry " + std::to_string(header_.property_count) +
                     " values per track, which a .tck file cannot hold; write a .trk or a .trx";
            return false;
        }
        if (!Usable()) {
            reason = "the grid's voxel sizes and voxel-to-world matrix give no world positions";
            return false;
        }
        char stamp[64];
        std::snprintf(stamp, sizeof stamp, "timestamp: %.6f\n",
                      std::chrono::duration<double>(
                          std::chrono::system_clock::now().time_since_epoch())
                          .count());
        if (!writer_.Open(path, stamp)) {
            reason = writer_.LastError();
            return false;
        }
        const std::string stem = path.substr(0, path.size() - 4);
        scalarFiles_.resize(static_cast<std::size_t>(header_.scalar_count));
        for (std::size_t s = 0; s < scalarFiles_.size(); ++s) {
            const std::string name =
                stem + "_" + TrxNames::ValueName(header_.scalar_names[s], "scalar", s) + ".tsf";
            if (!scalarFiles_[s].OpenScalars(name, stamp)) {
                reason = scalarFiles_[s].LastError();
                return false;
            }
        }
        return true;
    }
    bool Write(int n, const float* values) override {
        if (!writer_.Write(n, World(n, values))) {
            return false;
        }
        const std::size_t width = scalarFiles_.size();
        column_.resize(static_cast<std::size_t>(n));
        for (std::size_t s = 0; s < width; ++s) {
            for (std::size_t i = 0; i < static_cast<std::size_t>(n); ++i) {
                column_[i] = scalars_[i * width + s];
            }
            if (!scalarFiles_[s].Write(n, column_.data())) {
                return false;
            }
        }
        return true;
    }
    bool Close(std::string& reason) override {
        bool closed = writer_.Close();
        reason = closed ? "" : writer_.LastError();
        for (TckWriter& file : scalarFiles_) {
            if (!file.Close() && closed) {
                closed = false;
                reason = file.LastError();
            }
        }
        return closed;
    }

  private:
    TckWriter writer_;
    std::vector<TckWriter> scalarFiles_;
    std::vector<float> column_;
};

class TrxSink : public WorldSink {
  public:
    using WorldSink::WorldSink;
    bool Open(const std::string& path, std::string& reason) {
        if (!Usable()) {
            reason = "the grid's voxel sizes and voxel-to-world matrix give no world positions";
            return false;
        }
        if (!writer_.Open(path, header_)) {
            reason = writer_.LastError();
            return false;
        }
        return true;
    }
    bool Write(int n, const float* values) override {
        const float* points = World(n, values);
        const std::size_t width = 3 + static_cast<std::size_t>(header_.scalar_count);
        return writer_.Write(n, points, scalars_.data(), values + static_cast<std::size_t>(n) * width);
    }
    bool Close(std::string& reason) override {
        if (!writer_.Close()) {
            reason = writer_.LastError();
            return false;
        }
        return true;
    }

  private:
    TrxWriter writer_;
};

}  // namespace

std::unique_ptr<TrackSink> TrackSink::Create(const std::string& path, const TRACK_HEADER& header,
                                             std::string& reason) {
    switch (TrackSource::FormatOf(path)) {
        case TrackSource::Format::kTck: {
            auto sink = std::make_unique<TckSink>(header);
            return sink->Open(path, reason) ? std::move(sink) : nullptr;
        }
        case TrackSource::Format::kTrx: {
            auto sink = std::make_unique<TrxSink>(header);
            return sink->Open(path, reason) ? std::move(sink) : nullptr;
        }
        case TrackSource::Format::kTrk:
            break;
    }
    auto sink = std::make_unique<TrkSink>();
    return sink->Open(path, header, reason) ? std::move(sink) : nullptr;
}
