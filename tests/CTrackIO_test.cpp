// Track file header layout, reader and writer. Files are built byte by byte here, in either
// byte order, so that the classes are checked against the format rather than against each
// other.

#include <gtest/gtest.h>

#include <cmath>
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

// Little-endian (the machine's order) or big-endian (foreign) bytes of a track file.
class Bytes {
  public:
    explicit Bytes(bool foreign = false) : m_foreign(foreign) {}

    void Put16At(std::size_t offset, std::int16_t value) { PutAt(offset, &value, 2); }
    void Put32At(std::size_t offset, std::int32_t value) { PutAt(offset, &value, 4); }
    void PutFloatAt(std::size_t offset, float value) { PutAt(offset, &value, 4); }
    void PutTextAt(std::size_t offset, const std::string& text) {
        Grow(offset + text.size());
        std::memcpy(&data[offset], text.data(), text.size());
    }
    void Int32(std::int32_t value) { Put32At(data.size(), value); }
    void Floats(const std::vector<float>& values) {
        for (const float value : values) {
            PutFloatAt(data.size(), value);
        }
    }

    std::string data;

  private:
    void Grow(std::size_t size) {
        if (data.size() < size) {
            data.resize(size, '\0');
        }
    }
    void PutAt(std::size_t offset, const void* value, std::size_t size) {
        Grow(offset + size);
        unsigned char bytes[4];
        std::memcpy(bytes, value, size);
        for (std::size_t i = 0; i < size; ++i) {
            data[offset + i] = static_cast<char>(m_foreign ? bytes[size - 1 - i] : bytes[i]);
        }
    }
    bool m_foreign;
};

struct HeaderFields {
    std::int16_t dim[3] = {64, 48, 30};
    float voxel[3] = {2.0f, 2.5f, 3.0f};
    std::int16_t scalars = 0;
    std::int16_t properties = 0;
    std::int32_t trackCount = 0;
    std::int32_t headerSize = 1000;
    std::string voxelOrder = "LAS";
    std::string voxelOrderCopy = "RAS";
    float orientation[6] = {0.0f, 1.0f, 0.0f, 0.0f, 0.0f, -1.0f};
};

// A complete 1000-byte header written field by field at the documented offsets.
Bytes makeHeader(const HeaderFields& f, bool foreign = false) {
    Bytes b(foreign);
    b.PutTextAt(0, std::string("TRACK\0", 6));
    for (int i = 0; i < 3; ++i) {
        b.Put16At(6 + 2 * i, f.dim[i]);
        b.PutFloatAt(12 + 4 * i, f.voxel[i]);
        b.PutFloatAt(24 + 4 * i, 0.5f * static_cast<float>(i + 1));  // origin
    }
    b.Put16At(36, f.scalars);
    b.PutTextAt(38, "fa");
    b.PutTextAt(58, "md");
    b.Put16At(238, f.properties);
    b.PutTextAt(240, "length");
    for (int i = 0; i < 16; ++i) {
        b.PutFloatAt(440 + 4 * i, static_cast<float>(i) - 7.25f);
    }
    b.PutTextAt(600, "kept");  // reserved bytes are carried along
    b.PutTextAt(948, f.voxelOrder);
    b.PutTextAt(952, f.voxelOrderCopy);
    for (int i = 0; i < 6; ++i) {
        b.PutFloatAt(956 + 4 * i, f.orientation[i]);
    }
    b.PutTextAt(982, std::string("\1\0\1\1\0\1", 6));
    b.Put32At(988, f.trackCount);
    b.Put32At(992, 2);
    b.Put32At(996, f.headerSize);
    return b;
}

// Appends a record; values are the n * (3 + scalars) + properties floats of the body.
void addRecord(Bytes& b, std::int32_t n, const std::vector<float>& values) {
    b.Int32(n);
    b.Floats(values);
}

std::int32_t int32At(const std::string& bytes, std::size_t offset) {
    std::int32_t value = 0;
    std::memcpy(&value, bytes.data() + offset, 4);
    return value;
}

