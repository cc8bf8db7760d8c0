#include "TrackSink.h"

#include <algorithm>
#include <vector>

#include "CTrackWriter.h"
#include "TckWriter.h"
#include "TrackSource.h"
#include "TrackSpace.h"
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
            space_.ToRas(values + i * width, &ras_[3 * i]);
            std::copy_n(values + i * width + 3, width - 3, &scalars_[i * (width - 3)]);
        }
        return ras_.data();
    }
    bool Usable() const { return space_.Usable(); }

    TRACK_HEADER header_;
    TrackSpace space_;
    std::vector<float> ras_;
    std::vector<float> scalars_;
};

class TckSink : public WorldSink {
  public:
    using WorldSink::WorldSink;
    bool Open(const std::string& path, std::string& reason) {
        if (header_.scalar_count > 0 || header_.property_count > 0) {
            reason = "the tracks carry " + std::to_string(header_.scalar_count) +
                     " values per point and " + std::to_string(header_.property_count) +
                     " per track, which a .tck file cannot hold; write a .trk or a .trx";
            return false;
        }
        if (!Usable()) {
            reason = "the grid's voxel sizes and voxel-to-world matrix give no world positions";
            return false;
        }
        if (!writer_.Open(path)) {
            reason = writer_.LastError();
            return false;
        }
        return true;
    }
    bool Write(int n, const float* values) override { return writer_.Write(n, World(n, values)); }
    bool Close(std::string& reason) override {
        if (!writer_.Close()) {
            reason = writer_.LastError();
            return false;
        }
        return true;
    }

  private:
    TckWriter writer_;
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
