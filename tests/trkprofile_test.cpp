// trkprofile run end to end. On a phantom of known FA: the straight bundle's profile against the
// truth, the profile and figures against a computation in numpy that shares nothing with the
// program, and the selection against MRtrix3's tckedit. On small tracks written here: the rules
// of mask membership, sampling, orientation and weighting, the thread count, and wrong input.

#include <gtest/gtest.h>
#include <nifti1_io.h>
#include <sys/wait.h>

#include <array>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "CTrackReader.h"
#include "CTrackWriter.h"
#include "OwnedNiftiImage.h"
#include "PhantomTruth.h"
#include "TestSupport.h"

namespace {

using phantomtruth::Polyline;
using testsupport::fileExists;
using testsupport::readFile;
using testsupport::RunResult;
using testsupport::runProgram;
using testsupport::TempDir;
using testsupport::writeFile;

using testsupport::shell;

using Row = std::map<std::string, std::string>;

// The rows of a tab-separated table, by the names of its header line.
std::vector<Row> readTable(const std::string& path) {
    std::istringstream lines(readFile(path));
    std::vector<std::string> names;
    std::vector<Row> rows;
    for (std::string line; std::getline(lines, line);) {
        std::vector<std::string> cells;
        std::istringstream fields(line);
        for (std::string cell; std::getline(fields, cell, '\t');) {
            cells.push_back(cell);
        }
        if (names.empty()) {
            names = cells;
            continue;
        }
        EXPECT_EQ(cells.size(), names.size()) << line;
        Row row;
        for (size_t c = 0; c < cells.size() && c < names.size(); ++c) {
            row[names[c]] = cells[c];
        }
        rows.push_back(row);
    }
    return rows;
}

double number(const Row& row, const std::string& column) {
    const auto cell = row.find(column);
    if (cell == row.end()) {
        ADD_FAILURE() << "no column " << column;
        return std::nan("");
    }
    return cell->second == "NA" ? std::nan("") : std::stod(cell->second);
}

// The profile's means of one map, node by node.
std::vector<double> profileMeans(const std::string& path, const std::string& map) {
    std::vector<double> means;
    for (const Row& row : readTable(path)) {
        if (row.at("map") == map) {
            EXPECT_EQ(std::stoul(row.at("node")), means.size());
            means.push_back(number(row, "mean"));
        }
    }
    return means;
}

// ---- the phantom ---------------------------------------------------------------------------

constexpr int kNx = 32;
constexpr int kNy = 32;
constexpr int kNz = 20;
constexpr float kVoxel = 2.0f;
const char* const kMethods[] = {"-fact", "-rk2", "-tl", "-sl"};

size_t voxelIndex(int i, int j, int k) {
    return static_cast<size_t>(i + kNx * (j + kNy * k));
}

// Values as floats on the grid and with the header, orientation included, of model.
void writeLike(const std::string& model, const std::string& path, std::vector<float> values) {
    const OwnedNiftiImage image(nifti_image_read(model.c_str(), 0));
    ASSERT_TRUE(image) << model;
    ASSERT_EQ(image->nvox, values.size());
    image->datatype = DT_FLOAT32;
    image->nbyper = 4;
    image->scl_slope = 0.0f;
    image->scl_inter = 0.0f;
    ASSERT_EQ(nifti_set_filenames(image.get(), path.c_str(), 0, 1), 0);
    image->data = values.data();
    nifti_image_write(image.get());
    image->data = nullptr;  // the vector owns it
}

// A phantom with x stored right to left (so that its maps carry an orientation MRtrix3 reads),
// fitted and tracked by every method, with masks on its grid.
class PhantomBundle : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        dir_ = std::make_unique<TempDir>();
        for (const std::string prefix : {"p", "clean"}) {
            const std::string sigma = prefix == "p" ? "10" : "0";
            ASSERT_EQ(runProgram("dwiphantom", {file(prefix), "-las", "-sigma", sigma}).status, 0);
            const RunResult fit =
                runProgram("tenscalc", {file(prefix + ".nii"), file(prefix + "_dti"), "-bvec",
                                        file(prefix + ".bvec"), "-bval", file(prefix + ".bval")});
            ASSERT_EQ(fit.status, 0) << fit.err;
        }
        for (const char* method : kMethods) {
            const RunResult tracked = runProgram(
                "fiberwalk", {file("p_dti"), tracks(method), "-m", file("p_dti_fa.nii"), "0.2",
                              method});
            ASSERT_EQ(tracked.status, 0) << tracked.err;
        }
        WriteMasks();
    }
    static void TearDownTestSuite() { dir_.reset(); }

    static std::string file(const std::string& name) { return dir_->file(name); }
    static std::string tracks(const std::string& method) {
        return file("tracks" + method + ".trk");
    }
    static std::string fa() { return file("p_dti_fa.nii"); }

    // The straight bundle runs along x at y = 20.5 mm, z = 20 mm; a plane of voxels across it at
    // x = 40-42 mm, clear of the crossing bundle and of the arc.
    static std::vector<float> plane() {
        std::vector<float> mask(voxelIndex(0, 0, kNz), 0.0f);
        for (int j = 6; j <= 14; ++j) {
            for (int k = 0; k < kNz; ++k) {
                mask[voxelIndex(20, j, k)] = 1.0f;
            }
        }
        return mask;
    }
    static std::vector<float> ball() {
        std::vector<float> mask(voxelIndex(0, 0, kNz), 0.0f);
        for (int k = 0; k < kNz; ++k) {
            for (int j = 0; j < kNy; ++j) {
                for (int i = 0; i < kNx; ++i) {
                    const double r2 = (i - 14) * (i - 14) + (j - 10) * (j - 10) +
                                      (k - 9.5) * (k - 9.5);
                    mask[voxelIndex(i, j, k)] = r2 <= 6.5 ? 1.0f : 0.0f;
                }
            }
        }
        return mask;
    }
    // Near the right-hand end of the straight bundle.
    static std::vector<float> endBox() {
        std::vector<float> mask(voxelIndex(0, 0, kNz), 0.0f);
        for (int k = 7; k < 13; ++k) {
            for (int j = 6; j < 15; ++j) {
                for (int i = 24; i < 28; ++i) {
                    mask[voxelIndex(i, j, k)] = 1.0f;
                }
            }
        }
        return mask;
    }
    // Where the straight and the crossing bundle share voxels (truth label 4).
    static std::vector<float> overlap() {
        const phantomtruth::Volume labels = phantomtruth::ReadVolume(file("p_truth_wm.nii"));
        std::vector<float> mask(labels.voxels());
        for (size_t v = 0; v < mask.size(); ++v) {
            mask[v] = labels.at(v) == 4 ? 1.0f : 0.0f;
        }
        return mask;
    }

  private:
    static void WriteMasks() {
        writeLike(fa(), file("plane.nii"), plane());
        writeLike(fa(), file("ball.nii"), ball());
        writeLike(fa(), file("endbox.nii"), endBox());
        writeLike(fa(), file("overlap.nii"), overlap());
        // The FA a tensor fit can show. Where the bundles overlap, the truth is the FA of the
        // two fibres' mean tensor, which no single tensor fitted to their signal has; there the
        // FA of the fit to the noise-free signal stands for it. Everywhere else that fit is the
        // truth (checked here), so the reference is the truth itself.
        const phantomtruth::Volume truth = phantomtruth::ReadVolume(file("p_truth_fa.nii"));
        const phantomtruth::Volume noiseFree = phantomtruth::ReadVolume(file("clean_dti_fa.nii"));
        const std::vector<float> inOverlap = overlap();
        std::vector<float> reference(truth.voxels());
        for (size_t v = 0; v < reference.size(); ++v) {
            if (inOverlap[v] == 0.0f) {
                ASSERT_NEAR(noiseFree.at(v), truth.at(v), 1e-3) << "voxel " << v;
            }
            reference[v] = static_cast<float>(inOverlap[v] != 0.0f ? noiseFree.at(v) : truth.at(v));
        }
        writeLike(fa(), file("reference_fa.nii"), reference);
    }

    static std::unique_ptr<TempDir> dir_;
};