float floatAt(const std::string& bytes, std::size_t offset) {
    float value = 0;
    std::memcpy(&value, bytes.data() + offset, 4);
    return value;
}

std::string headerBytes(const TRACK_HEADER& header) {
    return std::string(reinterpret_cast<const char*>(&header), sizeof header);
}

TRACK_HEADER headerFrom(const std::string& bytes) {
    TRACK_HEADER header;
    std::memcpy(&header, bytes.data(), sizeof header);
    return header;
}

}  // namespace

// ---- header layout -------------------------------------------------------------------------

TEST(TrackHeaderLayout, DefaultHeaderHasTheDocumentedBytes) {
    const std::string bytes = headerBytes(TRACK_HEADER::MakeDefault());
    ASSERT_EQ(bytes.size(), 1000u);
    EXPECT_EQ(bytes.substr(0, 6), std::string("TRACK\0", 6));
    EXPECT_EQ(bytes.substr(948, 4), std::string("LPS\0", 4));
    EXPECT_EQ(floatAt(bytes, 956), 1.0f);
    EXPECT_EQ(floatAt(bytes, 972), 1.0f);
    EXPECT_EQ(int32At(bytes, 992), 2);
    EXPECT_EQ(int32At(bytes, 996), 1000);
    // Everything else is zero.
    std::string rest = bytes;
    for (std::size_t i = 0; i < 6; ++i)
        rest[i] = 0;
    for (std::size_t i = 948; i < 952; ++i)
        rest[i] = 0;
    for (std::size_t i = 956; i < 960; ++i)
        rest[i] = 0;
    for (std::size_t i = 972; i < 976; ++i)
        rest[i] = 0;
    for (std::size_t i = 992; i < 1000; ++i)
        rest[i] = 0;
    EXPECT_EQ(rest, std::string(1000, '\0'));
}

TEST(TrackHeaderLayout, SwapByteOrderTurnsEveryNumberButNoText) {
    HeaderFields f;
    f.scalars = 2;
    f.trackCount = 5;
    const TRACK_HEADER native = headerFrom(makeHeader(f).data);
    TRACK_HEADER swapped = headerFrom(makeHeader(f, true).data);
    EXPECT_TRUE(swapped.IsForeignByteOrder());
    EXPECT_FALSE(native.IsForeignByteOrder());
    swapped.SwapByteOrder();
    EXPECT_EQ(headerBytes(swapped), headerBytes(native));
}

// ---- reader --------------------------------------------------------------------------------

class TrackReaderTest : public ::testing::Test {
  protected:
    std::string Write(const Bytes& b, const std::string& name = "in.trk") {
        const std::string path = dir.file(name);
        writeFile(path, b.data);
        return path;
    }
    TempDir dir;
};

// Two records with one scalar per point and two properties.
Bytes twoRecords(bool foreign, std::int32_t headerSize = 1000, std::int32_t trackCount = 2) {
    HeaderFields f;
    f.scalars = 1;
    f.properties = 2;
    f.trackCount = trackCount;
    f.headerSize = headerSize;
    Bytes b = makeHeader(f, foreign);
    addRecord(b, 2, {1, 2, 3, 0.5f, 4, 5, 6, 0.25f, 100, 200});
    addRecord(b, 1, {-1, -2, -3, 0.125f, 300, 400});
    return b;
}

void expectTwoRecords(CTrackReader& reader) {
    int n = -1;
    ASSERT_TRUE(reader.GetNextPointCount(&n));
    ASSERT_EQ(n, 2);
    std::vector<float> raw(2 * 4 + 2);
    ASSERT_TRUE(reader.GetNextRawData(n, raw.data()));
    EXPECT_EQ(raw, (std::vector<float>{1, 2, 3, 0.5f, 4, 5, 6, 0.25f, 100, 200}));

    ASSERT_TRUE(reader.GetNextPointCount(&n));
    ASSERT_EQ(n, 1);
    std::vector<float> points(3), scalars(1), properties(2);
    ASSERT_TRUE(reader.GetNextTrackData(n, points.data(), scalars.data(), properties.data()));
    EXPECT_EQ(points, (std::vector<float>{-1, -2, -3}));
    EXPECT_EQ(scalars, (std::vector<float>{0.125f}));
    EXPECT_EQ(properties, (std::vector<float>{300, 400}));

    EXPECT_FALSE(reader.GetNextPointCount(&n));
    EXPECT_EQ(reader.GetLastError(), CTrackIO::kCanNotRead);
    EXPECT_STREQ(reader.GetLastErrorMessage(), "Can not read from file");
}

