// Acquisitions as they come: b0 directions written as nan, several shells, brain masks, and the
// tensor metrics beyond FA and ADC, checked against an independent computation.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "EncodingScheme.h"
#include "Shells.h"
#include "TestSupport.h"

namespace {

using testsupport::LoadedVolume;
using testsupport::readFile;
using testsupport::readVolume;
using testsupport::runProgram;
using testsupport::TempDir;
using testsupport::VolumeSpec;
using testsupport::writeFile;
using testsupport::writeVolume;

// Words of a text, line by line.
std::vector<std::vector<std::string>> wordsOf(const std::string& text) {
    std::vector<std::vector<std::string>> lines;
    std::istringstream stream(text);
    std::string line;
    while (std::getline(stream, line)) {
        std::istringstream words(line);
        std::vector<std::string> row;
        for (std::string word; words >> word;) {
            row.push_back(word);
        }
        lines.push_back(row);
    }
    return lines;
}

std::string joined(const std::vector<std::vector<std::string>>& lines, size_t columns) {
    std::string text;
    for (const auto& line : lines) {
        for (size_t c = 0; c < columns && c < line.size(); ++c) {
            text += (c > 0 ? " " : "") + line[c];
        }
        text += "\n";
    }
    return text;
}

TEST(Shells, GroupsByBValueWithinFivePercentOrFifty) {
    EncodingScheme scheme;
    // b values as scanners write them: b0 at 5, shells around 1000, 2000 and 10000.
    for (const double b : {5.0, 995.0, 1000.0, 1005.0, 1990.0, 2010.0, 0.0, 10000.0, 10400.0,
                           10600.0, 1040.0}) {
        scheme.rows.push_back(b <= 50 ? GradientVec{0, 0, 0, 0} : GradientVec{1, 0, 0, b});
        scheme.b0Count += b <= 50 ? 1 : 0;
    }
    const Shells shells(scheme);
    // 10400 is within 5 % of 10000; 10600 is not. 1040 is within 50 of 995.
    EXPECT_EQ(shells.Describe(),
              "b=0 x 2, b=1010 x 4, b=2000 x 2, b=10200 x 2, b=10600 x 1");
    EXPECT_EQ(shells.WeightedCount(), 4);
    std::vector<size_t> rows;
    std::string reason;
    ASSERT_TRUE(shells.Select({0, 1000}, rows, reason));
    EXPECT_EQ(rows, (std::vector<size_t>{0, 1, 2, 3, 6, 10}));
    EXPECT_FALSE(shells.Select({0, 1500}, rows, reason));
    EXPECT_EQ(reason, "no shell at b=1500; the data hold " + shells.Describe());
}

class MultiShell : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        dir_ = new TempDir();
        ASSERT_EQ(runProgram("dwiphantom", {dir_->file("ms"), "-shells", "1000,2000,3000"}).status,
                  0);
    }
    static void TearDownTestSuite() {
        delete dir_;
        dir_ = nullptr;
    }
    static std::string file(const std::string& name) { return dir_->file(name); }
    static testsupport::RunResult tenscalc(const std::string& out, std::vector<std::string> extra,
                                           const std::string& bvec = "ms.bvec",
                                           const std::string& raw = "ms.nii",
                                           const std::string& bval = "ms.bval") {
        std::vector<std::string> args = {file(raw), file(out), "-bvec", file(bvec), "-bval",
                                         file(bval)};
        args.insert(args.end(), extra.begin(), extra.end());
        return runProgram("tenscalc", args, dir_->path());
    }
    static std::vector<unsigned char> map(const std::string& prefix, const std::string& name) {
        return readVolume(file(prefix + "_" + name + ".nii")).bytes;
    }

    static TempDir* dir_;
};
TempDir* MultiShell::dir_ = nullptr;

