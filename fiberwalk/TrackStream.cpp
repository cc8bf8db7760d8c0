#include "TrackStream.h"

#include <algorithm>

#include <cstdint>

#include "TrackSource.h"

namespace {
// Large enough that the many short track records of a run leave in few system calls.
constexpr size_t kBufferBytes = 1 << 20;
}  // namespace

bool TrackStream::Create(const std::string& path) {
    Close();
    path_ = path;
    tracksWritten_ = 0;
    if (TrackSource::FormatOf(path) != TrackSource::Format::kTrk) {
        return true;  // the other formats are made with the header, which holds their grid
    }
    file_.reset(std::fopen(path.c_str(), "wb"));
    if (!file_) {
        return false;
    }
    buffer_.resize(kBufferBytes);
    std::setvbuf(file_.get(), buffer_.data(), _IOFBF, buffer_.size());
    tracksWritten_ = 0;
    return true;
}

bool TrackStream::WriteHeader(const TRACK_HEADER& header) {
    if (TrackSource::FormatOf(path_) != TrackSource::Format::kTrk) {
        sink_ = TrackSink::Create(path_, header, error_);
        return sink_ != nullptr;
    }
    return file_ && std::fwrite(&header, sizeof header, 1, file_.get()) == 1;
}

bool TrackStream::WriteTrack(const std::vector<float>& points, int pointCount) {
    if (points.size() < static_cast<size_t>(std::max(pointCount, 0)) * 3U) {
        return false;
    }
    return WriteTrack(points.data(), pointCount);
}

bool TrackStream::WriteTrack(const float* points, int pointCount) {
    if (sink_ && pointCount >= 0) {
        const bool written = sink_->Write(pointCount, points);
        tracksWritten_ += written ? 1 : 0;
        return written;
    }
    if (!file_ || pointCount < 0) {
        return false;
    }
    const int32_t count = pointCount;
    const size_t values = static_cast<size_t>(pointCount) * 3U;
    if (std::fwrite(&count, sizeof count, 1, file_.get()) != 1 ||
        std::fwrite(points, sizeof(float), values, file_.get()) != values) {
        return false;
    }
    ++tracksWritten_;
    return true;
}

bool TrackStream::Close() {
    if (sink_) {
        const bool closed = sink_->Close(error_);
        sink_.reset();
        return closed;
    }
    if (!file_) {
        return true;
    }
    const bool flushed = std::fflush(file_.get()) == 0;
    const bool closed = std::fclose(file_.release()) == 0;
    return flushed && closed;
}