TEST_F(TrackReaderTest, ReadsANativeFile) {
    CTrackReader reader;
    TRACK_HEADER h;
    ASSERT_TRUE(reader.Open(Write(twoRecords(false)).c_str(), &h));
    EXPECT_STREQ(reader.GetLastErrorMessage(), "No error");
    EXPECT_FALSE(reader.IsSwapped());
    EXPECT_FALSE(reader.IsLegacy());
    EXPECT_EQ(h.scalar_count, 1);
    EXPECT_EQ(h.property_count, 2);
    EXPECT_EQ(h.voxel_size[2], 3.0f);
    EXPECT_EQ(reader.GetNumberOfTracks(), 2);
    expectTwoRecords(reader);
}

TEST_F(TrackReaderTest, ReadsAByteSwappedFileAsIfNative) {
    CTrackReader nativeReader;
    TRACK_HEADER native;
    ASSERT_TRUE(nativeReader.Open(Write(twoRecords(false), "native.trk").c_str(), &native));

    CTrackReader reader;
    TRACK_HEADER h;
    ASSERT_TRUE(reader.Open(Write(twoRecords(true)).c_str(), &h));
    EXPECT_TRUE(reader.IsSwapped());
    EXPECT_EQ(h.header_size, 1000);
    EXPECT_EQ(headerBytes(h), headerBytes(native));
    EXPECT_EQ(reader.GetNumberOfTracks(), 2);
    expectTwoRecords(reader);
}

TEST_F(TrackReaderTest, HeaderSizeZeroIsNative) {
    CTrackReader reader;
    TRACK_HEADER h;
    ASSERT_TRUE(reader.Open(Write(twoRecords(false, 0)).c_str(), &h));
    EXPECT_FALSE(reader.IsSwapped());
    EXPECT_EQ(h.header_size, 0);
    expectTwoRecords(reader);
}

TEST_F(TrackReaderTest, SwappedFileWithCountZeroIsCountedBySwappedRecordSizes) {
    CTrackReader reader;
    ASSERT_TRUE(reader.Open(Write(twoRecords(true, 1000, 0)).c_str()));
    EXPECT_EQ(reader.GetNumberOfTracks(), 2);
    expectTwoRecords(reader);
}

TEST_F(TrackReaderTest, CountsRecordsWhenTheCountIsNotStoredAndKeepsThePosition) {
    HeaderFields f;
    f.properties = 1;
    Bytes b = makeHeader(f);
    addRecord(b, 0, {9});  // a record of no points still has its properties
    addRecord(b, 1, {1, 2, 3, 8});
    addRecord(b, 3, {1, 2, 3, 4, 5, 6, 7, 8, 9, 7});
    CTrackReader reader;
    ASSERT_TRUE(reader.Open(Write(b).c_str()));
    int n = -1;
    ASSERT_TRUE(reader.GetNextPointCount(&n));
    EXPECT_EQ(n, 0);
    int count = 0;
    ASSERT_TRUE(reader.GetNumberOfTracks(&count));
    EXPECT_EQ(count, 3);
    // The count is cached in the header.
    TRACK_HEADER h;
    ASSERT_TRUE(reader.GetHeader(&h));
    EXPECT_EQ(h.track_count, 3);
    // Reading goes on where it was.
    float property = 0;
    ASSERT_TRUE(reader.GetNextRawData(0, &property));
    EXPECT_EQ(property, 9.0f);
    ASSERT_TRUE(reader.GetNextPointCount(&n));
    EXPECT_EQ(n, 1);
}