std::unique_ptr<TempDir> PhantomBundle::dir_;

TEST_F(PhantomBundle, StraightBundleProfileRecoversTheTrueFa) {
    const double bundleFa = phantomtruth::FractionalAnisotropy(1.7e-3, 0.35e-3, 0.35e-3);
    for (const char* method : kMethods) {
        SCOPED_TRACE(method);
        const std::string stats = file(std::string("stats") + method + ".tsv");
        const std::string profile = file(std::string("profile") + method + ".tsv");
        const RunResult run = runProgram(
            "trkprofile", {tracks(method), "-include", file("plane.nii"), "-map", "fa=" + fa(),
                           "-map", "truth=" + file("reference_fa.nii"), "-stats", stats,
                           "-profile", profile, "-bundle", "straight"});
        ASSERT_EQ(run.status, 0) << run.err;
        const std::vector<Row> figures = readTable(stats);
        ASSERT_EQ(figures.size(), 1U);
        EXPECT_EQ(figures[0].at("bundle"), "straight");
        // The bundle holds about a hundred voxels of tracks; the plane misses the others.
        EXPECT_GT(number(figures[0], "tracks"), 200);
        EXPECT_LT(number(figures[0], "tracks"), 400);
        EXPECT_NEAR(number(figures[0], "fa_mean"), number(figures[0], "truth_mean"), 0.01);

        const std::vector<double> measured = profileMeans(profile, "fa");
        const std::vector<double> truth = profileMeans(profile, "truth");
        ASSERT_EQ(measured.size(), 100U);
        ASSERT_EQ(truth.size(), 100U);
        for (size_t k = 0; k < measured.size(); ++k) {
            EXPECT_NEAR(measured[k], truth[k], 0.02) << "node " << k;
        }
        // Halfway along, the tracks lie inside the bundle: its FA, less a little where the
        // interpolation reaches the tissue around it.
        EXPECT_NEAR(truth[50], bundleFa, 0.015);
    }
}

// numpy and nibabel, from the published .trk layout and NIfTI: the selected tracks turned,
// resampled, sampled (trilinear, clamped to the edge voxels) and averaged; every figure of the
// table. Prints the worst difference relative to each map's scale.
constexpr const char* kIndependent = R"(
import sys
import numpy as np
import nibabel as nib

tracks_path, stats_path, profile_path, nodes, orient, weighting = sys.argv[1:7]
nodes = int(nodes)
maps = [a.split("=", 1) for a in sys.argv[7:]]

raw = open(tracks_path, "rb").read()
dims = np.frombuffer(raw, "<i2", 3, 6).astype(int)
sizes = np.frombuffer(raw, "<f4", 3, 12).astype(np.float64)
scalars = int(np.frombuffer(raw, "<i2", 1, 36)[0])
properties = int(np.frombuffer(raw, "<i2", 1, 238)[0])
tracks = []
offset = 1000
while offset < len(raw):
    n = int(np.frombuffer(raw, "<i4", 1, offset)[0])
    offset += 4
    record = np.frombuffer(raw, "<f4", n * (3 + scalars), offset).reshape(n, 3 + scalars)
    tracks.append(record[:, :3].astype(np.float64))
    offset += 4 * (n * (3 + scalars) + properties)
