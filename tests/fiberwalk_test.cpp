// fiberwalk run as a process on tensor volumes written here: command line, tensor and mask
// loading, orientation and header, the tracks themselves, the empty result and the run log.

#include <gtest/gtest.h>
#include <nifti1_io.h>
#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "OwnedHandles.h"
#include "OwnedNiftiImage.h"
#include "TestSupport.h"
#include "TrackingSettings.h"

namespace {

using testsupport::fileExists;
using testsupport::readFile;
using testsupport::RunResult;
using testsupport::TempDir;
using testsupport::VolumeSpec;
using testsupport::writeFile;
using testsupport::writeVolume;

const std::string kHint = "Type 'fiberwalk --help' for more information.\n";

// A tensor in memory order (xx, xy, xz, yy, yz, zz).
using Tensor = std::array<float, 6>;

// Principal eigenvalue 1 along d, the other two 0.1.
Tensor tensorAlong(double dx, double dy, double dz) {
    const double n = std::sqrt(dx * dx + dy * dy + dz * dz);
    const double d[3] = {dx / n, dy / n, dz / n};
    auto e = [&](int a, int b) {
        return static_cast<float>((a == b ? 0.1 : 0.0) + 0.9 * d[a] * d[b]);
    };
    return {e(0, 0), e(0, 1), e(0, 2), e(1, 1), e(1, 2), e(2, 2)};
}

struct Grid {
    int nx;
    int ny;
    int nz;
    float voxel = 2.0f;
    int count() const { return nx * ny * nz; }
};

enum class Layout { k4D, k5D };

// Writes the tensor the way the reconstruction stores it: components (xx, xy, yy, xz, yz, zz)
// along the fourth (or fifth) dimension.
void writeTensor(const std::string& path, const Grid& grid,
                 const std::function<Tensor(int, int, int)>& field, Layout layout = Layout::k4D,
                 VolumeSpec volume = VolumeSpec(), int components = 6) {
    static const int kMemoryPlace[6] = {0, 1, 3, 2, 4, 5};
    const int n = grid.count();
    std::vector<float> data(static_cast<size_t>(n) * components);
    for (int z = 0; z < grid.nz; ++z) {
        for (int y = 0; y < grid.ny; ++y) {
            for (int x = 0; x < grid.nx; ++x) {
                const Tensor t = field(x, y, z);
                const int v = x + grid.nx * (y + grid.ny * z);
                for (int c = 0; c < components; ++c) {
                    data[static_cast<size_t>(c) * n + v] = t[kMemoryPlace[c]];
                }
            }
        }
    }
    volume.dims = layout == Layout::k4D
                      ? std::vector<int>{grid.nx, grid.ny, grid.nz, components}
                      : std::vector<int>{grid.nx, grid.ny, grid.nz, 1, components};
    volume.datatype = DT_FLOAT32;
    volume.pixdim[0] = volume.pixdim[1] = volume.pixdim[2] = grid.voxel;
    writeVolume(path, volume, data);
}

void writeScalar(const std::string& path, const Grid& grid, const std::vector<float>& values,
                 std::vector<int> dims = {}) {
    VolumeSpec volume;
    volume.dims = dims.empty() ? std::vector<int>{grid.nx, grid.ny, grid.nz} : dims;
    volume.datatype = DT_FLOAT32;
    volume.pixdim[0] = volume.pixdim[1] = volume.pixdim[2] = grid.voxel;
    writeVolume(path, volume, values);
}

template <typename T>
T at(const std::string& bytes, size_t offset) {
    T value{};
    std::memcpy(&value, bytes.data() + offset, sizeof value);
    return value;
}

struct TrackFile {
    std::string header;
    std::vector<std::vector<float>> tracks;  // x, y, z per point
};

TrackFile readTracks(const std::string& path) {
    const std::string bytes = readFile(path);
    TrackFile file;
    if (bytes.size() < 1000) {
        return file;
    }
    file.header = bytes.substr(0, 1000);
    size_t offset = 1000;
    while (offset + 4 <= bytes.size()) {
        const int32_t n = at<int32_t>(bytes, offset);
        offset += 4;
        std::vector<float> points(static_cast<size_t>(n) * 3);
        EXPECT_LE(offset + points.size() * 4, bytes.size()) << "truncated record";
        if (offset + points.size() * 4 > bytes.size()) {
            break;
        }
        std::memcpy(points.data(), bytes.data() + offset, points.size() * 4);
        offset += points.size() * 4;
        file.tracks.push_back(points);
    }
    return file;
}

std::string voxelOrder(const TrackFile& file) {
    return file.header.substr(948, 3);
}

std::array<float, 6> orientationOf(const TrackFile& file) {
    std::array<float, 6> values{};
    for (int i = 0; i < 6; ++i) {
        values[i] = at<float>(file.header, 956 + 4 * i);
    }
    return values;
}

// A folder holding a uniform field along x of 8 x 3 x 3 voxels of 2 mm and a mask of 0.8.
class FiberwalkTest : public ::testing::Test {
  protected:
    const Grid grid_{8, 3, 3};
    TempDir dir_;

    void SetUp() override {
        writeTensor(dir_.file("s1_tensor.nii"), grid_,
                    [](int, int, int) { return tensorAlong(1, 0, 0); });
        writeScalar(dir_.file("fa.nii"), grid_, std::vector<float>(grid_.count(), 0.8f));
    }

    RunResult run(const std::vector<std::string>& args) const {
        return testsupport::runProgram("fiberwalk", args, dir_.path());
    }

    // The usual run with extra options: prefix s1, output out.trk, mask fa.nii from 0.5.
    RunResult track(const std::vector<std::string>& extra = {}) const {
        std::vector<std::string> args = {"s1", "out.trk", "-m", "fa.nii", "0.5"};
        args.insert(args.end(), extra.begin(), extra.end());
        return run(args);
    }

