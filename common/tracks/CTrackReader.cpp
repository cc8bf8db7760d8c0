#include "CTrackReader.h"

#include <sys/types.h>

#include <cstring>

namespace {

// Offset of the first record of a legacy file: three int32 dimensions and three float32
// voxel sizes.
constexpr std::int64_t kLegacyDataOffset = 24;
constexpr std::int64_t kHeaderBytes = 1000;

}  // namespace

bool CTrackReader::Open(const char* path, TRACK_HEADER* header) {
    Close();
    m_error = kNoError;
    m_legacy = false;
    m_swap = false;
    m_fileSize = 0;

    m_file.reset(std::fopen(path, "rb"));
    if (!m_file) {
        m_error = kCanNotOpen;
        return false;
    }
    UseLargeBuffer();
    std::FILE* const file = m_file.get();

    if (fseeko(file, 0, SEEK_END) == 0) {
        m_fileSize = static_cast<std::int64_t>(ftello(file));
    }
    fseeko(file, 0, SEEK_SET);

    if (std::fread(&m_header, sizeof m_header, 1, file) != 1) {
        m_error = kNotTrackFile;
    }

    if (m_header.voxel_order[0] == '\0') {
        std::memcpy(m_header.voxel_order, "LPS", 4);
    }
    if (m_header.voxel_order_copy[0] == '\0') {
        // Bounded copy: a damaged voxel_order need not end with a NUL.
        std::strncpy(m_header.voxel_order_copy, m_header.voxel_order,
                     sizeof m_header.voxel_order_copy);
    }

    if (m_error == kNoError) {
        if (std::memcmp(m_header.magic, "TRACK", 6) == 0) {
            m_swap = m_header.IsForeignByteOrder();
        } else {
            m_legacy = true;
            m_header = TRACK_HEADER::MakeDefault();
            std::int32_t dims[3] = {0, 0, 0};
            float sizes[3] = {0.0f, 0.0f, 0.0f};
            if (fseeko(file, 0, SEEK_SET) != 0 || std::fread(dims, sizeof dims, 1, file) != 1 ||
                std::fread(sizes, sizeof sizes, 1, file) != 1) {
                m_error = kNotTrackFile;
            }
            for (int i = 0; i < 3; ++i) {
                m_header.dim[i] = static_cast<std::int16_t>(dims[i]);
                m_header.voxel_size[i] = sizes[i];
            }
            m_header.scalar_count = 0;
            m_header.property_count = 0;
        }
    }

    if (m_swap) {
        m_header.SwapByteOrder();
        m_header.header_size = 1000;
    }

    // Negative value counts would make every record size meaningless.
    if (m_error == kNoError && (m_header.scalar_count < 0 || m_header.property_count < 0)) {
        m_error = kNotTrackFile;
    }

    float* const orientation = m_header.image_orientation_patient;
    if (orientation[0] == 0.0f && orientation[1] == 0.0f && orientation[2] == 0.0f) {
        orientation[0] = 1.0f;
        orientation[4] = 1.0f;
    }

    if (header != nullptr) {
        *header = m_header;
    }

    if (m_error != kNoError) {
        const int error = m_error;
        CloseFile();
        m_error = error;
        m_swap = false;
        m_legacy = false;
        return false;
    }
    return true;
}

bool CTrackReader::Open(const char* path, int* dim, float* voxel_size) {
    const bool result = Open(path, static_cast<TRACK_HEADER*>(nullptr));
    for (int i = 0; i < 3; ++i) {
        if (dim != nullptr) {
            dim[i] = m_header.dim[i];
        }
        if (voxel_size != nullptr) {
            voxel_size[i] = m_header.voxel_size[i];
        }
    }
    return result;
}

bool CTrackReader::GetHeader(const char* path, TRACK_HEADER* header) {
    CTrackReader reader;
    const bool result = reader.Open(path, header);
    reader.Close();
    return result;
}

bool CTrackReader::GetNumberOfTracks(int* count) {
    if (!m_file) {
        m_error = kNotInitialized;
        if (count != nullptr) {
            *count = 0;
        }
        return false;
    }
    if (m_header.track_count == 0) {
        std::FILE* const file = m_file.get();
        const off_t position = ftello(file);
        const std::int64_t valuesPerPoint = 3 + static_cast<std::int64_t>(m_header.scalar_count);
        int found = 0;
        fseeko(file, static_cast<off_t>(m_legacy ? kLegacyDataOffset : kHeaderBytes), SEEK_SET);
        for (;;) {
            std::int32_t points = 0;
            if (std::fread(&points, sizeof points, 1, file) != 1) {
                break;
            }
            if (m_swap) {
                TRACK_HEADER::SwapBytes(points);
            }
            // A negative count cannot be skipped forward; walking back would never end.
            if (points < 0) {
                break;
            }
            ++found;
            const std::int64_t body =
                4 * (m_header.property_count + valuesPerPoint * static_cast<std::int64_t>(points));
            if (fseeko(file, static_cast<off_t>(body), SEEK_CUR) != 0) {
                break;
            }
        }
        fseeko(file, position, SEEK_SET);
        m_header.track_count = found;
    }
    m_error = kNoError;
    if (count != nullptr) {
        *count = m_header.track_count;
    }
    return true;
}