TEST_F(TrackReaderTest, ATruncatedLastRecordIsStillCounted) {
    Bytes b = makeHeader(HeaderFields{});
    addRecord(b, 1, {1, 2, 3});
    addRecord(b, 5, {1, 2, 3});
    CTrackReader reader;
    ASSERT_TRUE(reader.Open(Write(b).c_str()));
    EXPECT_EQ(reader.GetNumberOfTracks(), 2);
}

TEST_F(TrackReaderTest, ANegativePointCountEndsTheCountInsteadOfWalkingBack) {
    Bytes b = makeHeader(HeaderFields{});
    addRecord(b, 1, {1, 2, 3});
    addRecord(b, -2, {});
    addRecord(b, 1, {1, 2, 3});
    CTrackReader reader;
    ASSERT_TRUE(reader.Open(Write(b).c_str()));
    EXPECT_EQ(reader.GetNumberOfTracks(), 1);
    int n = 0;
    float buffer[3];
    ASSERT_TRUE(reader.GetNextPointCount(&n));
    ASSERT_TRUE(reader.GetNextRawData(n, buffer));
    ASSERT_TRUE(reader.GetNextPointCount(&n));
    EXPECT_EQ(n, -2);
    EXPECT_FALSE(reader.GetNextRawData(n, buffer));
    EXPECT_EQ(reader.GetLastError(), CTrackIO::kCanNotRead);
}

TEST_F(TrackReaderTest, AFileWithoutTheMagicIsALegacyFile) {
    Bytes b;
    b.Int32(70000 + 5);  // narrowed to 16 bits
    b.Int32(20);
    b.Int32(10);
    b.Floats({1.5f, 2.0f, 2.5f});
    // Records start at byte 24; the file must reach 1000 bytes.
    addRecord(b, 1, {7, 8, 9});
    std::vector<float> many(3 * 80, 1.0f);
    addRecord(b, 80, many);
    ASSERT_GE(b.data.size(), 1000u);
    CTrackReader reader;
    TRACK_HEADER h;
    ASSERT_TRUE(reader.Open(Write(b).c_str(), &h));
    EXPECT_TRUE(reader.IsLegacy());
    EXPECT_FALSE(reader.IsSwapped());
    EXPECT_EQ(std::string(h.magic, 6), std::string("TRACK\0", 6));
    EXPECT_EQ(h.dim[0], static_cast<std::int16_t>(70005));
    EXPECT_EQ(h.dim[1], 20);
    EXPECT_EQ(h.voxel_size[0], 1.5f);
    EXPECT_EQ(h.voxel_size[2], 2.5f);
    EXPECT_EQ(h.scalar_count, 0);
    EXPECT_EQ(h.property_count, 0);
    EXPECT_STREQ(h.voxel_order, "LPS");
    EXPECT_EQ(h.header_size, 1000);
    EXPECT_EQ(reader.GetNumberOfTracks(), 2);
    int n = 0;
    ASSERT_TRUE(reader.GetNextPointCount(&n));
    EXPECT_EQ(n, 1);
    float point[3];
    ASSERT_TRUE(reader.GetNextRawData(n, point));
    EXPECT_EQ(point[2], 9.0f);
}

TEST_F(TrackReaderTest, AFileShorterThanAHeaderIsRejected) {
    Bytes b = makeHeader(HeaderFields{});
    b.data.resize(999);
    CTrackReader reader;
    TRACK_HEADER h;
    EXPECT_FALSE(reader.Open(Write(b).c_str(), &h));
    EXPECT_STREQ(reader.GetLastErrorMessage(), "Not a compatible track file");
    EXPECT_FALSE(reader.IsOpen());
    // Still reported with the defaults applied to what was read.
    EXPECT_STREQ(h.voxel_order, "LAS");

    writeFile(dir.file("empty.trk"), "");
    EXPECT_FALSE(reader.Open(dir.file("empty.trk").c_str()));
    EXPECT_EQ(reader.GetLastError(), CTrackIO::kNotTrackFile);
}

TEST_F(TrackReaderTest, AMissingFileCannotBeOpened) {
    CTrackReader reader;
    EXPECT_FALSE(reader.Open(dir.file("none.trk").c_str()));
    EXPECT_STREQ(reader.GetLastErrorMessage(), "Can not open file");
    EXPECT_FALSE(CTrackReader::GetHeader(dir.file("none.trk").c_str(), nullptr));
}