    TrackFile output() const { return readTracks(dir_.file("out.trk")); }

    // One seed: a seed mask with only voxel (x, y, z) set.
    std::vector<std::string> seedAt(int x, int y, int z) const {
        std::vector<float> seeds(grid_.count(), 0.0f);
        seeds[x + grid_.nx * (y + grid_.ny * z)] = 1.0f;
        writeScalar(dir_.file("seed.nii"), grid_, seeds);
        return {"-sm", "seed.nii", "0.5"};
    }
};

// ---- command line ---------------------------------------------------------------------------

TEST_F(FiberwalkTest, HelpWithoutArgumentsAndWithHelpSwitch) {
    const RunResult full = run({});
    EXPECT_EQ(full.status, 0);
    EXPECT_EQ(full.err, "");
    // Added options follow the help text as it always was; that text is checked alone.
    const size_t added = full.out.find("Threads and repeatable random seeds:\n");
    ASSERT_NE(added, std::string::npos);
    EXPECT_NE(full.out.find("\n  -nthreads, --nthreads <number>\n", added), std::string::npos);
    EXPECT_NE(full.out.find("\n  -seed, --seed <number>\n", added), std::string::npos);
    RunResult bare = full;
    bare.out.resize(added);
    EXPECT_EQ(bare.out.rfind("\nfiberwalk 0.5\n\nUsage: fiberwalk INPUT_DATA_PREFIX OUTPUT_FILE "
                             "[OPTION]...\n\n  -it, --input_type <type>\n",
                             0),
              0U);
    EXPECT_NE(bare.out.find("\n  -l, --step_length <step_length> \n"), std::string::npos);
    EXPECT_NE(bare.out.find("\n          and 0.1 for other methods\n"), std::string::npos);
    EXPECT_NE(bare.out.find("\n  -sxy, --swap_xy  \n"), std::string::npos);
    EXPECT_NE(bare.out.find("\n  -h, --help  \n          display this help\n"), std::string::npos);
    const std::string ending = "\nExample: \n  fiberwalk test tracks.trk -m test_FA.img 0.15\n\n";
    ASSERT_GT(bare.out.size(), ending.size());
    EXPECT_EQ(bare.out.substr(bare.out.size() - ending.size()), ending);
    EXPECT_EQ(std::count(bare.out.begin(), bare.out.end(), '\n'), 108);

    for (const char* help : {"-h", "--help"}) {
        const RunResult asked = run({"s1", "out.trk", help, "-bogus"});
        EXPECT_EQ(asked.status, 0);
        EXPECT_EQ(asked.out, full.out);
        EXPECT_FALSE(fileExists(dir_.file("out.trk")));
    }
}

// A command-line error: the message on its stream, the hint where due, status 2, no output.
void expectUsageError(const RunResult& result, const std::string& message, bool onOutput = false,
                      bool hint = true) {
    EXPECT_EQ(result.status, 2) << message;
    if (onOutput) {
        EXPECT_EQ(result.out, message + "\n" + (hint ? kHint : ""));
        return;
    }
    EXPECT_EQ(result.err, message + "\n");
    if (hint) {
        ASSERT_GE(result.out.size(), kHint.size());
        EXPECT_EQ(result.out.substr(result.out.size() - kHint.size()), kHint);
    } else {
        EXPECT_EQ(result.out.find(kHint), std::string::npos);
    }
}

TEST_F(FiberwalkTest, CommandLineErrorsStopBeforeAnyFileIsOpened) {
    auto expectEarly = [&](const std::vector<std::string>& args, const std::string& message,
                           bool onOutput = false, bool hint = true) {
        const RunResult result = run(args);
        expectUsageError(result, message, onOutput, hint);
        EXPECT_EQ(result.out.find("Volume dimension"), std::string::npos) << message;
    };
    const std::vector<std::string> base = {"s1", "out.trk", "-m", "fa.nii"};
    auto with = [&](std::vector<std::string> extra) {
        extra.insert(extra.begin(), base.begin(), base.end());
        return extra;
    };
    expectEarly(with({"-x", "3"}), "\nUnrecognized switch '-x'.");
    expectEarly(with({"--step_length=0.5"}), "\nUnrecognized switch '--step_length=0.5'.");
    expectEarly({"s1"}, "\nMissing argument(s).");
    expectEarly({"-at", "40", "s1", "-m", "fa.nii"}, "\nMissing argument(s).");
    expectEarly(with({"-it", "NII"}), "\nUnrecognized file type 'NII'.", true);
    expectEarly(with({"-tl", "-v2"}), "\nCan not track v2 or v3 with tensor line method.", false,
                false);
    expectEarly(with({"-om"}), "\nMissing argument(s) for -om.");
    expectEarly({"s1", "out.trk"}, "\nPlease specify first mask file by -m.");
    expectEarly({"s1", "out.trk", "-m"}, "\nMissing argument(s) for -m.");
    for (const char* step : {"0", "-0.5", "abc", "nan", "1e300"}) {
        expectEarly(with({"-sl", "-l", step}), "\nStep length must be larger than 0.");
    }
    EXPECT_FALSE(fileExists(dir_.file("out.trk")));
}

// Errors in options looked at after the tensor is open are command-line errors all the same.
TEST_F(FiberwalkTest, LateUsageErrorsExitWithTwo) {
    expectUsageError(track({"-iop"}),
                     "\nMissing argument(s) for -iop or --image_orientation_patient.");
    expectUsageError(track({"-info"}), "\nMissing argument(s) for -info or --image_info.");
    expectUsageError(track({"-m2"}), "\nMissing argument(s) for -m2.");
    expectUsageError(track({"-sm"}), "\nMissing argument(s) for -sm.");
    expectUsageError(track({"-atw"}), "\nMissing argument(s) for -atw.");
    expectUsageError(track({"-vorder"}), "\nMissing argument for -vorder or --voxel_order.");
    expectUsageError(track({"-vorder", "RA"}), "\nInvalid input for -vorder or --voxel_roder.");
    expectUsageError(track({"-vorder", "RAX"}), "\nInvalid input for -vorder or --voxel_roder.");
    EXPECT_FALSE(fileExists(dir_.file("out.trk")));
}

TEST_F(FiberwalkTest, SwitchTakesOnlyItsDeclaredValues) {
    writeTensor(dir_.file("in_tensor.nii"), grid_,
                [](int, int, int) { return tensorAlong(1, 0, 0); });
    const RunResult angle = run({"-at", "40", "in", "out", "-m", "fa.nii", "0.5"});
    EXPECT_EQ(angle.status, 0) << angle.err;
    EXPECT_EQ(readTracks(dir_.file("out")).tracks.size(), 72U);

    const RunResult stream = run({"-sl", "in", "out2", "-m", "fa.nii", "0.5"});
    EXPECT_EQ(stream.status, 0) << stream.err;
    EXPECT_TRUE(fileExists(dir_.file("out2")));
}

// ---- tensor volume --------------------------------------------------------------------------

TEST_F(FiberwalkTest, TensorFileNamedByPrefixAndInputType) {
    ASSERT_EQ(mkdir(dir_.file("data").c_str(), 0755), 0);
    auto along = [](int, int, int) { return tensorAlong(1, 0, 0); };
    writeTensor(dir_.file("data/s1_tensor.nii"), grid_, along);
    VolumeSpec analyze;
    analyze.analyze = true;
    writeTensor(dir_.file("s2-tensor.hdr"), grid_, along, Layout::k4D, analyze);
    writeTensor(dir_.file("s3_tensor.hdr"), grid_, along);
    writeTensor(dir_.file("s4_tensor.nii.gz"), grid_, along);

    const std::vector<std::vector<std::string>> namings = {
        {"data/s1"}, {"s2-", "-it", "analyze"}, {"s3_", "-it", "ni1"}, {"s4", "-it", "nii.gz"}};
    for (const auto& naming : namings) {
        std::vector<std::string> args = {naming[0], "out.trk", "-m", "fa.nii", "0.5"};
        args.insert(args.end(), naming.begin() + 1, naming.end());
        const RunResult result = run(args);
        EXPECT_EQ(result.status, 0) << naming[0] << ": " << result.err;
        EXPECT_EQ(output().tracks.size(), 72U) << naming[0];
    }

    // The .info file looked for drops the separator the prefix had or was given.
    EXPECT_NE(run({"s3_", "out.trk", "-m", "fa.nii", "0.5", "-it", "ni1"})
                  .out.find("\nDid not find image info file 's3.info'. Default info being used.\n"),
              std::string::npos);

    const RunResult missing = run({"s9", "out.trk", "-m", "fa.nii", "0.5"});
    EXPECT_EQ(missing.status, 1);
    EXPECT_NE(missing.err.find("\nCan not load file s9_tensor.nii\n"), std::string::npos);
}

TEST_F(FiberwalkTest, FourAndFiveDimensionalTensorsGiveTheSameTracks) {
    auto turning = [](int x, int y, int z) { return tensorAlong(1, 0.2 * y, 0.1 * z + 0.05 * x); };
    writeTensor(dir_.file("s1_tensor.nii"), grid_, turning, Layout::k4D);
    ASSERT_EQ(track().status, 0);
    const std::string fourD = readFile(dir_.file("out.trk"));

    writeTensor(dir_.file("s1_tensor.nii"), grid_, turning, Layout::k5D);
    ASSERT_EQ(track().status, 0);
    EXPECT_EQ(readFile(dir_.file("out.trk")), fourD);
    EXPECT_GT(fourD.size(), 1000U);
}

TEST_F(FiberwalkTest, FiveComponentFileIsNotATensor) {
    writeTensor(
        dir_.file("s1_tensor.nii"), grid_, [](int, int, int) { return tensorAlong(1, 0, 0); },
        Layout::k4D, VolumeSpec(), 5);
    const RunResult result = track();
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err, "\ns1_tensor.nii is not valid tensor data file.\n");
    EXPECT_FALSE(fileExists(dir_.file("out.trk")));
}

