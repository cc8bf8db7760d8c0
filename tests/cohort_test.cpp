// The cohort workflow on a small phantom study: participant then group, BIDS derivative names,
// restarts that redo only what is missing, and a broken subject that fails alone.

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <tuple>
#include <string>
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

// scripts/cohort.sh on the programs of this build, wherever the build folder is.
std::string cohortCommand(const std::string& bids, const std::string& out,
                          const std::string& level, const std::string& options = "") {
    return "'" + repositoryFile("scripts/cohort.sh") + "' '" + bids + "' '" + out + "' " + level +
           " --bin '" + std::string(DTI_BIN_DIR) + "' " + options;
}

int shell(const std::string& command) {
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::vector<std::vector<std::string>> tsvRows(const std::string& text) {
    std::vector<std::vector<std::string>> rows;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        std::vector<std::string> cells;
        std::istringstream fields(line);
        std::string cell;
        while (std::getline(fields, cell, '\t')) {
            cells.push_back(cell);
        }
        rows.push_back(cells);
    }
    return rows;
}

// Three phantom subjects written as a BIDS dataset, sub-03 moved into a session folder
// (ses-a), and a broken sub-04.
void writeStudy(const TempDir& dir) {
    const std::string bids = dir.file("bids");
    ASSERT_EQ(runProgram("dwiphantom", {"-bids", bids, "-n", "3"}).status, 0);
    const std::string from = bids + "/sub-03/dwi/sub-03_dwi";
    const std::string to = bids + "/sub-03/ses-a/dwi/sub-03_ses-a_dwi";
    ASSERT_EQ(shell("mkdir -p '" + bids + "/sub-03/ses-a/dwi' && for e in nii.gz bval bvec json; "
                    "do mv '" + from + ".'$e '" + to + ".'$e; done && rmdir '" + bids +
                    "/sub-03/dwi'"),
              0);
    // sub-05 has no white matter: no track, no gradient verdict, and still no failure.
    ASSERT_EQ(runProgram("dwiphantom", {"-bids", dir.file("iso"), "-n", "1", "-isotropic"}).status,
              0);
    ASSERT_EQ(shell("mkdir -p '" + bids + "/sub-05/dwi' && for e in nii.gz bval bvec json; do "
                    "cp '" + dir.file("iso") + "/sub-01/dwi/sub-01_dwi.'$e '" + bids +
                    "/sub-05/dwi/sub-05_dwi.'$e; done"),
              0);
    ASSERT_EQ(shell("mkdir -p '" + bids + "/sub-04/dwi' && echo broken > '" + bids +
                    "/sub-04/dwi/sub-04_dwi.nii.gz' && cp '" + bids +
                    "/sub-01/dwi/sub-01_dwi.bval' '" + bids +
                    "/sub-04/dwi/sub-04_dwi.bval' && cp '" + bids + "/sub-01/dwi/sub-01_dwi.bvec' '" +
                    bids + "/sub-04/dwi/sub-04_dwi.bvec'"),
              0);
}

// Mean true FA of a subject's white matter, from the phantom's truth beside the dataset.
double truthMeanFa(const std::string& bids, const std::string& subject) {
    const std::string folder = bids + "/derivatives/phantom-truth/" + subject + "/dwi/" + subject;
    const auto fa = testsupport::readVolume(folder + "_desc-truth_fa.nii.gz").as<float>();
    const auto wm = testsupport::readVolume(folder + "_desc-truth_wm.nii.gz").as<short>();
    double sum = 0.0;
    int count = 0;
    for (size_t p = 0; p < wm.size() && p < fa.size(); ++p) {
        if (wm[p] > 0) {
            sum += fa[p];
            ++count;
        }
    }
    EXPECT_GT(count, 100);
    return count > 0 ? sum / count : 0.0;
}