TEST_F(MultiShell, ChosenShellsGiveTheMapsOfACopyHoldingOnlyThem) {
    const auto all = tenscalc("all", {});
    ASSERT_EQ(all.status, 0) << all.err;
    EXPECT_NE(all.out.find("\nShells: b=0 x 1, b=1000 x 64, b=2000 x 64, b=3000 x 64\n"),
              std::string::npos);

    // The copy: the b0 and the 64 volumes at b = 1000, and their columns of the gradient files.
    const LoadedVolume raw = readVolume(file("ms.nii"));
    ASSERT_TRUE(raw.ok);
    VolumeSpec layout;
    layout.dims = {raw.dim[1], raw.dim[2], raw.dim[3], 65};
    layout.pixdim[0] = raw.pixdim[1];
    layout.pixdim[1] = raw.pixdim[2];
    layout.pixdim[2] = raw.pixdim[3];
    const size_t bytes = static_cast<size_t>(raw.dim[1]) * raw.dim[2] * raw.dim[3] * 2 * 65;
    writeVolume(file("copy.nii"), layout, raw.bytes.data(), bytes);
    writeFile(file("copy.bvec"), joined(wordsOf(readFile(file("ms.bvec"))), 65));
    writeFile(file("copy.bval"), joined(wordsOf(readFile(file("ms.bval"))), 65));
    ASSERT_EQ(tenscalc("copy", {}, "copy.bvec", "copy.nii", "copy.bval").status, 0);

    const auto chosen = tenscalc("chosen", {"-shells", "0,1000"});
    ASSERT_EQ(chosen.status, 0) << chosen.err;
    EXPECT_NE(chosen.out.find("Number of gradient directions: 64\n"), std::string::npos);
    for (const std::string name : {"b0", "dwi", "fa", "adc", "tensor", "e1", "v1", "fa_color"}) {
        SCOPED_TRACE(name);
        EXPECT_EQ(map("chosen", name), map("copy", name));
    }
    EXPECT_NE(chosen.out.find("\nShells fitted: 0,1000\n"), std::string::npos);
    const auto upTo = tenscalc("upto", {"-bmax", "1500"});
    ASSERT_EQ(upTo.status, 0) << upTo.err;
    EXPECT_EQ(map("upto", "tensor"), map("chosen", "tensor"));
    // The higher shells pull the diffusivities down: every shell fitted gives another MD.
    EXPECT_NE(map("chosen", "adc"), map("all", "adc"));

    const auto missing = tenscalc("none", {"-shells", "0,1500"});
    EXPECT_EQ(missing.status, 2);
    EXPECT_EQ(missing.err, "\n-shells: no shell at b=1500; the data hold b=0 x 1, b=1000 x 64, "
                           "b=2000 x 64, b=3000 x 64.\n");
    EXPECT_FALSE(testsupport::fileExists(file("none_fa.nii")));
}

TEST_F(MultiShell, B0DirectionsAreNotReadButAWeightedNanIsRefused) {
    auto lines = wordsOf(readFile(file("ms.bvec")));
    for (auto& line : lines) {
        line[0] = "nan";
    }
    writeFile(file("nan.bvec"), joined(lines, lines[0].size()));
    ASSERT_EQ(tenscalc("zeros", {"-shells", "0,1000"}).status, 0);
    const auto nan = tenscalc("nan", {"-shells", "0,1000"}, "nan.bvec");
    ASSERT_EQ(nan.status, 0) << nan.err;
    for (const std::string name : {"fa", "tensor", "v1"}) {
        EXPECT_EQ(map("nan", name), map("zeros", name)) << name;
    }

    lines[1][7] = "-inf";
    writeFile(file("bad.bvec"), joined(lines, lines[0].size()));
    const auto bad = tenscalc("bad", {}, "bad.bvec");
    EXPECT_EQ(bad.status, 1);
    EXPECT_NE(bad.err.find(file("bad.bvec") + " line 2 column 8: '-inf' is not a finite number "
                           "(volume 8 has b = 1000)"),
              std::string::npos)
        << bad.err;

    // With the threshold above the first shell, its volumes count as b0 volumes.
    const auto raised = tenscalc("raised", {"-bzero", "1500"});
    ASSERT_EQ(raised.status, 0) << raised.err;
    EXPECT_NE(raised.out.find("Shells: b=0 x 65, b=2000 x 64, b=3000 x 64\n"), std::string::npos);
    EXPECT_NE(raised.out.find("Number of b0's: 65\n"), std::string::npos);
}

