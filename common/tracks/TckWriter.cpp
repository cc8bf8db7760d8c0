#include "TckWriter.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <limits>
#include <vector>

#include "LittleEndian.h"

namespace {

// Room for any count in the header, so that the final count is written over the first in place.
constexpr int kCountDigits = 20;
constexpr long kDataAlignment = 4;

}  // namespace

bool TckWriter::Fail(const std::string& what) {
    error_ = path_ + ": " + what;
    return false;
}

bool TckWriter::Open(const std::string& path, const std::string& extraKeys) {
    width_ = 3;
    return OpenFile(path, "mrtrix tracks", extraKeys);
}

bool TckWriter::OpenScalars(const std::string& path, const std::string& extraKeys) {
    width_ = 1;
    return OpenFile(path, "mrtrix track scalars", extraKeys);
}

bool TckWriter::OpenFile(const std::string& path, const std::string& kind,
                         const std::string& extraKeys) {
    path_ = path;
    tracks_ = 0;
    error_.clear();
    file_.reset(std::fopen(path.c_str(), "wb"));
    if (!file_) {
        return Fail(std::string("cannot create: ") + std::strerror(errno));
    }
    std::string header = kind + "\n" + extraKeys + "datatype: Float32LE\ncount: ";
    countPosition_ = static_cast<long>(header.size());
    header += "0" + std::string(kCountDigits - 1, ' ') + "\n";
    // The offset's own digits count towards the header: try widths until it fits.
    std::string text;
    for (long offset = 0;;) {
        text = header + "file: . " + std::to_string(offset) + "\nEND\n";
        const long needed = (static_cast<long>(text.size()) + kDataAlignment - 1) /
                            kDataAlignment * kDataAlignment;
        if (needed == offset) {
            break;
        }
        offset = needed;
    }
    text.resize((text.size() + kDataAlignment - 1) / kDataAlignment * kDataAlignment, '\0');
    if (std::fwrite(text.data(), 1, text.size(), file_.get()) != text.size()) {
        return Fail(std::string("cannot write: ") + std::strerror(errno));
    }
    return true;
}

bool TckWriter::WritePoints(const float* values, std::size_t points) {
    if (points == 0) {
        return true;
    }
    std::vector<float> copy(values, values + width_ * points);
    LittleEndian::ToOrFromHost(reinterpret_cast<unsigned char*>(copy.data()), copy.size(),
                               sizeof(float));
    if (std::fwrite(copy.data(), sizeof(float), copy.size(), file_.get()) != copy.size()) {
        return Fail(std::string("cannot write: ") + std::strerror(errno));
    }
    return true;
}

bool TckWriter::Write(int n, const float* points) {
    if (!file_) {
        return Fail("not open");
    }
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float separator[3] = {nan, nan, nan};
    if (!WritePoints(points, static_cast<std::size_t>(n)) || !WritePoints(separator, 1)) {
        return false;
    }
    ++tracks_;
    return true;
}

bool TckWriter::Close() {
    if (!file_) {
        return Fail("not open");
    }
    const float inf = std::numeric_limits<float>::infinity();
    const float end[3] = {inf, inf, inf};
    bool written = WritePoints(end, 1);
    // Left-aligned and padded with blanks, which readers trim.
    char digits[kCountDigits + 1];
    std::snprintf(digits, sizeof digits, "%-*lld", kCountDigits, static_cast<long long>(tracks_));
    written = written && std::fseek(file_.get(), countPosition_, SEEK_SET) == 0 &&
              std::fwrite(digits, 1, kCountDigits, file_.get()) == kCountDigits;
    std::FILE* file = file_.release();
    written = std::fclose(file) == 0 && written;
    if (!written && error_.empty()) {
        return Fail(std::string("cannot write: ") + std::strerror(errno));
    }
    return written;
}
