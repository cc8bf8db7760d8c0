#include "TckReader.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "LittleEndian.h"

namespace {

constexpr std::size_t kMaxHeaderLine = 4096;
constexpr int kMaxHeaderLines = 10000;

std::string trimmed(const std::string& text) {
    const std::size_t first = text.find_first_not_of(" \t\r");
    if (first == std::string::npos) {
        return "";
    }
    return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

}  // namespace

TckReader::Outcome TckReader::Damaged(const std::string& why) {
    error_ = path_ + ": " + why;
    return Outcome::kDamaged;
}

bool TckReader::Open(const std::string& path) {
    return OpenAs(path, "mrtrix tracks", 3);
}

bool TckReader::OpenScalars(const std::string& path) {
    return OpenAs(path, "mrtrix track scalars", 1);
}

bool TckReader::OpenAs(const std::string& path, const std::string& kind, int width) {
    path_ = path;
    width_ = width;
    timestamp_.clear();
    error_.clear();
    tracksRead_ = 0;
    ended_ = false;
    file_.reset(std::fopen(path.c_str(), "rb"));
    if (!file_) {
        error_ = path + ": cannot open: " + std::strerror(errno);
        return false;
    }
    std::fseek(file_.get(), 0, SEEK_END);
    const long size = std::ftell(file_.get());
    std::fseek(file_.get(), 0, SEEK_SET);

    std::string line;
    std::string datatype;
    long offset = -1;
    int lines = 0;
    for (int c = std::fgetc(file_.get());; c = std::fgetc(file_.get())) {
        if (c == EOF) {
            error_ = path + ": the header ends without END";
            return false;
        }
        if (c != '\n') {
            if (line.size() >= kMaxHeaderLine) {
                error_ = path + ": header line " + std::to_string(lines + 1) + " is too long";
                return false;
            }
            line += static_cast<char>(c);
            continue;
        }
        ++lines;
        const std::string text = trimmed(line);
        line.clear();
        if (lines == 1) {
            if (text != kind) {
                error_ = path + ": not a " + (width == 3 ? "track" : "track scalar") +
                         " file (it does not start with '" + kind + "')";
                return false;
            }
            continue;
        }
        if (text == "END") {
            break;
        }
        if (lines > kMaxHeaderLines) {
            error_ = path + ": no END in the first " + std::to_string(kMaxHeaderLines) + " lines";
            return false;
        }
        const std::size_t colon = text.find(':');
        if (colon == std::string::npos) {
            continue;  // other writers' comments
        }
        const std::string key = trimmed(text.substr(0, colon));
        const std::string value = trimmed(text.substr(colon + 1));
        if (key == "datatype") {
            datatype = value;
        } else if (key == "timestamp") {
            timestamp_ = value;
        } else if (key == "count") {
            char* end = nullptr;
            const long long count = std::strtoll(value.c_str(), &end, 10);
            if (end == value.c_str() || *end != '\0' || count < 0) {
                error_ = path + ": count '" + value + "' is not a number of tracks";
                return false;
            }
            declaredCount_ = count;
        } else if (key == "file") {
            char* end = nullptr;
            if (value.rfind(". ", 0) != 0 ||
                (offset = std::strtol(value.c_str() + 2, &end, 10), *end != '\0') || offset < 0) {
                error_ = path + ": 'file: " + value + "' does not name data in this file";
                return false;
            }
        }
    }
    if (datatype == "Float32LE" || datatype == "Float32BE") {
        bigEndian_ = datatype == "Float32BE";
    } else {
        error_ = path + ": datatype '" + datatype + "' is not Float32LE or Float32BE";
        return false;
    }
    if (offset < 0 || offset > size) {
        error_ = path + ": the data offset " + std::to_string(offset) + " is not in the file of " +
                 std::to_string(size) + " bytes";
        return false;
    }
    std::fseek(file_.get(), offset, SEEK_SET);
    remaining_ = size - offset;
    return true;
}

bool TckReader::ReadPoint(float point[3], bool* atEnd) {
    const std::size_t bytes = 4 * static_cast<std::size_t>(width_);
    *atEnd = remaining_ == 0;
    if (remaining_ < static_cast<std::int64_t>(bytes)) {
        return false;
    }
    if (buffered_ - position_ < bytes && !Refill()) {
        return false;
    }
    unsigned char* const data = buffer_.data() + position_;
    position_ += bytes;
    remaining_ -= static_cast<std::int64_t>(bytes);
    LittleEndian::Swap(data, static_cast<std::size_t>(width_), sizeof(float),
                       bigEndian_ == LittleEndian::IsHost());
    std::memcpy(point, data, bytes);
    return true;
}

bool TckReader::Refill() {
    // Whole blocks rather than a call per point: reading a point at a time cost more than
    // everything else done with it.
    constexpr std::size_t kBlock = std::size_t{1} << 20;
    const std::size_t kept = buffered_ - position_;
    if (buffer_.size() < kBlock + 12) {
        buffer_.resize(kBlock + 12);
    }
    std::memmove(buffer_.data(), buffer_.data() + position_, kept);
    position_ = 0;
    const std::size_t wanted =
        static_cast<std::size_t>(std::min<std::int64_t>(remaining_ - static_cast<std::int64_t>(kept),
                                                        static_cast<std::int64_t>(kBlock)));
    buffered_ = kept + std::fread(buffer_.data() + kept, 1, wanted, file_.get());
    return buffered_ >= 4 * static_cast<std::size_t>(width_);
}

TckReader::Outcome TckReader::Next(std::vector<float>& points) {
    points.clear();
    if (ended_) {
        return Outcome::kEnd;
    }
    for (;;) {
        float triplet[3] = {};
        bool atEnd = false;
        if (!ReadPoint(triplet, &atEnd)) {
            if (atEnd && points.empty()) {
                if (declaredCount_ >= 0 && tracksRead_ < declaredCount_) {
                    return Damaged("the header counts " + std::to_string(declaredCount_) +
                                   " tracks but the data holds " + std::to_string(tracksRead_));
                }
                ended_ = true;  // no end triplet, but nothing is missing
                return Outcome::kEnd;
            }
            return Damaged(atEnd ? "the data ends inside track " + std::to_string(tracksRead_ + 1)
                                 : "the data is cut inside a point of track " +
                                       std::to_string(tracksRead_ + 1));
        }
        if (std::isinf(triplet[0])) {
            if (!points.empty()) {
                return Damaged("track " + std::to_string(tracksRead_ + 1) +
                               " has no end before the end of the data");
            }
            if (declaredCount_ >= 0 && tracksRead_ < declaredCount_) {
                return Damaged("the header counts " + std::to_string(declaredCount_) +
                               " tracks but the data holds " + std::to_string(tracksRead_));
            }
            ended_ = true;
            return Outcome::kEnd;
        }
        if (std::isnan(triplet[0])) {
            ++tracksRead_;
            if (declaredCount_ >= 0 && tracksRead_ > declaredCount_) {
                return Damaged("the data holds more tracks than the header's count " +
                               std::to_string(declaredCount_));
            }
            return Outcome::kTrack;
        }
        points.insert(points.end(), triplet, triplet + width_);
    }
}