// ---- masks and weights ----------------------------------------------------------------------

// The values 0.1 ... 0.8 in x, repeated over y and z.
class FiberwalkMaskTest : public FiberwalkTest {
  protected:
    void SetUp() override {
        FiberwalkTest::SetUp();
        std::vector<float> ramp(grid_.count());
        for (int v = 0; v < grid_.count(); ++v) {
            ramp[v] = 0.1f * static_cast<float>(v % grid_.nx + 1);
        }
        writeScalar(dir_.file("ramp.nii"), grid_, ramp);
        ramp_ = ramp;
    }

    // The mask the run wrote with -om, checked to be a 3D 16-bit label volume.
    std::vector<short> writtenMask() const {
        nifti_image* image = nifti_image_read(dir_.file("om.nii").c_str(), 1);
        EXPECT_NE(image, nullptr);
        if (image == nullptr) {
            return {};
        }
        const OwnedNiftiImage owner(image);
        EXPECT_EQ(image->ndim, 3);
        EXPECT_EQ(image->nx, grid_.nx);
        EXPECT_EQ(image->ny, grid_.ny);
        EXPECT_EQ(image->nz, grid_.nz);
        EXPECT_EQ(image->datatype, DT_INT16);
        EXPECT_EQ(image->intent_code, 1001);
        const short* data = static_cast<const short*>(image->data);
        return std::vector<short>(data, data + image->nvox);
    }

