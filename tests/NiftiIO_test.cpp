// Reading volumes: conversion of every stored type into the working types, ranges, masks,
// single-volume reads, and refusal of reads that would not fit their destination.

#include "NiftiIO.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "TestSupport.h"

using testsupport::TempDir;
using testsupport::VolumeSpec;
using testsupport::writeVolume;

namespace {

// One stored type: four raw voxels and what each working type must receive.
struct TypeCase {
    const char* name;
    int datatype;
    std::vector<unsigned char> raw;
    std::vector<short> asShort;
    std::vector<int> asInt;
    std::vector<float> asFloat;
};

template <typename T>
std::vector<unsigned char> bytesOf(const std::vector<T>& values) {
    std::vector<unsigned char> raw(values.size() * sizeof(T));
    std::memcpy(raw.data(), values.data(), raw.size());
    return raw;
}

std::vector<unsigned char> float128Bytes(const std::vector<long double>& values) {
    // Only the 10 significant bytes of an x87 long double are defined; zero the padding so the
    // file content is reproducible.
    std::vector<unsigned char> raw(values.size() * 16, 0);
    for (size_t i = 0; i < values.size(); ++i) {
        std::memcpy(raw.data() + 16 * i, &values[i], 10);
    }
    return raw;
}

std::vector<TypeCase> typeCases() {
    return {
        {"UINT8",
         DT_UINT8,
         bytesOf<uint8_t>({0, 1, 128, 255}),
         {0, 1, 128, 255},
         {0, 1, 128, 255},
         {0.0f, 1.0f, 128.0f, 255.0f}},
        {"INT8",
         DT_INT8,
         bytesOf<int8_t>({-128, -1, 0, 127}),
         {-128, -1, 0, 127},
         {-128, -1, 0, 127},
         {-128.0f, -1.0f, 0.0f, 127.0f}},
        {"INT16",
         DT_INT16,
         bytesOf<int16_t>({-32768, -1, 0, 32767}),
         {-32768, -1, 0, 32767},
         {-32768, -1, 0, 32767},
         {-32768.0f, -1.0f, 0.0f, 32767.0f}},
        {"UINT16",
         DT_UINT16,
         bytesOf<uint16_t>({0, 32767, 40000, 65535}),
         {0, 32767, -25536, -1},
         {0, 32767, 40000, 65535},
         {0.0f, 32767.0f, 40000.0f, 65535.0f}},
        {"INT32",
         DT_INT32,
         bytesOf<int32_t>({INT32_MIN, -1, 70000, INT32_MAX}),
         {0, -1, 4464, -1},
         {INT32_MIN, -1, 70000, INT32_MAX},
         {-2147483648.0f, -1.0f, 70000.0f, 2147483648.0f}},
        {"UINT32",
         DT_UINT32,
         bytesOf<uint32_t>({0u, 70000u, 3000000000u, 4294967295u}),
         {0, 4464, 24064, -1},
         {0, 70000, -1294967296, -1},
         {0.0f, 70000.0f, 3000000000.0f, 4294967296.0f}},
        {"INT64",
         DT_INT64,
         bytesOf<int64_t>({-1, 4294967297LL, 70000, -70000}),
         {-1, 1, 4464, -4464},
         {-1, 1, 70000, -70000},
         {-1.0f, 4294967296.0f, 70000.0f, -70000.0f}},
        {"UINT64",
         DT_UINT64,
         bytesOf<uint64_t>({18446744073709551615ULL, 4295007296ULL, 5, 65536}),
         {-1, -25536, 5, 0},
         {-1, 40000, 5, 65536},
         {18446744073709551616.0f, 4295007232.0f, 5.0f, 65536.0f}},
        {"FLOAT32",
         DT_FLOAT32,
         bytesOf<float>({-2.7f, 2.7f, 40000.5f, -70000.9f}),
         {-2, 2, -25536, -4464},
         {-2, 2, 40000, -70000},
         {-2.7f, 2.7f, 40000.5f, -70000.9f}},
        {"FLOAT64",
         DT_FLOAT64,
         bytesOf<double>({-2.7, 0.1, 123456.789, -0.99}),
         {-2, 0, -7616, 0},
         {-2, 0, 123456, 0},
         {-2.7f, 0.1f, 123456.789f, -0.99f}},
        // 1e20 lies outside the 32-bit range: it becomes INT32_MIN, whose low 16 bits are 0.
        {"FLOAT128",
         DT_FLOAT128,
         float128Bytes({-2.7L, 3.5L, 1e20L, 65535.9L}),
         {-2, 3, 0, -1},
         {-2, 3, INT32_MIN, 65535},
         {-2.7f, 3.5f, 1e20f, 65535.9f}},
    };
}

// The file kinds a volume can come in.
struct FileKind {
    const char* name;
    const char* ending;
    bool analyze;
};

const FileKind kKinds[] = {
    {"nii", ".nii", false},       {"niigz", ".nii.gz", false}, {"pair", ".hdr", false},
    {"pairgz", ".hdr.gz", false}, {"analyze", ".hdr", true},
};

class NiftiIOConversion : public ::testing::TestWithParam<FileKind> {
  protected:
    std::string write(const TypeCase& c, const std::vector<int>& dims = {2, 2, 1}) {
        VolumeSpec layout;
        layout.dims = dims;
        layout.datatype = c.datatype;
        layout.analyze = GetParam().analyze;
        const std::string path = dir_.file(std::string(c.name) + GetParam().ending);
        writeVolume(path, layout, c.raw.data(), c.raw.size());
        return path;
    }