count = len(tracks)

def sample(volume, points):
    shape = np.array(volume.shape[:3])
    u = np.clip(points / sizes - 0.5, 0, shape - 1)
    low = np.minimum(np.floor(u).astype(int), np.maximum(shape - 2, 0))
    high = np.minimum(low + 1, shape - 1)
    f = u - low
    value = np.zeros(len(points))
    for corner in range(8):
        upper = [(corner >> a) & 1 for a in range(3)]
        index = [high[:, a] if upper[a] else low[:, a] for a in range(3)]
        weight = np.prod([f[:, a] if upper[a] else 1 - f[:, a] for a in range(3)], axis=0)
        value += weight * volume[index[0], index[1], index[2]]
    return value

def resample(p):
    s = np.concatenate([[0.0], np.cumsum(np.linalg.norm(np.diff(p, axis=0), axis=1))])
    t = np.linspace(0.0, s[-1], nodes)
    return np.stack([np.interp(t, s, p[:, a]) for a in range(3)], axis=1)

lengths = np.array([np.linalg.norm(np.diff(p, axis=0), axis=1).sum() for p in tracks])
if orient == "longest":
    longest = tracks[int(np.argmax(lengths))]
    turn = [np.sum((p[0] - longest[-1]) ** 2) < np.sum((p[0] - longest[0]) ** 2) for p in tracks]
else:
    mask = np.asanyarray(nib.load(orient).dataobj)
    centre = (np.argwhere(mask != 0) + 0.5).mean(axis=0) * sizes
    turn = [np.sum((p[-1] - centre) ** 2) < np.sum((p[0] - centre) ** 2) for p in tracks]
at_nodes = [resample(p)[::-1] if t else resample(p) for p, t in zip(tracks, turn)]

weights = np.full((nodes, count), 1.0 / max(count, 1))
if weighting == "gaussian":
    for k in range(nodes):
        x = np.array([n[k] for n in at_nodes])
        d = x - x.mean(axis=0)
        w = np.exp(-0.5 * np.einsum("ti,ij,tj->t", d, np.linalg.inv(np.cov(x.T)), d))
        weights[k] = w / w.sum()

worst = 0.0
def compare(what, ours, theirs, scale):
    global worst
    difference = abs(float(ours) - theirs) / scale
    if difference > 1e-4:
        print("%s: trkprofile %s, numpy %.9g" % (what, ours, theirs))
    worst = max(worst, difference)

table = [line.rstrip("\n").split("\t") for line in open(profile_path)]
assert table[0] == ["bundle", "node", "map", "mean", "sd", "tracks"], table[0]
rows = {(r[2], int(r[1])): r for r in table[1:]}
assert len(rows) == nodes * len(maps) == len(table) - 1
header, row = [line.rstrip("\n").split("\t") for line in open(stats_path)]
stats = dict(zip(header, row))
assert int(stats["tracks"]) == count
compare("mean_length_mm", stats["mean_length_mm"], lengths.mean(), lengths.mean())
inside = set()
for p in tracks:
    cells = np.floor(p / sizes).astype(int)
    for c in cells[np.all((cells >= 0) & (cells < dims), axis=1)]:
        inside.add(tuple(c))
assert int(stats["voxels"]) == len(inside), (stats["voxels"], len(inside))

for name, path in maps:
    volume = nib.load(path).get_fdata()
    values = np.array([sample(volume, n) for n in at_nodes])
    mean = (weights.T * values).sum(axis=0)
    sd = np.sqrt((weights.T * (values - mean) ** 2).sum(axis=0))
    scale = np.abs(mean).max()
    for k in range(nodes):
        r = rows[(name, k)]
        assert int(r[5]) == count
        compare("%s node %d mean" % (name, k), r[3], mean[k], scale)
        compare("%s node %d sd" % (name, k), r[4], sd[k], scale)
    points = [sample(volume, p) for p in tracks]
    every = np.concatenate(points)
    compare(name + "_mean", stats[name + "_mean"], every.mean(), scale)
    compare(name + "_sd", stats[name + "_sd"], every.std(), scale)
    compare(name + "_median", stats[name + "_median"], np.median(every), scale)
    compare(name + "_mean_of_tracks", stats[name + "_mean_of_tracks"],
            np.mean([v.mean() for v in points]), scale)
print("tracks %d worst %.3g" % (count, worst))
sys.exit(0 if worst <= 1e-4 else 1)
)";