TEST_F(TrackReaderTest, NegativeValueCountsAreNotACompatibleFile) {
    HeaderFields f;
    f.scalars = -1;
    CTrackReader reader;
    EXPECT_FALSE(reader.Open(Write(makeHeader(f)).c_str()));
    EXPECT_EQ(reader.GetLastError(), CTrackIO::kNotTrackFile);
}

TEST_F(TrackReaderTest, EmptyVoxelOrdersAndOrientationGetTheirDefaults) {
    HeaderFields f;
    f.voxelOrder = "";
    f.voxelOrderCopy = "";
    f.orientation[1] = 0.0f;
    f.orientation[3] = 0.25f;
    f.orientation[4] = 0.5f;
    f.orientation[5] = 0.75f;
    CTrackReader reader;
    TRACK_HEADER h;
    ASSERT_TRUE(reader.Open(Write(makeHeader(f)).c_str(), &h));
    EXPECT_STREQ(h.voxel_order, "LPS");
    EXPECT_STREQ(h.voxel_order_copy, "LPS");
    const float* o = h.image_orientation_patient;
    EXPECT_EQ(o[0], 1.0f);
    EXPECT_EQ(o[1], 0.0f);
    EXPECT_EQ(o[2], 0.0f);
    EXPECT_EQ(o[3], 0.25f);
    EXPECT_EQ(o[4], 1.0f);
    EXPECT_EQ(o[5], 0.75f);

    f.voxelOrder = "RAS";
    ASSERT_TRUE(reader.Open(Write(makeHeader(f), "b.trk").c_str(), &h));
    EXPECT_STREQ(h.voxel_order_copy, "RAS");
}

TEST_F(TrackReaderTest, DimensionOpenAndStaticHeader) {
    const std::string path = Write(twoRecords(true));
    CTrackReader reader;
    int dim[3] = {0, 0, 0};
    float voxel[3] = {0, 0, 0};
    ASSERT_TRUE(reader.Open(path.c_str(), dim, voxel));
    EXPECT_EQ(dim[0], 64);
    EXPECT_EQ(dim[2], 30);
    EXPECT_EQ(voxel[1], 2.5f);

    TRACK_HEADER h;
    ASSERT_TRUE(CTrackReader::GetHeader(path.c_str(), &h));
    EXPECT_EQ(h.scalar_count, 1);
    EXPECT_EQ(h.header_size, 1000);
}

TEST_F(TrackReaderTest, OperationsWithoutAnOpenFileFail) {
    CTrackReader reader;
    TRACK_HEADER h;
    EXPECT_FALSE(reader.GetHeader(&h));
    EXPECT_STREQ(reader.GetLastErrorMessage(),
                 "I/O not initialized. Call 'Open' or 'Initialize' first");
    int value = 7;
    EXPECT_FALSE(reader.GetNumberOfTracks(&value));
    EXPECT_EQ(value, 0);
    EXPECT_FALSE(reader.GetNextPointCount(&value));
    EXPECT_EQ(reader.GetLastError(), CTrackIO::kNotInitialized);
    EXPECT_EQ(reader.GetProgress(), 0);
    EXPECT_TRUE(reader.Close());
}

TEST_F(TrackReaderTest, TrackDataCanSkipScalarsAndProperties) {
    CTrackReader reader;
    ASSERT_TRUE(reader.Open(Write(twoRecords(false)).c_str()));
    int n = 0;
    std::vector<float> points(6);
    ASSERT_TRUE(reader.GetNextPointCount(&n));
    ASSERT_TRUE(reader.GetNextTrackData(n, points.data(), nullptr, nullptr));
    EXPECT_EQ(points, (std::vector<float>{1, 2, 3, 4, 5, 6}));
    ASSERT_TRUE(reader.GetNextPointCount(&n));
    EXPECT_EQ(n, 1);
}