    std::vector<short> window(float low, float high) const {
        std::vector<short> mask(ramp_.size());
        for (size_t v = 0; v < ramp_.size(); ++v) {
            mask[v] = ramp_[v] >= low && ramp_[v] <= high ? 1 : 0;
        }
        return mask;
    }

    std::vector<float> ramp_;
};

TEST_F(FiberwalkMaskTest, GivenThresholdsArePrintedAndApplied) {
    RunResult result = run({"s1", "out.trk", "-m", "ramp.nii", "0.2", "0.6", "-om", "om.nii"});
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_NE(result.out.find("\nThreshold for mask one:  0.2 0.6\n"), std::string::npos);
    EXPECT_EQ(writtenMask(), window(0.2f, 0.6f));

    // One threshold: the high bound is the volume's maximum + 1.
    result = run({"s1", "out.trk", "-m", "ramp.nii", "0.35", "-om", "om.nii"});
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_NE(result.out.find("\nThreshold for mask one:  0.35 1.8\n"), std::string::npos);
    EXPECT_EQ(writtenMask(), window(0.35f, 1.8f));
}

TEST_F(FiberwalkMaskTest, AutomaticThresholdWithoutValuesOrWithTooMany) {
    const RunResult automatic = run({"s1", "out.trk", "-m", "ramp.nii", "-om", "om.nii"});
    ASSERT_EQ(automatic.status, 0) << automatic.err;
    std::smatch line;
    ASSERT_TRUE(std::regex_search(automatic.out, line,
                                  std::regex("\nThreshold for mask one:  (\\S+) 1\\.8\n")));
    EXPECT_EQ(writtenMask(), window(std::stof(line[1]), 1.8f));

    // Four values keep both automatic bounds; the extra word is positional and ignored.
    const RunResult four = run({"s1", "out.trk", "-m", "ramp.nii", "0.2", "0.6", "0.7"});
    ASSERT_EQ(four.status, 0) << four.err;
    EXPECT_NE(four.out.find(line[0].str()), std::string::npos);
}

TEST_F(FiberwalkMaskTest, SecondMaskIntersectsAndSeedMaskOnlySeeds) {
    std::vector<float> band(grid_.count(), 0.0f);
    for (int v = 0; v < grid_.count(); ++v) {
        band[v] = (v / grid_.nx) % grid_.ny == 1 ? 1.0f : 0.0f;  // the middle row of y
    }
    writeScalar(dir_.file("band.nii"), grid_, band);
    const RunResult both = run({"s1", "out.trk", "-m", "ramp.nii", "0.3", "-m2", "band.nii", "0.5",
                                "1.5", "-om", "om.nii"});
    ASSERT_EQ(both.status, 0) << both.err;
    EXPECT_NE(both.out.find("\nThreshold for mask one:  0.3 1.8\nThreshold for mask two:  0.5 "
                            "1.5\n"),
              std::string::npos);
    std::vector<short> expected = window(0.3f, 1.8f);
    for (size_t v = 0; v < expected.size(); ++v) {
        expected[v] = band[v] > 0.5f ? expected[v] : 0;
    }
    EXPECT_EQ(writtenMask(), expected);
    // Tracks run in the middle row only, from x = 2 (0.3) to the end: 6 seeds per z.
    EXPECT_EQ(output().tracks.size(), 18U);

    const RunResult seeded = track(seedAt(3, 2, 1));
    ASSERT_EQ(seeded.status, 0) << seeded.err;
    EXPECT_NE(seeded.out.find("\nThreshold for mask one:  0.5 1.8\nThreshold for seed mask:  0.5 "
                              "2\n"),
              std::string::npos);
    const TrackFile file = output();
    ASSERT_EQ(file.tracks.size(), 1U);
    // The seed mask does not limit propagation: the track crosses the whole volume.
    EXPECT_EQ(file.tracks[0].size(), 3U * 8U);
    EXPECT_FLOAT_EQ(file.tracks[0][3 * 3 + 0], 7.0f);
    EXPECT_FLOAT_EQ(file.tracks[0][3 * 3 + 1], 5.0f);
    EXPECT_FLOAT_EQ(file.tracks[0][3 * 3 + 2], 3.0f);
}

TEST_F(FiberwalkMaskTest, MasksOnAnotherGridOrUnreadableAreRefused) {
    writeScalar(dir_.file("fourd.nii"), grid_, std::vector<float>(grid_.count() * 2, 1.0f),
                {grid_.nx, grid_.ny, grid_.nz, 2});
    writeScalar(dir_.file("small.nii"), grid_, std::vector<float>(8 * 3 * 2, 1.0f), {8, 3, 2});
    const std::string unmatched = "\nMask image has unmatched dimension or voxel size.\n";
    for (const std::string file : {"fourd.nii", "small.nii", "none.nii"}) {
        const RunResult result = run({"s1", "out.trk", "-m", file, "0.5"});
        EXPECT_EQ(result.status, 1) << file;
        // A mask on another grid is explained on standard output; an unreadable one here.
        const std::string reason =
            file == "none.nii" ? "  cannot open: No such file or directory\n" : "";
        EXPECT_EQ(result.err, "\nCan not load mask file " + file + "\n" + reason);
        EXPECT_FALSE(fileExists(dir_.file("out.trk")));
        if (file == "small.nii") {
            EXPECT_NE(result.out.find(unmatched + "\nVolume dimension: 8 3 2\nVoxel size: 2.000 "
                                                  "2.000 2.000\n"),
                      std::string::npos);
        } else if (file == "fourd.nii") {
            EXPECT_NE(result.out.find(unmatched), std::string::npos);
        } else {  // no threshold line for a file that cannot be read at all
            EXPECT_EQ(result.out.find("Threshold"), std::string::npos);
            EXPECT_NE(result.out.find("\nCan not read file none.nii\n"), std::string::npos);
        }
    }

    // A second mask or a seed mask that cannot be used: ReadMask's message only.
    for (const char* option : {"-m2", "-sm"}) {
        RunResult result = track({option, "small.nii", "0.5"});
        EXPECT_EQ(result.status, 1) << option;
        EXPECT_NE(result.out.find(unmatched), std::string::npos);
        EXPECT_EQ(result.err, "");
        result = track({option, "none.nii", "0.5", "0.9"});
        EXPECT_EQ(result.status, 1) << option;
        EXPECT_NE(result.out.find("\nThreshold for mask one:  0.5 1.8\n\nCan not read file "
                                  "none.nii\n"),
                  std::string::npos);
        EXPECT_FALSE(fileExists(dir_.file("out.trk")));
    }

    // The same grid with another voxel size is accepted.
    Grid other = grid_;
    other.voxel = 1.5f;
    writeScalar(dir_.file("coarse.nii"), other, std::vector<float>(grid_.count(), 1.0f));
    const RunResult coarse = run({"s1", "out.trk", "-m", "coarse.nii", "0.5"});
    EXPECT_EQ(coarse.status, 0) << coarse.err;
    EXPECT_EQ(output().tracks.size(), 72U);
}