// Opens the page from the file system in headless Chromium: every subject's picture must load
// with a size, and the table must list every subject. A screenshot is kept beside the tests.
void checkPageInBrowser(const TempDir& dir, const std::string& page) {
    if (shell("command -v chromium > /dev/null") != 0) {
        ADD_FAILURE() << "chromium is not installed";
        return;
    }
    const std::string flags =
        "--headless --no-sandbox --disable-gpu --disable-quic --no-first-run "
        "--disable-background-networking --disable-component-update --disable-sync "
        "--allow-file-access-from-files --virtual-time-budget=5000 --user-data-dir='" +
        dir.file("browser") + "' ";
    ASSERT_EQ(shell("chromium " + flags + "--dump-dom 'file://" + page + "' > '" +
                    dir.file("dom.html") + "' 2> /dev/null"),
              0);
    const std::string dom = readFile(dir.file("dom.html"));
    for (const std::string subject : {"sub-01", "sub-02", "sub-03 ses-a"}) {
        SCOPED_TRACE(subject);
        const size_t at = dom.find("loaded " + subject + " ");
        ASSERT_NE(at, std::string::npos) << dom;
        int width = 0;
        int height = 0;
        ASSERT_EQ(std::sscanf(dom.c_str() + at + 8 + subject.size(), "%dx%d", &width, &height), 2);
        EXPECT_GT(width, 500);
        EXPECT_GT(height, 100);
        EXPECT_NE(dom.find("<td>" + subject.substr(0, 6) + "</td>"), std::string::npos);
    }
    const size_t report = dom.find("<pre id=\"loaded\">");
    ASSERT_NE(report, std::string::npos);
    EXPECT_EQ(dom.substr(report, dom.find("</pre>", report) - report).find("missing"),
              std::string::npos);
    const std::string artifacts = std::string(DTI_BUILD_DIR) + "/tests/artifacts";
    shell("mkdir -p '" + artifacts + "' && chromium " + flags +
          "--window-size=1600,2400 --screenshot='" + artifacts +
          "/cohort_index.png' 'file://" + page + "' > /dev/null 2>&1");
}

TEST(Cohort, ParticipantThenGroupOnASmallStudy) {
    if (shell("command -v snakemake > /dev/null") != 0) {
        GTEST_SKIP() << "snakemake is not installed";
    }
    TempDir dir;
    writeStudy(dir);
    const std::string run = cohortCommand(dir.file("bids"), dir.file("out"), "participant",
                                          "--cores 2 > '" + dir.file("run.log") + "' 2>&1");
    // The broken subject fails, and the command says so; the others complete.
    EXPECT_NE(shell(run), 0);
    const std::string out = dir.file("out");
    for (const char* path :
         {"/dataset_description.json", "/sub-01/dwi/sub-01_model-tensor_param-fa_dwimap.nii.gz",
          "/sub-01/dwi/sub-01_model-tensor_param-md_dwimap.nii.gz",
          "/sub-01/dwi/sub-01_model-tensor_tractography.trk",
          "/sub-01/dwi/sub-01_model-tensor_desc-smooth_tractography.trk",
          "/sub-01/dwi/sub-01_qc.png", "/sub-02/dwi/sub-02_qc.png",
          "/sub-01/dwi/logs/sub-01_fiberwalk.log",
          "/sub-03/ses-a/dwi/sub-03_ses-a_model-tensor_param-fa_dwimap.nii.gz",
          "/sub-03/ses-a/dwi/sub-03_ses-a_qc.png", "/sub-04/dwi/logs/sub-04_tenscalc.log"}) {
        EXPECT_TRUE(fileExists(out + path)) << path;
    }
    EXPECT_NE(readFile(out + "/dataset_description.json").find("\"Name\": \"dtitoolkit\""),
              std::string::npos);

    EXPECT_EQ(shell(cohortCommand(dir.file("bids"), out, "group",
                                  "> '" + dir.file("group.log") + "' 2>&1")),
              1);
    const auto rows = tsvRows(readFile(out + "/group/summary.tsv"));
    ASSERT_EQ(rows.size(), 6U);
    EXPECT_EQ(rows[0][0], "participant_id");
    EXPECT_EQ(rows[3][1], "ses-a");
    for (size_t r = 1; r <= 3; ++r) {
        SCOPED_TRACE(rows[r][0]);
        ASSERT_EQ(rows[r].size(), 13U);
        const double ad = std::stod(rows[r][9]);
        const double rd = std::stod(rows[r][10]);
        EXPECT_GT(ad, rd);
        EXPECT_GT(rd, 0.0);
        EXPECT_GE(std::stoi(rows[r][11]), 0);  // voxels with a negative eigenvalue
        EXPECT_EQ(rows[r][12], "0,1000");      // shells up to b = 1500
        EXPECT_EQ(rows[r][8], "ok");
        EXPECT_EQ(rows[r][7], "right");
        EXPECT_GT(std::stoi(rows[r][5]), 100);  // tracks
        const double truth = truthMeanFa(dir.file("bids"), rows[r][0]);
        EXPECT_NEAR(std::stod(rows[r][3]), truth, 0.1 * truth);
    }
    EXPECT_EQ(rows[4][8], "failed (see sub-04/dwi/logs/sub-04_tenscalc.log)");
    // Every map has its sidecar with units; the brain mask among the derivatives was used, so
    // that nothing outside the head is left in any map.
    for (const std::string param : {"fa", "md", "ad", "rd", "mode", "cl", "cp", "cs"}) {
        const std::string sidecar = readFile(out + "/sub-01/dwi/sub-01_model-tensor_param-" +
                                             param + "_dwimap.json");
        EXPECT_NE(sidecar.find("\"Units\": "), std::string::npos) << param;
    }
    EXPECT_NE(readFile(out + "/sub-02/dwi/sub-02_model-tensor_param-md_dwimap.json")
                  .find("\"Units\": \"mm^2/s\""),
              std::string::npos);
    const auto mask = testsupport::readVolume(dir.file("bids") +
                                              "/derivatives/phantom-truth/sub-01/dwi/"
                                              "sub-01_desc-brain_mask.nii.gz")
                          .as<unsigned char>();
    const auto s0 = testsupport::readVolume(out + "/sub-01/dwi/sub-01_model-tensor_param-"
                                                  "s0_dwimap.nii.gz")
                        .as<short>();
    ASSERT_EQ(mask.size(), s0.size());
    size_t outside = 0;
    size_t leftOutside = 0;
    for (size_t p = 0; p < mask.size(); ++p) {
        outside += mask[p] == 0;
        leftOutside += mask[p] == 0 && s0[p] != 0;
    }
    EXPECT_GT(outside, 0U);
    EXPECT_EQ(leftOutside, 0U);
    EXPECT_EQ(rows[5][0], "sub-05");
    EXPECT_EQ(rows[5][5], "0");  // tracks
    EXPECT_EQ(rows[5][7], "undecided");
    EXPECT_EQ(rows[5][8], "ok");
    EXPECT_EQ(readFile(out + "/sub-05/dwi/sub-05_model-tensor_tractography.trk"), "");
    const std::string page = readFile(out + "/group/index.html");
    EXPECT_NE(page.find("../sub-03/ses-a/dwi/sub-03_ses-a_qc.png"), std::string::npos);
    checkPageInBrowser(dir, out + "/group/index.html");

    // Labels, with or without "sub-", limit the run and the summary to those subjects.
    ASSERT_EQ(shell(cohortCommand(dir.file("bids"), out, "participant",
                                  "--participant_label 02 --cores 2 > /dev/null 2>&1")),
              0);
    ASSERT_EQ(shell(cohortCommand(dir.file("bids"), dir.file("out"), "group",
                                  "--participant_label sub-02 > /dev/null")),
              0);
    const auto labelled = tsvRows(readFile(out + "/group/summary.tsv"));
    ASSERT_EQ(labelled.size(), 2U);
    EXPECT_EQ(labelled[1][0], "sub-02");

    // A second run redoes nothing that worked; after deleting one subject's outputs only that
    // subject is redone.
    const std::string picture = out + "/sub-02/dwi/sub-02_qc.png";
    struct stat before {};
    ASSERT_EQ(stat(picture.c_str(), &before), 0);
    ASSERT_EQ(shell("rm -rf '" + out + "/sub-01'"), 0);
    EXPECT_NE(shell(run), 0);
    struct stat after {};
    ASSERT_EQ(stat(picture.c_str(), &after), 0);
    EXPECT_EQ(before.st_mtime, after.st_mtime);
    EXPECT_TRUE(fileExists(out + "/sub-01/dwi/sub-01_summary.tsv"));
}

