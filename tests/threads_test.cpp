// The programs on several threads write exactly what one thread writes: tenscalc's maps,
// fiberwalk's track files (every method, masks, random seeds) and trksmooth's output.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <random>
#include <regex>
#include <string>
#include <vector>

#include "CTrackWriter.h"
#include "TestSupport.h"

using testsupport::fileExists;
using testsupport::readFile;
using testsupport::runProgram;
using testsupport::RunResult;
using testsupport::TempDir;

namespace {

const int kThreadCounts[] = {1, 2, 3, 8};

// Standard output without the elapsed time, which is the one thing allowed to differ.
std::string withoutTiming(const std::string& out) {
    return std::regex_replace(out, std::regex("Time taken: [0-9:]+"), "Time taken:");
}

// The small phantom and its maps, made once for all tests.
class ThreadedRuns : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        dir_ = new TempDir();
        ASSERT_EQ(runProgram("dwiphantom", {dir_->file("ph")}).status, 0);
        ASSERT_EQ(runProgram("tenscalc", {dir_->file("ph.nii"), dir_->file("ph"), "-gm",
                                          dir_->file("ph_grad.txt"), "-nthreads", "1"})
                      .status,
                  0);
    }
    static void TearDownTestSuite() {
        delete dir_;
        dir_ = nullptr;
    }
    static std::string file(const std::string& name) { return dir_->file(name); }

    // fiberwalk with the options and the thread count; the track file's bytes and the output.
    static std::pair<std::string, RunResult> track(const std::vector<std::string>& options,
                                                   int threads, const std::string& name) {
        std::vector<std::string> args = {file("ph"), file(name), "-m", file("ph_fa.nii"), "0.2",
                                         "1.1", "-nthreads", std::to_string(threads)};
        args.insert(args.end(), options.begin(), options.end());
        const RunResult result = runProgram("fiberwalk", args, dir_->path());
        return {readFile(file(name)), result};
    }

    static TempDir* dir_;
};

TempDir* ThreadedRuns::dir_ = nullptr;

TEST_F(ThreadedRuns, TenscalcMapsAreTheSameForEveryThreadCount) {
    const std::vector<std::string> maps = {"b0", "dwi", "fa", "adc", "fa_color", "exp", "tensor",
                                           "e1", "e2", "e3", "v1", "v2", "v3"};
    std::string firstOut;
    for (const int threads : kThreadCounts) {
        SCOPED_TRACE(threads);
        const std::string prefix = file("t" + std::to_string(threads));
        const RunResult result =
            runProgram("tenscalc", {file("ph.nii"), prefix, "-gm", file("ph_grad.txt"),
                                    "--nthreads", std::to_string(threads)});
        ASSERT_EQ(result.status, 0) << result.err;
        if (threads == 1) {
            firstOut = withoutTiming(result.out);
        }
        // The progress and every other line look as one thread prints them.
        EXPECT_EQ(withoutTiming(result.out), firstOut);
        for (const std::string& map : maps) {
            EXPECT_EQ(readFile(prefix + "_" + map + ".nii"), readFile(file("ph_" + map + ".nii")))
                << map;
        }
    }
}

TEST_F(ThreadedRuns, WeightedFitsAreTheSameForEveryThreadCount) {
    std::string single;
    for (const int threads : kThreadCounts) {
        SCOPED_TRACE(threads);
        const std::string prefix = file("w" + std::to_string(threads));
        ASSERT_EQ(runProgram("tenscalc", {file("ph.nii"), prefix, "-gm", file("ph_grad.txt"),
                                          "-fit", "iwls", "2", "-nthreads",
                                          std::to_string(threads)})
                      .status,
                  0);
        const std::string maps = readFile(prefix + "_tensor.nii") + readFile(prefix + "_v1.nii");
        if (threads == 1) {
            single = maps;
        }
        EXPECT_TRUE(maps == single);
    }
}

