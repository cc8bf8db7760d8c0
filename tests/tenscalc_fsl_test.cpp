// tenscalc with gradient files as FSL and BIDS write them (.bvec/.bval), the exported gradient
// table, and raw data with stored-value scaling.

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "TenscalcAcquisition.h"
#include "TestSupport.h"

using namespace tenscalctest;  // NOLINT(google-build-using-namespace)

namespace {

enum class Layout { kRows, kColumns };  // .bvec: 3 x N or N x 3; .bval: 1 x N or N x 1

// Every volume's direction along the voxel axes (b0 first), x negated when flipX.
std::vector<Vec3> voxelDirections(const Acquisition& acq, bool flipX) {
    std::vector<Vec3> all = {{0, 0, 0}};
    for (const Vec3& d : acq.dirs) {
        all.push_back({flipX ? -d[0] : d[0], d[1], d[2]});
    }
    return all;
}

std::string number(double value) {
    char text[40];
    std::snprintf(text, sizeof text, "%.17g", value + 0.0);
    return text;
}

std::string bvecText(const std::vector<Vec3>& directions, Layout layout,
                     const std::string& lineEnd = "\n") {
    std::string text;
    if (layout == Layout::kRows) {
        for (int axis = 0; axis < 3; ++axis) {
            for (const Vec3& d : directions) {
                text += number(d[static_cast<size_t>(axis)]) + " ";
            }
            text += lineEnd;
        }
    } else {
        for (const Vec3& d : directions) {
            text += number(d[0]) + "\t" + number(d[1]) + "  " + number(d[2]) + lineEnd;
        }
    }
    return text;
}

std::string bvalText(size_t volumes, Layout layout, const std::string& lineEnd = "\n") {
    std::string text;
    for (size_t v = 0; v < volumes; ++v) {
        text += (v == 0 ? "5" : "1000") + std::string(layout == Layout::kRows ? " " : lineEnd);
    }
    return layout == Layout::kRows ? text + lineEnd : text;
}

struct FslWorkspace : Workspace {
    std::string bvec = dir.file("dwi.bvec");
    std::string bval = dir.file("dwi.bval");