TEST_F(PhantomBundle, ProfileAndFiguresEqualAnIndependentComputation) {
    writeFile(file("independent.py"), kIndependent);
    struct Case {
        std::vector<std::string> options;
        std::string orientation;  // the mask node 0 lies nearest, or "longest"
        std::string weights;
    };
    const std::vector<Case> cases = {
        {{"-include", file("plane.nii")}, file("plane.nii"), "uniform"},
        {{"-length", "20", "1000"}, "longest", "gaussian"},
        {{"-ends", file("endbox.nii"), "-exclude", file("overlap.nii")}, file("endbox.nii"),
         "uniform"},
    };
    const std::vector<std::string> maps = {"fa=" + fa(), "adc=" + file("p_dti_adc.nii")};
    for (const char* method : {"-fact", "-tl"}) {
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(method) + " " + c.options[0] + " " + c.weights);
            std::vector<std::string> args = {tracks(method), "-o", file("selected.trk"),
                                             "-stats", file("s.tsv"), "-profile", file("p.tsv"),
                                             "-nodes", "40", "-weights", c.weights};
            args.insert(args.end(), c.options.begin(), c.options.end());
            for (const std::string& map : maps) {
                args.insert(args.end(), {"-map", map});
            }
            const RunResult run = runProgram("trkprofile", args);
            ASSERT_EQ(run.status, 0) << run.err;
            const std::string log = file("independent.log");
            const int status =
                shell("/usr/bin/python3 '" + file("independent.py") + "' '" +
                      file("selected.trk") + "' '" + file("s.tsv") + "' '" + file("p.tsv") +
                      "' 40 '" + c.orientation + "' " + c.weights + " '" + maps[0] + "' '" +
                      maps[1] + "' > '" + log + "' 2>&1");
            EXPECT_EQ(status, 0) << readFile(log);
            EXPECT_EQ(readFile(log).rfind("tracks ", 0), 0U) << readFile(log);
            EXPECT_EQ(readFile(log).rfind("tracks 0 ", 0), std::string::npos);
        }
    }
}

TEST_F(PhantomBundle, ATckFileIsMeasuredOnTheGridOfItsFirstMaskOrMap) {
    const std::string tck = file("fact.tck");
    ASSERT_EQ(runProgram("trkconvert", {tracks("-fact"), tck}).status, 0);
    for (const std::string& input : {tracks("-fact"), tck}) {
        const RunResult run = runProgram(
            "trkprofile", {input, "-include", file("plane.nii"), "-map", "fa=" + fa(), "-stats",
                           file(input == tck ? "tck.tsv" : "trk.tsv"), "-bundle", "b"});
        ASSERT_EQ(run.status, 0) << run.err;
    }
    const Row trk = readTable(file("trk.tsv")).at(0);
    const Row fromTck = readTable(file("tck.tsv")).at(0);
    // The points come back through the world to within float rounding.
    EXPECT_EQ(trk.at("tracks"), fromTck.at("tracks"));
    EXPECT_EQ(trk.at("voxels"), fromTck.at("voxels"));
    for (const char* column : {"mean_length_mm", "fa_mean", "fa_median", "fa_sd"}) {
        EXPECT_NEAR(number(trk, column), number(fromTck, column), 1e-4) << column;
    }
}

// ---- the selection beside MRtrix3 ----------------------------------------------------------

bool inMask(const std::vector<float>& mask, const std::array<double, 3>& p) {
    int index[3];
    const int dims[3] = {kNx, kNy, kNz};
    for (int a = 0; a < 3; ++a) {
        const double cell = std::floor(p[a] / kVoxel);
        if (cell < 0 || cell >= dims[a]) {
            return false;
        }
        index[a] = static_cast<int>(cell);
    }
    return mask[voxelIndex(index[0], index[1], index[2])] != 0.0f;
}

// A point within 0.1 mm of a face where a mask starts or stops: tools may round it either way.
bool grazes(const Polyline& track, const std::vector<const std::vector<float>*>& masks) {
    for (const auto& point : track) {
        for (const std::vector<float>* mask : masks) {
            for (int a = 0; a < 3; ++a) {
                for (const double shift : {-0.1, 0.1}) {
                    std::array<double, 3> moved = point;
                    moved[a] += shift;
                    if (inMask(*mask, moved) != inMask(*mask, point)) {
                        return true;
                    }
                }
            }
        }
    }
    return false;
}

// Which of all the tracks a track file holds (matched by their points to 0.01 mm).
std::vector<int> indicesOf(const std::vector<Polyline>& all, const std::string& path) {
    std::vector<int> found;
    for (const Polyline& track : phantomtruth::ReadTracks(path)) {
        int match = -1;
        for (size_t t = 0; t < all.size() && match < 0; ++t) {
            if (all[t].size() != track.size()) {
                continue;
            }
            bool same = true;
            for (size_t i = 0; i < track.size() && same; ++i) {
                for (int a = 0; a < 3; ++a) {
                    same = same && std::fabs(all[t][i][a] - track[i][a]) < 0.01;
                }
            }
            match = same ? static_cast<int>(t) : -1;
        }
        EXPECT_GE(match, 0) << "a track of " << path << " is not in the input";
        found.push_back(match);
    }
    return found;
}

