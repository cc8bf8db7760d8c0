// Reading track records one by one: points, scalars and properties of each record, the clean end
// of the file, and every kind of damaged record reported with its reason before anything is
// sized from a wrong point count.

#include "TrackRecordReader.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "CTrackReader.h"
#include "CTrackWriter.h"
#include "TestSupport.h"

using testsupport::readFile;
using testsupport::TempDir;
using testsupport::writeFile;

namespace {

// One scalar per point and two properties per record.
TRACK_HEADER makeHeader() {
    TRACK_HEADER h = TRACK_HEADER::MakeDefault();
    h.dim[0] = h.dim[1] = h.dim[2] = 10;
    h.voxel_size[0] = h.voxel_size[1] = h.voxel_size[2] = 1.0f;
    h.scalar_count = 1;
    h.property_count = 2;
    return h;
}

// Record values in file order: x, y, z, scalar per point, then the two properties.
const std::vector<float> kFirst = {1, 2, 3, 0.5f, 4, 5, 6, 0.25f, 100, 200};
const std::vector<float> kSecond = {300, 400};  // no points, only properties
const std::vector<float> kThird = {1.5f, -2, -3, 0.125f, 7, 8};

std::string int32Bytes(std::int32_t value) {
    return std::string(reinterpret_cast<const char*>(&value), 4);
}

class TrackRecordReaderTest : public ::testing::Test {
  protected:
    // The three records above, then the damage.
    std::string Write(const std::string& damage = "") {
        CTrackWriter writer;
        EXPECT_TRUE(writer.Initialize(path.c_str(), makeHeader()));
        EXPECT_TRUE(writer.WriteNextTrack(2, kFirst.data()));
        EXPECT_TRUE(writer.WriteNextTrack(0, kSecond.data()));
        EXPECT_TRUE(writer.WriteNextTrack(1, kThird.data()));
        EXPECT_TRUE(writer.Close());
        writeFile(path, readFile(path) + damage);
        return path;
    }

    // Reads the three intact records, then returns what the next read gives.
    TrackRecordReader::Outcome ReadPastTheIntactRecords(TrackRecordReader& records) {
        for (int i = 0; i < 3; ++i) {
            EXPECT_EQ(records.ReadNext(), TrackRecordReader::Outcome::kRecord) << i;
        }
        EXPECT_EQ(records.GetRecordCount(), 3);
        return records.ReadNext();
    }

    TempDir dir;
    std::string path = dir.file("in.trk");
    CTrackReader reader;
};

std::vector<float> values(const TrackRecordReader& records, std::size_t count) {
    return std::vector<float>(records.GetValues(), records.GetValues() + count);
}

}  // namespace

TEST_F(TrackRecordReaderTest, ReadsPointsScalarsAndPropertiesOfEveryRecord) {
    ASSERT_TRUE(reader.Open(Write().c_str()));
    TrackRecordReader records(reader);
    EXPECT_EQ(records.GetValuesPerPoint(), 4);

    ASSERT_EQ(records.ReadNext(), TrackRecordReader::Outcome::kRecord);
    ASSERT_EQ(records.GetPointCount(), 2);
    EXPECT_EQ(values(records, kFirst.size()), kFirst);
    EXPECT_EQ(records.GetPoint(1)[0], 4.0f);
    EXPECT_EQ(records.GetPoint(1)[3], 0.25f);
    EXPECT_EQ(records.GetProperties()[0], 100.0f);
    EXPECT_EQ(records.GetProperties()[1], 200.0f);

    ASSERT_EQ(records.ReadNext(), TrackRecordReader::Outcome::kRecord);
    EXPECT_EQ(records.GetPointCount(), 0);
    EXPECT_EQ(records.GetProperties()[1], 400.0f);

    ASSERT_EQ(records.ReadNext(), TrackRecordReader::Outcome::kRecord);
    EXPECT_EQ(records.GetPointCount(), 1);
    EXPECT_EQ(values(records, kThird.size()), kThird);

    EXPECT_EQ(records.ReadNext(), TrackRecordReader::Outcome::kEnd);
    EXPECT_EQ(records.ReadNext(), TrackRecordReader::Outcome::kEnd);
    EXPECT_EQ(records.GetRecordCount(), 3);
    EXPECT_EQ(records.GetFailure(), "");
}