    void writeGradients(bool flipX, Layout vecLayout = Layout::kRows,
                        Layout valLayout = Layout::kRows, const std::string& lineEnd = "\n") {
        const auto directions = voxelDirections(acq, flipX);
        writeFile(bvec, bvecText(directions, vecLayout, lineEnd));
        writeFile(bval, bvalText(directions.size(), valLayout, lineEnd));
    }
    testsupport::RunResult runFsl(std::vector<std::string> extra = {},
                                  const std::string& outPrefix = "") const {
        std::vector<std::string> args = {raw, outPrefix.empty() ? prefix : outPrefix, "-bvec",
                                         bvec, "-bval", bval};
        args.insert(args.end(), extra.begin(), extra.end());
        return runProgram("tenscalc", args, dir.path());
    }
};

// Largest difference between two maps of the same size.
double largestDifference(const std::vector<float>& a, const std::vector<float>& b) {
    EXPECT_EQ(a.size(), b.size());
    double largest = 0.0;
    for (size_t i = 0; i < a.size() && i < b.size(); ++i) {
        largest = std::max(largest, std::fabs(static_cast<double>(a[i]) - b[i]));
    }
    return largest;
}

// Largest difference between the tensor map and the tensors the signals were made from.
double tensorError(const std::vector<float>& tensor, const Acquisition& acq) {
    static const int kFileOrder[6] = {0, 1, 3, 2, 4, 5};
    const size_t v = acq.voxels();
    double largest = 0.0;
    for (size_t p = 0; p < v; ++p) {
        for (int plane = 0; plane < 6; ++plane) {
            largest = std::max(largest, std::fabs(tensor[plane * v + p] -
                                                  acq.tensors[p][kFileOrder[plane]]));
        }
    }
    return largest;
}

TEST(TenscalcFsl, FilesInEveryLayoutGiveTheFitOfTheTable) {
    FslWorkspace r;
    r.acq.write4d(r.raw);
    ASSERT_EQ(r.run().status, 0);
    const auto tableFa = r.output("fa").as<float>();
    const auto tableAdc = r.output("adc").as<float>();
    const auto tableTensor = r.output("tensor").as<float>();

    struct Case {
        Layout vec, val;
        std::string lineEnd;
    };
    for (const Case& c : {Case{Layout::kRows, Layout::kRows, "\n"},
                          Case{Layout::kColumns, Layout::kColumns, "\n"},
                          Case{Layout::kRows, Layout::kColumns, " \r\n"},
                          Case{Layout::kColumns, Layout::kRows, "  \r\n"}}) {
        SCOPED_TRACE(c.lineEnd.size());
        // No voxel-to-world matrix in this header: x counts as negated.
        r.writeGradients(true, c.vec, c.val, c.lineEnd);
        const auto result = r.runFsl();
        ASSERT_EQ(result.status, 0) << result.err;
        EXPECT_NE(result.out.find("\nNo voxel-to-world matrix in the header of " + r.raw +
                                  ": x of " + r.bvec + " is read as for a positive determinant"),
                  std::string::npos);
        EXPECT_NE(result.out.find("Number of b0's: 1\nNumber of gradient directions: 12\n"),
                  std::string::npos);
        EXPECT_LT(largestDifference(r.output("fa").as<float>(), tableFa), 1e-6);
        EXPECT_LT(largestDifference(r.output("adc").as<float>(), tableAdc), 1e-9);
        EXPECT_LT(largestDifference(r.output("tensor").as<float>(), tableTensor), 1e-9);
    }
}

TEST(TenscalcFsl, TheVoxelToWorldDeterminantDecidesTheXFlip) {
    struct Case {
        const char* name;
        VolumeSpec header;
        bool flipped;  // how a converter writes the files for this header
    };
    VolumeSpec negative;  // qform with qfac -1: x runs the other way
    negative.qformCode = 1;
    negative.qfac = -1.0f;
    VolumeSpec sformWins = negative;  // a positive sform outranks the negative qform
    sformWins.sformCode = 1;
    VolumeSpec positive;
    positive.qformCode = 1;
    for (const Case& c : {Case{"negative qform", negative, false},
                          Case{"positive sform over negative qform", sformWins, true},
                          Case{"positive qform", positive, true}}) {
        SCOPED_TRACE(c.name);
        FslWorkspace r;
        r.acq.write4d(r.raw, 1, c.header);
        r.writeGradients(c.flipped);
        auto result = r.runFsl();
        ASSERT_EQ(result.status, 0) << result.err;
        EXPECT_EQ(result.out.find("No voxel-to-world matrix"), std::string::npos);
        // The tensors the signals were made from, along the voxel axes, whatever the header's
        // orientation says about the patient.
        EXPECT_LT(tensorError(r.output("tensor").as<float>(), r.acq), 3e-6);

        // The files written for the other handedness turn every oblique fibre.
        r.writeGradients(!c.flipped);
        result = r.runFsl();
        ASSERT_EQ(result.status, 0) << result.err;
        EXPECT_GT(tensorError(r.output("tensor").as<float>(), r.acq), 1e-4);
    }
}

TEST(TenscalcFsl, SwappedAxesGiveWrongDirections) {
    FslWorkspace r;
    r.acq.write4d(r.raw);
    auto directions = voxelDirections(r.acq, true);
    for (Vec3& d : directions) {
        std::swap(d[1], d[2]);
    }
    writeFile(r.bvec, bvecText(directions, Layout::kRows));
    writeFile(r.bval, bvalText(directions.size(), Layout::kRows));
    ASSERT_EQ(r.runFsl().status, 0);
    EXPECT_GT(tensorError(r.output("tensor").as<float>(), r.acq), 1e-4);
}

TEST(TenscalcFsl, UnusableFilesAreRefusedWithTheirReason) {
    FslWorkspace r;
    r.acq.write4d(r.raw);
    const auto directions = voxelDirections(r.acq, true);
    const std::string rows = bvecText(directions, Layout::kRows);
    const std::string values = bvalText(directions.size(), Layout::kRows);
    struct Case {
        std::string bvec, bval, reason;
    };
    std::string zeroAtB1000 = bvecText(
        [&] {
            auto d = directions;
            d[3] = {0, 0, 0};
            return d;
        }(),
        Layout::kRows);
    const std::vector<Case> cases = {
        {rows, "0 1000 1000\n", r.bvec + " lists 13 directions but " + r.bval + " lists 3 b values"},
        // The last volume is diffusion-weighted: its direction must be a number (a b0's need not).
        {[&] {
             std::istringstream first(rows.substr(0, rows.find('\n')));
             std::string line;
             std::string word;
             for (int column = 1; first >> word; ++column) {
                 line += (column > 1 ? " " : "") + (column == 13 ? std::string("nan") : word);
             }
             return line + rows.substr(rows.find('\n'));
         }(),
         values,
         r.bvec + " line 1 column 13: 'nan' is not a finite number (volume 13 has b = 1000)"},
        {rows, "0 1000 abc\n", r.bval + " line 1: 'abc' is not a number"},
        {zeroAtB1000, values, r.bvec + ": volume 4 (b = 1000) has a direction of length 0, not about 1"},
        {"", values, r.bvec + ": no numbers in the file"},
        {"1 0 0\n0 1\n0 0 1\n", values, r.bvec + " line 2: 2 numbers where line 1 has 3"},
        {rows, "0\n1000 1000\n", r.bval + " line 2: 2 numbers; expected one line of one number per volume, or one number a line"},
        // b values beyond any scanner, and a NUL byte inside a number (not the number before it).
        {rows, values.substr(0, values.rfind("1000")) + "1e30\n",
         r.bval + ": volume 13 has b = 1e+30 s/mm^2, more than the 100000 taken"},
        {std::string("1\0" "2 ", 4) + rows, values, r.bvec + " line 1: '1\\x002' is not a number"},
        {"/dev/zero", values, "/dev/zero: not a regular file"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.reason);
        const bool device = c.bvec == "/dev/zero";
        writeFile(r.bvec, c.bvec);
        writeFile(r.bval, c.bval);
        const auto result =
            device ? runProgram("tenscalc", {r.raw, r.prefix, "-bvec", c.bvec, "-bval", r.bval})
                   : r.runFsl();
        EXPECT_EQ(result.status, 1);
        EXPECT_EQ(result.err, "\nCannot load gradient files " + (device ? c.bvec : r.bvec) +
                                  " and " + r.bval + "\n  " + c.reason + "\n");
        EXPECT_FALSE(testsupport::fileExists(r.prefix + "_fa.nii"));
    }

    // Files for another acquisition: both counts and both files are named.
    auto fewer = directions;
    fewer.pop_back();
    writeFile(r.bvec, bvecText(fewer, Layout::kRows));
    writeFile(r.bval, bvalText(fewer.size(), Layout::kRows));
    const auto result = r.runFsl();
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err, "\nThe gradient files " + r.bvec + " and " + r.bval +
                              " list 12 volumes, but the raw data " + r.raw + " has 13.\n");
}

