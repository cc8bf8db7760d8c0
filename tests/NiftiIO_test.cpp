// Reading volumes: conversion of every stored type into the working types, ranges, masks,
// single-volume reads, refusal of reads that would not fit their destination, and the reasons
// given for every refusal.

#include "NiftiIO.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
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

// ---- failure reasons ------------------------------------------------------------------------

// A header record of a float32 volume stored in one .nii file.
nifti_1_header floatRecord(const std::vector<int>& dims) {
    nifti_1_header hdr{};
    NiftiIO::InitializeNiftiHeader(hdr, NiftiIO::kNiftiSingle);
    hdr.dim[0] = static_cast<short>(dims.size());
    for (size_t i = 0; i < dims.size(); ++i) {
        hdr.dim[i + 1] = static_cast<short>(dims[i]);
        hdr.pixdim[i + 1] = 1.0f;
    }
    hdr.datatype = DT_FLOAT32;
    hdr.bitpix = 32;
    hdr.vox_offset = 352.0f;
    return hdr;
}

// The record, the four bytes that say "no extensions", then dataBytes bytes of data.
std::string singleFile(const nifti_1_header& hdr, size_t dataBytes, char fill = '\0') {
    std::string content(reinterpret_cast<const char*>(&hdr), sizeof hdr);
    content += std::string(4, '\0');
    content += std::string(dataBytes, fill);
    return content;
}

void writeCompressed(const std::string& path, const std::string& content) {
    gzFile file = gzopen(path.c_str(), "wb");
    ASSERT_NE(file, nullptr);
    ASSERT_EQ(gzwrite(file, content.data(), static_cast<unsigned>(content.size())),
              static_cast<int>(content.size()));
    ASSERT_EQ(gzclose(file), Z_OK);
}

class NiftiIOReason : public ::testing::Test {
  protected:
    std::string put(const std::string& name, const std::string& content) {
        const std::string path = dir_.file(name);
        testsupport::writeFile(path, content);
        return path;
    }

    // The reason a header read and a whole-volume read give for path.
    std::string headerReason(const std::string& path) {
        nifti_1_header hdr{};
        std::string reason = "untouched";
        EXPECT_FALSE(NiftiIO::ReadHeader(path, hdr, nullptr, nullptr, &reason));
        NiftiIO io;
        EXPECT_FALSE(io.Open(path, &hdr, NiftiIO::kRead));
        EXPECT_EQ(io.LastError(), reason);
        std::vector<float> f(4, 0.0f);
        std::string readReason;
        EXPECT_FALSE(NiftiIO::ReadAsFloat(path, f.data(), f.size(), 0, 0, false, &readReason));
        EXPECT_EQ(readReason, reason);
        return reason;
    }

    TempDir dir_;
};

TEST_F(NiftiIOReason, MissingFilesNameTheFileAndTheSystemReason) {
    const std::string missing = dir_.file("absent.nii");
    EXPECT_EQ(headerReason(missing), missing + ": cannot open: No such file or directory");
    double range[2] = {-5.0, -5.0};
    std::string reason;
    EXPECT_EQ(NiftiIO::GetAutoThreshold(missing, 50, range, &reason), 0.0);
    EXPECT_EQ(reason, missing + ": cannot open: No such file or directory");

    // A name without ending is looked for with each ending.
    const std::string bare = dir_.file("bare");
    EXPECT_EQ(headerReason(bare), bare + ": none of " + bare + ".nii, .nii.gz, .hdr and .hdr.gz exists");

    // A folder carrying a volume name is found but holds no header.
    const std::string folder = dir_.file("folder.nii");
    ASSERT_EQ(mkdir(folder.c_str(), 0755), 0);
    EXPECT_EQ(headerReason(folder), folder + ": cannot read the header: Is a directory");

    // An unreadable file is found but cannot be opened (root reads everything).
    if (geteuid() != 0) {
        const std::string locked = put("locked.nii", singleFile(floatRecord({2, 2, 1}), 16));
        ASSERT_EQ(chmod(locked.c_str(), 0), 0);
        EXPECT_EQ(headerReason(locked), locked + ": cannot open: Permission denied");
    }
}

