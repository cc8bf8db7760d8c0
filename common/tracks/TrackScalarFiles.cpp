#include "TrackScalarFiles.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

namespace {
constexpr std::size_t kMostValues = 10;  // what a .trk header can name
}  // namespace

bool TrackScalarFiles::Open(const std::string& tracks, const std::string& timestamp,
                            std::string& reason) {
    names_.clear();
    files_.clear();
    if (timestamp.empty()) {
        return true;
    }
    namespace fs = std::filesystem;
    const fs::path path(tracks);
    const std::string prefix = path.stem().string() + "_";
    const fs::path folder = path.has_parent_path() ? path.parent_path() : fs::path(".");
    std::vector<std::string> candidates;
    std::error_code error;
    for (fs::directory_iterator entry(folder, error), end; !error && entry != end;
         entry.increment(error)) {
        const std::string name = entry->path().filename().string();
        if (name.size() > prefix.size() + 4 && name.compare(0, prefix.size(), prefix) == 0 &&
            entry->path().extension() == ".tsf") {
            candidates.push_back(entry->path().string());
        }
    }
    std::sort(candidates.begin(), candidates.end());
    for (const std::string& candidate : candidates) {
        TckReader file;
        if (!file.OpenScalars(candidate) || file.Timestamp() != timestamp) {
            continue;  // not a track scalar file, or one of other tracks
        }
        if (files_.size() == kMostValues) {
            reason = tracks + ": more than " + std::to_string(kMostValues) +
                     " .tsf files of values per point belong to it";
            return false;
        }
        const std::string stem = fs::path(candidate).stem().string();
        names_.push_back(stem.substr(prefix.size()));
        files_.push_back(std::move(file));
    }
    return true;
}

bool TrackScalarFiles::ReadInto(std::size_t points, std::vector<float>& record,
                                std::string& reason) {
    const std::size_t width = 3 + files_.size();
    if (files_.empty()) {
        return true;
    }
    // Spread the points apart from the last one back, so that none is overwritten first.
    record.resize(points * width);
    for (std::size_t i = points; i-- > 0;) {
        for (std::size_t c = 3; c-- > 0;) {
            record[width * i + c] = record[3 * i + c];
        }
    }
    for (std::size_t s = 0; s < files_.size(); ++s) {
        if (files_[s].Next(values_) != TckReader::Outcome::kTrack) {
            reason = files_[s].LastError().empty()
                         ? names_[s] + " values end before the tracks do"
                         : files_[s].LastError();
            return false;
        }
        if (values_.size() != points) {
            reason = names_[s] + " values: track " + std::to_string(files_[s].TracksRead()) +
                     " has " + std::to_string(values_.size()) + " values for " +
                     std::to_string(points) + " points";
            return false;
        }
        for (std::size_t i = 0; i < points; ++i) {
            record[width * i + 3 + s] = values_[i];
        }
    }
    return true;
}