// A 30 degree bend at x = 4: within the 35 degree threshold, beyond half of it.
TEST_F(FiberwalkTest, AngleWeightsScaleTheThreshold) {
    writeTensor(dir_.file("s1_tensor.nii"), grid_, [](int x, int, int) {
        return x < 4 ? tensorAlong(1, 0, 0) : tensorAlong(std::sqrt(3.0), 1, 0);
    });
    std::vector<std::string> oneSeed = seedAt(1, 0, 1);
    ASSERT_EQ(track(oneSeed).status, 0);
    const size_t unweighted = output().tracks.at(0).size() / 3;

    writeScalar(dir_.file("half.nii"), grid_, std::vector<float>(grid_.count(), 0.5f));
    oneSeed.insert(oneSeed.end(), {"-atw", "half.nii"});
    const RunResult weighted = track(oneSeed);
    ASSERT_EQ(weighted.status, 0) << weighted.err;
    const std::vector<float> points = output().tracks.at(0);
    // Stops at the bend: the seed's voxel and the voxels before it up to x = 3.
    EXPECT_EQ(points.size() / 3, 4U);
    EXPECT_GT(unweighted, 4U);
    EXPECT_LT(points[points.size() - 3], 8.0f);
}

TEST_F(FiberwalkTest, WeightsOnAnotherGridOrUnreadableAreRefused) {
    writeScalar(dir_.file("fourd.nii"), grid_, std::vector<float>(grid_.count() * 2, 1.0f),
                {grid_.nx, grid_.ny, grid_.nz, 2});
    writeScalar(dir_.file("small.nii"), grid_, std::vector<float>(8 * 3 * 2, 1.0f), {8, 3, 2});
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"fourd.nii", "it holds 144 voxels; one volume of 72 is needed"},
        {"small.nii", "its grid 8 x 3 x 2 is not the tensor's 8 x 3 x 3"},
        {"none.nii", "cannot open: No such file or directory"}};
    for (const auto& [file, reason] : cases) {
        const RunResult result = track({"-atw", file});
        EXPECT_EQ(result.status, 1) << file;
        EXPECT_EQ(result.err,
                  "\nCan not load angle threshold weighting file " + file + "\n  " + reason + "\n");
        EXPECT_FALSE(fileExists(dir_.file("out.trk")));
    }
}

// ---- header ---------------------------------------------------------------------------------

TEST_F(FiberwalkTest, HeaderFieldsFromATensorWithOrientation) {
    VolumeSpec volume;
    volume.qformCode = 1;
    volume.qoffset[0] = 10.0f;
    volume.qoffset[1] = -20.0f;
    volume.qoffset[2] = 30.0f;
    writeTensor(
        dir_.file("s1_tensor.nii"), grid_, [](int, int, int) { return tensorAlong(1, 0, 0); },
        Layout::k4D, volume);
    // With an orientation in the header the orientation options are not even looked at.
    const RunResult result = track({"-sorder", "-1", "-iop", "-info", "missing.info"});
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.out.find("Did not find"), std::string::npos);

    const std::string h = output().header;
    ASSERT_EQ(h.size(), 1000U);
    EXPECT_EQ(h.substr(0, 6), std::string("TRACK\0", 6));
    EXPECT_EQ(at<int16_t>(h, 6), 8);
    EXPECT_EQ(at<int16_t>(h, 8), 3);
    EXPECT_EQ(at<int16_t>(h, 10), 3);
    for (int a = 0; a < 3; ++a) {
        EXPECT_EQ(at<float>(h, 12 + 4 * a), 2.0f);
        EXPECT_EQ(at<float>(h, 24 + 4 * a), 0.0f);
    }
    EXPECT_EQ(h.substr(36, 404), std::string(404, '\0'));  // scalars and properties
    const float ras[16] = {2, 0, 0, 10, 0, 2, 0, -20, 0, 0, 2, 30, 0, 0, 0, 1};
    for (int i = 0; i < 16; ++i) {
        EXPECT_FLOAT_EQ(at<float>(h, 440 + 4 * i), ras[i]) << "voxel_to_ras element " << i;
    }
    EXPECT_EQ(h.substr(504, 444), std::string(444, '\0'));
    EXPECT_EQ(h.substr(948, 8), std::string("RAS\0\0\0\0\0", 8));
    const std::array<float, 6> iop = {-1, 0, 0, 0, -1, 0};
    EXPECT_EQ(orientationOf(output()), iop);
    EXPECT_EQ(h.substr(980, 8), std::string(8, '\0'));  // pad and the six flags
    EXPECT_EQ(at<int32_t>(h, 988), 0);
    EXPECT_EQ(at<int32_t>(h, 992), 2);
    EXPECT_EQ(at<int32_t>(h, 996), 1000);
}