    TempDir dir_;
};

TEST_P(NiftiIOConversion, EveryStoredTypeConvertsToEveryWorkingType) {
    for (const TypeCase& c : typeCases()) {
        SCOPED_TRACE(c.name);
        const std::string path = write(c);
        std::vector<short> s(4, 77);
        std::vector<int> i(4, 77);
        std::vector<float> f(4, 77.0f);
        ASSERT_TRUE(NiftiIO::ReadAsShort(path, s.data(), s.size(), 0, 0, false));
        ASSERT_TRUE(NiftiIO::ReadAsInt(path, i.data(), i.size(), 0, 0, false));
        ASSERT_TRUE(NiftiIO::ReadAsFloat(path, f.data(), f.size(), 0, 0, false));
        EXPECT_EQ(s, c.asShort);
        EXPECT_EQ(i, c.asInt);
        EXPECT_EQ(f, c.asFloat);
    }
}

TEST_P(NiftiIOConversion, RangeFillsExactlyItsElements) {
    for (const TypeCase& c : typeCases()) {
        SCOPED_TRACE(c.name);
        const std::string path = write(c);
        NiftiIO io;
        ASSERT_TRUE(io.Open(path, nullptr, NiftiIO::kRead));
        std::vector<short> s(4, 77);
        std::vector<int> i(4, 77);
        std::vector<float> f(4, 77.0f);
        ASSERT_TRUE(io.ReadAsShort(s.data(), s.size(), 1, 3, false));
        ASSERT_TRUE(io.ReadAsInt(i.data(), i.size(), 1, 3, false));
        ASSERT_TRUE(io.ReadAsFloat(f.data(), f.size(), 2, 4, false));
        EXPECT_EQ(s, (std::vector<short>{77, c.asShort[1], c.asShort[2], 77}));
        EXPECT_EQ(i, (std::vector<int>{77, c.asInt[1], c.asInt[2], 77}));
        EXPECT_EQ(f, (std::vector<float>{77.0f, 77.0f, c.asFloat[2], c.asFloat[3]}));
        // Reads go back to the file each time, so a repeat gives the same result.
        std::vector<float> again(4, 77.0f);
        ASSERT_TRUE(io.ReadAsFloat(again.data(), again.size(), 2, 4, false));
        EXPECT_EQ(again, f);
    }
}

TEST_P(NiftiIOConversion, SingleVolumeReadsConvertLikeWholeFileReads) {
    for (const TypeCase& c : typeCases()) {
        SCOPED_TRACE(c.name);
        // Two volumes of two voxels: volume 1 holds stored elements 2 and 3.
        const std::string path = write(c, {2, 1, 1, 2});
        NiftiIO io;
        ASSERT_TRUE(io.Open(path, nullptr, NiftiIO::kRead));
        std::vector<short> s(2, 77);
        std::vector<float> f(2, 77.0f);
        ASSERT_TRUE(io.ReadCollapsedAsShort(s.data(), s.size(), -1, -1, -1, 1, 0, 0, 0));
        ASSERT_TRUE(io.ReadCollapsedAsFloat(f.data(), f.size(), -1, -1, -1, 1, 0, 0, 0));
        EXPECT_EQ(s, (std::vector<short>{c.asShort[2], c.asShort[3]}));
        EXPECT_EQ(f, (std::vector<float>{c.asFloat[2], c.asFloat[3]}));
    }
}

TEST_P(NiftiIOConversion, ColourVoxelsPackOnlyWhenAsked) {
    const TypeCase rgb{"RGB24",
                       DT_RGB24,
                       {255, 255, 255, 0, 0, 0, 4, 8, 12, 255, 0, 0},
                       {-1, 0, 4227, -4096},
                       {262143, 0, 4227, 258048},
                       {262143.0f, 0.0f, 4227.0f, 258048.0f}};
    const std::string path = write(rgb);
    std::vector<short> s(4, 77);
    std::vector<int> i(4, 77);
    std::vector<float> f(4, 77.0f);
    EXPECT_FALSE(NiftiIO::ReadAsShort(path, s.data(), s.size(), 0, 0, false));
    EXPECT_FALSE(NiftiIO::ReadAsInt(path, i.data(), i.size(), 0, 0, false));
    EXPECT_FALSE(NiftiIO::ReadAsFloat(path, f.data(), f.size(), 0, 0, false));
    EXPECT_EQ(s, std::vector<short>(4, 77));
    EXPECT_EQ(f, std::vector<float>(4, 77.0f));

    ASSERT_TRUE(NiftiIO::ReadAsShort(path, s.data(), s.size(), 0, 0, true));
    ASSERT_TRUE(NiftiIO::ReadAsInt(path, i.data(), i.size(), 0, 0, true));
    ASSERT_TRUE(NiftiIO::ReadAsFloat(path, f.data(), f.size(), 0, 0, true));
    EXPECT_EQ(s, rgb.asShort);
    EXPECT_EQ(i, rgb.asInt);
    EXPECT_EQ(f, rgb.asFloat);

    // Colour never goes through single-volume reads or masks.
    NiftiIO io;
    ASSERT_TRUE(io.Open(path, nullptr, NiftiIO::kRead));
    EXPECT_FALSE(io.ReadCollapsedAsFloat(f.data(), f.size(), -1, -1, -1, 0, 0, 0, 0));
    s.assign(4, 77);
    EXPECT_FALSE(io.ReadAsShortMask(s.data(), s.size(), 0.0, 1e9));
    EXPECT_EQ(s, std::vector<short>(4, 0));
}

INSTANTIATE_TEST_SUITE_P(FileKinds, NiftiIOConversion, ::testing::ValuesIn(kKinds),
                         [](const ::testing::TestParamInfo<FileKind>& kind) {
                             return std::string(kind.param.name);
                         });

class NiftiIORead : public ::testing::Test {
  protected:
    template <typename T>
    std::string write(const std::string& name, int datatype, const std::vector<int>& dims,
                      const std::vector<T>& values) {
        VolumeSpec layout;
        layout.dims = dims;
        layout.datatype = datatype;
        const std::string path = dir_.file(name);
        writeVolume(path, layout, values);
        return path;
    }

