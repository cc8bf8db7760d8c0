// tenscalc run as a user runs it, on acquisitions generated here from known tensors.

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <string>
#include <vector>

#include "TenscalcAcquisition.h"
#include "TestSupport.h"

namespace {

using namespace tenscalctest;  // NOLINT(google-build-using-namespace)

double faOf(double a, double b, double c) {
    const double m = (a + b + c) / 3;
    return std::sqrt(1.5 * ((a - m) * (a - m) + (b - m) * (b - m) + (c - m) * (c - m)) /
                     (a * a + b * b + c * c));
}

TEST(TenscalcRun, MapsMatchTheTensorsOfTheSignals) {
    Workspace r;
    r.acq.write4d(r.raw);
    const auto result = r.run();
    ASSERT_EQ(result.status, 0) << result.err << result.out;
    EXPECT_NE(result.out.find("Did not find image info file '" + r.dir.file("dwi.info") +
                              "'. Default info being used."),
              std::string::npos);
    EXPECT_NE(result.out.find("\nVolume dimension: 4 3 2\nVoxel size: 2.000 2.000 2.500\n"
                              "Number of b0's: 1\nNumber of gradient directions: 12\n"),
              std::string::npos)
        << result.out;
    EXPECT_NE(result.out.find("\nReading raw data...     \b\b\b\b\b 7.7%"), std::string::npos);
    EXPECT_NE(result.out.find("\nReconstructing...     "), std::string::npos);
    EXPECT_NE(result.out.find("\b\b\b\b\b 100%\nb0 threshold used to mask background: "),
              std::string::npos);
    EXPECT_NE(result.out.find("\nWriting output...Done.\nReconstruction completed successfully.\n"
                              "Time taken: 00:00:0"),
              std::string::npos);

    const auto tensor = r.output("tensor").template as<float>();
    const auto fa = r.output("fa").template as<float>();
    const auto adc = r.output("adc").template as<float>();
    const auto exp = r.output("exp").template as<float>();
    const auto b0 = r.output("b0").template as<short>();
    const auto dwi = r.output("dwi").template as<short>();
    const auto color = r.output("fa_color").template as<unsigned char>();
    const auto e1 = r.output("e1").template as<float>();
    const auto e3 = r.output("e3").template as<float>();
    const auto v1 = r.output("v1").template as<float>();
    const size_t v = r.acq.voxels();
    ASSERT_EQ(tensor.size(), 6 * v);
    ASSERT_EQ(color.size(), 3 * v);
    ASSERT_EQ(v1.size(), 3 * v);
    static const int kFileOrder[6] = {0, 1, 3, 2, 4, 5};  // fit element stored in each plane
    for (size_t p = 0; p < v; ++p) {
        SCOPED_TRACE("voxel " + std::to_string(p));
        const Tensor& t = r.acq.tensors[p];
        for (int plane = 0; plane < 6; ++plane) {
            EXPECT_NEAR(tensor[plane * v + p], t[kFileOrder[plane]], 3e-6);
        }
        EXPECT_EQ(b0[p], static_cast<short>(std::lround(r.acq.s0[p])));
        if (r.acq.s0[p] == 0) {
            EXPECT_EQ(fa[p], 0.0f);
            EXPECT_EQ(dwi[p], 0);
            continue;
        }
        const double mean = (t[0] + t[3] + t[5]) / 3;
        EXPECT_NEAR(adc[p], mean, 2e-6);
        const int x = static_cast<int>(p % r.acq.nx);
        const double expectedFa = x == 1   ? faOf(1.7e-3, 0.3e-3, 0.3e-3)
                                  : x == 2 ? faOf(1.5e-3, 0.4e-3, 0.4e-3)
                                           : 0.0;
        EXPECT_NEAR(fa[p], expectedFa, 0.01);
        EXPECT_NEAR(e1[p], x == 1 ? 1.7e-3 : x == 2 ? 1.5e-3 : 0.8e-3, 3e-6);
        EXPECT_NEAR(e3[p], x == 3 ? 0.8e-3 : x == 1 ? 0.3e-3 : 0.4e-3, 3e-6);
        EXPECT_NEAR(exp[p], dwi[p] / static_cast<double>(b0[p]), 2e-3);
        if (x == 1) {
            // Principal direction along x (sign rule: at least two components >= 0).
            EXPECT_NEAR(std::fabs(v1[p]), 1.0, 1e-3);
            EXPECT_EQ(color[3 * p], static_cast<unsigned char>(static_cast<int>(
                                        static_cast<double>(fa[p] * 255.0f) * std::fabs(v1[p]))));
            EXPECT_LE(color[3 * p + 1], 1);
        }
    }
}

TEST(TenscalcRun, HeadersOfEveryOutputType) {
    struct TypeCase {
        const char* type;
        const char* ending;
        const char* magic;
    };
    for (const auto& c : std::vector<TypeCase>{{"nii", ".nii", "n+1"},
                                               {"nii.gz", ".nii.gz", "n+1"},
                                               {"ni1", ".hdr", "ni1"},
                                               {"analyze", ".hdr", ""}}) {
        SCOPED_TRACE(c.type);
        Workspace r;
        VolumeSpec layout;
        layout.analyze = std::string(c.type) == "analyze";
        r.raw = r.dir.file(layout.analyze ? "dwi.hdr" : "dwi.nii");
        r.acq.write4d(r.raw, 1, layout);
        const auto result = r.run({"-ot", c.type});
        ASSERT_EQ(result.status, 0) << result.err;
        struct Expected {
            const char* suffix;
            int datatype, dim0, dim4, intent;
            const char* name;
        };
        for (const auto& e : std::vector<Expected>{{"b0", 4, 3, 1, 1001, "b0"},
                                                   {"dwi", 4, 3, 1, 1001, "DWI"},
                                                   {"fa", 16, 3, 1, 1001, "FA"},
                                                   {"adc", 16, 3, 1, 1001, "ADC"},
                                                   {"fa_color", 128, 3, 1, 1001, "Color FA"},
                                                   {"exp", 16, 3, 1, 1001, "EXP"},
                                                   {"tensor", 16, 4, 6, 1005, "Tensor"},
                                                   {"e1", 16, 3, 1, 1001, "Eigen value"},
                                                   {"e3", 16, 3, 1, 1001, "Eigen value"},
                                                   {"v2", 16, 4, 3, 1007, "Eigen vector"}}) {
            SCOPED_TRACE(e.suffix);
            const auto vol = r.output(e.suffix, c.ending);
            ASSERT_TRUE(vol.ok);
            EXPECT_EQ(vol.datatype, e.datatype);
            EXPECT_EQ(vol.dim[0], e.dim0);
            EXPECT_EQ(vol.dim[1], 4);
            EXPECT_EQ(vol.dim[3], 2);
            EXPECT_EQ(vol.pixdim[3], 2.5f);
            if (e.dim0 == 4) {
                EXPECT_EQ(vol.dim[4], e.dim4);
            }
            if (!layout.analyze) {
                EXPECT_EQ(vol.intentCode, e.intent);
                EXPECT_EQ(vol.intentName, e.name);
                EXPECT_EQ(vol.magic, c.magic);
                if (std::string(e.suffix) == "tensor") {
                    EXPECT_EQ(vol.intentP1, 3.0f);
                }
            }
        }
        const bool infoWritten = testsupport::fileExists(r.dir.file("out.info"));
        EXPECT_EQ(infoWritten, layout.analyze);
    }
}

TEST(TenscalcRun, FiveDimensionalOutputAndSkippedMaps) {
    Workspace r;
    r.acq.write4d(r.raw);
    ASSERT_EQ(r.run({"-output_5d"}).status, 0);
    const auto tensor = r.output("tensor");
    EXPECT_EQ(tensor.dim[0], 5);
    EXPECT_EQ(tensor.dim[4], 1);
    EXPECT_EQ(tensor.dim[5], 6);
    const auto v3 = r.output("v3");
    EXPECT_EQ(v3.dim[0], 5);
    EXPECT_EQ(v3.dim[4], 1);
    EXPECT_EQ(v3.dim[5], 3);

    Workspace skipped;
    skipped.acq.write4d(skipped.raw);
    ASSERT_EQ(skipped.run({"-no_eigen", "-no_tensor", "-no_exp"}).status, 0);
    for (const char* name : {"b0", "dwi", "fa", "adc", "fa_color"}) {
        EXPECT_TRUE(testsupport::fileExists(skipped.prefix + "_" + name + ".nii")) << name;
    }
    for (const char* name : {"exp", "tensor", "e1", "e2", "e3", "v1", "v2", "v3"}) {
        EXPECT_FALSE(testsupport::fileExists(skipped.prefix + "_" + name + ".nii")) << name;
    }
}

TEST(TenscalcRun, BackgroundWindowMasksOnlyTheScalarMaps) {
    Workspace r;
    r.acq.write4d(r.raw);
    // Voxels with b0 below 1100 or above 1200 are masked: x in 1..3, s0 = 1000 + 10 p.
    const auto result = r.run({"-b0_th", "1100", "1200"});
    ASSERT_EQ(result.status, 0);
    EXPECT_NE(result.out.find("b0 threshold used to mask background: 1100 1200\n"),
              std::string::npos);
    const auto fa = r.output("fa").template as<float>();
    const auto adc = r.output("adc").template as<float>();
    const auto tensor = r.output("tensor").template as<float>();
    const auto e1 = r.output("e1").template as<float>();
    for (size_t p = 0; p < r.acq.voxels(); ++p) {
        const double s0 = r.acq.s0[p];
        if (s0 == 0) {
            continue;
        }
        const bool masked = s0 < 1100 || s0 > 1200;
        EXPECT_EQ(adc[p] == 0.0f, masked) << p;
        EXPECT_GT(e1[p], 0.0f);
        EXPECT_NE(tensor[p], 0.0f);
        if (masked) {
            EXPECT_EQ(fa[p], 0.0f);
        }
    }
}

TEST(TenscalcRun, RepeatedAcquisitionsAreAveraged) {
    Workspace r;
    r.acq.write4d(r.raw, 2);
    ASSERT_EQ(r.run().status, 0);
    const auto b0 = r.output("b0").template as<short>();
    for (size_t p = 0; p < r.acq.voxels(); ++p) {
        const long first = std::lround(r.acq.s0[p]);
        const long second = std::lround(r.acq.s0[p] * 1.2);
        EXPECT_EQ(b0[p], static_cast<short>((first + second) / 2)) << p;
    }
    // Three repetitions do not exist in a file of two.
    const auto result = r.run({"-nex", "3"});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err, "\nCan not read file " + r.raw + "\n  it holds 26 volumes; volume 27 is needed\n");
}