TEST_F(FiberwalkTest, OrientationFromDefaultsInfoFileAndOptions) {
    RunResult result = track();
    ASSERT_EQ(result.status, 0);
    EXPECT_NE(result.out.find("\nDid not find image info file 's1.info'. Default info being "
                              "used.\n"),
              std::string::npos);
    EXPECT_EQ(voxelOrder(output()), "LPS");
    EXPECT_EQ(orientationOf(output()), (std::array<float, 6>{1, 0, 0, 0, 1, 0}));

    EXPECT_EQ(track({"-sorder", "-1"}).status, 0);
    EXPECT_EQ(voxelOrder(output()), "LPI");
    EXPECT_EQ(track({"-sorder", "0"}).status, 0);
    EXPECT_EQ(voxelOrder(output()), "LPS");

    EXPECT_EQ(track({"-iop", "0", "1", "0", "0", "0", "-1"}).status, 0);
    EXPECT_EQ(voxelOrder(output()), "PIR");
    EXPECT_EQ(orientationOf(output()), (std::array<float, 6>{0, 1, 0, 0, 0, -1}));

    writeFile(dir_.file("iop.txt"), "# sagittal\n0, 1, 0\n0, 0, -1\n");
    EXPECT_EQ(track({"-iop", "iop.txt"}).status, 0);
    EXPECT_EQ(voxelOrder(output()), "PIR");

    result = track({"-iop", "none.txt"});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err, "\nCannot load image orientation matrix from none.txt\n");

    const std::string coronal =
        "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<ImageInfo>\n\t<ImageOrientation>1, 0, 0, "
        "0, 0, -1</ImageOrientation>\n\t<SliceOrder>-1</SliceOrder>\n</ImageInfo>\n";
    writeFile(dir_.file("s1.info"), coronal);
    result = track();
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.out.find("Did not find"), std::string::npos);
    EXPECT_EQ(voxelOrder(output()), "LIA");
    EXPECT_EQ(orientationOf(output()), (std::array<float, 6>{1, 0, 0, 0, 0, -1}));
    // Options given beside the .info file override it.
    EXPECT_EQ(track({"-sorder", "1"}).status, 0);
    EXPECT_EQ(voxelOrder(output()), "LIP");

    writeFile(dir_.file("other.info"), coronal);
    writeFile(dir_.file("s1.info"), "<ImageInfo></ImageInfo>\n");
    EXPECT_EQ(track({"-info", "other.info"}).status, 0);
    EXPECT_EQ(voxelOrder(output()), "LIA");
    for (const auto& [bad, reason] : std::vector<std::pair<std::string, std::string>>{
             {"s1.info", "no usable image orientation in it"},
             {"none.info", "cannot open: No such file or directory"}}) {
        result = track({"-info", bad});
        EXPECT_EQ(result.status, 1);
        EXPECT_EQ(result.err, "\nCan not read image info from " + bad + ".\n  " + reason + "\n");
    }
}

TEST_F(FiberwalkTest, VoxelOrderOption) {
    const std::vector<std::pair<std::string, std::string>> accepted = {
        {"ras", "RAS"}, {"RASX", "RAS"}, {"RRR", "RRR"}};
    for (const auto& [given, stored] : accepted) {
        const RunResult result = track({"-vorder", given});
        EXPECT_EQ(result.status, 0) << given;
        EXPECT_EQ(output().header.substr(948, 4), stored + std::string(1, '\0'));
    }
    EXPECT_EQ(track({"--voxel_order", "pir"}).status, 0);
    EXPECT_EQ(voxelOrder(output()), "PIR");
}

// ---- frame adjustments ----------------------------------------------------------------------

struct FrameCase {
    std::vector<std::string> option;
    int flagOffset;  // -1: no flag
    std::array<double, 3> field;
    std::array<int, 3> expected;  // sign of the track's extent along x, y, z (0: none)
};

// Names the case by its option in test listings.
void PrintTo(const FrameCase& c, std::ostream* os) {
    *os << (c.option.empty() ? "none" : c.option[0]);
}

class FiberwalkFrameTest : public FiberwalkTest, public ::testing::WithParamInterface<FrameCase> {};

// Direction from the first to the last point, as signs; the track is oriented so that its
// largest component is positive.
std::array<int, 3> extentSigns(const std::vector<float>& points) {
    const size_t last = points.size() - 3;
    std::array<float, 3> d{};
    int largest = 0;
    for (int a = 0; a < 3; ++a) {
        d[a] = points[last + a] - points[a];
        if (std::fabs(d[a]) > std::fabs(d[largest])) {
            largest = a;
        }
    }
    const float flip = d[largest] < 0 ? -1.0f : 1.0f;
    std::array<int, 3> signs{};
    for (int a = 0; a < 3; ++a) {
        const float v = d[a] * flip;
        signs[a] = std::fabs(v) < 1.0f ? 0 : (v > 0 ? 1 : -1);
    }
    return signs;
}

TEST_P(FiberwalkFrameTest, FlagIsStoredAndTurnsTheTracks) {
    const FrameCase& c = GetParam();
    const Grid cube{7, 7, 7};
    writeTensor(dir_.file("s1_tensor.nii"), cube,
                [&](int, int, int) { return tensorAlong(c.field[0], c.field[1], c.field[2]); });
    writeScalar(dir_.file("fa.nii"), cube, std::vector<float>(cube.count(), 0.8f));
    std::vector<float> seeds(cube.count(), 0.0f);
    seeds[3 + 7 * (3 + 7 * 3)] = 1.0f;
    writeScalar(dir_.file("seed.nii"), cube, seeds);

    std::vector<std::string> extra = {"-sm", "seed.nii", "0.5"};
    extra.insert(extra.end(), c.option.begin(), c.option.end());
    const RunResult result = track(extra);
    ASSERT_EQ(result.status, 0) << result.err;
    const TrackFile file = output();
    for (int offset = 982; offset < 988; ++offset) {
        EXPECT_EQ(file.header[offset], offset == c.flagOffset ? 1 : 0) << "byte " << offset;
    }
    ASSERT_EQ(file.tracks.size(), 1U);
    EXPECT_EQ(extentSigns(file.tracks[0]), c.expected);
}

