#include "TrackRecordReader.h"

#include <utility>

namespace {
constexpr std::int64_t kCountBytes = 4;
constexpr std::int64_t kValueBytes = 4;
}  // namespace

TrackRecordReader::TrackRecordReader(CTrackReader& reader) : m_reader(reader) {
    TRACK_HEADER header{};
    if (m_reader.GetHeader(&header)) {
        m_valuesPerPoint = 3 + header.scalar_count;
        m_propertyCount = header.property_count;
    }
}

TrackRecordReader::Outcome TrackRecordReader::ReadNext() {
    return ReadNextInto(m_values);
}

TrackRecordReader::Outcome TrackRecordReader::ReadNextInto(std::vector<float>& into,
                                                           std::size_t at) {
    m_pointCount = 0;
    m_failure.clear();
    if (!m_reader.IsOpen()) {
        return Fail("the track file is not open");
    }
    const std::int64_t remaining = m_reader.GetRemainingBytes();
    if (remaining == 0) {
        return Outcome::kEnd;
    }
    int n = 0;
    if (!m_reader.GetNextPointCount(&n)) {
        return Fail("the file ends inside its point count");
    }
    if (n < 0) {
        return Fail("its point count " + std::to_string(n) + " is negative");
    }
    const std::int64_t values = static_cast<std::int64_t>(n) * m_valuesPerPoint + m_propertyCount;
    const std::int64_t left = remaining - kCountBytes;
    if (values * kValueBytes > left) {
        return Fail("its point count " + std::to_string(n) + " needs " +
                    std::to_string(values * kValueBytes) + " bytes but " + std::to_string(left) +
                    " are left");
    }
    into.resize(at + static_cast<std::size_t>(values));
    if (!m_reader.GetNextRawData(n, into.data() + at)) {
        into.resize(at);
        return Fail("its " + std::to_string(values * kValueBytes) + " bytes can not be read");
    }
    m_pointCount = n;
    ++m_recordCount;
    return Outcome::kRecord;
}

const float* TrackRecordReader::GetPoint(int i) const {
    return m_values.data() +
           static_cast<std::size_t>(i) * static_cast<std::size_t>(m_valuesPerPoint);
}

const float* TrackRecordReader::GetProperties() const {
    return GetPoint(m_pointCount);
}

TrackRecordReader::Outcome TrackRecordReader::Fail(std::string why) {
    m_pointCount = 0;
    m_failure = std::move(why);
    return Outcome::kDamaged;
}
