// The 3D QC views in headless Chromium: NiiVue, as the workflow ships it with its view script,
// reads the .trk, .tck and TRX files the toolkit writes with the tracks and points they hold, at
// the same places; a subject's view page, served by 'cohort.sh OUTPUT_DIR view', loads without a
// script error, draws, and names its subject.

#include <gtest/gtest.h>
#include <png.h>
#include <signal.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "TestSupport.h"

using testsupport::fileExists;
using testsupport::readFile;
using testsupport::runProgram;
using testsupport::TempDir;

namespace {

std::string repositoryFile(const std::string& relative) {
    return std::string(DTI_SOURCE_DIR) + "/" + relative;
}

using testsupport::shell;

// Where scripts/install-deps.sh installs NiiVue's browser bundle.
std::string niivueBundle() {
    return repositoryFile("workflow/viewer/node_modules/@niivue/niivue/dist/niivue.umd.js");
}

// NiiVue draws with WebGL2. The machines that run the tests have no GPU, so it is asked for on
// the CPU (ANGLE on SwiftShader) outright rather than left to a fallback that Chromium is
// withdrawing.
std::string chromium(const TempDir& dir) {
    return "timeout 120 chromium --headless --no-sandbox --use-angle=swiftshader "
           "--enable-unsafe-swiftshader --no-first-run --disable-background-networking "
           "--disable-component-update --disable-sync --virtual-time-budget=20000 "
           "--user-data-dir='" +
           dir.file("browser") + "' ";
}

bool haveBrowserAndViewer() {
    if (shell("command -v chromium > /dev/null") != 0) {
        ADD_FAILURE() << "chromium is not installed (scripts/install-deps.sh installs it)";
        return false;
    }
    if (!fileExists(niivueBundle())) {
        ADD_FAILURE() << "NiiVue is not installed (scripts/install-deps.sh installs it): "
                      << niivueBundle();
        return false;
    }
    return true;
}

int32_t int32At(const std::string& bytes, size_t at) {
    int32_t value = 0;
    std::memcpy(&value, bytes.data() + at, sizeof value);
    return value;
}

int16_t int16At(const std::string& bytes, size_t at) {
    int16_t value = 0;
    std::memcpy(&value, bytes.data() + at, sizeof value);
    return value;
}

struct TrackCounts {
    long tracks = 0;
    long points = 0;
};

// Tracks and points of a .trk file, from its records: each is a point count, the points (three
// coordinates and the values per point) and the values per track. The header's track count
// (n_count) must agree where it is stored; 0 there means it is not.
TrackCounts trkCounts(const std::string& path) {
    const std::string bytes = readFile(path);
    TrackCounts counts;
    if (bytes.size() < 1000 || bytes.compare(0, 5, "TRACK") != 0) {
        ADD_FAILURE() << path << " is not a .trk file";
        return counts;
    }
    const size_t perPoint = 3 + int16At(bytes, 36);
    const size_t perTrack = int16At(bytes, 238);
    size_t at = static_cast<size_t>(int32At(bytes, 996));  // header size
    while (at + 4 <= bytes.size()) {
        const int32_t points = int32At(bytes, at);
        if (points < 0) {
            ADD_FAILURE() << path << ": a track of " << points << " points";
            break;
        }
        at += 4 + 4 * (static_cast<size_t>(points) * perPoint + perTrack);
        ++counts.tracks;
        counts.points += points;
    }
    EXPECT_EQ(at, bytes.size()) << path << ": the last track is cut short";
    const int32_t stored = int32At(bytes, 988);
    if (stored != 0) {
        EXPECT_EQ(stored, counts.tracks) << path << ": n_count";
    }
    return counts;
}

// Where a set of points lies: its corners and its mean, which a mirrored axis would move.
struct Extent {
    double low[3] = {std::numeric_limits<double>::max(), std::numeric_limits<double>::max(),
                     std::numeric_limits<double>::max()};
    double high[3] = {std::numeric_limits<double>::lowest(), std::numeric_limits<double>::lowest(),
                      std::numeric_limits<double>::lowest()};
    double mean[3] = {0.0, 0.0, 0.0};
};

// The extent of the points of a .tck file, as stored: RAS millimetres, little-endian float
// triplets from the header's "file: . OFFSET", a non-finite triplet after each track.
Extent tckExtent(const std::string& path) {
    const std::string bytes = readFile(path);
    Extent extent;
    long count = 0;
    std::smatch offset;
    const std::string header = bytes.substr(0, bytes.find("\nEND\n"));
    if (!std::regex_search(header, offset, std::regex("\nfile: \\. ([0-9]+)"))) {
        ADD_FAILURE() << path << " has no data offset";
        return extent;
    }
    for (size_t at = std::stoul(offset[1]); at + 12 <= bytes.size(); at += 12) {
        float point[3];
        std::memcpy(point, bytes.data() + at, sizeof point);
        if (!std::isfinite(point[0])) {
            continue;
        }
        for (int axis = 0; axis < 3; ++axis) {
            extent.low[axis] = std::min(extent.low[axis], static_cast<double>(point[axis]));
            extent.high[axis] = std::max(extent.high[axis], static_cast<double>(point[axis]));
            extent.mean[axis] += point[axis];
        }
        ++count;
    }
    for (double& mean : extent.mean) {
        mean /= std::max(count, 1L);
    }
    return extent;
}

// A server started in the background by a shell command that prints its address
// (http://127.0.0.1:PORT/...) first; stopped by its process id when this goes out of scope.
class BackgroundServer {
  public:
    BackgroundServer(const std::string& command, const std::string& log) : log_(log) {
        // Not in a subshell: $! is then the server itself (cohort.sh execs it).
        const std::string pidFile = log + ".pid";
        if (shell(command + " > '" + log + "' 2>&1 & echo $! > '" + pidFile + "'") != 0) {
            return;
        }
        pid_ = std::atoi(readFile(pidFile).c_str());
        const std::regex address("http://127\\.0\\.0\\.1:[0-9]+/[^ ]*");
        for (int wait = 0; wait < 200 && address_.empty() && running(); ++wait) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            std::smatch found;
            const std::string text = readFile(log);
            if (std::regex_search(text, found, address)) {
                address_ = found[0];
            }
        }
    }
    ~BackgroundServer() { stop(); }
    BackgroundServer(const BackgroundServer&) = delete;
    BackgroundServer& operator=(const BackgroundServer&) = delete;