TEST_F(PhantomBundle, SelectionAgreesWithTckedit) {
    if (shell("command -v tckedit > /dev/null 2>&1") != 0) {
        GTEST_SKIP() << "MRtrix3's tckedit is not installed";
    }
    const std::vector<float> planeMask = plane();
    const std::vector<float> ballMask = ball();
    const std::vector<float> endMask = endBox();
    const std::vector<float> overlapMask = overlap();
    struct Case {
        std::vector<std::string> ours;
        std::vector<std::string> tckedit;
        std::vector<const std::vector<float>*> masks;
    };
    const std::string p = file("plane.nii");
    const std::string b = file("ball.nii");
    const std::string e = file("endbox.nii");
    const std::string o = file("overlap.nii");
    const std::vector<Case> cases = {
        {{"-include", p}, {"-include", p}, {&planeMask}},
        {{"-include", b}, {"-include", b}, {&ballMask}},
        {{"-exclude", o}, {"-exclude", o}, {&overlapMask}},
        {{"-include", p, "-include", b, "-exclude", o},
         {"-include", p, "-include", b, "-exclude", o},
         {&planeMask, &ballMask, &overlapMask}},
        {{"-ends", e}, {"-include", e, "-ends_only"}, {&endMask}},
    };
    int compared = 0;
    int differing = 0;
    for (const char* method : kMethods) {
        const std::string tck = file(std::string("mr") + method + ".tck");
        ASSERT_EQ(runProgram("trkconvert", {tracks(method), tck}).status, 0);
        const std::vector<Polyline> all = phantomtruth::ReadTracks(tracks(method));
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(method) + " " + c.ours[0] + " " + c.ours[1]);
            std::vector<std::string> ours = {tracks(method), "-o", file("ours.trk")};
            ours.insert(ours.end(), c.ours.begin(), c.ours.end());
            const RunResult run = runProgram("trkprofile", ours);
            ASSERT_EQ(run.status, 0) << run.err;
            std::string command = "tckedit -quiet -force '" + tck + "' '" + file("theirs.tck") + "'";
            for (const std::string& word : c.tckedit) {
                command += " '" + word + "'";
            }
            ASSERT_EQ(shell(command), 0) << command;
            ASSERT_EQ(runProgram("trkconvert",
                                 {file("theirs.tck"), file("theirs.trk"), "-ref", fa()})
                          .status,
                      0);
            const std::vector<int> mine = indicesOf(all, file("ours.trk"));
            const std::vector<int> theirs = indicesOf(all, file("theirs.trk"));
            EXPECT_FALSE(mine.empty());
            std::vector<int> inMine(all.size(), 0);
            std::vector<int> inTheirs(all.size(), 0);
            for (const int t : mine) {
                inMine[static_cast<size_t>(t)] = 1;
            }
            for (const int t : theirs) {
                inTheirs[static_cast<size_t>(t)] = 1;
            }
            int here = 0;
            for (size_t t = 0; t < all.size(); ++t) {
                if (inMine[t] != inTheirs[t]) {
                    ++here;
                    EXPECT_TRUE(grazes(all[t], c.masks))
                        << "track " << t << " is " << (inMine[t] ? "only ours" : "only tckedit's")
                        << " and keeps clear of every mask's faces";
                }
            }
            EXPECT_LE(here, std::max(2, static_cast<int>(mine.size()) / 50))
                << mine.size() << " ours, " << theirs.size() << " tckedit's";
            differing += here;
            compared += static_cast<int>(mine.size());
        }
    }
    std::printf("tckedit: %d selected tracks compared, %d differ (all grazing a mask)\n", compared,
                differing);
}

// ---- small tracks written here -------------------------------------------------------------

using Track = std::vector<std::array<float, 3>>;

// Tracks on a grid of dim^3 voxels of 2 mm, each with its number as a value per track.
void writeTracks(const std::string& path, const std::vector<Track>& tracks, int dim = 4) {
    TRACK_HEADER header = TRACK_HEADER::MakeDefault();
    for (int a = 0; a < 3; ++a) {
        header.dim[a] = static_cast<std::int16_t>(dim);
        header.voxel_size[a] = 2.0f;
        header.voxel_to_ras[a][a] = 2.0f;
    }
    header.voxel_to_ras[3][3] = 1.0f;
    std::memcpy(header.voxel_order, "RAS", 4);
    header.property_count = 1;
    std::strcpy(header.property_names[0], "number");
    CTrackWriter writer;
    ASSERT_TRUE(writer.Initialize(path.c_str(), header));
    for (size_t t = 0; t < tracks.size(); ++t) {
        std::vector<float> record;
        for (const auto& point : tracks[t]) {
            record.insert(record.end(), point.begin(), point.end());
        }
        record.push_back(static_cast<float>(t));
        ASSERT_TRUE(writer.WriteNextTrack(static_cast<int>(tracks[t].size()), record.data()));
    }
    ASSERT_TRUE(writer.Close());
}

// The numbers of the tracks in a file written by writeTracks.
std::vector<int> numbersIn(const std::string& path) {
    CTrackReader reader;
    TRACK_HEADER header{};
    EXPECT_TRUE(reader.Open(path.c_str(), &header));
    EXPECT_EQ(header.property_count, 1);
    std::vector<int> numbers;
    for (int n = 0; reader.GetNextPointCount(&n);) {
        std::vector<float> record(static_cast<size_t>(n) * 3 + 1);
        EXPECT_TRUE(reader.GetNextRawData(n, record.data()));
        numbers.push_back(static_cast<int>(record.back()));
    }
    return numbers;
}

// A float volume of dim^3 voxels of voxel mm, value(i, j, k) in each.
template <typename Value>
void writeMap(const std::string& path, Value value, int dim = 4, float voxel = 2.0f,
              int depth = -1) {
    testsupport::VolumeSpec layout;
    layout.dims = {dim, dim, depth < 0 ? dim : depth};
    layout.datatype = DT_FLOAT32;
    layout.pixdim[0] = layout.pixdim[1] = layout.pixdim[2] = voxel;
    std::vector<float> values;
    for (int k = 0; k < layout.dims[2]; ++k) {
        for (int j = 0; j < dim; ++j) {
            for (int i = 0; i < dim; ++i) {
                values.push_back(static_cast<float>(value(i, j, k)));
            }
        }
    }
    testsupport::writeVolume(path, layout, values);
}