TEST_F(NiftiIOReason, PairWithoutItsDataFileNamesTheDataFile) {
    VolumeSpec layout;
    layout.dims = {2, 2, 1};
    layout.datatype = DT_FLOAT32;
    const std::string hdrPath = dir_.file("pair.hdr");
    writeVolume(hdrPath, layout, std::vector<float>(4, 1.0f));
    const std::string imgPath = dir_.file("pair.img");
    ASSERT_EQ(std::remove(imgPath.c_str()), 0);

    nifti_1_header hdr{};
    std::string reason;
    EXPECT_TRUE(NiftiIO::ReadHeader(hdrPath, hdr, nullptr, nullptr, &reason));
    EXPECT_EQ(reason, "");
    std::vector<float> f(4, 0.0f);
    EXPECT_FALSE(NiftiIO::ReadAsFloat(hdrPath, f.data(), f.size(), 0, 0, false, &reason));
    EXPECT_EQ(reason, imgPath + ": cannot open: No such file or directory");

    // Named by its image file, a pair without header file names the header file.
    testsupport::writeFile(imgPath, std::string(16, '\0'));
    ASSERT_EQ(std::remove(hdrPath.c_str()), 0);
    EXPECT_EQ(headerReason(imgPath), hdrPath + ": cannot open: No such file or directory");
}

TEST_F(NiftiIOReason, UnusableHeaderFieldsAreNamed) {
    nifti_1_header rank = floatRecord({2, 2, 1});
    rank.dim[0] = 9;
    const std::string rankPath = put("rank.nii", singleFile(rank, 16));
    EXPECT_EQ(headerReason(rankPath),
              rankPath + ": header field dim[0] is 9, not 1 to 7 in either byte order");

    nifti_1_header size = floatRecord({2, 2, 1});
    size.dim[0] = 0;
    size.sizeof_hdr = 540;
    const std::string sizePath = put("size.nii", singleFile(size, 16));
    EXPECT_EQ(headerReason(sizePath), sizePath +
                                          ": header field sizeof_hdr is 540, not 348 in either "
                                          "byte order (and dim[0] is 0)");

    nifti_1_header noRank = floatRecord({2, 2, 1});
    noRank.dim[0] = 0;
    const std::string noRankPath = put("norank.nii", singleFile(noRank, 16));
    EXPECT_EQ(headerReason(noRankPath), noRankPath + ": header field dim[0] is 0, not 1 to 7");

    nifti_1_header empty = floatRecord({2, 2, 1});
    empty.dim[2] = 0;
    const std::string emptyPath = put("empty.nii", singleFile(empty, 16));
    EXPECT_EQ(headerReason(emptyPath),
              emptyPath + ": header field dim[2] is 0, not a size of at least 1");

    nifti_1_header type = floatRecord({2, 2, 1});
    type.datatype = 9999;
    const std::string typePath = put("type.nii", singleFile(type, 16));
    EXPECT_EQ(headerReason(typePath),
              typePath + ": header field datatype is 9999, not a NIfTI voxel type");
    type.datatype = DT_BINARY;
    const std::string binaryPath = put("binary.nii", singleFile(type, 16));
    EXPECT_EQ(headerReason(binaryPath),
              binaryPath + ": header field datatype is 1 (BINARY), which has no voxel size");

    nifti_1_header huge = floatRecord({32767, 32767, 32767, 32767, 32767, 32767, 32767});
    const std::string hugePath = put("huge.nii", singleFile(huge, 16));
    EXPECT_EQ(headerReason(hugePath),
              hugePath + ": header dimensions 32767 x 32767 x 32767 x 32767 x 32767 x 32767 x "
                         "32767 describe more data than can be addressed");

    const std::string shortPath = put("short.hdr", std::string(100, 'x'));
    EXPECT_EQ(headerReason(shortPath),
              shortPath + ": file ends at byte 100; the header needs 348");
    const std::string asciiPath = put("text.nii", "<nifti_image\n  nx = '2'\n/>\n");
    EXPECT_EQ(headerReason(asciiPath), asciiPath + ": ASCII NIfTI headers are not read");
}

TEST_F(NiftiIOReason, ForeignByteOrderIsReadAndItsFieldsReported) {
    nifti_1_header good = floatRecord({2, 2, 1});
    swap_nifti_header(&good, 1);
    const std::string goodPath = put("big.nii", singleFile(good, 16));
    std::vector<float> f(4, 7.0f);
    std::string reason = "untouched";
    EXPECT_TRUE(NiftiIO::ReadAsFloat(goodPath, f.data(), f.size(), 0, 0, false, &reason));
    EXPECT_EQ(reason, "");
    EXPECT_EQ(f, std::vector<float>(4, 0.0f));

    nifti_1_header empty = floatRecord({2, 2, 1});
    empty.dim[2] = 0;
    swap_nifti_header(&empty, 1);
    const std::string emptyPath = put("bigempty.nii", singleFile(empty, 16));
    EXPECT_EQ(headerReason(emptyPath),
              emptyPath + ": header field dim[2] is 0, not a size of at least 1");
}