    // The address it printed; empty when it printed none.
    const std::string& address() const { return address_; }
    std::string output() const { return readFile(log_); }

    // True when the server has ended, asked to or forced.
    bool stop() {
        if (pid_ <= 0) {
            return true;
        }
        kill(pid_, SIGTERM);
        for (int wait = 0; wait < 100 && running(); ++wait) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        const bool ended = !running();
        if (!ended) {
            kill(pid_, SIGKILL);
        }
        pid_ = 0;
        return ended;
    }

  private:
    bool running() const { return pid_ > 0 && kill(pid_, 0) == 0; }

    std::string log_;
    pid_t pid_ = 0;
    std::string address_;
};

// The text of the element with this id in a DOM dump, or "(no ID)".
std::string elementText(const std::string& dom, const std::string& id) {
    const size_t open = dom.find("id=\"" + id + "\">");
    if (open == std::string::npos) {
        return "(no " + id + ")";
    }
    const size_t from = dom.find('>', open) + 1;
    return dom.substr(from, dom.find('<', from) - from);
}

struct Picture {
    int width = 0;
    int height = 0;
    std::vector<unsigned char> rgb;
};

Picture readPng(const std::string& path) {
    Picture picture;
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (png_image_begin_read_from_file(&image, path.c_str()) == 0) {
        ADD_FAILURE() << path << ": " << image.message;
        return picture;
    }
    image.format = PNG_FORMAT_RGB;
    std::vector<unsigned char> pixels(PNG_IMAGE_SIZE(image));
    if (png_image_finish_read(&image, nullptr, pixels.data(), 0, nullptr) == 0) {
        ADD_FAILURE() << path << ": " << image.message;
        png_image_free(&image);
        return picture;
    }
    picture.width = static_cast<int>(image.width);
    picture.height = static_cast<int>(image.height);
    picture.rgb = std::move(pixels);
    return picture;
}

// Pixels of clear colour (not white, black or grey) in the columns [from, to) of the picture:
// the colour FA map and the tracks, which the page around the view has almost none of.
long colouredPixels(const Picture& picture, int from, int to) {
    long count = 0;
    for (int y = 0; y < picture.height; ++y) {
        for (int x = from; x < to; ++x) {
            const unsigned char* p = &picture.rgb[3 * (static_cast<size_t>(y) * picture.width + x)];
            const int high = std::max({p[0], p[1], p[2]});
            const int low = std::min({p[0], p[1], p[2]});
            count += high > 80 && high - low > 60;
        }
    }
    return count;
}