TEST_F(TrackReaderTest, ShortRecordBodiesFail) {
    HeaderFields f;
    f.scalars = 1;
    f.properties = 2;
    Bytes b = makeHeader(f);
    addRecord(b, 2, {1, 2, 3, 4, 5, 6, 7});  // one value of the second point missing
    const std::string path = Write(b);

    CTrackReader reader;
    int n = 0;
    std::vector<float> buffer(10);
    ASSERT_TRUE(reader.Open(path.c_str()));
    ASSERT_TRUE(reader.GetNextPointCount(&n));
    EXPECT_FALSE(reader.GetNextRawData(n, buffer.data()));
    EXPECT_EQ(reader.GetLastError(), CTrackIO::kCanNotRead);

    ASSERT_TRUE(reader.Open(path.c_str()));
    ASSERT_TRUE(reader.GetNextPointCount(&n));
    EXPECT_FALSE(reader.GetNextTrackData(n, buffer.data(), nullptr, nullptr));
    EXPECT_EQ(reader.GetLastError(), CTrackIO::kCanNotRead);
}

TEST_F(TrackReaderTest, ProgressFollowsTheReadPosition) {
    Bytes b = makeHeader(HeaderFields{});
    addRecord(b, 83, std::vector<float>(3 * 83, 1.0f));  // 1000 bytes of record: 2000 in all
    ASSERT_EQ(b.data.size(), 2000u);
    CTrackReader reader;
    EXPECT_EQ(reader.GetProgress(), 0);
    ASSERT_TRUE(reader.Open(Write(b).c_str()));
    EXPECT_EQ(reader.GetProgress(), 50);
    int n = 0;
    ASSERT_TRUE(reader.GetNextPointCount(&n));
    EXPECT_EQ(reader.GetProgress(), 50);  // 50.2 truncated
    std::vector<float> body(3 * 83);
    ASSERT_TRUE(reader.GetNextRawData(n, body.data()));
    EXPECT_EQ(reader.GetProgress(), 100);
    EXPECT_EQ(reader.GetRemainingBytes(), 0);
}

// ---- writer --------------------------------------------------------------------------------

class TrackWriterTest : public ::testing::Test {
  protected:
    TempDir dir;
};

TEST_F(TrackWriterTest, CloseStoresTheNumberOfRecordsWritten) {
    HeaderFields f;
    f.scalars = 1;
    f.properties = 1;
    f.trackCount = 42;
    const TRACK_HEADER given = headerFrom(makeHeader(f).data);
    const std::string path = dir.file("out.trk");
    {
        CTrackWriter writer;
        ASSERT_TRUE(writer.Initialize(path.c_str(), given));
        const float body[] = {1, 2, 3, 4, 5, 6, 7, 8, 9};
        ASSERT_TRUE(writer.WriteNextTrack(2, body));
        const float points[] = {10, 11, 12};
        const float scalar[] = {13};
        const float property[] = {14};
        ASSERT_TRUE(writer.WriteNextTrack(1, points, scalar, property));
        ASSERT_TRUE(writer.Close());
        EXPECT_FALSE(writer.Close());
        EXPECT_EQ(writer.GetLastError(), CTrackIO::kNotInitialized);
    }
    const std::string bytes = readFile(path);
    ASSERT_EQ(bytes.size(), 1000u + 4 + 9 * 4 + 4 + 5 * 4);
    EXPECT_EQ(int32At(bytes, 988), 2);
    TRACK_HEADER expected = given;
    expected.track_count = 2;
    EXPECT_EQ(bytes.substr(0, 1000), headerBytes(expected));
    EXPECT_EQ(int32At(bytes, 1000), 2);
    EXPECT_EQ(floatAt(bytes, 1004 + 8 * 4), 9.0f);
    EXPECT_EQ(int32At(bytes, 1040), 1);
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(floatAt(bytes, 1044 + 4 * i), 10.0f + static_cast<float>(i));
    }
}

