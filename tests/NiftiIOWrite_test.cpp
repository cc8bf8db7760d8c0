// Writing volumes (including real write failures and the reasons given for them), headers,
// orientation from and to the quaternion form, voxel order, file kind and the automatic
// threshold of a file.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "NiftiIO.h"
#include "TestSupport.h"

using testsupport::TempDir;
using testsupport::VolumeSpec;
using testsupport::writeVolume;

namespace {

nifti_1_header makeHeader(int kind, int datatype, int bitpix, std::vector<int> dims) {
    nifti_1_header hdr{};
    NiftiIO::InitializeNiftiHeader(hdr, kind);
    hdr.dim[0] = static_cast<short>(dims.size());
    for (size_t i = 0; i < dims.size(); ++i) {
        hdr.dim[i + 1] = static_cast<short>(dims[i]);
    }
    hdr.datatype = static_cast<short>(datatype);
    hdr.bitpix = static_cast<short>(bitpix);
    hdr.pixdim[1] = 1.5f;
    hdr.pixdim[2] = 2.0f;
    hdr.pixdim[3] = 2.5f;
    return hdr;
}

TEST(NiftiIOHeader, InitializationGivesAFreshHeaderOfTheRequestedKind) {
    nifti_1_header hdr;
    std::memset(&hdr, 0x5A, sizeof hdr);
    NiftiIO::InitializeNiftiHeader(hdr, NiftiIO::kNiftiSingle);
    EXPECT_EQ(hdr.sizeof_hdr, 348);
    EXPECT_EQ(hdr.dim[0], 1);
    EXPECT_EQ(hdr.dim[1], 0);
    EXPECT_EQ(hdr.xyzt_units, 10);
    EXPECT_EQ(hdr.qform_code, 0);
    EXPECT_EQ(hdr.pixdim[0], 0.0f);
    EXPECT_STREQ(hdr.magic, "n+1");
    NiftiIO::InitializeNiftiHeader(hdr, NiftiIO::kNiftiPair);
    EXPECT_STREQ(hdr.magic, "ni1");
    NiftiIO::InitializeNiftiHeader(hdr, 7);
    EXPECT_EQ(std::string(hdr.magic, 4), std::string(4, '\0'));
}

class NiftiIOWrite : public ::testing::Test {
  protected:
    TempDir dir_;
};

TEST_F(NiftiIOWrite, WrittenVolumesReadBackInEveryKind) {
    const std::vector<float> data = {0.5f, -1.0f, 2.0f, 3.25f, 4.0f, 5.0f};
    struct Kind {
        int kind;
        const char* name;
        bool analyze;
        const char* otherFile;  // second file of a pair, or null
    };
    const Kind kinds[] = {{NiftiIO::kNiftiSingle, "a.nii", false, nullptr},
                          {NiftiIO::kNiftiSingle, "b.nii.gz", false, nullptr},
                          {NiftiIO::kNiftiPair, "c.hdr", false, "c.img"},
                          {NiftiIO::kAnalyze, "d.hdr", true, "d.img"},
                          {NiftiIO::kAnalyze, "e.hdr.gz", true, "e.img.gz"}};
    for (const Kind& k : kinds) {
        SCOPED_TRACE(k.name);
        const std::string path = dir_.file(k.name);
        nifti_1_header hdr = makeHeader(k.kind, DT_FLOAT32, 32, {3, 2, 1});
        ASSERT_TRUE(NiftiIO::WriteData(path, hdr, data.data(), data.size() * sizeof(float)));
        if (k.otherFile != nullptr) {
            EXPECT_TRUE(testsupport::fileExists(dir_.file(k.otherFile)));
        }
        nifti_1_header back{};
        int dims[3] = {0, 0, 0};
        float voxel[3] = {0, 0, 0};
        ASSERT_TRUE(NiftiIO::ReadHeader(path, back, dims, voxel));
        EXPECT_EQ(dims[0], 3);
        EXPECT_EQ(dims[1], 2);
        EXPECT_EQ(dims[2], 1);
        EXPECT_EQ(voxel[0], 1.5f);
        EXPECT_EQ(voxel[2], 2.5f);
        EXPECT_EQ(NiftiIO::IsAnalyze(path), k.analyze);
        std::vector<float> f(6, 0.0f);
        ASSERT_TRUE(NiftiIO::ReadAsFloat(path, f.data(), f.size(), 0, 0, false));
        EXPECT_EQ(f, data);
    }
}

TEST_F(NiftiIOWrite, OpenForWritingAppendsBlocks) {
    const std::string path = dir_.file("blocks.nii.gz");
    std::vector<int16_t> first = {1, 2, 3};
    std::vector<int16_t> second = {-4, 5, 600};
    nifti_1_header hdr = makeHeader(NiftiIO::kNiftiSingle, DT_INT16, 16, {3, 1, 1, 2});
    NiftiIO io;
    EXPECT_FALSE(io.Open(path, nullptr, NiftiIO::kWrite));
    EXPECT_FALSE(io.WriteDataBlock(first.data(), 6));
    ASSERT_TRUE(io.Open(path, &hdr, NiftiIO::kWrite));
    EXPECT_TRUE(io.WriteDataBlock(first.data(), 6));
    EXPECT_FALSE(io.WriteDataBlock(second.data(), 0));
    EXPECT_TRUE(io.WriteDataBlock(second.data(), 6));
    EXPECT_TRUE(io.Close());
    EXPECT_FALSE(io.WriteDataBlock(first.data(), 6));

    std::vector<short> s(6, 0);
    ASSERT_TRUE(NiftiIO::ReadAsShort(path, s.data(), s.size(), 0, 0, false));
    EXPECT_EQ(s, (std::vector<short>{1, 2, 3, -4, 5, 600}));
}

TEST_F(NiftiIOWrite, UndersizedOrUnwritableWritesFail) {
    const std::vector<float> data(6, 1.0f);
    nifti_1_header hdr = makeHeader(NiftiIO::kNiftiSingle, DT_FLOAT32, 32, {3, 2, 1});
    EXPECT_FALSE(NiftiIO::WriteData(dir_.file("short.nii"), hdr, data.data(), 23));
    EXPECT_FALSE(NiftiIO::WriteData(dir_.file("null.nii"), hdr, nullptr, 24));
    EXPECT_FALSE(NiftiIO::WriteData(dir_.file("nowhere/x.nii"), hdr, data.data(), 24));
    nifti_1_header pair = makeHeader(NiftiIO::kNiftiPair, DT_FLOAT32, 32, {3, 2, 1});
    EXPECT_FALSE(NiftiIO::WriteData(dir_.file("nowhere/x.hdr"), pair, data.data(), 24));
    nifti_1_header zero = makeHeader(NiftiIO::kNiftiSingle, DT_FLOAT32, 32, {3, 0, 1});
    EXPECT_FALSE(NiftiIO::WriteData(dir_.file("zero.nii"), zero, data.data(), 24));
}

// Runs WriteData in a child whose files may not grow beyond limit bytes (SIGXFSZ ignored, so
// writes past the limit fail with EFBIG) and returns what WriteData reported: 1 true, 0 false.
int writeUnderSizeLimit(const std::string& path, int kind, rlim_t limit) {
    const pid_t child = fork();
    if (child == 0) {
        signal(SIGXFSZ, SIG_IGN);
        const rlimit lim{limit, limit};
        setrlimit(RLIMIT_FSIZE, &lim);
        // 32 KiB that gzip cannot shrink much, so compressed kinds hit the limit as well.
        std::vector<float> data(32 * 32 * 8);
        uint32_t state = 12345u;
        for (float& value : data) {
            state = state * 1664525u + 1013904223u;
            value = static_cast<float>(state >> 8);
        }
        const nifti_1_header hdr = makeHeader(kind, DT_FLOAT32, 32, {32, 32, 8});
        _exit(NiftiIO::WriteData(path, hdr, data.data(), data.size() * sizeof(float)) ? 1 : 0);
    }
    int status = 0;
    waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST_F(NiftiIOWrite, FileSizeLimitMakesWriteDataFail) {
    const char* names[] = {"lim.nii", "lim.nii.gz", "lim.hdr", "limgz.hdr.gz"};
    const int kinds[] = {NiftiIO::kNiftiSingle, NiftiIO::kNiftiSingle, NiftiIO::kNiftiPair,
                         NiftiIO::kAnalyze};
    for (int i = 0; i < 4; ++i) {
        SCOPED_TRACE(names[i]);
        // Room for neither the header nor the data, then for the header but not the data.
        EXPECT_EQ(writeUnderSizeLimit(dir_.file(names[i]), kinds[i], 100), 0);
        EXPECT_EQ(writeUnderSizeLimit(dir_.file(names[i]), kinds[i], 4000), 0);
        // Without a limit the same write succeeds.
        EXPECT_EQ(writeUnderSizeLimit(dir_.file(names[i]), kinds[i], RLIM_INFINITY), 1);
    }
}

TEST(NiftiIOOrientation, IdentityQuaternionGivesDefaultPatientAxes) {
    TempDir dir;
    VolumeSpec layout;
    layout.dims = {2, 2, 2};
    layout.qformCode = 1;
    const std::string path = dir.file("identity.nii");
    writeVolume(path, layout, std::vector<int16_t>(8, 0));
    float v[6] = {9, 9, 9, 9, 9, 9};
    int slice = 0;
    ASSERT_TRUE(NiftiIO::GetOrientationInfo(path, v, &slice));
    const float expected[6] = {-1, 0, 0, 0, -1, 0};
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(v[i], expected[i]) << i;
    }
    EXPECT_EQ(slice, 1);
    char order[4] = "???";
    ASSERT_TRUE(NiftiIO::GetVoxelOrder(path, order));
    EXPECT_STREQ(order, "RAS");

    // qfac -1 flips the third axis only.
    layout.qfac = -1.0f;
    const std::string flipped = dir.file("flipped.nii");
    writeVolume(flipped, layout, std::vector<int16_t>(8, 0));
    ASSERT_TRUE(NiftiIO::GetOrientationInfo(flipped, v, &slice));
    EXPECT_EQ(slice, -1);
    ASSERT_TRUE(NiftiIO::GetVoxelOrder(flipped, order));
    EXPECT_STREQ(order, "RAI");
}

TEST(NiftiIOOrientation, NoQuaternionFormMeansNoOrientation) {
    TempDir dir;
    VolumeSpec layout;
    layout.dims = {2, 2, 2};
    layout.qformCode = 0;
    layout.sformCode = 1;
    const std::string path = dir.file("sform.nii");
    writeVolume(path, layout, std::vector<int16_t>(8, 0));
    float v[6] = {9, 9, 9, 9, 9, 9};
    int slice = 5;
    EXPECT_FALSE(NiftiIO::GetOrientationInfo(path, v, &slice));
    EXPECT_EQ(v[0], 9.0f);
    EXPECT_EQ(v[5], 9.0f);
    EXPECT_EQ(slice, 5);
    EXPECT_FALSE(NiftiIO().GetOrientationInfo(v, &slice));
    nifti_1_header hdr{};
    mat44 m{};
    EXPECT_FALSE(NiftiIO::GetNiftiRotationMatrix(hdr, m));
}

TEST(NiftiIOOrientation, PatientAxesRoundTripThroughTheQuaternionForm) {
    TempDir dir;
    struct Case {
        float v[6];
        int slice;
        const char* order;
    };
    // Axial LPS, coronal with flipped rows, sagittal, and a tilted axial plane.
    const float c = 0.8f, s = 0.6f;
    const Case cases[] = {
        {{1, 0, 0, 0, 1, 0}, 1, "LPS"},
        {{1, 0, 0, 0, 0, -1}, -1, "LIA"},
        {{0, 1, 0, 0, 0, -1}, 1, "PIR"},
        {{c, s, 0, -s, c, 0}, -1, nullptr},
    };
    int index = 0;
    for (const Case& k : cases) {
        SCOPED_TRACE(index);
        nifti_1_header hdr = makeHeader(NiftiIO::kNiftiSingle, DT_UINT8, 8, {2, 2, 2});
        hdr.qform_code = 0;
        const float origin[3] = {10.0f, 20.0f, 30.0f};
        NiftiIO::SetNiftiOrientationInfo(hdr, k.v, origin, k.slice);
        EXPECT_EQ(hdr.qform_code, 0);  // left for the caller
        EXPECT_EQ(hdr.qoffset_x, -10.0f);
        EXPECT_EQ(hdr.qoffset_y, -20.0f);
        EXPECT_EQ(hdr.qoffset_z, 30.0f);
        EXPECT_EQ(hdr.pixdim[1], 1.5f);  // voxel sizes untouched
        hdr.qform_code = 1;
        const std::string path = dir.file("rt" + std::to_string(index++) + ".nii");
        const std::vector<uint8_t> data(8, 1);
        ASSERT_TRUE(NiftiIO::WriteData(path, hdr, data.data(), data.size()));
        float v[6] = {};
        int slice = 0;
        ASSERT_TRUE(NiftiIO::GetOrientationInfo(path, v, &slice));
        for (int i = 0; i < 6; ++i) {
            EXPECT_NEAR(v[i], k.v[i], 1e-6f) << i;
        }
        EXPECT_EQ(slice, k.slice);
        if (k.order != nullptr) {
            char order[4] = "???";
            ASSERT_TRUE(NiftiIO::GetVoxelOrder(path, order));
            EXPECT_STREQ(order, k.order);
        }
        // The rebuilt matrix carries the voxel sizes along its columns and the offsets.
        mat44 m{};
        ASSERT_TRUE(NiftiIO::GetNiftiRotationMatrix(hdr, m));
        EXPECT_NEAR(m.m[0][0], -k.v[0] * 1.5f, 1e-6f);
        EXPECT_NEAR(m.m[2][1], k.v[5] * 2.0f, 1e-6f);
        EXPECT_EQ(m.m[0][3], -10.0f);
        EXPECT_EQ(m.m[2][3], 30.0f);
        // The same matrix from the file's header, in all three forms.
        nifti_1_header back{};
        mat44 fromFile{};
        ASSERT_TRUE(NiftiIO::ReadHeader(path, back, fromFile, nullptr, nullptr));
        float rowData[4][4] = {};
        float* rows[4] = {rowData[0], rowData[1], rowData[2], rowData[3]};
        ASSERT_TRUE(NiftiIO::ReadHeader(path, back, rows, nullptr, nullptr));
        for (int r = 0; r < 4; ++r) {
            for (int col = 0; col < 4; ++col) {
                EXPECT_NEAR(fromFile.m[r][col], m.m[r][col], 1e-5f);
                EXPECT_EQ(rowData[r][col], fromFile.m[r][col]);
            }
        }
    }
}

TEST(NiftiIOOrientation, RotationMatrixRoundTrip) {
    // Coronal-like rotation with a reflection, plus offsets.
    mat44 m{};
    m.m[0][0] = -1.0f;
    m.m[1][2] = 1.0f;
    m.m[2][1] = -1.0f;
    m.m[0][3] = 5.0f;
    m.m[1][3] = -6.0f;
    m.m[2][3] = 7.0f;
    m.m[3][3] = 1.0f;
    nifti_1_header hdr = makeHeader(NiftiIO::kNiftiSingle, DT_UINT8, 8, {2, 2, 2});
    hdr.pixdim[1] = hdr.pixdim[2] = hdr.pixdim[3] = 1.0f;
    NiftiIO::SetNiftiRotationMatrixInfo(hdr, m);
    EXPECT_EQ(hdr.qform_code, 0);
    EXPECT_EQ(hdr.qoffset_x, 5.0f);
    EXPECT_EQ(hdr.qoffset_y, -6.0f);
    EXPECT_EQ(hdr.qoffset_z, 7.0f);
    hdr.qform_code = 2;
    mat44 back{};
    ASSERT_TRUE(NiftiIO::GetNiftiRotationMatrix(hdr, back));
    for (int r = 0; r < 4; ++r) {
        for (int c = 0; c < 4; ++c) {
            EXPECT_NEAR(back.m[r][c], m.m[r][c], 1e-6f) << r << "," << c;
        }
    }
}

TEST(NiftiIOFile, HeaderAccessOnAnOpenVolume) {
    TempDir dir;
    VolumeSpec layout;
    layout.dims = {4, 3, 2};
    layout.pixdim[0] = 0.5f;
    layout.qformCode = 1;
    layout.qoffset[0] = -7.0f;
    const std::string path = dir.file("h.nii");
    writeVolume(path, layout, std::vector<int16_t>(24, 0));
    NiftiIO io;
    nifti_1_header hdr{};
    mat44 m{};
    EXPECT_FALSE(io.GetHeader(hdr));
    EXPECT_FALSE(io.GetVoxelToRas(m));
    ASSERT_TRUE(io.Open(path, &hdr, NiftiIO::kRead));
    EXPECT_EQ(hdr.dim[1], 4);
    EXPECT_EQ(hdr.dim[3], 2);
    nifti_1_header again{};
    ASSERT_TRUE(io.GetHeader(again));
    EXPECT_EQ(std::memcmp(&hdr, &again, sizeof hdr), 0);
    ASSERT_TRUE(io.GetVoxelToRas(m));
    EXPECT_EQ(m.m[0][0], 0.5f);
    EXPECT_EQ(m.m[0][3], -7.0f);
    io.Close();
    EXPECT_FALSE(io.GetHeader(hdr));
    // Opening a missing file leaves the object closed, not holding the previous volume.
    ASSERT_TRUE(io.Open(path, nullptr, NiftiIO::kRead));
    EXPECT_FALSE(io.Open(dir.file("gone.nii"), nullptr, NiftiIO::kRead));
    EXPECT_FALSE(io.IsOpen());
}

TEST(NiftiIOFile, AutoThresholdUsesTheFirstVolume) {
    TempDir dir;
    VolumeSpec layout;
    layout.datatype = DT_FLOAT32;
    layout.dims = {5, 2, 1};
    const std::string flat = dir.file("flat.nii");
    writeVolume(flat, layout, std::vector<float>(10, 7.0f));
    double range[2] = {0, 0};
    EXPECT_DOUBLE_EQ(NiftiIO::GetAutoThreshold(flat, 50, range), 7.5);
    EXPECT_EQ(range[0], 7.0);
    EXPECT_EQ(range[1], 7.0);

    // First volume 990 zeros and 10 hundreds, second volume all 7: only the first counts.
    layout.datatype = DT_INT16;
    layout.dims = {10, 10, 10, 2};
    std::vector<int16_t> series(2000, 7);
    std::fill(series.begin(), series.begin() + 1000, 0);
    std::fill(series.begin() + 990, series.begin() + 1000, 100);
    const std::string fourD = dir.file("series.nii.gz");
    writeVolume(fourD, layout, series);
    EXPECT_DOUBLE_EQ(NiftiIO::GetAutoThreshold(fourD, 50, range), 50.0);
    EXPECT_EQ(range[0], 0.0);
    EXPECT_EQ(range[1], 100.0);
}

TEST(NiftiIOFile, IsAnalyzeTellsTheKinds) {
    TempDir dir;
    VolumeSpec layout;
    layout.dims = {2, 1, 1};
    writeVolume(dir.file("n.nii"), layout, std::vector<int16_t>(2, 0));
    writeVolume(dir.file("p.hdr"), layout, std::vector<int16_t>(2, 0));
    layout.analyze = true;
    writeVolume(dir.file("a.hdr"), layout, std::vector<int16_t>(2, 0));
    EXPECT_FALSE(NiftiIO::IsAnalyze(dir.file("n.nii")));
    EXPECT_FALSE(NiftiIO::IsAnalyze(dir.file("p.hdr")));
    EXPECT_TRUE(NiftiIO::IsAnalyze(dir.file("a.hdr")));
    EXPECT_TRUE(NiftiIO::IsAnalyze(dir.file("a.img")));
    EXPECT_TRUE(NiftiIO::IsAnalyze(dir.file("a")));
}

// ---- failure reasons ------------------------------------------------------------------------

// Runs work in a child whose files may not grow beyond limit bytes (SIGXFSZ ignored, so writes
// past the limit fail with EFBIG) and returns the text work produced there.
template <typename Work>
std::string underSizeLimit(rlim_t limit, Work work) {
    int channel[2];
    if (pipe(channel) != 0) {
        return "no pipe";
    }
    const pid_t child = fork();
    if (child == 0) {
        close(channel[0]);
        signal(SIGXFSZ, SIG_IGN);
        const rlimit lim{limit, limit};
        setrlimit(RLIMIT_FSIZE, &lim);
        const std::string text = work();
        const ssize_t sent = write(channel[1], text.data(), text.size());
        _exit(sent == static_cast<ssize_t>(text.size()) ? 0 : 1);
    }
    close(channel[1]);
    std::string text;
    char buffer[256];
    ssize_t got = 0;
    while ((got = read(channel[0], buffer, sizeof buffer)) > 0) {
        text.append(buffer, static_cast<size_t>(got));
    }
    close(channel[0]);
    int status = 0;
    waitpid(child, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? text : "child failed";
}

TEST_F(NiftiIOWrite, WritesIntoAMissingFolderGiveTheSystemReason) {
    const std::vector<float> data(6, 1.0f);
    const nifti_1_header hdr = makeHeader(NiftiIO::kNiftiSingle, DT_FLOAT32, 32, {3, 2, 1});
    const std::string single = dir_.file("nowhere/x.nii");
    std::string reason;
    EXPECT_FALSE(NiftiIO::WriteData(single, hdr, data.data(), 24, &reason));
    EXPECT_EQ(reason, single + ": cannot write: No such file or directory");

    const nifti_1_header pair = makeHeader(NiftiIO::kNiftiPair, DT_FLOAT32, 32, {3, 2, 1});
    const std::string hdrPath = dir_.file("nowhere/x.hdr.gz");
    EXPECT_FALSE(NiftiIO::WriteData(hdrPath, pair, data.data(), 24, &reason));
    EXPECT_EQ(reason, hdrPath + ": cannot write: No such file or directory");

    NiftiIO io;
    nifti_1_header copy = hdr;
    EXPECT_FALSE(io.Open(single, &copy, NiftiIO::kWrite));
    EXPECT_EQ(io.LastError(), single + ": cannot write: No such file or directory");

    // A folder where the data file of a pair belongs: the header is written, the data is not.
    const std::string blocked = dir_.file("blocked.hdr");
    ASSERT_EQ(mkdir(dir_.file("blocked.img").c_str(), 0755), 0);
    EXPECT_FALSE(NiftiIO::WriteData(blocked, pair, data.data(), 24, &reason));
    EXPECT_EQ(reason, dir_.file("blocked.img") + ": cannot write: Is a directory");

    // Success empties the reason.
    EXPECT_TRUE(NiftiIO::WriteData(dir_.file("fine.nii"), hdr, data.data(), 24, &reason));
    EXPECT_EQ(reason, "");
}

TEST_F(NiftiIOWrite, RefusedWritesSayWhy) {
    const std::vector<float> data(6, 1.0f);
    const nifti_1_header hdr = makeHeader(NiftiIO::kNiftiSingle, DT_FLOAT32, 32, {3, 2, 1});
    std::string reason;
    const std::string shortPath = dir_.file("short.nii");
    EXPECT_FALSE(NiftiIO::WriteData(shortPath, hdr, data.data(), 23, &reason));
    EXPECT_EQ(reason, shortPath + ": the data holds 23 bytes; the header needs 24");
    const std::string nullPath = dir_.file("null.nii");
    EXPECT_FALSE(NiftiIO::WriteData(nullPath, hdr, nullptr, 24, &reason));
    EXPECT_EQ(reason, nullPath + ": no data was given to write");

    const nifti_1_header zero = makeHeader(NiftiIO::kNiftiSingle, DT_FLOAT32, 32, {3, 0, 1});
    const std::string zeroPath = dir_.file("zero.nii");
    EXPECT_FALSE(NiftiIO::WriteData(zeroPath, zero, data.data(), 24, &reason));
    EXPECT_EQ(reason, zeroPath + ": header field dim[2] is 0, not a size of at least 1");
    const nifti_1_header oddType = makeHeader(NiftiIO::kNiftiSingle, 3333, 32, {3, 2, 1});
    const std::string typePath = dir_.file("type.nii");
    EXPECT_FALSE(NiftiIO::WriteData(typePath, oddType, data.data(), 24, &reason));
    EXPECT_EQ(reason, typePath + ": header field datatype is 3333, not a NIfTI voxel type");
    EXPECT_FALSE(testsupport::fileExists(typePath));

    NiftiIO io;
    EXPECT_FALSE(io.Open(dir_.file("none.nii"), nullptr, NiftiIO::kWrite));
    EXPECT_EQ(io.LastError(), dir_.file("none.nii") + ": no header was given for writing");
    EXPECT_FALSE(io.WriteDataBlock(data.data(), 4));
    EXPECT_EQ(io.LastError(), "no volume is open for writing");
    nifti_1_header copy = hdr;
    const std::string blockPath = dir_.file("block.nii");
    ASSERT_TRUE(io.Open(blockPath, &copy, NiftiIO::kWrite));
    EXPECT_EQ(io.LastError(), "");
    EXPECT_FALSE(io.WriteDataBlock(data.data(), 0));
    EXPECT_EQ(io.LastError(), blockPath + ": no data was given to write");
    EXPECT_TRUE(io.WriteDataBlock(data.data(), 24));
    EXPECT_EQ(io.LastError(), "");
    EXPECT_TRUE(io.Close());
    EXPECT_EQ(io.LastError(), "");
}

// 32 KiB that gzip cannot shrink much, so compressed kinds hit a size limit as well.
std::vector<float> noisyVolume() {
    std::vector<float> data(32 * 32 * 8);
    uint32_t state = 12345u;
    for (float& value : data) {
        state = state * 1664525u + 1013904223u;
        value = static_cast<float>(state >> 8);
    }
    return data;
}

TEST_F(NiftiIOWrite, FullFilesGiveTheSystemReasonForTheFileThatFilled) {
    const char* names[] = {"lim.nii", "lim.nii.gz", "lim.hdr", "limgz.hdr.gz"};
    const char* dataNames[] = {"lim.nii", "lim.nii.gz", "lim.img", "limgz.img.gz"};
    const int kinds[] = {NiftiIO::kNiftiSingle, NiftiIO::kNiftiSingle, NiftiIO::kNiftiPair,
                         NiftiIO::kAnalyze};
    for (int i = 0; i < 4; ++i) {
        SCOPED_TRACE(names[i]);
        const std::string path = dir_.file(names[i]);
        for (const rlim_t limit : {rlim_t{100}, rlim_t{4000}}) {
            const std::string reason = underSizeLimit(limit, [&]() {
                const std::vector<float> data = noisyVolume();
                const nifti_1_header hdr = makeHeader(kinds[i], DT_FLOAT32, 32, {32, 32, 8});
                std::string text = "untouched";
                NiftiIO::WriteData(path, hdr, data.data(), data.size() * sizeof(float), &text);
                return text;
            });
            EXPECT_EQ(reason, dir_.file(dataNames[i]) + ": cannot write: File too large");
        }
    }
}

TEST_F(NiftiIOWrite, HeaderThatDidNotReachTheDiskIsReported) {
    // Room for the small data file of a pair but not for its 348-byte header.
    const std::string path = dir_.file("small.hdr");
    const std::string reason = underSizeLimit(100, [&]() {
        const std::vector<float> data(6, 1.0f);
        const nifti_1_header hdr = makeHeader(NiftiIO::kNiftiPair, DT_FLOAT32, 32, {3, 2, 1});
        std::string text = "untouched";
        NiftiIO::WriteData(path, hdr, data.data(), 24, &text);
        return text;
    });
    EXPECT_EQ(reason, path + ": file ends at byte 100; the header needs 348");
}

TEST_F(NiftiIOWrite, FailedCloseIsReported) {
    // Compressed output stays in zlib's buffer until the file is closed.
    const std::string path = dir_.file("late.nii.gz");
    const std::string reason = underSizeLimit(30, [&]() {
        const std::vector<int16_t> data(6, 7);
        nifti_1_header hdr = makeHeader(NiftiIO::kNiftiSingle, DT_INT16, 16, {3, 2, 1});
        NiftiIO io;
        if (!io.Open(path, &hdr, NiftiIO::kWrite) || !io.WriteDataBlock(data.data(), 12)) {
            return "not written: " + io.LastError();
        }
        return io.Close() ? std::string("closed") : io.LastError();
    });
    EXPECT_EQ(reason, path + ": cannot close: File too large");
}

}  // namespace