// Loads the three track files through the view script into NiiVue and lists, per file, the
// tracks and points NiiVue holds and the extent of its points (corners and mean).
const char* const kTrackPage = R"(<!DOCTYPE html>
<html><head><meta charset='utf-8'><script src='qcview.js'></script>
<script src='niivue.umd.js'></script></head>
<body><canvas id='view' width='64' height='64'></canvas>
<pre id='counts'></pre><pre id='errors'></pre>
<script>
window.addEventListener('load', async () => {
    const lines = [];
    try {
        const nv = new niivue.Niivue();
        await nv.attachTo('view');
        for (const name of ['tracks.trk', 'tracks.tck', 'tracks.trx']) {
            const mesh = await qcview.loadTracks(nv, name);
            const counts = qcview.trackCounts(mesh);
            const low = [Infinity, Infinity, Infinity];
            const high = [-Infinity, -Infinity, -Infinity];
            const mean = [0, 0, 0];
            mesh.pts.forEach((value, i) => {
                low[i % 3] = Math.min(low[i % 3], value);
                high[i % 3] = Math.max(high[i % 3], value);
                mean[i % 3] += value / counts.points;
            });
            lines.push([name, counts.tracks, counts.points, ...low, ...high, ...mean].join(' '));
        }
    } catch (error) {
        lines.push('failed ' + error.message);
    }
    document.getElementById('counts').textContent = lines.join('\n');
});
</script></body></html>
)";

TEST(Viewer, NiiVueReadsEveryTrackFormatWithTheTracksAndPointsOfTheFile) {
    if (!haveBrowserAndViewer()) {
        return;
    }
    TempDir dir;
    ASSERT_EQ(runProgram("dwiphantom", {dir.file("ph")}).status, 0);
    ASSERT_EQ(runProgram("tenscalc",
                         {dir.file("ph.nii"), dir.file("dti"), "-gm", dir.file("ph_grad.txt")})
                  .status,
              0);
    ASSERT_EQ(runProgram("fiberwalk", {dir.file("dti"), dir.file("tracks.trk"), "-m",
                                       dir.file("dti_fa.nii"), "0.2"})
                  .status,
              0);
    const TrackCounts file = trkCounts(dir.file("tracks.trk"));
    ASSERT_GT(file.tracks, 100);
    for (const std::string format : {"tck", "trx"}) {
        const auto converted =
            runProgram("trkconvert", {dir.file("tracks.trk"), dir.file("tracks." + format)});
        ASSERT_EQ(converted.status, 0) << converted.err;
        EXPECT_NE(converted.out.find("Converted " + std::to_string(file.tracks) + " tracks"),
                  std::string::npos)
            << converted.out;
    }
    const Extent stored = tckExtent(dir.file("tracks.tck"));

    testsupport::writeFile(dir.file("tracks.html"), kTrackPage);
    ASSERT_EQ(shell("cp '" + niivueBundle() + "' '" + repositoryFile("workflow/viewer/qcview.js") +
                    "' '" + dir.path() + "'"),
              0);
    BackgroundServer server("python3 '" + repositoryFile("workflow/scripts/serve_output.py") +
                                "' '" + dir.path() + "' --page tracks.html",
                            dir.file("server.log"));
    ASSERT_FALSE(server.address().empty()) << server.output();
    ASSERT_EQ(shell(chromium(dir) + "--dump-dom '" + server.address() + "' > '" +
                    dir.file("dom.html") + "' 2> /dev/null"),
              0);
    EXPECT_TRUE(server.stop());
    const std::string dom = readFile(dir.file("dom.html"));
    EXPECT_EQ(elementText(dom, "errors"), "");

    std::istringstream lines(elementText(dom, "counts"));
    std::string line;
    std::vector<std::string> names;
    while (std::getline(lines, line)) {
        SCOPED_TRACE(line);
        std::istringstream fields(line);
        std::string name;
        TrackCounts loaded;
        Extent extent;
        fields >> name >> loaded.tracks >> loaded.points;
        for (double* values : {extent.low, extent.high, extent.mean}) {
            fields >> values[0] >> values[1] >> values[2];
        }
        ASSERT_FALSE(fields.fail());
        names.push_back(name);
        EXPECT_EQ(loaded.tracks, file.tracks);
        EXPECT_EQ(loaded.points, file.points);
        // Every format lands where the .tck file (RAS millimetres as stored) says, the .trk too.
        for (int axis = 0; axis < 3; ++axis) {
            EXPECT_NEAR(extent.low[axis], stored.low[axis], 1e-3) << "axis " << axis;
            EXPECT_NEAR(extent.high[axis], stored.high[axis], 1e-3) << "axis " << axis;
            EXPECT_NEAR(extent.mean[axis], stored.mean[axis], 1e-3) << "axis " << axis;
        }
    }
    EXPECT_EQ(names, (std::vector<std::string>{"tracks.trk", "tracks.tck", "tracks.trx"})) << dom;
}