// Directions that leave tensor components undetermined used to give infinite ADC and FA above
// 1 with status 0; gradcheck then gave a verdict on them.
TEST(TenscalcFsl, DirectionsThatCannotDetermineATensorAreRefused) {
    FslWorkspace r;
    r.acq.write4d(r.raw);
    const auto directions = voxelDirections(r.acq, true);
    const std::string values = bvalText(directions.size(), Layout::kRows);
    auto flat = directions;  // every weighted direction in the x-y plane
    for (size_t v = 1; v < flat.size(); ++v) {
        const double length = std::hypot(flat[v][0], flat[v][1]);
        flat[v] = {flat[v][0] / length, flat[v][1] / length, 0.0};
    }
    auto same = directions;  // one direction repeated
    for (size_t v = 1; v < same.size(); ++v) {
        same[v] = directions[1];
    }
    const std::vector<std::pair<std::vector<Vec3>, std::string>> cases = {
        {flat, "span 3 of the 6 tensor components"},
        {same, "span 1 of the 6 tensor components"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.second);
        writeFile(r.bvec, bvecText(c.first, Layout::kRows));
        writeFile(r.bval, values);
        const auto fit = r.runFsl();
        EXPECT_EQ(fit.status, 1);
        EXPECT_NE(fit.err.find("The gradient directions of " + r.bvec +
                               " do not determine a tensor.\n  the 12 weighted directions " +
                               c.second),
                  std::string::npos)
            << fit.err;
        EXPECT_FALSE(testsupport::fileExists(r.prefix + "_fa.nii"));
        const auto check = runProgram("gradcheck", {r.raw, "-bvec", r.bvec, "-bval", r.bval});
        EXPECT_EQ(check.status, 4);
        EXPECT_NE(check.out.find("Gradient table cannot be checked"), std::string::npos);
    }
    // Weighted volumes all at or below the b0 threshold: the .bval is named.
    writeFile(r.bvec, bvecText(directions, Layout::kRows));
    std::string low = "0";
    for (size_t v = 1; v < directions.size(); ++v) {
        low += " 40";
    }
    writeFile(r.bval, low + "\n");
    const auto fit = r.runFsl();
    EXPECT_EQ(fit.status, 1);
    EXPECT_EQ(fit.err, "\nNeed at least 6 gradient directions to reconstruct DTI data.\n  " +
                           r.bval + ": 0 of the volumes fitted have b above 50\n");
}