TEST_F(TrackRecordReaderTest, ReadsAByteSwappedFileAsIfNative) {
    TRACK_HEADER foreign = makeHeader();
    foreign.SwapByteOrder();
    std::string bytes(reinterpret_cast<const char*>(&foreign), 1000);
    std::int32_t count = 2;
    TRACK_HEADER::SwapBytes(count);
    bytes += int32Bytes(count);
    for (float v : kFirst) {
        TRACK_HEADER::SwapBytes(v);
        bytes.append(reinterpret_cast<const char*>(&v), 4);
    }
    writeFile(path, bytes);
    ASSERT_TRUE(reader.Open(path.c_str()));
    ASSERT_TRUE(reader.IsSwapped());
    TrackRecordReader records(reader);
    ASSERT_EQ(records.ReadNext(), TrackRecordReader::Outcome::kRecord);
    EXPECT_EQ(records.GetPointCount(), 2);
    EXPECT_EQ(values(records, kFirst.size()), kFirst);
    EXPECT_EQ(records.ReadNext(), TrackRecordReader::Outcome::kEnd);
}

TEST_F(TrackRecordReaderTest, AFileEndingInsideAPointCountIsDamaged) {
    ASSERT_TRUE(reader.Open(Write(std::string("\3\0", 2)).c_str()));
    TrackRecordReader records(reader);
    EXPECT_EQ(ReadPastTheIntactRecords(records), TrackRecordReader::Outcome::kDamaged);
    EXPECT_EQ(records.GetFailure(), "the file ends inside its point count");
    EXPECT_EQ(records.GetPointCount(), 0);
    EXPECT_EQ(records.GetRecordCount(), 3);
}

TEST_F(TrackRecordReaderTest, ANegativePointCountIsDamaged) {
    ASSERT_TRUE(reader.Open(Write(int32Bytes(-1) + std::string(64, '\0')).c_str()));
    TrackRecordReader records(reader);
    EXPECT_EQ(ReadPastTheIntactRecords(records), TrackRecordReader::Outcome::kDamaged);
    EXPECT_EQ(records.GetFailure(), "its point count -1 is negative");
}

TEST_F(TrackRecordReaderTest, APointCountBeyondTheFileIsRefusedBeforeAnythingIsSized) {
    ASSERT_TRUE(reader.Open(Write(int32Bytes(2000000000) + std::string(64, '\0')).c_str()));
    TrackRecordReader records(reader);
    EXPECT_EQ(ReadPastTheIntactRecords(records), TrackRecordReader::Outcome::kDamaged);
    // (2e9 points * 4 values + 2 properties) * 4 bytes
    EXPECT_EQ(records.GetFailure(),
              "its point count 2000000000 needs 32000000008 bytes but 64 are left");
}

TEST_F(TrackRecordReaderTest, ARecordOneValueShortIsDamaged) {
    // 3 points of 4 values and 2 properties need 56 bytes.
    ASSERT_TRUE(reader.Open(Write(int32Bytes(3) + std::string(52, '\0')).c_str()));
    TrackRecordReader records(reader);
    EXPECT_EQ(ReadPastTheIntactRecords(records), TrackRecordReader::Outcome::kDamaged);
    EXPECT_EQ(records.GetFailure(), "its point count 3 needs 56 bytes but 52 are left");
}

TEST_F(TrackRecordReaderTest, ACountOffByOneIsCaughtAtTheRecordItShiftsOnto) {
    Write();
    std::string bytes = readFile(path);
    // The first record's count 2 becomes 3: it swallows the whole second record and the third
    // record's count, so the third record's first coordinate, 1.5f, is read as a point count
    // of about a thousand million.
    bytes.replace(1000, 4, int32Bytes(3));
    writeFile(path, bytes);
    ASSERT_TRUE(reader.Open(path.c_str()));
    TrackRecordReader records(reader);
    ASSERT_EQ(records.ReadNext(), TrackRecordReader::Outcome::kRecord);
    EXPECT_EQ(records.GetPointCount(), 3);
    EXPECT_EQ(records.ReadNext(), TrackRecordReader::Outcome::kDamaged);
    EXPECT_EQ(records.GetRecordCount(), 1);
    std::int32_t shifted = 0;
    std::memcpy(&shifted, &kThird[0], 4);
    const std::int64_t needed = (static_cast<std::int64_t>(shifted) * 4 + 2) * 4;
    // What is left after the shifted count: the third record's other five values.
    EXPECT_EQ(records.GetFailure(), "its point count " + std::to_string(shifted) + " needs " +
                                        std::to_string(needed) + " bytes but 20 are left");
}

TEST_F(TrackRecordReaderTest, WithoutAnOpenFileNothingIsRead) {
    TrackRecordReader records(reader);
    EXPECT_EQ(records.ReadNext(), TrackRecordReader::Outcome::kDamaged);
    EXPECT_EQ(records.GetFailure(), "the track file is not open");
    EXPECT_EQ(records.GetRecordCount(), 0);
}