TEST_F(TrackWriterTest, AWriterDestroyedWithoutCloseKeepsTheGivenCount) {
    HeaderFields f;
    f.trackCount = 42;
    const std::string path = dir.file("out.trk");
    {
        CTrackWriter writer;
        ASSERT_TRUE(writer.Initialize(path.c_str(), headerFrom(makeHeader(f).data)));
        const float point[] = {1, 2, 3};
        ASSERT_TRUE(writer.WriteNextTrack(1, point));
        ASSERT_TRUE(writer.WriteNextTrack(1, point));
    }
    const std::string bytes = readFile(path);
    EXPECT_EQ(bytes.size(), 1000u + 2 * 16);
    EXPECT_EQ(int32At(bytes, 988), 42);
}

TEST_F(TrackWriterTest, AForeignHeaderIsWrittenInNativeOrder) {
    HeaderFields f;
    f.scalars = 3;
    f.trackCount = 9;
    const TRACK_HEADER foreign = headerFrom(makeHeader(f, true).data);
    const std::string path = dir.file("out.trk");
    CTrackWriter writer;
    ASSERT_TRUE(writer.Initialize(path.c_str(), foreign));
    ASSERT_TRUE(writer.Close());
    TRACK_HEADER expected = headerFrom(makeHeader(f).data);
    expected.track_count = 0;
    EXPECT_EQ(readFile(path).substr(0, 1000), headerBytes(expected));
}

TEST_F(TrackWriterTest, HeaderSizeZeroAndAnyVersionAreWrittenAsCurrent) {
    HeaderFields f;
    f.headerSize = 0;
    TRACK_HEADER given = headerFrom(makeHeader(f).data);
    given.version = 1;
    const std::string path = dir.file("out.trk");
    CTrackWriter writer;
    ASSERT_TRUE(writer.Initialize(path.c_str(), given));
    ASSERT_TRUE(writer.Close());
    const std::string bytes = readFile(path);
    EXPECT_EQ(int32At(bytes, 996), 1000);
    EXPECT_EQ(int32At(bytes, 992), 2);
    EXPECT_EQ(bytes[6], 64);  // dim[0] unswapped
}

TEST_F(TrackWriterTest, GeometryInitializersBuildTheDefaultHeader) {
    const std::string path = dir.file("out.trk");
    const int dims[3] = {65536 + 7, 8, 9};
    const float voxel[3] = {1.0f, 1.5f, 2.0f};
    {
        CTrackWriter writer;
        ASSERT_TRUE(writer.Initialize(path.c_str(), dims, voxel, nullptr, 2));
    }
    TRACK_HEADER expected = TRACK_HEADER::MakeDefault();
    expected.dim[0] = 7;
    expected.dim[1] = 8;
    expected.dim[2] = 9;
    expected.voxel_size[1] = 1.5f;
    expected.voxel_size[0] = 1.0f;
    expected.voxel_size[2] = 2.0f;
    expected.scalar_count = 2;
    EXPECT_EQ(readFile(path), headerBytes(expected));

    const short shortDims[3] = {3, 4, 5};
    const float origin[3] = {0.5f, 0.25f, 0.125f};
    {
        CTrackWriter writer;
        ASSERT_TRUE(writer.Initialize(path.c_str(), shortDims, voxel, origin, 0));
    }
    const TRACK_HEADER written = headerFrom(readFile(path));
    EXPECT_EQ(written.dim[2], 5);
    EXPECT_EQ(written.origin[2], 0.125f);
    EXPECT_EQ(written.scalar_count, 0);
    EXPECT_EQ(written.property_count, 0);
}

TEST_F(TrackWriterTest, FailuresWithoutAFile) {
    CTrackWriter writer;
    const float point[] = {1, 2, 3};
    EXPECT_FALSE(writer.WriteNextTrack(1, point));
    EXPECT_EQ(writer.GetLastError(), CTrackIO::kNotInitialized);
    EXPECT_FALSE(writer.UpdateHeader(TRACK_HEADER::MakeDefault()));
    EXPECT_EQ(writer.GetLastError(), CTrackIO::kNotInitialized);
    EXPECT_FALSE(writer.Close());

    EXPECT_FALSE(
        writer.Initialize(dir.file("missing/out.trk").c_str(), TRACK_HEADER::MakeDefault()));
    EXPECT_EQ(writer.GetLastError(), CTrackIO::kNotInitialized);
}