// 128 x 128 x 40 float voxels: 2,621,440 bytes behind a 352-byte header, cut at 1 MiB. Slices
// past the cut cannot be read.
TEST_F(NiftiIOReason, TruncatedDataSaysWhereItEndsAndWhatTheHeaderNeeds) {
    const std::string whole = singleFile(floatRecord({128, 128, 40}), 128 * 128 * 40 * 4);
    ASSERT_EQ(whole.size(), 2621792U);
    const std::string cut = whole.substr(0, 1048576);
    const std::string expected = ": data ends at byte 1,048,576; the header needs 2,621,792";

    const std::string path = put("cut.nii", cut);
    NiftiIO io;
    ASSERT_TRUE(io.Open(path, nullptr, NiftiIO::kRead));
    EXPECT_EQ(io.LastError(), "");
    std::vector<float> slice(128 * 128, 0.0f);
    EXPECT_FALSE(io.ReadCollapsedAsFloat(slice.data(), slice.size(), -1, -1, 39, 0, 0, 0, 0));
    EXPECT_EQ(io.LastError(), path + expected);
    std::vector<unsigned char> raw(128 * 128 * 4);
    EXPECT_FALSE(io.ReadCollapsed(raw.data(), raw.size(), -1, -1, 20, 0, 0, 0, 0));
    EXPECT_EQ(io.LastError(), path + expected);
    // A slice within the data is refused too: the file is damaged as a whole.
    EXPECT_FALSE(io.ReadCollapsedAsFloat(slice.data(), slice.size(), -1, -1, 0, 0, 0, 0, 0));
    EXPECT_EQ(io.LastError(), path + expected);
    // Whole-volume reads refuse it rather than fill the missing voxels with zeros.
    std::vector<float> volume(128 * 128 * 40, 1.0f);
    std::string reason;
    EXPECT_FALSE(NiftiIO::ReadAsFloat(path, volume.data(), volume.size(), 0, 0, false, &reason));
    EXPECT_EQ(reason, path + expected);
    std::vector<short> mask(volume.size(), 0);
    EXPECT_FALSE(NiftiIO::ReadAsShortMask(path, mask.data(), mask.size(), 0.0, 1.0, &reason));
    EXPECT_EQ(reason, path + expected);
    // Success clears the reason.
    const std::string intact = put("whole.nii", whole);
    ASSERT_TRUE(io.Open(intact, nullptr, NiftiIO::kRead));
    EXPECT_TRUE(io.ReadCollapsedAsFloat(slice.data(), slice.size(), -1, -1, 0, 0, 0, 0, 0));
    EXPECT_EQ(io.LastError(), "");

    // The same stream compressed whole: the decompressed data is what counts. (Its own base
    // name: the library would take the data of cut.nii for cut.nii.gz.)
    const std::string gzPath = dir_.file("cutgz.nii.gz");
    writeCompressed(gzPath, cut);
    ASSERT_TRUE(io.Open(gzPath, nullptr, NiftiIO::kRead));
    EXPECT_FALSE(io.ReadCollapsedAsFloat(slice.data(), slice.size(), -1, -1, 39, 0, 0, 0, 0));
    EXPECT_EQ(io.LastError(), gzPath + expected);
}