TEST(TrkprofileRules, APointIsInTheMaskWhenTheVoxelHoldingItIs) {
    TempDir dir;
    // Voxel (1, 1, 1) spans [2, 4) mm along each axis.
    writeMap(dir.file("mask.nii"), [](int i, int j, int k) { return i == 1 && j == 1 && k == 1; });
    const std::vector<Track> tracks = {
        {{2.0f, 2.0f, 2.0f}},                           // 0: the voxel's lower corner: in
        {{1.999f, 3.0f, 3.0f}, {4.0f, 3.0f, 3.0f}},     // 1: both sides, no point in it: out
        {{3.0f, 3.0f, 3.0f}, {7.0f, 7.0f, 7.0f}},       // 2: first point in
        {{-0.5f, 3.0f, 3.0f}, {9.0f, 3.0f, 3.0f}},      // 3: outside the grid: out
        {{1.0f, 1.0f, 1.0f}, {3.9f, 3.9f, 3.9f}, {5.0f, 5.0f, 5.0f}},  // 4: middle point in
        {},                                             // 5: no points: never selected
    };
    writeTracks(dir.file("t.trk"), tracks);
    auto selected = [&](const std::vector<std::string>& options) {
        std::vector<std::string> args = {dir.file("t.trk"), "-o", dir.file("out.trk")};
        args.insert(args.end(), options.begin(), options.end());
        const RunResult run = runProgram("trkprofile", args);
        EXPECT_EQ(run.status, 0) << run.err;
        return numbersIn(dir.file("out.trk"));
    };
    EXPECT_EQ(selected({"-include", dir.file("mask.nii")}), (std::vector<int>{0, 2, 4}));
    EXPECT_EQ(selected({"-exclude", dir.file("mask.nii")}), (std::vector<int>{1, 3}));
    EXPECT_EQ(selected({"-ends", dir.file("mask.nii")}), (std::vector<int>{0, 2}));
    // Every include mask must be passed through, in whichever order they are given.
    writeMap(dir.file("far.nii"), [](int i, int j, int k) { return i == 3 && j == 3 && k == 3; });
    EXPECT_EQ(selected({"-include", dir.file("mask.nii"), "-include", dir.file("far.nii")}),
              (std::vector<int>{2}));
    EXPECT_EQ(selected({"-include", dir.file("far.nii"), "-include", dir.file("mask.nii")}),
              (std::vector<int>{2}));
    // Lengths: 0, 2.001, 6.93, 9.5 and 6.93 mm.
    EXPECT_EQ(selected({"-length", "2", "9"}), (std::vector<int>{1, 2, 4}));
    EXPECT_EQ(selected({"-length", "0", "2.0009"}), (std::vector<int>{0}));
}

TEST(TrkprofileRules, MapsAreInterpolatedBetweenVoxelCentresAndKeepTheirEdgesOutside) {
    TempDir dir;
    // Linear in the voxel index, so that trilinear interpolation gives it exactly: a point at
    // x mm samples index x/2 - 0.5, held between 0 and 3.
    writeMap(dir.file("map.nii"), [](int i, int j, int k) { return i + 10 * j + 100 * k; });
    writeTracks(dir.file("t.trk"), {{{1.0f, 1.0f, 1.0f},        // index (0, 0, 0): 0
                                     {4.0f, 5.0f, 6.0f},        // (1.5, 2, 2.5): 271.5
                                     {-3.0f, 20.0f, 3.0f},      // (0, 3, 1): 130
                                     {7.5f, 0.2f, 7.9f}}});     // (3, 0, 3): 303
    // The same map stored as 16-bit integers with a scaling: its values are the scaled ones.
    testsupport::VolumeSpec stored;
    stored.dims = {4, 4, 4};
    stored.datatype = DT_INT16;
    stored.pixdim[0] = stored.pixdim[1] = stored.pixdim[2] = 2.0f;
    stored.sclSlope = 0.5f;
    stored.sclInter = 5.0f;
    std::vector<std::int16_t> raw;
    for (int k = 0; k < 4; ++k) {
        for (int j = 0; j < 4; ++j) {
            for (int i = 0; i < 4; ++i) {
                raw.push_back(static_cast<std::int16_t>(2 * (i + 10 * j + 100 * k) - 10));
            }
        }
    }
    testsupport::writeVolume(dir.file("scaled.nii"), stored, raw);
    const RunResult run = runProgram(
        "trkprofile", {dir.file("t.trk"), "-map", "v=" + dir.file("map.nii"), "-map",
                       "scaled=" + dir.file("scaled.nii"), "-stats", dir.file("s.tsv")});
    ASSERT_EQ(run.status, 0) << run.err;
    const Row row = readTable(dir.file("s.tsv")).at(0);
    EXPECT_EQ(row.at("bundle"), "t");
    EXPECT_DOUBLE_EQ(number(row, "v_mean"), 176.125);
    EXPECT_DOUBLE_EQ(number(row, "v_median"), 200.75);
    const double squares = (0.0 * 0.0 + 271.5 * 271.5 + 130.0 * 130.0 + 303.0 * 303.0) / 4;
    EXPECT_NEAR(number(row, "v_sd"), std::sqrt(squares - 176.125 * 176.125), 1e-3);
    EXPECT_DOUBLE_EQ(number(row, "v_mean_of_tracks"), 176.125);
    EXPECT_DOUBLE_EQ(number(row, "scaled_mean"), 176.125);
    EXPECT_DOUBLE_EQ(number(row, "scaled_median"), 200.75);
    // The points lie in 3 voxels of the grid; (-3, 20, 3) is outside it.
    EXPECT_EQ(row.at("voxels"), "3");
}