TEST(TenscalcRun, NumberedSeries) {
    Workspace r;
    VolumeSpec layout;
    layout.dims = {r.acq.nx, r.acq.ny, r.acq.nz};
    for (int i = 0; i < r.acq.rows(); ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "s%02d.nii", i);
        writeVolume(r.dir.file(name), layout, r.acq.volume(i));
    }
    r.raw = r.dir.file("s");
    auto result = r.run({"-p", "2", "-sn", "0"});
    ASSERT_EQ(result.status, 0) << result.err;
    const auto b0 = r.output("b0").template as<short>();
    EXPECT_EQ(b0[5], static_cast<short>(std::lround(r.acq.s0[5])));
    // A missing file of the series is named.
    std::remove(r.dir.file("s07.nii").c_str());
    result = r.run({"-p", "2", "-sn", "0"});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err, "\nCan not read file " + r.dir.file("s07.nii") +
                              "\n  cannot open: No such file or directory\n");
    // A file of another size is refused rather than read past the volume.
    writeVolume(r.dir.file("s07.nii"), VolumeSpec{{2, 2, 2}}, std::vector<short>(8, 1));
    result = r.run({"-p", "2", "-sn", "0"});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err, "\nCan not read file " + r.dir.file("s07.nii") +
                              "\n  its size 2 x 2 x 2 is not the first file's 4 x 3 x 2\n");
}