TEST_F(NiftiIOReason, CutCompressedStreamSaysHowFarItDecompressed) {
    // Data gzip cannot shrink, so that cutting the compressed file cuts the data.
    std::string whole = singleFile(floatRecord({64, 64, 10}), 64 * 64 * 10 * 4);
    uint32_t state = 99u;
    for (size_t i = 352; i < whole.size(); ++i) {
        state = state * 1664525u + 1013904223u;
        whole[i] = static_cast<char>(state >> 24);
    }
    const std::string full = dir_.file("full.nii.gz");
    writeCompressed(full, whole);
    const std::string compressed = testsupport::readFile(full);
    const std::string path = put("cut.nii.gz", compressed.substr(0, compressed.size() / 2));

    NiftiIO io;
    ASSERT_TRUE(io.Open(path, nullptr, NiftiIO::kRead));
    std::vector<float> slice(64 * 64, 0.0f);
    EXPECT_FALSE(io.ReadCollapsedAsFloat(slice.data(), slice.size(), -1, -1, 9, 0, 0, 0, 0));
    const std::string reason = io.LastError();
    const std::string prefix = path + ": data ends at byte ";
    const std::string suffix =
        "; the header needs 164,192 (compressed data: unexpected end of file)";
    ASSERT_EQ(reason.compare(0, prefix.size(), prefix), 0) << reason;
    ASSERT_GT(reason.size(), prefix.size() + suffix.size()) << reason;
    EXPECT_EQ(reason.substr(reason.size() - suffix.size()), suffix) << reason;
    std::string number = reason.substr(prefix.size(), reason.size() - prefix.size() - suffix.size());
    number.erase(std::remove(number.begin(), number.end(), ','), number.end());
    const unsigned long endsAt = std::stoul(number);
    // Roughly half the data came out before the cut.
    EXPECT_GT(endsAt, 40000UL);
    EXPECT_LT(endsAt, 124000UL);
}

TEST_F(NiftiIOReason, DataOffsetsAndBitsPerVoxelAreReported) {
    // A pair whose data starts past the end of its image file.
    VolumeSpec layout;
    layout.dims = {2, 2, 1};
    layout.datatype = DT_FLOAT32;
    const std::string hdrPath = dir_.file("far.hdr");
    writeVolume(hdrPath, layout, std::vector<float>(4, 1.0f));
    nifti_1_header hdr{};
    ASSERT_TRUE(NiftiIO::ReadHeader(hdrPath, hdr, nullptr, nullptr));
    std::string record = testsupport::readFile(hdrPath);
    const float offset = 1000.0f;
    std::memcpy(&record[offsetof(nifti_1_header, vox_offset)], &offset, sizeof offset);
    testsupport::writeFile(hdrPath, record);
    std::vector<float> f(4, 0.0f);
    NiftiIO io;
    ASSERT_TRUE(io.Open(hdrPath, nullptr, NiftiIO::kRead));
    EXPECT_FALSE(io.ReadCollapsedAsFloat(f.data(), f.size(), -1, -1, 0, 0, 0, 0, 0));
    EXPECT_EQ(io.LastError(), dir_.file("far.img") + ": data ends at byte 16; the header needs 1,016");
    std::string reason;

    // A compressed pair cannot count its offset back from the end of the data.
    const std::string gzHdr = dir_.file("back.hdr.gz");
    writeVolume(gzHdr, layout, std::vector<float>(4, 1.0f));
    std::string gzRecord(sizeof(nifti_1_header), '\0');
    {
        gzFile file = gzopen(gzHdr.c_str(), "rb");
        ASSERT_NE(file, nullptr);
        ASSERT_EQ(gzread(file, &gzRecord[0], static_cast<unsigned>(gzRecord.size())),
                  static_cast<int>(gzRecord.size()));
        gzclose(file);
    }
    const float back = -16.0f;
    std::memcpy(&gzRecord[offsetof(nifti_1_header, vox_offset)], &back, sizeof back);
    writeCompressed(gzHdr, gzRecord);
    EXPECT_FALSE(NiftiIO::ReadAsFloat(gzHdr, f.data(), f.size(), 0, 0, false, &reason));
    EXPECT_EQ(reason, gzHdr + ": header field vox_offset is negative, which a compressed data "
                              "file cannot have");

    // Data written with bitpix's voxel size instead of datatype's.
    nifti_1_header narrow = floatRecord({4, 1, 1});
    narrow.datatype = DT_INT16;
    narrow.bitpix = 8;
    const std::string narrowPath = put("narrow.nii", singleFile(narrow, 4));
    std::vector<short> s(4, 0);
    ASSERT_TRUE(io.Open(narrowPath, nullptr, NiftiIO::kRead));
    EXPECT_FALSE(io.ReadCollapsedAsShort(s.data(), s.size(), -1, 0, 0, 0, 0, 0, 0));
    EXPECT_EQ(io.LastError(), narrowPath + ": data ends at byte 356; the header needs 360 (header field "
                                   "bitpix is 8, but datatype INT16 has 16 bits a voxel)");
}