std::vector<std::string> tsvRow(const std::string& text, const std::string& first) {
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        if (line.rfind(first + "\t", 0) == 0) {
            std::vector<std::string> cells;
            std::istringstream fields(line);
            std::string cell;
            while (std::getline(fields, cell, '\t')) {
                cells.push_back(cell);
            }
            return cells;
        }
    }
    return {};
}

TEST(Viewer, ASubjectsViewIsServedLoadsDrawsAndNamesTheSubject) {
    if (shell("command -v snakemake > /dev/null") != 0) {
        GTEST_SKIP() << "snakemake is not installed";
    }
    if (!haveBrowserAndViewer()) {
        return;
    }
    // Two phantom subjects, the second in a session, whose name the page must carry.
    TempDir dir;
    const std::string bids = dir.file("bids");
    const std::string out = dir.file("out");
    ASSERT_EQ(runProgram("dwiphantom", {"-bids", bids, "-n", "2"}).status, 0);
    ASSERT_EQ(
        shell("cd '" + bids +
              "/sub-02' && mkdir -p ses-b/dwi && for e in nii.gz bval bvec "
              "json; do mv dwi/sub-02_dwi.$e ses-b/dwi/sub-02_ses-b_dwi.$e; done && rmdir dwi"),
        0);
    const std::string cohort = "'" + repositoryFile("scripts/cohort.sh") + "' ";
    const std::string bin = " --bin '" + std::string(DTI_BIN_DIR) + "'";
    const std::string log = " > '" + dir.file("run.log") + "' 2>&1";
    ASSERT_EQ(shell(cohort + "'" + bids + "' '" + out + "' participant --cores 2" + bin + log), 0)
        << readFile(dir.file("run.log"));
    ASSERT_EQ(shell(cohort + "'" + bids + "' '" + out + "' group" + bin + log), 0)
        << readFile(dir.file("run.log"));
    const std::string index = readFile(out + "/group/index.html");
    EXPECT_NE(index.find("href='sub-01_view.html'"), std::string::npos);
    EXPECT_NE(index.find("href='sub-02_ses-b_view.html'"), std::string::npos);
    EXPECT_TRUE(fileExists(out + "/group/niivue.umd.js"));
    const auto row = tsvRow(readFile(out + "/group/summary.tsv"), "sub-02");
    ASSERT_EQ(row.size(), 13U);
    ASSERT_GT(std::stoi(row[5]), 100);  // tracks

    BackgroundServer server(cohort + "'" + out + "' view --port 0", dir.file("view.log"));
    ASSERT_NE(server.address(), "") << server.output();
    EXPECT_EQ(server.output().rfind("Serving " + out + " at http://127.0.0.1:", 0), 0U)
        << server.output();
    ASSERT_TRUE(std::regex_match(server.address(),
                                 std::regex("http://127\\.0\\.0\\.1:[0-9]+/group/index\\.html")))
        << server.address();
    const std::string page =
        std::regex_replace(server.address(), std::regex("index\\.html$"), "sub-02_ses-b_view.html");
    ASSERT_EQ(shell(chromium(dir) + "--window-size=1000,800 --screenshot='" + dir.file("view.png") +
                    "' --dump-dom '" + page + "' > '" + dir.file("dom.html") + "' 2> /dev/null"),
              0);
    EXPECT_TRUE(server.stop()) << "the server did not stop";

    const std::string dom = readFile(dir.file("dom.html"));
    EXPECT_NE(dom.find("data-state=\"drawn\""), std::string::npos) << elementText(dom, "status");
    EXPECT_EQ(elementText(dom, "errors"), "");
    EXPECT_NE(dom.find("<title>sub-02 ses-b: 3D QC</title>"), std::string::npos);
    EXPECT_NE(dom.find("<h1>sub-02 ses-b</h1>"), std::string::npos);
    // What NiiVue holds: the colour FA map on the phantom's grid and every smoothed track.
    EXPECT_EQ(elementText(dom, "status").rfind("colour FA 32x32x20 with " + row[5] + " tracks", 0),
              0U)
        << elementText(dom, "status");

    const Picture picture = readPng(dir.file("view.png"));
    ASSERT_EQ(picture.width, 1000);
    // The 3D view takes the left of the canvas, the three slices the right; a view drawn here
    // has some 20000 coloured pixels on each side, a page that drew nothing about 1000 (its text).
    const long threeD = colouredPixels(picture, 0, picture.width / 2);
    const long slices = colouredPixels(picture, picture.width / 2, picture.width);
    EXPECT_GT(threeD, 8000);
    EXPECT_GT(slices, 8000);
    const std::string artifacts = std::string(DTI_BUILD_DIR) + "/tests/artifacts";
    shell("mkdir -p '" + artifacts + "' && cp '" + dir.file("view.png") + "' '" + artifacts +
          "/subject_view.png'");
}

}  // namespace