TEST_F(MultiShell, AMaskFitsInsideAndClearsOutside) {
    ASSERT_EQ(tenscalc("full", {"-shells", "0,1000"}).status, 0);
    const LoadedVolume b0 = readVolume(file("full_b0.nii"));
    const std::vector<short> signal = b0.as<short>();
    // A mask of the voxels with signal, as a float volume with a stray 0.5 and a NaN.
    std::vector<float> mask(signal.size());
    for (size_t p = 0; p < mask.size(); ++p) {
        mask[p] = signal[p] > 300 ? (p % 7 == 0 ? 0.5f : 1.0f) : 0.0f;
    }
    mask[0] = std::nanf("");
    VolumeSpec layout;
    layout.dims = {b0.dim[1], b0.dim[2], b0.dim[3]};
    layout.datatype = 16;
    layout.pixdim[0] = layout.pixdim[1] = layout.pixdim[2] = b0.pixdim[1];
    writeVolume(file("mask.nii"), layout, mask);
    const auto masked = tenscalc("masked", {"-shells", "0,1000", "-mask", file("mask.nii")});
    ASSERT_EQ(masked.status, 0) << masked.err;
    for (const std::string name : {"b0", "fa", "adc", "e3"}) {
        SCOPED_TRACE(name);
        const LoadedVolume full = readVolume(file("full_" + name + ".nii"));
        const LoadedVolume inside = readVolume(file("masked_" + name + ".nii"));
        const size_t size = full.datatype == 4 ? 2 : 4;
        size_t differing = 0;
        size_t nonZeroOutside = 0;
        for (size_t p = 0; p < mask.size(); ++p) {
            const bool in = mask[p] != 0.0f && mask[p] == mask[p];
            const bool same = std::equal(full.bytes.begin() + p * size,
                                         full.bytes.begin() + (p + 1) * size,
                                         inside.bytes.begin() + p * size);
            const bool zero = std::all_of(inside.bytes.begin() + p * size,
                                          inside.bytes.begin() + (p + 1) * size,
                                          [](unsigned char c) { return c == 0; });
            differing += in && !same;
            nonZeroOutside += !in && !zero;
        }
        EXPECT_EQ(differing, 0U);
        EXPECT_EQ(nonZeroOutside, 0U);
    }

    layout.dims = {b0.dim[1], b0.dim[2], b0.dim[3] - 1};
    writeVolume(file("small.nii"), layout,
                std::vector<float>(mask.begin(), mask.end() - b0.dim[1] * b0.dim[2]));
    const auto other = tenscalc("other", {"-mask", file("small.nii")});
    EXPECT_EQ(other.status, 1);
    EXPECT_NE(other.err.find("is 32 x 32 x 19 voxels of 2 x 2 x 2 mm; the data " + file("ms.nii") +
                             " are 32 x 32 x 20 voxels of 2 x 2 x 2 mm"),
              std::string::npos)
        << other.err;
}

// DIPY's definitions on the same tensors, in a script of its own: nothing of ours is used.
constexpr const char* kDipyCheck = R"(
import sys
import numpy as np
import nibabel as nib
from dipy.reconst import dti

prefix = sys.argv[1]
load = lambda name: np.asarray(nib.load(prefix + "_" + name + ".nii").dataobj, dtype=np.float64)
t = load("tensor")  # xx, xy, yy, xz, yz, zz
q = np.zeros(t.shape[:3] + (3, 3))
for (r, c), plane in {(0, 0): 0, (0, 1): 1, (1, 1): 2, (0, 2): 3, (1, 2): 4, (2, 2): 5}.items():
    q[..., r, c] = q[..., c, r] = t[..., plane]
evals = np.linalg.eigvalsh(q)[..., ::-1]
inside = load("fa") > 0
expected = {"ad": dti.axial_diffusivity(evals), "rd": dti.radial_diffusivity(evals),
            "mode": dti.mode(q), "cl": dti.linearity(evals), "cp": dti.planarity(evals),
            "cs": dti.sphericity(evals)}
worst = 0.0
for name, values in expected.items():
    ours = load(name)
    worst = max(worst, np.abs(ours[inside] - values[inside]).max())
    assert not ours[~inside].any(), name + " is not 0 where FA is"
total = load("cl") + load("cp") + load("cs")
positive = inside & (evals[..., 2] > 0)
assert np.abs(total[positive] - 1).max() < 1e-5, "cl + cp + cs is not 1"
print("%d voxels, worst difference %.3g" % (inside.sum(), worst))
sys.exit(0 if worst < 1e-5 else 1)
)";

TEST_F(MultiShell, MetricsAgreeWithDipyOnTheSameTensors) {
    const auto run = tenscalc("metrics", {"-shells", "0,1000", "-metrics", "all"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.out.find("\nVoxels with a negative eigenvalue: "), std::string::npos);
    writeFile(file("check.py"), kDipyCheck);
    const std::string command = "/usr/bin/python3 '" + file("check.py") + "' '" +
                                file("metrics") + "' > '" + file("check.log") + "' 2>&1";
    EXPECT_EQ(std::system(command.c_str()), 0) << readFile(file("check.log"));

    // Only what is asked for, in the list's order of the definitions.
    const auto two = tenscalc("two", {"-shells", "0,1000", "-metrics", "rd,ad"});
    ASSERT_EQ(two.status, 0);
    EXPECT_TRUE(testsupport::fileExists(file("two_ad.nii")));
    EXPECT_FALSE(testsupport::fileExists(file("two_mode.nii")));
    EXPECT_EQ(readVolume(file("two_ad.nii")).bytes, map("metrics", "ad"));
    const auto wrong = tenscalc("wrong", {"-metrics", "ad,md"});
    EXPECT_EQ(wrong.status, 2);
    EXPECT_EQ(wrong.err, "\n-metrics must be one or more of ad, rd, mode, cl, cp, cs, all "
                         "separated by commas, not 'ad,md'.\n");
}

}  // namespace