TEST(TenscalcFsl, CommandLinesThatMixOrHalveTheWaysAreRefused) {
    FslWorkspace r;
    r.acq.write4d(r.raw);
    r.writeGradients(true);
    const std::string hint = "Type 'tenscalc --help' for more information.\n";
    struct Case {
        std::vector<std::string> args;
        std::string err;
    };
    const std::vector<Case> cases = {
        {{r.raw, "o", "-gm", r.table, "-bvec", r.bvec, "-bval", r.bval},
         "\nGive the gradients either with -gm or with -bvec and -bval, not both.\n"},
        {{r.raw, "o", "-bvec", r.bvec}, "\n-bvec and -bval go together: give both.\n"},
        {{r.raw, "o", "--bvals", r.bval}, "\n-bvec and -bval go together: give both.\n"},
        {{r.raw, "o", "-bvec", r.bvec, "-bval", r.bval, "-nex", "2"},
         "\n-nex cannot be used with -bvec and -bval: they list every volume.\n"},
        {{r.raw, "o", "-bvec", r.bvec, "-bval"}, "\nMissing argument(s) for -bval.\n"},
        {{r.raw, "o", "-gm", r.table, "-export_grad"}, "\nMissing argument(s) for -export_grad.\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.err);
        const auto result = runProgram("tenscalc", c.args, r.dir.path());
        EXPECT_EQ(result.status, 2);
        EXPECT_EQ(result.err, c.err);
        EXPECT_EQ(result.out, hint);
    }
    // The long spellings work like the short ones.
    const auto result = runProgram(
        "tenscalc", {r.raw, r.prefix, "--bvecs", r.bvec, "--bvals", r.bval}, r.dir.path());
    EXPECT_EQ(result.status, 0) << result.err;
}

TEST(TenscalcFsl, ExportedTableRepeatsTheFit) {
    // From the FSL files, and from a table under an oblique orientation with the correction on.
    const std::vector<std::vector<std::string>> orientationOptions = {
        {}, {"-iop", "0.9", "0.1", "0.1", "-0.1", "0.95", "0.2", "-oc"}};
    for (const auto& options : orientationOptions) {
        SCOPED_TRACE(options.size());
        FslWorkspace r;
        r.acq.write4d(r.raw);
        r.writeGradients(true);
        const std::string exported = r.dir.file("used.txt");
        std::vector<std::string> extra = options;
        extra.insert(extra.end(), {"-export_grad", exported});
        const auto exporting = options.empty() ? r.runFsl(extra) : r.run(extra);
        ASSERT_EQ(exporting.status, 0) << exporting.err;
        const std::string again = r.dir.file("again");
        std::vector<std::string> args = {r.raw, again, "-gm", exported, "1"};
        args.insert(args.end(), options.begin(), options.end());
        ASSERT_EQ(runProgram("tenscalc", args, r.dir.path()).status, 0);
        for (const char* map : {"tensor", "e1", "e2", "e3", "fa", "adc"}) {
            SCOPED_TRACE(map);
            EXPECT_LT(largestDifference(r.output(map).as<float>(),
                                        readVolume(again + "_" + map + ".nii").as<float>()),
                      1e-6);
        }
        // Eigenvectors where they are defined: the voxels with distinct eigenvalues (the
        // isotropic column x = 3 has none, and its vectors follow rounding).
        const size_t v = r.acq.voxels();
        for (const char* map : {"v1", "v2", "v3"}) {
            SCOPED_TRACE(map);
            const auto first = r.output(map).as<float>();
            const auto second = readVolume(again + "_" + map + ".nii").as<float>();
            ASSERT_EQ(first.size(), 3 * v);
            ASSERT_EQ(second.size(), 3 * v);
            for (size_t p = 0; p < v; ++p) {
                if (p % static_cast<size_t>(r.acq.nx) == 3) {
                    continue;
                }
                for (size_t c = 0; c < 3; ++c) {
                    EXPECT_NEAR(first[c * v + p], second[c * v + p], 1e-6) << p;
                }
            }
        }
    }
}

TEST(TenscalcFsl, ScaledRawDataGivesUnscaledComputedMaps) {
    FslWorkspace plain;
    plain.acq.write4d(plain.raw);
    ASSERT_EQ(plain.run().status, 0);
    FslWorkspace scaled;
    VolumeSpec header;
    header.sclSlope = 2.0f;
    header.sclInter = 0.0f;
    scaled.acq.write4d(scaled.raw, 1, header);
    ASSERT_EQ(scaled.run().status, 0);
    EXPECT_EQ(scaled.output("fa").as<float>(), plain.output("fa").as<float>());
    for (const char* map : {"fa", "adc", "exp", "tensor", "e1", "v1", "fa_color"}) {
        SCOPED_TRACE(map);
        const auto volume = scaled.output(map);
        EXPECT_EQ(volume.sclSlope, 0.0f);
        EXPECT_EQ(volume.sclInter, 0.0f);
    }
    for (const char* map : {"b0", "dwi"}) {
        SCOPED_TRACE(map);
        EXPECT_EQ(scaled.output(map).sclSlope, 2.0f);
    }
}

}  // namespace