TEST_F(ThreadedRuns, FiberwalkTracksAreTheSameForEveryThreadCount) {
    const std::vector<std::vector<std::string>> runs = {
        {},
        {"-rk2"},
        {"-tl", "-m2", file("ph_adc.nii")},
        {"-sl", "-sm", file("ph_fa.nii"), "0.3", "1"},
        {"-rk2", "-rseed", "3", "-seed", "7"},
        {"-ix", "-syz", "-at", "50", "-v2"},
    };
    for (const auto& options : runs) {
        std::string joined;
        for (const std::string& word : options) {
            joined += word + " ";
        }
        SCOPED_TRACE(joined);
        const auto [single, singleRun] = track(options, 1, "one.trk");
        ASSERT_EQ(singleRun.status, 0) << singleRun.err;
        ASSERT_GT(single.size(), 1000U);
        for (const int threads : {2, 3, 8}) {
            SCOPED_TRACE(threads);
            const auto [tracks, result] = track(options, threads, "many.trk");
            ASSERT_EQ(result.status, 0) << result.err;
            EXPECT_TRUE(tracks == single);
            EXPECT_EQ(withoutTiming(result.out), withoutTiming(singleRun.out));
        }
    }
}

TEST_F(ThreadedRuns, RandomSeedsRepeatWithTheSameSeedAndAreLogged) {
    const std::vector<std::string> seven = {"-rseed", "3", "-seed", "7"};
    const std::string first = track(seven, 2, "a.trk").first;
    EXPECT_EQ(track(seven, 3, "b.trk").first, first);
    EXPECT_NE(track({"-rseed", "3", "-seed", "8"}, 2, "c.trk").first, first);

    // Without -seed the clock's value is used and written into the logged command, which then
    // repeats the run.
    const auto [clocked, result] = track({"-rseed", "2"}, 2, "clock.trk");
    ASSERT_EQ(result.status, 0);
    const std::string log = readFile(file("fiberwalk.log"));
    std::smatch match;
    ASSERT_TRUE(std::regex_search(log, match,
                                  std::regex("clock\\.trk [^\\n]*-rseed 2 -seed ([0-9]+) \\n")))
        << log;
    EXPECT_EQ(track({"-rseed", "2", "-seed", match[1].str()}, 1, "again.trk").first, clocked);
}

TEST_F(ThreadedRuns, ThreadOptionsAreCheckedAndTheOptionWinsOverTheVariable) {
    for (const char* bad : {"0", "two", "-1"}) {
        const RunResult result = runProgram(
            "fiberwalk", {file("ph"), file("x.trk"), "-m", file("ph_fa.nii"), "-nthreads", bad});
        EXPECT_EQ(result.status, 2) << bad;
        EXPECT_FALSE(fileExists(file("x.trk")));
    }
    EXPECT_EQ(runProgram("fiberwalk", {file("ph"), file("x.trk"), "-m", file("ph_fa.nii"),
                                       "-seed", "-3"})
                  .status,
              2);
    setenv("DTI_NTHREADS", "lots", 1);
    const RunResult refused =
        runProgram("tenscalc", {file("ph.nii"), file("v"), "-gm", file("ph_grad.txt")});
    EXPECT_EQ(refused.status, 2);
    EXPECT_EQ(refused.err, "\nDTI_NTHREADS must be a whole number of at least 1, not 'lots'.\n");
    EXPECT_EQ(runProgram("tenscalc", {file("ph.nii"), file("v"), "-gm", file("ph_grad.txt"),
                                      "-nthreads", "2"})
                  .status,
              0);
    EXPECT_EQ(runProgram("trksmooth", {file("none.trk"), "0.5", file("y.trk")}).status, 2);
    unsetenv("DTI_NTHREADS");
}

TEST_F(ThreadedRuns, WriteFailuresStopEveryWorkerAndAreReported) {
    if (!fileExists("/dev/full")) {
        GTEST_SKIP() << "no /dev/full";
    }
    const RunResult tracking = runProgram(
        "fiberwalk", {file("ph"), "/dev/full", "-m", file("ph_fa.nii"), "0.2", "1.1", "-nthreads",
                      "4"});
    EXPECT_EQ(tracking.status, 1);
    EXPECT_EQ(tracking.err, "\nCan not write output file /dev/full\n");

    ASSERT_EQ(track({}, 1, "for_smoothing.trk").second.status, 0);
    setenv("DTI_NTHREADS", "4", 1);
    const RunResult smoothing =
        runProgram("trksmooth", {file("for_smoothing.trk"), "0.5", "/dev/full"});
    unsetenv("DTI_NTHREADS");
    EXPECT_EQ(smoothing.status, 1);
    EXPECT_EQ(smoothing.err, "Can not write file /dev/full\n");
}