TEST_F(NiftiIOReason, ReadsThatDoNotFitSayWhy) {
    const std::string path = dir_.file("v.nii");
    VolumeSpec layout;
    layout.dims = {2, 2, 2};
    layout.datatype = DT_INT16;
    writeVolume(path, layout, std::vector<int16_t>{1, 2, 3, 4, 5, 6, 7, 8});
    NiftiIO io;
    ASSERT_TRUE(io.Open(path, nullptr, NiftiIO::kRead));
    std::vector<short> s(8, 0);
    EXPECT_FALSE(io.ReadAsShort(s.data(), 7, 0, 0, false));
    EXPECT_EQ(io.LastError(), path + ": the read needs room for 8 values; the destination holds 7");
    EXPECT_FALSE(io.ReadAsShort(s.data(), 8, 5, 3, false));
    EXPECT_EQ(io.LastError(), path + ": voxel range [5, 3) does not lie within the volume's 8 voxels");
    EXPECT_FALSE(io.ReadAsShort(s.data(), 8, 0, 9, false));
    EXPECT_EQ(io.LastError(), path + ": voxel range [0, 9) does not lie within the volume's 8 voxels");
    EXPECT_FALSE(io.ReadAsShort(s.data(), 5, 2, 6, false));
    EXPECT_EQ(io.LastError(), path + ": the read needs room for 6 values; the destination holds 5");
    EXPECT_FALSE(io.ReadAsShortMask(s.data(), 7, 0.0, 1.0));
    EXPECT_EQ(io.LastError(), path + ": the read needs room for 8 values; the destination holds 7");
    std::vector<unsigned char> raw(16, 0);
    EXPECT_FALSE(io.ReadData(raw.data(), 15));
    EXPECT_EQ(io.LastError(), path + ": the read needs room for 16 bytes; the buffer holds 15");
    EXPECT_FALSE(io.ReadCollapsed(raw.data(), 7, -1, -1, 0, 0, 0, 0, 0));
    EXPECT_EQ(io.LastError(), path + ": the read needs room for 8 bytes; the buffer holds 7");
    EXPECT_FALSE(io.ReadCollapsedAsShort(s.data(), 3, -1, -1, 0, 0, 0, 0, 0));
    EXPECT_EQ(io.LastError(), path + ": the read needs room for 4 values; the destination holds 3");
    EXPECT_FALSE(io.ReadCollapsedAsShort(s.data(), 8, -1, -1, 2, 0, 0, 0, 0));
    EXPECT_EQ(io.LastError(), path + ": selector 2 for dimension 3 is outside 0 to 1");
    EXPECT_TRUE(io.ReadAsShort(s.data(), 8, 0, 0, false));
    EXPECT_EQ(io.LastError(), "");

    NiftiIO closed;
    EXPECT_FALSE(closed.ReadAsShort(s.data(), s.size(), 0, 0, false));
    EXPECT_EQ(closed.LastError(), "no volume is open");
    EXPECT_FALSE(closed.ReadCollapsed(raw.data(), raw.size(), -1, -1, -1, 0, 0, 0, 0));
    EXPECT_EQ(closed.LastError(), "no volume is open");
}

TEST_F(NiftiIOReason, UnhandledTypesAreNamed) {
    VolumeSpec layout;
    layout.dims = {2, 1, 1};
    layout.datatype = DT_COMPLEX64;
    const std::string complex = dir_.file("complex.nii");
    writeVolume(complex, layout, std::vector<float>{1.0f, 2.0f, 3.0f, 4.0f});
    std::vector<float> f(2, 0.0f);
    std::string reason;
    EXPECT_FALSE(NiftiIO::ReadAsFloat(complex, f.data(), f.size(), 0, 0, true, &reason));
    EXPECT_EQ(reason, complex + ": datatype COMPLEX64 (32) is not handled");

    layout.datatype = DT_RGB24;
    const std::string colour = dir_.file("rgb.nii");
    writeVolume(colour, layout, std::vector<uint8_t>{1, 2, 3, 4, 5, 6});
    NiftiIO io;
    ASSERT_TRUE(io.Open(colour, nullptr, NiftiIO::kRead));
    EXPECT_FALSE(io.ReadAsFloat(f.data(), f.size(), 0, 0, false));
    EXPECT_EQ(io.LastError(), colour + ": datatype RGB24 (128) is not handled without colour packing");
    EXPECT_TRUE(io.ReadAsFloat(f.data(), f.size(), 0, 0, true));
    EXPECT_EQ(io.LastError(), "");
}

}  // namespace