int CTrackReader::GetNumberOfTracks() {
    int count = 0;
    GetNumberOfTracks(&count);
    return count;
}

bool CTrackReader::GetNextPointCount(int* n) {
    if (!m_file) {
        m_error = kNotInitialized;
        return false;
    }
    std::int32_t points = 0;
    if (std::fread(&points, sizeof points, 1, m_file.get()) != 1) {
        m_error = kCanNotRead;
        return false;
    }
    if (m_swap) {
        TRACK_HEADER::SwapBytes(points);
    }
    if (n != nullptr) {
        *n = points;
    }
    return true;
}

bool CTrackReader::ReadFloats(float* buffer, std::size_t count) {
    if (count == 0) {
        return true;
    }
    if (std::fread(buffer, sizeof(float), count, m_file.get()) != count) {
        return false;
    }
    if (m_swap) {
        for (std::size_t i = 0; i < count; ++i) {
            TRACK_HEADER::SwapBytes(buffer[i]);
        }
    }
    return true;
}

bool CTrackReader::SkipFloats(std::size_t count) {
    std::FILE* const file = m_file.get();
    if (fseeko(file, static_cast<off_t>(4 * count), SEEK_CUR) != 0) {
        return false;
    }
    // Seeking past the end succeeds, so a skip over missing values is caught here.
    const off_t position = ftello(file);
    return position >= 0 && static_cast<std::int64_t>(position) <= m_fileSize;
}

// A record can be read from an open file with a count of at least 0; otherwise the error code
// says which of the two failed.
bool CTrackReader::CanReadRecord(int n) {
    if (!m_file) {
        m_error = kNotInitialized;
        return false;
    }
    if (n < 0) {
        m_error = kCanNotRead;
        return false;
    }
    return true;
}

bool CTrackReader::GetNextRawData(int n, float* buffer) {
    if (!CanReadRecord(n)) {
        return false;
    }
    const std::size_t count =
        static_cast<std::size_t>(n) * (3 + static_cast<std::size_t>(m_header.scalar_count)) +
        static_cast<std::size_t>(m_header.property_count);
    if (!ReadFloats(buffer, count)) {
        m_error = kCanNotRead;
        return false;
    }
    return true;
}

bool CTrackReader::GetNextTrackData(int n, float* points, float* scalars, float* properties) {
    if (!CanReadRecord(n)) {
        return false;
    }
    const std::size_t scalarCount = static_cast<std::size_t>(m_header.scalar_count);
    const std::size_t propertyCount = static_cast<std::size_t>(m_header.property_count);
    for (std::size_t i = 0; i < static_cast<std::size_t>(n); ++i) {
        if (!ReadFloats(points + 3 * i, 3)) {
            m_error = kCanNotRead;
            return false;
        }
        if (scalarCount == 0) {
            continue;
        }
        const bool ok = scalars != nullptr ? ReadFloats(scalars + i * scalarCount, scalarCount)
                                           : SkipFloats(scalarCount);
        if (!ok) {
            m_error = kCanNotRead;
            return false;
        }
    }
    if (propertyCount > 0) {
        const bool ok = properties != nullptr ? ReadFloats(properties, propertyCount)
                                              : SkipFloats(propertyCount);
        if (!ok) {
            m_error = kCanNotRead;
            return false;
        }
    }
    return true;
}

int CTrackReader::GetProgress() const {
    if (!m_file || m_fileSize <= 0) {
        return 0;
    }
    const off_t position = ftello(m_file.get());
    if (position < 0) {
        return 0;
    }
    return static_cast<int>(static_cast<double>(position) * 100.0 /
                            static_cast<double>(m_fileSize));
}

std::int64_t CTrackReader::GetRemainingBytes() const {
    if (!m_file) {
        return 0;
    }
    const off_t position = ftello(m_file.get());
    if (position < 0 || position >= m_fileSize) {
        return 0;
    }
    return m_fileSize - static_cast<std::int64_t>(position);
}