TEST(Cohort, TracksInTheFormatTheConfigNames) {
    if (shell("command -v snakemake > /dev/null") != 0) {
        GTEST_SKIP() << "snakemake is not installed";
    }
    TempDir dir;
    ASSERT_EQ(runProgram("dwiphantom", {"-bids", dir.file("bids"), "-n", "1"}).status, 0);
    const std::string out = dir.file("out");
    for (const std::string format : {"tck", "trx"}) {
        SCOPED_TRACE(format);
        ASSERT_EQ(shell(cohortCommand(dir.file("bids"), out + format, "participant",
                                      "--cores 2 --config track_format=" + format +
                                          " > '" + dir.file("run.log") + "' 2>&1")),
                  0)
            << readFile(dir.file("run.log"));
        const std::string stem = out + format + "/sub-01/dwi/sub-01_model-tensor_";
        EXPECT_TRUE(fileExists(stem + "tractography." + format));
        EXPECT_TRUE(fileExists(stem + "desc-smooth_tractography." + format));
        const auto rows = tsvRows(readFile(out + format + "/sub-01/dwi/sub-01_summary.tsv"));
        ASSERT_EQ(rows.size(), 2U);
        EXPECT_GT(std::stoi(rows[1][5]), 100);  // tracks
        EXPECT_GT(std::stod(rows[1][6]), 10.0);  // mean length, mm
    }
}

}  // namespace