INSTANTIATE_TEST_SUITE_P(Flags, FiberwalkFrameTest,
                         ::testing::Values(FrameCase{{}, -1, {1, 1, 0}, {1, 1, 0}},
                                           FrameCase{{"-ix"}, 982, {1, 1, 0}, {1, -1, 0}},
                                           FrameCase{{"--invert_y"}, 983, {0, 1, 1}, {0, 1, -1}},
                                           FrameCase{{"-iz"}, 984, {1, 0, 1}, {1, 0, -1}},
                                           FrameCase{{"-sxy"}, 985, {1, 0, 0}, {0, 1, 0}},
                                           FrameCase{{"-syz"}, 986, {0, 1, 0}, {0, 0, 1}},
                                           FrameCase{{"-szx"}, 987, {1, 0, 0}, {0, 0, 1}},
                                           FrameCase{{"-sorder", "-1"}, -1, {1, 0, 1}, {1, 0, -1}},
                                           FrameCase{{"-sxy"}, 985, {1, 0, 1}, {0, 1, 1}}));

// ---- tracks ---------------------------------------------------------------------------------

TEST_F(FiberwalkTest, UniformFieldTracksRunVoxelByVoxelInMillimetres) {
    const RunResult result = track();
    ASSERT_EQ(result.status, 0) << result.err;
    const TrackFile file = output();
    ASSERT_EQ(file.tracks.size(), 72U);
    for (size_t t = 0; t < file.tracks.size(); ++t) {
        // Seeds in x-y-z order, z fastest.
        const int sx = static_cast<int>(t / 9);
        const int sy = static_cast<int>(t / 3 % 3);
        const int sz = static_cast<int>(t % 3);
        const std::vector<float>& p = file.tracks[t];
        ASSERT_EQ(p.size(), 3U * 8U) << "track " << t;
        for (int j = 0; j < 8; ++j) {
            const float x = p[3 * j];
            EXPECT_NEAR(p[3 * j + 1], (sy + 0.5f) * 2.0f, 1e-5f);
            EXPECT_NEAR(p[3 * j + 2], (sz + 0.5f) * 2.0f, 1e-5f);
            if (j == sx) {
                EXPECT_FLOAT_EQ(x, (sx + 0.5f) * 2.0f);  // the voxel centre
            } else if (j > sx) {
                EXPECT_GE(x, 2.0f * j);  // entered from below, within one 0.1 mm sub-step
                EXPECT_LE(x, 2.0f * j + 0.1001f);
            } else {
                EXPECT_LT(x, 2.0f * (j + 1));  // entered from above
                EXPECT_GE(x, 2.0f * (j + 1) - 0.1001f);
            }
        }
    }
}

TEST_F(FiberwalkTest, RandomSeedsLieInsideTheirVoxel) {
    const RunResult result = track([&] {
        std::vector<std::string> extra = seedAt(3, 1, 2);
        extra.insert(extra.end(), {"-rseed", "5"});
        return extra;
    }());
    ASSERT_EQ(result.status, 0) << result.err;
    const TrackFile file = output();
    ASSERT_EQ(file.tracks.size(), 5U);
    for (const std::vector<float>& p : file.tracks) {
        ASSERT_EQ(p.size(), 3U * 8U);
        const float y = p[1];
        const float z = p[2];
        EXPECT_GE(y, 2.0f);
        EXPECT_LT(y, 4.0f);
        EXPECT_GE(z, 4.0f);
        EXPECT_LT(z, 6.0f);
        // Seeds sit on hundredths of the voxel.
        EXPECT_NEAR(y * 50.0f, std::round(y * 50.0f), 1e-3f);
        EXPECT_NEAR(z * 50.0f, std::round(z * 50.0f), 1e-3f);
        EXPECT_GE(p[3 * 3], 6.0f);  // the seed point, in voxel x = 3
        EXPECT_LT(p[3 * 3], 8.0f);
    }

    for (const std::vector<std::string>& count :
         {std::vector<std::string>{"-rseed", "0"}, {"-rseed", "-3"}, {"-rseed"}}) {
        std::vector<std::string> extra = seedAt(3, 1, 2);
        extra.insert(extra.end(), count.begin(), count.end());
        ASSERT_EQ(track(extra).status, 0);
        EXPECT_EQ(output().tracks.size(), 1U);
    }
    ASSERT_EQ(track({"-rseed", "2"}).status, 0);
    EXPECT_EQ(output().tracks.size(), 144U);
}

TEST_F(FiberwalkTest, NoTrackLeavesAnEmptyFile) {
    writeScalar(dir_.file("low.nii"), grid_, std::vector<float>(grid_.count(), 0.1f));
    writeScalar(dir_.file("none.nii"), grid_, std::vector<float>(grid_.count(), 0.0f));
    const std::vector<std::vector<std::string>> runs = {
        {"s1", "out.trk", "-m", "low.nii", "0.5"},
        {"s1", "out.trk", "-m", "fa.nii", "0.5", "-sm", "none.nii", "0.5"}};
    for (const auto& args : runs) {
        const RunResult result = run(args);
        ASSERT_EQ(result.status, 0) << result.err;
        ASSERT_TRUE(fileExists(dir_.file("out.trk")));
        EXPECT_EQ(readFile(dir_.file("out.trk")).size(), 0U);
        EXPECT_NE(result.out.find("\nNumber of tracks: 0\n"), std::string::npos);
    }
}