    TempDir dir_;
};

TEST_F(NiftiIORead, MaskWindowIsInclusiveOnBothSides) {
    const std::string bytes =
        write<uint8_t>("mask.nii", DT_UINT8, {5, 1, 1}, {0, 1, 128, 254, 255});
    std::vector<short> mask(5, 9);
    ASSERT_TRUE(NiftiIO::ReadAsShortMask(bytes, mask.data(), mask.size(), 1.0, 255.0));
    EXPECT_EQ(mask, (std::vector<short>{0, 1, 1, 1, 1}));
    ASSERT_TRUE(NiftiIO::ReadAsShortMask(bytes, mask.data(), mask.size(), 128.0, 128.0));
    EXPECT_EQ(mask, (std::vector<short>{0, 0, 1, 0, 0}));

    // Unsigned types compare as unsigned.
    const std::string u16 = write<uint16_t>("u16.nii", DT_UINT16, {3, 1, 1}, {40000, 32767, 65535});
    ASSERT_TRUE(NiftiIO::ReadAsShortMask(u16, mask.data(), 3, 40000.0, 70000.0));
    EXPECT_EQ(std::vector<short>(mask.begin(), mask.begin() + 3), (std::vector<short>{1, 0, 1}));
    const std::string f32 = write<float>("f32.nii", DT_FLOAT32, {3, 1, 1}, {-0.5f, 0.5f, 0.25f});
    ASSERT_TRUE(NiftiIO::ReadAsShortMask(f32, mask.data(), 3, -0.5, 0.25));
    EXPECT_EQ(std::vector<short>(mask.begin(), mask.begin() + 3), (std::vector<short>{1, 0, 1}));
    const std::string u64 =
        write<uint64_t>("u64.nii", DT_UINT64, {2, 1, 1}, {18446744073709551615ULL, 1ULL});
    ASSERT_TRUE(NiftiIO::ReadAsShortMask(u64, mask.data(), 2, 1e19, 2e19));
    EXPECT_EQ(std::vector<short>(mask.begin(), mask.begin() + 2), (std::vector<short>{1, 0}));
}

TEST_F(NiftiIORead, UnhandledTypesFailEveryReader) {
    // Complex64: two floats a voxel.
    const std::string path =
        write<float>("complex.nii", DT_COMPLEX64, {2, 1, 1}, {1.0f, 2.0f, 3.0f, 4.0f});
    std::vector<short> s(2, 77);
    std::vector<int> i(2, 77);
    std::vector<float> f(2, 77.0f);
    EXPECT_FALSE(NiftiIO::ReadAsShort(path, s.data(), s.size(), 0, 0, true));
    EXPECT_FALSE(NiftiIO::ReadAsInt(path, i.data(), i.size(), 0, 0, true));
    EXPECT_FALSE(NiftiIO::ReadAsFloat(path, f.data(), f.size(), 0, 0, true));
    EXPECT_EQ(i, std::vector<int>(2, 77));
    NiftiIO io;
    ASSERT_TRUE(io.Open(path, nullptr, NiftiIO::kRead));
    EXPECT_FALSE(io.ReadCollapsedAsShort(s.data(), s.size(), -1, -1, -1, 0, 0, 0, 0));
    EXPECT_FALSE(io.ReadCollapsedAsFloat(f.data(), f.size(), -1, -1, -1, 0, 0, 0, 0));
    EXPECT_EQ(f, std::vector<float>(2, 77.0f));
    EXPECT_FALSE(io.ReadAsShortMask(s.data(), s.size(), 0.0, 10.0));
    EXPECT_EQ(s, std::vector<short>(2, 0));
}

TEST_F(NiftiIORead, ReadsThatWouldNotFitAreRefusedUntouched) {
    const std::string path = write<int16_t>("v.nii", DT_INT16, {2, 2, 2}, {1, 2, 3, 4, 5, 6, 7, 8});
    NiftiIO io;
    ASSERT_TRUE(io.Open(path, nullptr, NiftiIO::kRead));
    std::vector<short> s(8, 77);
    // Whole file into seven elements, a range reaching past the file or the destination, a
    // reversed or negative range.
    EXPECT_FALSE(io.ReadAsShort(s.data(), 7, 0, 0, false));
    EXPECT_FALSE(io.ReadAsShort(s.data(), 8, 0, 9, false));
    EXPECT_FALSE(io.ReadAsShort(s.data(), 5, 2, 6, false));
    EXPECT_FALSE(io.ReadAsShort(s.data(), 8, 5, 3, false));
    EXPECT_FALSE(io.ReadAsShort(s.data(), 8, -1, 3, false));
    EXPECT_FALSE(io.ReadAsShortMask(s.data(), 7, 0.0, 10.0));
    EXPECT_EQ(s, std::vector<short>(8, 77));
    // A range needs only room up to its end.
    EXPECT_TRUE(io.ReadAsShort(s.data(), 6, 2, 6, false));
    EXPECT_EQ(s, (std::vector<short>{77, 77, 3, 4, 5, 6, 77, 77}));

    std::vector<unsigned char> raw(16, 0xAB);
    EXPECT_FALSE(io.ReadData(raw.data(), 15));
    EXPECT_FALSE(io.ReadCollapsed(raw.data(), 7, -1, -1, 0, 0, 0, 0, 0));
    EXPECT_FALSE(io.ReadCollapsedAsShort(s.data(), 3, -1, -1, 0, 0, 0, 0, 0));
    EXPECT_EQ(raw, std::vector<unsigned char>(16, 0xAB));
    ASSERT_TRUE(io.ReadData(raw.data(), 16));
    EXPECT_EQ(raw, bytesOf<int16_t>({1, 2, 3, 4, 5, 6, 7, 8}));

    NiftiIO closed;
    EXPECT_FALSE(closed.ReadAsShort(s.data(), s.size(), 0, 0, false));
    EXPECT_FALSE(closed.ReadData(raw.data(), raw.size()));
    EXPECT_FALSE(closed.ReadCollapsed(raw.data(), raw.size(), -1, -1, -1, 0, 0, 0, 0));
}

TEST_F(NiftiIORead, SingleVolumesOfFourAndFiveDimensionalFiles) {
    // 30 volumes of 2x1x1, voxel value 100 * volume + x.
    std::vector<int16_t> series;
    for (int t = 0; t < 30; ++t) {
        series.push_back(static_cast<int16_t>(100 * t));
        series.push_back(static_cast<int16_t>(100 * t + 1));
    }
    const std::string path = write("series.nii.gz", DT_INT16, {2, 1, 1, 30}, series);
    NiftiIO io;
    ASSERT_TRUE(io.Open(path, nullptr, NiftiIO::kRead));
    std::vector<float> f(2, -1.0f);
    ASSERT_TRUE(io.ReadCollapsedAsFloat(f.data(), f.size(), -1, -1, -1, 29, 0, 0, 0));
    EXPECT_EQ(f, (std::vector<float>{2900.0f, 2901.0f}));
    EXPECT_FALSE(io.ReadCollapsedAsFloat(f.data(), f.size(), -1, -1, -1, 30, 0, 0, 0));
    EXPECT_EQ(f, (std::vector<float>{2900.0f, 2901.0f}));
    // A whole time course of voxel 1.
    std::vector<short> course(30, 0);
    ASSERT_TRUE(io.ReadCollapsedAsShort(course.data(), course.size(), 1, 0, 0, -1, 0, 0, 0));
    for (int t = 0; t < 30; ++t) {
        EXPECT_EQ(course[t], 100 * t + 1);
    }
    EXPECT_FALSE(io.ReadCollapsedAsShort(course.data(), 29, 1, 0, 0, -1, 0, 0, 0));

    // A 5D tensor file: 2 voxels, components along the fifth dimension.
    std::vector<float> tensor;
    for (int k = 0; k < 6; ++k) {
        tensor.push_back(10.0f * k);
        tensor.push_back(10.0f * k + 0.5f);
    }
    const std::string tpath = write("tensor.nii", DT_FLOAT32, {2, 1, 1, 1, 6}, tensor);
    ASSERT_TRUE(io.Open(tpath, nullptr, NiftiIO::kRead));
    for (int k = 0; k < 6; ++k) {
        ASSERT_TRUE(io.ReadCollapsedAsFloat(f.data(), f.size(), -1, -1, -1, 0, k, -1, -1));
        EXPECT_EQ(f, (std::vector<float>{10.0f * k, 10.0f * k + 0.5f}));
    }
    std::vector<unsigned char> raw(8, 0);
    ASSERT_TRUE(io.ReadCollapsed(raw.data(), raw.size(), -1, -1, -1, 0, 3, -1, -1));
    EXPECT_EQ(raw, bytesOf<float>({30.0f, 30.5f}));
}

// Overwrites a 16-bit field of a stored .nii header.
void patchShort(const std::string& path, size_t offset, int16_t value) {
    std::string content = testsupport::readFile(path);
    std::memcpy(&content[offset], &value, sizeof value);
    testsupport::writeFile(path, content);
}

TEST_F(NiftiIORead, HeadersWithUnusableSizesAreRefused) {
    const size_t dimOffset = 40;  // dim[0] of the header record
    const std::string zero = write<uint8_t>("zero.nii", DT_UINT8, {2, 2, 1}, {1, 2, 3, 4});
    patchShort(zero, dimOffset + 2 * 2, 0);
    const std::string negative = write<uint8_t>("neg.nii", DT_UINT8, {2, 2, 1}, {1, 2, 3, 4});
    patchShort(negative, dimOffset + 2 * 1, -2);
    const std::string huge = write<uint8_t>("huge.nii", DT_UINT8, {2, 2, 1}, {1, 2, 3, 4});
    patchShort(huge, dimOffset, 7);
    for (int d = 1; d <= 7; ++d) {
        patchShort(huge, dimOffset + 2 * d, 32767);
    }
    for (const std::string& path : {zero, negative, huge}) {
        SCOPED_TRACE(path);
        NiftiIO io;
        nifti_1_header hdr{};
        EXPECT_FALSE(io.Open(path, &hdr, NiftiIO::kRead));
        EXPECT_FALSE(NiftiIO::ReadHeader(path, hdr, nullptr, nullptr));
        std::vector<short> s(4, 77);
        EXPECT_FALSE(NiftiIO::ReadAsShortMask(path, s.data(), s.size(), 0.0, 9.0));
        EXPECT_EQ(s, std::vector<short>(4, 77));
    }
}

TEST_F(NiftiIORead, MissingFilesFailQuietly) {
    const std::string missing = dir_.file("absent.nii");
    std::vector<float> f(4, 1.0f);
    nifti_1_header hdr{};
    EXPECT_FALSE(NiftiIO().Open(missing, &hdr, NiftiIO::kRead));
    EXPECT_FALSE(NiftiIO::ReadAsFloat(missing, f.data(), f.size(), 0, 0, false));
    EXPECT_FALSE(NiftiIO::ReadHeader(missing, hdr, nullptr, nullptr));
    EXPECT_FALSE(NiftiIO::IsAnalyze(missing));
    double range[2] = {-5.0, -5.0};
    EXPECT_EQ(NiftiIO::GetAutoThreshold(missing, 50, range), 0.0);
    EXPECT_EQ(range[0], -5.0);
}

}  // namespace
