#include "CTrackWriter.h"

#include <sys/types.h>

#include <cstdint>
#include <cstring>

namespace {

template <typename Dim>
TRACK_HEADER headerFromGeometry(const Dim* dim, const float* voxel_size, const float* origin,
                                short scalar_count) {
    TRACK_HEADER header = TRACK_HEADER::MakeDefault();
    for (int i = 0; i < 3; ++i) {
        header.dim[i] = static_cast<std::int16_t>(dim != nullptr ? dim[i] : 0);
        header.voxel_size[i] = voxel_size != nullptr ? voxel_size[i] : 0.0f;
        header.origin[i] = origin != nullptr ? origin[i] : 0.0f;
    }
    header.scalar_count = scalar_count;
    return header;
}

}  // namespace

bool CTrackWriter::Initialize(const char* path, const TRACK_HEADER& header) {
    Close();
    m_swap = false;
    m_legacy = false;
    m_file.reset(std::fopen(path, "wb"));
    if (!m_file) {
        m_error = kNotInitialized;
        return false;
    }
    UseLargeBuffer();
    m_header = header;
    if (m_header.IsForeignByteOrder()) {
        m_header.SwapByteOrder();
    }
    m_header.version = 2;
    m_header.header_size = 1000;
    const bool written = std::fwrite(&m_header, sizeof m_header, 1, m_file.get()) == 1;
    m_header.track_count = 0;
    m_error = written ? kNoError : kCanNotWrite;
    return written;
}

bool CTrackWriter::Initialize(const char* path, const short* dim, const float* voxel_size,
                              const float* origin, short scalar_count) {
    return Initialize(path, headerFromGeometry(dim, voxel_size, origin, scalar_count));
}

bool CTrackWriter::Initialize(const char* path, const int* dim, const float* voxel_size,
                              const float* origin, short scalar_count) {
    return Initialize(path, headerFromGeometry(dim, voxel_size, origin, scalar_count));
}

bool CTrackWriter::WriteFloats(const float* data, std::size_t count) {
    return count == 0 || std::fwrite(data, sizeof(float), count, m_file.get()) == count;
}

// The record's point count, once the writer is known to be open and the count valid. False
// with the error code set when the record must not be written at all.
bool CTrackWriter::StartRecord(int n, bool* countWritten) {
    if (!m_file) {
        m_error = kNotInitialized;
        return false;
    }
    m_error = kNoError;
    // A negative count would make the record unreadable.
    if (n < 0) {
        m_error = kCanNotWrite;
        return false;
    }
    const std::int32_t points = n;
    *countWritten = std::fwrite(&points, sizeof points, 1, m_file.get()) == 1;
    return true;
}

// Counts the record when every part of it was written.
bool CTrackWriter::EndRecord(bool written) {
    if (!written) {
        m_error = kCanNotWrite;
        return false;
    }
    ++m_header.track_count;
    return true;
}

bool CTrackWriter::WriteNextTrack(int n, const float* data) {
    bool ok = false;
    if (!StartRecord(n, &ok)) {
        return false;
    }
    const std::size_t count =
        static_cast<std::size_t>(n) * (3 + static_cast<std::size_t>(m_header.scalar_count)) +
        static_cast<std::size_t>(m_header.property_count);
    ok = WriteFloats(data, count) && ok;
    return EndRecord(ok);
}

bool CTrackWriter::WriteNextTrack(int n, const float* points, const float* scalars,
                                  const float* properties) {
    bool ok = false;
    if (!StartRecord(n, &ok)) {
        return false;
    }
    const std::size_t scalarCount = static_cast<std::size_t>(m_header.scalar_count);
    for (std::size_t i = 0; i < static_cast<std::size_t>(n); ++i) {
        ok = WriteFloats(points + 3 * i, 3) && ok;
        if (scalarCount > 0) {
            ok = WriteFloats(scalars + i * scalarCount, scalarCount) && ok;
        }
    }
    ok = WriteFloats(properties, static_cast<std::size_t>(m_header.property_count)) && ok;
    return EndRecord(ok);
}

bool CTrackWriter::RewriteHeader() {
    std::FILE* const file = m_file.get();
    const off_t position = ftello(file);
    if (position < 0 || fseeko(file, 0, SEEK_SET) != 0) {
        return false;
    }
    const bool written = std::fwrite(&m_header, sizeof m_header, 1, file) == 1;
    const bool returned = fseeko(file, position, SEEK_SET) == 0;
    return written && returned;
}

bool CTrackWriter::UpdateHeader(const TRACK_HEADER& header) {
    if (!m_file) {
        m_error = kNotInitialized;
        return false;
    }
    m_header = header;
    if (m_header.IsForeignByteOrder()) {
        m_header.SwapByteOrder();
    }
    m_header.header_size = 1000;
    if (!RewriteHeader()) {
        m_error = kCanNotWrite;
        return false;
    }
    m_error = kNoError;
    return true;
}

bool CTrackWriter::UpdateHeader(const char* path, const TRACK_HEADER& header) {
    FilePtr file(std::fopen(path, "r+b"));
    if (!file) {
        return false;
    }
    TRACK_HEADER current;
    if (std::fread(&current, sizeof current, 1, file.get()) != 1 ||
        std::memcmp(current.magic, "TRACK", 6) != 0) {
        return false;
    }
    TRACK_HEADER replacement = header;
    replacement.header_size = 1000;
    if (current.IsForeignByteOrder()) {
        replacement.SwapByteOrder();
    }
    if (fseeko(file.get(), 0, SEEK_SET) != 0) {
        return false;
    }
    const bool written = std::fwrite(&replacement, sizeof replacement, 1, file.get()) == 1;
    // Buffered bytes reach the file only at fclose, so its result decides success too.
    const bool closed = std::fclose(file.release()) == 0;
    return written && closed;
}

bool CTrackWriter::Close() {
    if (!m_file) {
        m_error = kNotInitialized;
        return false;
    }
    m_header.header_size = 1000;
    if (!RewriteHeader()) {
        m_error = kCanNotWrite;
        return false;
    }
    if (!CloseFile()) {
        return false;
    }
    m_error = kNoError;
    return true;
}