// A track file with scalars and properties, more tracks than one window of trksmooth holds.
std::string writeRichTracks(const TempDir& dir) {
    const std::string path = dir.file("rich.trk");
    TRACK_HEADER header = TRACK_HEADER::MakeDefault();
    header.dim[0] = header.dim[1] = header.dim[2] = 40;
    header.voxel_size[0] = header.voxel_size[1] = header.voxel_size[2] = 2.0f;
    header.scalar_count = 2;
    header.property_count = 3;
    CTrackWriter writer;
    EXPECT_TRUE(writer.Initialize(path.c_str(), header));
    std::mt19937 random(11);
    std::uniform_real_distribution<float> unit(0.0f, 1.0f);
    for (int t = 0; t < 9000; ++t) {
        const int n = 2 + static_cast<int>(unit(random) * 60.0f);
        std::vector<float> record;
        float x = 10.0f + 60.0f * unit(random);
        float y = 10.0f + 60.0f * unit(random);
        for (int i = 0; i < n; ++i) {
            x += 0.3f + 0.2f * unit(random);
            y += 0.4f * std::sin(0.3f * static_cast<float>(i));
            record.insert(record.end(), {x, y, 20.0f + unit(random), unit(random),
                                         static_cast<float>(i)});
        }
        record.insert(record.end(), {static_cast<float>(t), unit(random), -1.0f});
        EXPECT_TRUE(writer.WriteNextTrack(n, record.data()));
    }
    EXPECT_TRUE(writer.Close());
    return path;
}

// Thread counts far past the work (which used to take hundreds of megabytes, or end in
// std::bad_alloc) run on what the work can use, say so, and give the same bytes.
TEST_F(ThreadedRuns, AbsurdThreadCountsGiveTheSameOutputAndANote) {
    const auto [single, singleRun] = track({}, 1, "one.trk");
    const auto [tracks, result] = track({}, 100000, "many.trk");
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_TRUE(tracks == single);
    EXPECT_EQ(result.out.rfind("Threads: 1024, the most used (100000 asked).\n", 0), 0U);

    setenv("DTI_NTHREADS", "100000000", 1);
    const RunResult smoothed = runProgram("trksmooth", {file("one.trk"), "0.5", file("s.trk")});
    unsetenv("DTI_NTHREADS");
    ASSERT_EQ(smoothed.status, 0) << smoothed.err;
    EXPECT_EQ(smoothed.out.rfind("Threads: 1024, the most used (100000000 asked).\n", 0), 0U);
    const RunResult plain = runProgram("trksmooth", {file("one.trk"), "0.5", file("s1.trk")});
    EXPECT_TRUE(readFile(file("s.trk")) == readFile(file("s1.trk")));
}

TEST(ThreadedSmoothing, OutputIsTheSameForEveryThreadCount) {
    TempDir dir;
    const std::string input = writeRichTracks(dir);
    std::string single;
    std::string singleOut;
    for (const int threads : kThreadCounts) {
        SCOPED_TRACE(threads);
        setenv("DTI_NTHREADS", std::to_string(threads).c_str(), 1);
        const RunResult result = runProgram("trksmooth", {input, "0.4", dir.file("out.trk")});
        unsetenv("DTI_NTHREADS");
        ASSERT_EQ(result.status, 0) << result.err;
        const std::string output = readFile(dir.file("out.trk"));
        if (threads == 1) {
            single = output;
            singleOut = result.out;
            ASSERT_GT(single.size(), 1000000U);
        }
        EXPECT_TRUE(output == single);
        EXPECT_EQ(result.out, singleOut);
    }
}

}  // namespace