TEST_F(FiberwalkTest, ProgressAndSummary) {
    const RunResult result = track();
    ASSERT_EQ(result.status, 0);
    const std::string expectedStart =
        "\nVolume dimension: 8 3 3\nVoxel size: 2.000 2.000 2.000\n"
        "\nDid not find image info file 's1.info'. Default info being used.\n"
        "\nThreshold for mask one:  0.5 1.8\n"
        "\nReading tensor data...done.\n"
        "Tracking...     \b\b\b\b\b12.5%\b\b\b\b\b25.0%";
    EXPECT_EQ(result.out.substr(0, expectedStart.size()), expectedStart);
    EXPECT_TRUE(std::regex_search(
        result.out,
        std::regex("\b\b\b\b\b87\\.5%\b\b\b\b\b 100%\nNumber of tracks: 72\nTime taken: "
                   "00:00:\\d\\d\n$")))
        << result.out;

    const Grid thin{1, 3, 3};
    writeTensor(dir_.file("s1_tensor.nii"), thin,
                [](int, int, int) { return tensorAlong(0, 1, 0); });
    writeScalar(dir_.file("fa.nii"), thin, std::vector<float>(thin.count(), 0.8f));
    const RunResult single = track();
    ASSERT_EQ(single.status, 0) << single.err;
    EXPECT_NE(single.out.find("Tracking...     \b\b\b\b\b 100%\nNumber of tracks: 9\n"),
              std::string::npos);
}

TEST_F(FiberwalkTest, OutputThatCannotBeCreatedOrWritten) {
    RunResult result = track({"-om", "nodir/om.nii"});
    EXPECT_EQ(result.status, 1);
    // nifticlib may add a diagnostic of its own before the message.
    EXPECT_NE(result.err.find("\nCannot write file nodir/om.nii\n"), std::string::npos);
    EXPECT_FALSE(fileExists(dir_.file("out.trk")));

    result = run({"s1", "nodir/out.trk", "-m", "fa.nii", "0.5"});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err, "Can not create output file\n");

    if (fileExists("/dev/full")) {
        result = run({"s1", "/dev/full", "-m", "fa.nii", "0.5"});
        EXPECT_EQ(result.status, 1);
        EXPECT_EQ(result.err, "\nCan not write output file /dev/full\n");
    }
    EXPECT_FALSE(fileExists(dir_.file("fiberwalk.log")));
}

// ---- run log --------------------------------------------------------------------------------

TEST_F(FiberwalkTest, RunLogBesideTheOutput) {
    ASSERT_EQ(mkdir(dir_.file("out").c_str(), 0755), 0);
    const std::vector<std::string> args = {"s1", "out/tracks.trk", "-m", "fa.nii", "0.5"};
    ASSERT_EQ(run(args).status, 0);
    ASSERT_EQ(run(args).status, 0);

    TempDir elsewhere;
    const RunResult away = testsupport::runProgram(
        "fiberwalk",
        {dir_.file("s1"), dir_.file("out/tracks.trk"), "-m", dir_.file("fa.nii"), "0.5"},
        elsewhere.path());
    ASSERT_EQ(away.status, 0) << away.err;

    std::istringstream log(readFile(dir_.file("out/fiberwalk.log")));
    std::vector<std::string> lines;
    for (std::string line; std::getline(log, line);) {
        lines.push_back(line);
    }
    ASSERT_EQ(lines.size(), 6U);
    const std::regex folder("    In folder /.*/");
    EXPECT_TRUE(std::regex_match(lines[0], folder)) << lines[0];
    const std::string command =
        testsupport::programPath("fiberwalk") + " s1 out/tracks.trk -m fa.nii 0.5 ";
    const std::regex stamp(R"(\[\d\d/\d\d/\d\d \d\d:\d\d\] )");
    auto entry = [&](const std::string& line, const std::string& number, const std::string& text) {
        EXPECT_EQ(line.substr(0, 4), number);
        EXPECT_TRUE(std::regex_match(line.substr(4, 17), stamp)) << line;
        EXPECT_EQ(line.substr(21), text);
    };
    entry(lines[1], "1   ", command);
    entry(lines[2], "2   ", command);
    EXPECT_EQ(lines[3], "");
    EXPECT_TRUE(std::regex_match(lines[4], folder));
    EXPECT_NE(lines[4], lines[0]);
    entry(lines[5], "3   ",
          testsupport::programPath("fiberwalk") + " " + dir_.file("s1") + " " +
              dir_.file("out/tracks.trk") + " -m " + dir_.file("fa.nii") + " 0.5 ");
    EXPECT_FALSE(fileExists(dir_.file("fiberwalk.log")));

    ASSERT_EQ(track().status, 0);
    EXPECT_NE(readFile(dir_.file("fiberwalk.log")).find("\n1   ["), std::string::npos);
}

}  // namespace

namespace {

// Rewrites the three spatial sizes in a single-file volume's header (dim[1..3] at byte 42).
void claimSize(const std::string& path, short size) {
    std::string bytes = testsupport::readFile(path);
    for (int axis = 0; axis < 3; ++axis) {
        std::memcpy(&bytes[42 + 2 * axis], &size, sizeof size);
    }
    testsupport::writeFile(path, bytes);
}

TEST_F(FiberwalkTest, VolumesTooLargeForMemoryEndWithAMessage) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "AddressSanitizer's allocator aborts on such sizes instead of failing them";
#endif
    // Headers that promise 30000^3 voxels: far more than any machine holds.
    claimSize(dir_.file("s1_tensor.nii"), 30000);
    claimSize(dir_.file("fa.nii"), 30000);
    const RunResult r = track();
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("\nNot enough memory"), std::string::npos) << r.err;
    EXPECT_FALSE(testsupport::fileExists(dir_.file("out.trk")));
}

}  // namespace