TEST(TrkprofileRules, TracksAreTurnedToRunTheSameWay) {
    TempDir dir;
    writeMap(dir.file("map.nii"), [](int i, int, int) { return i; });
    writeMap(dir.file("right.nii"), [](int i, int, int) { return i == 3; });
    // Along x from 1 to 7 mm and back: four nodes at indices 0, 1, 2, 3. The first track is
    // the longest.
    writeTracks(dir.file("t.trk"), {{{1.0f, 3.0f, 3.0f}, {7.01f, 3.0f, 3.0f}},
                                    {{7.0f, 3.0f, 3.0f}, {1.0f, 3.0f, 3.0f}},
                                    {{1.0f, 3.5f, 3.0f}, {7.0f, 3.5f, 3.0f}}});
    auto profile = [&](const std::vector<std::string>& options) {
        std::vector<std::string> args = {dir.file("t.trk"), "-map", "x=" + dir.file("map.nii"),
                                         "-profile", dir.file("p.tsv"), "-nodes", "4"};
        args.insert(args.end(), options.begin(), options.end());
        const RunResult run = runProgram("trkprofile", args);
        EXPECT_EQ(run.status, 0) << run.err;
        return profileMeans(dir.file("p.tsv"), "x");
    };
    const std::vector<double> longest = profile({});
    const std::vector<double> expected = {0.0, 1.0, 2.0, 3.0};
    ASSERT_EQ(longest.size(), 4U);
    for (size_t k = 0; k < 4; ++k) {
        EXPECT_NEAR(longest[k], expected[k], 0.01) << k;
    }
    // Node 0 at the end nearest the -ends mask (x = 6-8 mm), or the first include mask.
    for (const char* option : {"-ends", "-include"}) {
        const std::vector<double> fromRight = profile({option, dir.file("right.nii")});
        ASSERT_EQ(fromRight.size(), 4U);
        for (size_t k = 0; k < 4; ++k) {
            EXPECT_NEAR(fromRight[k], expected[3 - k], 0.01) << option << " " << k;
        }
    }
    const std::vector<Row> rows = readTable(dir.file("p.tsv"));
    ASSERT_EQ(rows.size(), 4U);
    EXPECT_EQ(rows[0].at("bundle"), "t");
    EXPECT_EQ(rows[0].at("tracks"), "3");
    EXPECT_NEAR(number(rows[0], "sd"), 0.0, 0.01);
}

TEST(TrkprofileRules, GaussianWeightsLetTheBundleCoreCountMost) {
    TempDir dir;
    writeMap(dir.file("map.nii"), [](int, int j, int) { return j; }, 8);
    // Four tracks along x around y = 5 mm (index 2) and one stray at y = 11 mm (index 5), all in
    // one plane: the node positions' covariance is singular and needs its ridge.
    std::vector<Track> tracks;
    for (const float y : {4.8f, 5.0f, 5.1f, 5.2f, 11.0f}) {
        tracks.push_back({{1.0f, y, 3.0f}, {15.0f, y, 3.0f}});
    }
    writeTracks(dir.file("t.trk"), tracks, 8);
    auto middle = [&](const char* weights) {
        const RunResult run =
            runProgram("trkprofile", {dir.file("t.trk"), "-map", "y=" + dir.file("map.nii"),
                                      "-profile", dir.file("p.tsv"), "-nodes", "5", "-weights",
                                      weights});
        EXPECT_EQ(run.status, 0) << run.err;
        const std::vector<double> means = profileMeans(dir.file("p.tsv"), "y");
        return means.size() == 5 ? means[2] : std::nan("");
    };
    const double core = (4.8 + 5.0 + 5.1 + 5.2) / 4 / 2 - 0.5;
    const double uniform = middle("uniform");
    const double gaussian = middle("gaussian");
    EXPECT_NEAR(uniform, ((4.8 + 5.0 + 5.1 + 5.2 + 11.0) / 5) / 2 - 0.5, 1e-5);
    EXPECT_TRUE(std::isfinite(gaussian));
    EXPECT_LT(gaussian, uniform - 0.25 * (uniform - core));
    EXPECT_GT(gaussian, core);
}

TEST(TrkprofileRuns, EveryThreadCountWritesTheSameBytes) {
    TempDir dir;
    ASSERT_EQ(runProgram("dwiphantom", {dir.file("p")}).status, 0);
    ASSERT_EQ(runProgram("tenscalc", {dir.file("p.nii"), dir.file("t"), "-gm",
                                      dir.file("p_grad.txt")})
                  .status,
              0);
    // Random seeds in every voxel make several windows of tracks.
    ASSERT_EQ(runProgram("fiberwalk", {dir.file("t"), dir.file("t.trk"), "-m",
                                       dir.file("t_fa.nii"), "0.2", "-rseed", "3", "-seed", "5"})
                  .status,
              0);
    std::string first;
    for (const char* threads : {"1", "2", "3"}) {
        SCOPED_TRACE(threads);
        const std::string out = dir.file(std::string("n") + threads);
        const RunResult run = runProgram(
            "trkprofile",
            {dir.file("t.trk"), "-length", "10", "1000", "-map", "fa=" + dir.file("t_fa.nii"),
             "-map", "adc=" + dir.file("t_adc.nii"), "-stats", out + "_s.tsv", "-profile",
             out + "_p.tsv", "-weights", "gaussian", "-o", out + ".trk", "-nthreads", threads});
        ASSERT_EQ(run.status, 0) << run.err;
        const std::string bytes = readFile(out + "_s.tsv") + readFile(out + "_p.tsv") +
                                  readFile(out + ".trk");
        if (first.empty()) {
            first = bytes;
            EXPECT_GT(std::stoi(readTable(out + "_s.tsv").at(0).at("tracks")), 1100);
        } else {
            EXPECT_TRUE(bytes == first);
        }
    }
}