// The orientation a run used, as recorded in the .info file of Analyze output.
std::string infoOrientation(const Workspace& r) {
    const std::string text = testsupport::readFile(r.dir.file("out.info"));
    const size_t start = text.find("<ImageOrientation>\n\t\t");
    const size_t end = text.find("\n", start + 21);
    if (start == std::string::npos || end == std::string::npos) {
        return "";
    }
    return text.substr(start + 21, end - start - 21) + " / " +
           text.substr(text.find("<SliceOrder>\n\t\t") + 15, 2);
}

TEST(TenscalcRun, OrientationPrecedence) {
    const std::string info =
        "<?xml version=\"1.0\"?>\n<ImageInfo><ImageOrientation>0,1,0,0,0,-1</ImageOrientation>"
        "<SliceOrder>-1</SliceOrder></ImageInfo>\n";
    {
        // Header without orientation: the default .info beside the data is used.
        Workspace r;
        r.acq.write4d(r.raw);
        writeFile(r.dir.file("dwi.info"), info);
        const auto result = r.run({"-ot", "analyze"});
        ASSERT_EQ(result.status, 0) << result.err;
        EXPECT_EQ(result.out.find("Did not find"), std::string::npos);
        EXPECT_EQ(infoOrientation(r),
                  "0.000000, 1.000000, 0.000000, 0.000000, 0.000000, -1.000000 / -1");
        // -cor overrides the .info vectors but not its slice order; -iop numbers override both.
        ASSERT_EQ(r.run({"-ot", "analyze", "-cor"}).status, 0);
        EXPECT_EQ(infoOrientation(r),
                  "1.000000, 0.000000, 0.000000, 0.000000, 0.000000, -1.000000 / -1");
        ASSERT_EQ(r.run({"-ot", "analyze", "-sag", "-cor"}).status, 0);
        EXPECT_EQ(infoOrientation(r),
                  "0.000000, 1.000000, 0.000000, 0.000000, 0.000000, -1.000000 / -1");
        ASSERT_EQ(r.run({"-ot", "analyze", "-cor", "-iop", "1", "0", "0", "0", "-1", "0"}).status,
                  0);
        EXPECT_EQ(infoOrientation(r),
                  "1.000000, 0.000000, 0.000000, 0.000000, -1.000000, 0.000000 / -1");
        // An orientation file.
        writeFile(r.dir.file("iop.txt"), "0, 1, 0,\n0, 0, -1\n");
        ASSERT_EQ(r.run({"-ot", "analyze", "-iop", r.dir.file("iop.txt")}).status, 0);
        EXPECT_EQ(infoOrientation(r),
                  "0.000000, 1.000000, 0.000000, 0.000000, 0.000000, -1.000000 / -1");
    }
    {
        // A header orientation wins over the .info beside the data.
        Workspace r;
        VolumeSpec layout;
        layout.qformCode = 1;
        r.acq.write4d(r.raw, 1, layout);
        writeFile(r.dir.file("dwi.info"), info);
        ASSERT_EQ(r.run({"-ot", "analyze"}).status, 0);
        EXPECT_EQ(infoOrientation(r),
                  "-1.000000, -0.000000, 0.000000, -0.000000, -1.000000, 0.000000 / 1\n");
    }
}

