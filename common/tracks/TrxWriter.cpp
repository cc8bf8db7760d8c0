#include "TrxWriter.h"

#include <zip.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

#include "LittleEndian.h"
#include "TrxNames.h"

namespace {

struct ArchiveDiscarder {
    void operator()(zip_t* archive) const noexcept { zip_discard(archive); }
};

// Little-endian bytes of values of any width.
template <typename T>
std::vector<unsigned char> littleEndianBytes(const T* values, std::size_t count) {
    std::vector<unsigned char> bytes(count * sizeof(T));
    if (count == 0) {
        return bytes;  // a track without points: nothing to copy (and no pointer to copy from)
    }
    std::memcpy(bytes.data(), values, bytes.size());
    LittleEndian::ToOrFromHost(bytes.data(), count, sizeof(T));
    return bytes;
}

}  // namespace

bool TrxWriter::Fail(const std::string& what) {
    error_ = path_ + ": " + what;
    return false;
}

bool TrxWriter::Append(std::FILE* file, const void* data, std::size_t bytes) {
    if (bytes > 0 && std::fwrite(data, 1, bytes, file) != bytes) {
        return Fail(std::string("cannot write a temporary file: ") + std::strerror(errno));
    }
    return true;
}

bool TrxWriter::Open(const std::string& path, const TRACK_HEADER& header) {
    path_ = path;
    header_ = header;
    error_.clear();
    vertices_ = 0;
    tracks_ = 0;
    // The archive itself is made at Close; check now that the file can be created.
    OwnedFile probe(std::fopen(path.c_str(), "wb"));
    if (!probe) {
        return Fail(std::string("cannot create: ") + std::strerror(errno));
    }
    positions_.reset(std::tmpfile());
    offsets_.reset(std::tmpfile());
    bool opened = positions_ && offsets_;
    for (int s = 0; s < header.scalar_count; ++s) {
        scalars_.emplace_back(std::tmpfile());
        opened = opened && scalars_.back();
    }
    for (int p = 0; p < header.property_count; ++p) {
        properties_.emplace_back(std::tmpfile());
        opened = opened && properties_.back();
    }
    if (!opened) {
        return Fail(std::string("cannot make a temporary file: ") + std::strerror(errno));
    }
    return true;
}

bool TrxWriter::Write(int n, const float* points, const float* scalars,
                      const float* properties) {
    const std::vector<unsigned char> start = littleEndianBytes(&vertices_, 1);
    const std::vector<unsigned char> coordinates =
        littleEndianBytes(points, 3 * static_cast<std::size_t>(n));
    if (!Append(offsets_.get(), start.data(), start.size()) ||
        !Append(positions_.get(), coordinates.data(), coordinates.size())) {
        return false;
    }
    const std::size_t width = scalars_.size();
    std::vector<float> column(static_cast<std::size_t>(n));
    for (std::size_t s = 0; s < width; ++s) {
        for (int i = 0; i < n; ++i) {
            column[static_cast<std::size_t>(i)] = scalars[static_cast<std::size_t>(i) * width + s];
        }
        const std::vector<unsigned char> bytes = littleEndianBytes(column.data(), column.size());
        if (!Append(scalars_[s].get(), bytes.data(), bytes.size())) {
            return false;
        }
    }
    for (std::size_t p = 0; p < properties_.size(); ++p) {
        const std::vector<unsigned char> bytes = littleEndianBytes(properties + p, 1);
        if (!Append(properties_[p].get(), bytes.data(), bytes.size())) {
            return false;
        }
    }
    vertices_ += static_cast<std::uint64_t>(n);
    ++tracks_;
    return true;
}

bool TrxWriter::Close() {
    // One offset per track, as the format describes it: the last track ends at NB_VERTICES.
    // (A closing vertex count after them made some readers see one empty track more.)
    if (!error_.empty()) {
        return false;
    }
    const std::string header = TrxNames::HeaderJson(header_, tracks_, vertices_);
    int code = 0;
    std::unique_ptr<zip_t, ArchiveDiscarder> archive(
        zip_open(path_.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &code));
    if (!archive) {
        return Fail("cannot create the archive (libzip error " + std::to_string(code) + ")");
    }
    // Each member: its name and the stream it comes from (null: the header text).
    std::vector<std::pair<std::string, BufferedFile*>> members = {
        {"header.json", nullptr},
        {TrxNames::kPositions, &positions_},
        {TrxNames::kOffsets, &offsets_},
    };
    for (std::size_t s = 0; s < scalars_.size(); ++s) {
        members.emplace_back("dpv/" + TrxNames::ValueName(header_.scalar_names[s], "scalar", s) +
                                 ".float32",
                             &scalars_[s]);
    }
    for (std::size_t p = 0; p < properties_.size(); ++p) {
        members.emplace_back("dps/" +
                                 TrxNames::ValueName(header_.property_names[p], "property", p) +
                                 ".float32",
                             &properties_[p]);
    }
    for (const auto& member : members) {
        zip_source_t* source = nullptr;
        if (member.second == nullptr) {
            source = zip_source_buffer(archive.get(), header.data(), header.size(), 0);
        } else {
            std::fflush(member.second->get());
            std::rewind(member.second->get());
            // The archive reads the stream when it is closed and closes the stream itself.
            std::FILE* stream = member.second->release();
            source = zip_source_filep(archive.get(), stream, 0, -1);
            if (source == nullptr) {
                std::fclose(stream);
            }
        }
        const zip_int64_t index =
            source == nullptr ? -1
                              : zip_file_add(archive.get(), member.first.c_str(), source,
                                             ZIP_FL_OVERWRITE | ZIP_FL_ENC_UTF_8);
        if (index < 0) {
            if (source != nullptr) {
                zip_source_free(source);
            }
            return Fail("cannot add " + member.first + ": " + zip_strerror(archive.get()));
        }
        zip_set_file_compression(archive.get(), static_cast<zip_uint64_t>(index), ZIP_CM_STORE, 0);
    }
    if (zip_close(archive.get()) != 0) {
        return Fail(std::string("cannot write the archive: ") + zip_strerror(archive.get()));
    }
    (void)archive.release();  // zip_close freed it
    return true;
}