TEST_F(TrackWriterTest, AFullDeviceIsReportedAsAWriteFailure) {
    CTrackWriter writer;
    if (!writer.Initialize("/dev/full", TRACK_HEADER::MakeDefault())) {
        GTEST_SKIP() << "no /dev/full";
    }
    std::vector<float> body(3 * 4096, 1.0f);
    bool failed = false;
    for (int i = 0; i < 4 && !failed; ++i) {
        failed = !writer.WriteNextTrack(4096, body.data());
    }
    if (failed) {
        EXPECT_EQ(writer.GetLastError(), CTrackIO::kCanNotWrite);
    }
    EXPECT_FALSE(writer.Close());
    EXPECT_STREQ(writer.GetLastErrorMessage(), "Can not write to file");
}

TEST_F(TrackWriterTest, UpdateHeaderRewritesAndKeepsTheWritePosition) {
    const std::string path = dir.file("out.trk");
    CTrackWriter writer;
    ASSERT_TRUE(writer.Initialize(path.c_str(), TRACK_HEADER::MakeDefault()));
    const float point[] = {1, 2, 3};
    ASSERT_TRUE(writer.WriteNextTrack(1, point));
    TRACK_HEADER changed = TRACK_HEADER::MakeDefault();
    changed.dim[0] = 99;
    changed.track_count = 10;
    changed.header_size = 0;
    ASSERT_TRUE(writer.UpdateHeader(changed));
    ASSERT_TRUE(writer.WriteNextTrack(1, point));
    ASSERT_TRUE(writer.Close());
    const std::string bytes = readFile(path);
    EXPECT_EQ(bytes.size(), 1000u + 2 * 16);
    EXPECT_EQ(bytes[6], 99);
    EXPECT_EQ(int32At(bytes, 988), 11);  // the given count, then one more record
    EXPECT_EQ(int32At(bytes, 996), 1000);
    EXPECT_EQ(int32At(bytes, 1016), 1);
}

TEST_F(TrackWriterTest, StaticUpdateHeaderKeepsTheFilesByteOrder) {
    HeaderFields f;
    f.trackCount = 0;
    Bytes b = makeHeader(f, true);
    addRecord(b, 1, {1, 2, 3});
    const std::string path = dir.file("foreign.trk");
    writeFile(path, b.data);

    f.trackCount = 1;
    f.dim[0] = 12;
    TRACK_HEADER update = headerFrom(makeHeader(f).data);
    update.header_size = 0;
    ASSERT_TRUE(CTrackWriter::UpdateHeader(path.c_str(), update));
    const std::string bytes = readFile(path);
    EXPECT_EQ(bytes.substr(0, 1000), makeHeader(f, true).data);
    EXPECT_EQ(bytes.substr(1000), b.data.substr(1000));

    CTrackReader reader;
    TRACK_HEADER h;
    ASSERT_TRUE(reader.Open(path.c_str(), &h));
    EXPECT_TRUE(reader.IsSwapped());
    EXPECT_EQ(h.dim[0], 12);
    EXPECT_EQ(h.track_count, 1);
}

TEST_F(TrackWriterTest, StaticUpdateHeaderRefusesWhatIsNoTrackFile) {
    EXPECT_FALSE(
        CTrackWriter::UpdateHeader(dir.file("none.trk").c_str(), TRACK_HEADER::MakeDefault()));
    writeFile(dir.file("short.trk"), std::string(500, 'x'));
    EXPECT_FALSE(
        CTrackWriter::UpdateHeader(dir.file("short.trk").c_str(), TRACK_HEADER::MakeDefault()));
    EXPECT_EQ(readFile(dir.file("short.trk")), std::string(500, 'x'));
    // A legacy file's first bytes are its dimensions and tracks.
    const std::string legacy(1200, '\1');
    writeFile(dir.file("legacy.trk"), legacy);
    EXPECT_FALSE(
        CTrackWriter::UpdateHeader(dir.file("legacy.trk").c_str(), TRACK_HEADER::MakeDefault()));
    EXPECT_EQ(readFile(dir.file("legacy.trk")), legacy);
}