TEST(TenscalcRun, FailuresStopBeforeWritingAnything) {
    Workspace r;
    r.acq.write4d(r.raw);
    struct Case {
        std::vector<std::string> extra;
        std::string err;
        bool hint;
        int status;
    };
    writeFile(r.dir.file("bad.info"), "<Other/>");
    writeFile(r.dir.file("five.txt"), "0 0 0\n1 0 0\n0 1 0\n0 0 1\n1 1 0\n1 0 1\n");
    // Out of float range or not numbers at all: no orientation, with or without the correction.
    writeFile(r.dir.file("huge.txt"), "2147483648, 1, -1, -inf, 1e39, 66\n");
    const std::vector<Case> cases = {
        {{"-iop"}, "\nMissing argument(s) for -iop or --image_orientation_patient.\n", true, 2},
        {{"-info"}, "\nMissing argument(s) for -info or --image_info.\n", true, 2},
        {{"-info", r.dir.file("bad.info")},
         "\nCan not read image info from " + r.dir.file("bad.info") +
             ".\n  no <ImageInfo> element\n",
         false,
         1},
        {{"-iop", "a", "b", "c"}, "\nCannot load image orientation matrix from a\n", false, 1},
        {{"-iop", "1", "0", "0", "2", "0", "0"}, "degenerate", false, 1},
        {{"-iop", r.dir.file("huge.txt"), "-oc"}, "degenerate", false, 1},
        {{"-iop", r.dir.file("huge.txt")}, "degenerate", false, 1},
        {{"-iop", "1", "0", "nan", "0", "1", "0", "-oc"}, "degenerate", false, 1},
        {{"-iop", "0", "0", "0", "0", "1", "0", "-oc"}, "degenerate", false, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.err);
        const auto result = r.run(c.extra);
        EXPECT_EQ(result.status, c.status);
        if (c.err == "degenerate") {
            EXPECT_NE(result.err.find("degenerate"), std::string::npos) << result.err;
            // The table is fine: only the orientation is reported.
            EXPECT_EQ(result.err.find("gradient"), std::string::npos) << result.err;
        } else if (!c.err.empty()) {
            EXPECT_EQ(result.err, c.err);
        }
        EXPECT_EQ(result.out.find("Type 'tenscalc --help'") != std::string::npos, c.hint);
        EXPECT_FALSE(testsupport::fileExists(r.prefix + "_b0.nii"));
    }
    // The -gm given last on the command line is not the one used: short spelling first.
    auto result = runProgram("tenscalc", {r.raw, r.prefix, "-gm", r.dir.file("nothing.txt")});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err, "Can not open " + r.dir.file("nothing.txt") +
                              "\n\nCannot load gradient matrix from " + r.dir.file("nothing.txt") +
                              "\n");
    // No b0 row in the table and none requested.
    writeFile(r.table, "1 0 0\n0 1 0\n0 0 1\n1 1 0\n1 0 1\n0 1 1\n1 1 1\n");
    result = r.run();
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err, "\nCan not detect number of b0 for this data.\n");
    // An unreadable raw header.
    writeFile(r.dir.file("junk.nii"), std::string(400, 'x'));
    result = runProgram("tenscalc", {r.dir.file("junk.nii"), r.prefix, "-gm", r.table});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err, "\nCan not load image data from " + r.dir.file("junk.nii") +
                              "\n  header field dim[0] is 30840, not 1 to 7 in either byte order\n");
    EXPECT_FALSE(testsupport::fileExists(r.prefix + "_b0.nii"));
}

TEST(TenscalcRun, TruncatedAcquisitionIsReportedNotCrashedOn) {
    Workspace r;
    r.acq.write4d(r.raw);
    // Cut the file in the middle of its volumes: the header still promises all of them.
    const std::string whole = testsupport::readFile(r.raw);
    writeFile(r.raw, whole.substr(0, whole.size() / 2));
    const auto result = r.run();
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err, "\nCan not read file " + r.raw +
                              "\n  data ends at byte 488; the header needs 976\n");
    EXPECT_FALSE(testsupport::fileExists(r.prefix + "_b0.nii"));
}

TEST(TenscalcRun, UnwritableOutputsAreReportedAndFailTheRun) {
    Workspace r;
    r.acq.write4d(r.raw);
    r.prefix = r.dir.file("no/such/folder/out");
    const auto result = r.run();
    EXPECT_EQ(result.status, 1);
    EXPECT_NE(result.out.find("\nCan not write file " + r.prefix + "_b0.nii\n"), std::string::npos);
    EXPECT_NE(result.out.find("\nCan not write file " + r.prefix + "_v3.nii\n"), std::string::npos);
    EXPECT_EQ(result.out.find("completed successfully"), std::string::npos);
}

}  // namespace