TEST(TrkprofileRuns, NoTrackSelectedIsAnEmptyResultNotAFailure) {
    TempDir dir;
    writeMap(dir.file("all.nii"), [](int, int, int) { return 1; });
    writeTracks(dir.file("t.trk"), {{{1.0f, 1.0f, 1.0f}, {5.0f, 5.0f, 5.0f}}});
    const RunResult run = runProgram(
        "trkprofile", {dir.file("t.trk"), "-exclude", dir.file("all.nii"), "-map",
                       "fa=" + dir.file("all.nii"), "-stats", dir.file("s.tsv"), "-profile",
                       dir.file("p.tsv"), "-nodes", "3", "-o", dir.file("none.trk")});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.out.find("Selected 0 of 1 tracks"), std::string::npos) << run.out;
    EXPECT_EQ(readFile(dir.file("s.tsv")),
              "bundle\ttracks\tmean_length_mm\tvoxels\tfa_mean\tfa_sd\tfa_median\t"
              "fa_mean_of_tracks\nt\t0\tNA\t0\tNA\tNA\tNA\tNA\n");
    EXPECT_EQ(readFile(dir.file("p.tsv")),
              "bundle\tnode\tmap\tmean\tsd\ttracks\nt\t0\tfa\tNA\tNA\t0\nt\t1\tfa\tNA\tNA\t0\n"
              "t\t2\tfa\tNA\tNA\t0\n");
    EXPECT_TRUE(numbersIn(dir.file("none.trk")).empty());
}

TEST(TrkprofileRuns, WrongInputStopsWithTheFileOrTheOptionNamed) {
    TempDir dir;
    writeTracks(dir.file("t.trk"), {{{1.0f, 1.0f, 1.0f}, {5.0f, 5.0f, 5.0f}}});
    writeMap(dir.file("mask.nii"), [](int, int, int) { return 1; });
    writeMap(dir.file("thin.nii"), [](int, int, int) { return 1; }, 4, 2.0f, 3);
    writeMap(dir.file("fine.nii"), [](int, int, int) { return 1; }, 4, 1.0f);
    std::string cut = readFile(dir.file("t.trk"));
    cut.resize(cut.size() - 6);
    writeFile(dir.file("cut.trk"), cut);
    const std::string t = dir.file("t.trk");
    struct Case {
        std::vector<std::string> args;
        int status;
        std::vector<std::string> said;  // in standard error, in this order
    };
    const std::vector<Case> cases = {
        {{t, "-include", dir.file("thin.nii")}, 1,
         {dir.file("thin.nii"), "its dimensions are 4x4x3, the tracks' 4x4x4"}},
        {{t, "-map", "fa=" + dir.file("fine.nii")}, 1,
         {dir.file("fine.nii"), "its voxel sizes are 1 x 1 x 1 mm, the tracks' 2 x 2 x 2 mm"}},
        {{dir.file("none.trk"), "-stats", dir.file("s.tsv")}, 1, {dir.file("none.trk")}},
        {{t, "-exclude", dir.file("none.nii")}, 1, {dir.file("none.nii"), "No such file"}},
        {{dir.file("cut.trk"), "-stats", dir.file("s.tsv")}, 1,
         {dir.file("cut.trk"), "truncated or corrupt at track 1"}},
        {{t, "-stats", dir.file("no/folder/s.tsv")}, 1, {dir.file("no/folder/s.tsv")}},
        {{t, "-map", dir.file("mask.nii")}, 2, {"-map must be NAME=FILE", dir.file("mask.nii")}},
        {{t, "-map", "f a=" + dir.file("mask.nii")}, 2, {"-map must be NAME=FILE"}},
        {{t, "-map", "a=" + dir.file("mask.nii"), "-map", "a=" + t}, 2, {"named 'a'"}},
        {{t, "-profile", dir.file("p.tsv")}, 2, {"-profile needs at least one -map"}},
        {{t, "-nodes", "1", "-map", "a=" + dir.file("mask.nii")}, 2, {"-nodes", "'1'"}},
        {{t, "-nodes", "many"}, 2, {"-nodes", "'many'"}},
        {{t, "-length", "50", "10"}, 2, {"-length"}},
        {{t, "-length", "50"}, 2, {"-length"}},
        {{t, "-weights", "heavy"}, 2, {"-weights", "'heavy'"}},
        {{t, "-include", dir.file("mask.nii"), "-include"}, 2, {"Missing argument(s) for -include"}},
        {{t, "-stats", "a.tsv", "-stats", "b.tsv"}, 2, {"-stats is given more than once"}},
        {{t, "-frobnicate"}, 2, {"'-frobnicate'"}},
        {{t, "-nthreads", "0"}, 2, {"-nthreads"}},
        {{t, "-o", t}, 2, {t}},
    };
    for (const Case& c : cases) {
        std::string line;
        for (const std::string& word : c.args) {
            line += word + " ";
        }
        SCOPED_TRACE(line);
        const RunResult run = runProgram("trkprofile", c.args);
        EXPECT_EQ(run.status, c.status) << run.err;
        size_t from = 0;
        for (const std::string& text : c.said) {
            const size_t at = run.err.find(text, from);
            EXPECT_NE(at, std::string::npos) << "'" << text << "' not in: " << run.err;
            from = at == std::string::npos ? from : at + text.size();
        }
        if (c.status == 2) {
            EXPECT_NE(run.out.find("Type 'trkprofile --help' for more information."),
                      std::string::npos);
        }
        // Nothing half-written is left behind.
        EXPECT_FALSE(fileExists(dir.file("s.tsv")));
    }
    EXPECT_EQ(readFile(t).size(), cut.size() + 6);
}

}  // namespace
