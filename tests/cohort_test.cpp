// The cohort workflow on small phantom studies: participant then group, BIDS derivative names,
// restarts that redo only what is missing, damaged subjects and files that fail alone with their
// reason, gradient verdicts that act, and command lines that are refused before anything is made.

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <regex>
#include <sstream>
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

using testsupport::shell;

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

// Rows by participant_id, with " ses-X" added for a session.
std::map<std::string, std::vector<std::string>> rowsByName(const std::string& text) {
    std::map<std::string, std::vector<std::string>> named;
    for (const auto& row : tsvRows(text)) {
        if (row.size() > 1) {
            named[row[0] + (row[1] == "n/a" ? "" : " " + row[1])] = row;
        }
    }
    return named;
}

// Every file below a folder with its size and modification time, to show that a run left it
// alone.
std::string listing(const std::string& folder) {
    const std::string out = folder + ".listing";
    shell("cd '" + folder + "' && find . -printf '%p %s %T@\\n' | sort > '" + out + "'");
    const std::string text = readFile(out);
    std::remove(out.c_str());
    return text;
}

const int kStatusColumn = 8;
const int kGradientsColumn = 7;

// Three phantom subjects written as a BIDS dataset, sub-03 moved into a session folder
// (ses-a), sub-05 without white matter, and subjects and files that cannot be taken.
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
    // Each damaged subject starts as a copy of sub-01 named NAME, then COMMAND (run in the
    // subject's dwi folder) damages it.
    const char* const damage[][2] = {
        {"sub-04", "head -c 400000 ../../sub-01/dwi/sub-01_dwi.nii.gz > sub-04_dwi.nii.gz"},
        {"sub-06 x", ":"},
        {"sub-0\u00e9", ":"},
        {"sub-07", "rm sub-07_dwi.nii.gz && ln -s sub-07_dwi.nii.gz sub-07_dwi.nii.gz"},
        {"sub-08", "cd .. && mv dwi anat"},
        {"sub-09", "rm sub-09_dwi.bval"},
        {"sub-10", "rm sub-10_dwi.bvec && mkdir sub-10_dwi.bvec"},
    };
    for (const auto& [name, command] : damage) {
        const std::string folder = bids + "/" + name + "/dwi";
        ASSERT_EQ(shell("mkdir -p '" + folder + "' && cd '" + folder + "' && for e in nii.gz bval "
                        "bvec; do cp ../../sub-01/dwi/sub-01_dwi.$e '" + name +
                        "_dwi.'$e; done && " + command),
                  0)
            << name;
    }
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
// with a size (the page records it in data-loaded), a failed subject's reason must be shown
// under its name, and nothing else must be. A screenshot is kept beside the tests.
void checkPageInBrowser(const TempDir& dir, const std::string& page,
                        const std::vector<std::string>& pictured,
                        const std::map<std::string, std::string>& reasons) {
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
    std::map<std::string, std::string> loaded;
    const std::regex image("<img class=\"qc\"[^>]* alt=\"QC picture of ([^\"]+)\"[^>]*"
                           " data-loaded=\"([^\"]+)\"");
    for (std::sregex_iterator at(dom.begin(), dom.end(), image), end; at != end; ++at) {
        loaded[(*at)[1]] = (*at)[2];
    }
    EXPECT_EQ(loaded.size(), pictured.size()) << dom;
    for (const std::string& subject : pictured) {
        int width = 0;
        int height = 0;
        EXPECT_EQ(std::sscanf(loaded[subject].c_str(), "%dx%d", &width, &height), 2) << subject;
        EXPECT_GT(width, 500) << subject;
        EXPECT_GT(height, 100) << subject;
    }
    for (const auto& [subject, reason] : reasons) {
        EXPECT_NE(dom.find("<h2>" + subject + "</h2>\n<p class=\"status\">" + reason),
                  std::string::npos)
            << subject << ": " << reason;
    }
    EXPECT_EQ(dom.find("<pre"), std::string::npos) << "no text beyond the report";
    EXPECT_EQ(dom.find("** "), std::string::npos) << "no library noise in the reasons";
    EXPECT_NE(dom.find("<th>mean ADC (mm\u00b2/s)</th>"), std::string::npos);
    const std::string artifacts = std::string(DTI_BUILD_DIR) + "/tests/artifacts";
    shell("mkdir -p '" + artifacts + "' && chromium " + flags +
          "--window-size=1600,2400 --screenshot='" + artifacts +
          "/cohort_index.png' 'file://" + page + "' > /dev/null 2>&1");
}

// The last lines a command printed.
std::vector<std::string> lastLines(const std::string& text, size_t count) {
    std::vector<std::string> lines;
    std::istringstream stream(text);
    for (std::string line; std::getline(stream, line);) {
        lines.push_back(line);
    }
    return {lines.end() - static_cast<long>(std::min(count, lines.size())), lines.end()};
}

TEST(Cohort, ParticipantThenGroupOnADamagedStudy) {
    if (shell("command -v snakemake > /dev/null") != 0) {
        GTEST_SKIP() << "snakemake is not installed";
    }
    TempDir dir;
    writeStudy(dir);
    const std::string bids = dir.file("bids");
    const std::string out = dir.file("out");
    const std::string bidsBefore = listing(bids);
    shell("touch '" + dir.file("marker") + "'");
    // From the temporary folder, so that anything written beside the output would be seen.
    const std::string run = "cd '" + dir.path() + "' && " +
                            cohortCommand(bids, out, "participant",
                                          "--cores 2 > '" + dir.file("run.log") + "' 2>&1");
    // The damaged subjects fail, and the command says so; the others complete.
    EXPECT_EQ(shell(run), 1) << readFile(dir.file("run.log"));
    for (const char* path :
         {"/dataset_description.json", "/sub-01/dwi/sub-01_model-tensor_param-fa_dwimap.nii.gz",
          "/sub-01/dwi/sub-01_model-tensor_param-md_dwimap.nii.gz",
          "/sub-01/dwi/sub-01_model-tensor_tractography.trk",
          "/sub-01/dwi/sub-01_model-tensor_desc-smooth_tractography.trk",
          "/sub-01/dwi/sub-01_qc.png", "/sub-02/dwi/sub-02_qc.png",
          "/sub-01/dwi/logs/sub-01_fiberwalk.log",
          "/sub-03/ses-a/dwi/sub-03_ses-a_model-tensor_param-fa_dwimap.nii.gz",
          "/sub-03/ses-a/dwi/sub-03_ses-a_qc.png", "/sub-05/dwi/sub-05_qc.png"}) {
        EXPECT_TRUE(fileExists(out + path)) << path;
    }
    EXPECT_NE(readFile(out + "/dataset_description.json").find("\"Name\": \"dtitoolkit\""),
              std::string::npos);
    // Nothing but the output folder was written: the dataset, the folder the command ran in and
    // the workflow's own folder are as they were.
    EXPECT_EQ(listing(bids), bidsBefore);
    const int top = shell("cd '" + dir.path() + "' && test \"$(ls -A | tr '\\n' ' ')\" = "
                           "'bids iso marker out run.log '");
    EXPECT_EQ(top, 0) << "the folder the command ran in holds more than the output";
    EXPECT_EQ(shell("test -z \"$(find '" + repositoryFile("workflow") + "' '" +
                    repositoryFile("scripts") + "' -path '*/node_modules' -prune -o -newer '" +
                    dir.file("marker") + "' -print)\""),
              0)
        << "the run wrote into the repository";

    // What each damaged subject's row says: its status starts with the reason.
    const std::map<std::string, std::string> reasons = {
        {"sub-04", "failed: gradcheck: can not read file " + bids +
                       "/sub-04/dwi/sub-04_dwi.nii.gz: data ends at byte"},
        {"sub-06 x", "failed: folder name 'sub-06 x' is not sub-&lt;label&gt;"},
        {"sub-0\u00e9", "failed: folder name 'sub-0\u00e9' is not sub-&lt;label&gt;"},
        {"sub-07", "failed: sub-07/dwi/sub-07_dwi.nii.gz is a symbolic link that leads back to "
                   "itself"},
        {"sub-08", "no diffusion data"},
        {"sub-09", "failed: sub-09/dwi/sub-09_dwi.bval is missing"},
        {"sub-10", "failed: sub-10/dwi/sub-10_dwi.bvec is a folder, not a file"},
    };
    // The console ends with one line per subject that needs a look, and Snakemake's own account
    // of the failed step is in the workflow's log only.
    const std::string console = readFile(dir.file("run.log"));
    EXPECT_EQ(console.find("Error in rule"), std::string::npos) << console;
    EXPECT_NE(readFile(out + "/logs/snakemake.log").find("Error in rule gradcheck"),
              std::string::npos);
    const auto tail = lastLines(console, reasons.size() + 1);
    EXPECT_EQ(tail.front(), "4 of 11 ok, 6 failed, 1 without diffusion data");
    for (const auto& line : std::vector<std::string>(tail.begin() + 1, tail.end())) {
        const std::string name = line.substr(0, line.find(": "));
        ASSERT_EQ(reasons.count(name), 1U) << line;
        const std::string reason = std::regex_replace(
            std::regex_replace(reasons.at(name), std::regex("&lt;"), "<"), std::regex("&gt;"),
            ">");
        EXPECT_EQ(line.rfind(name + ": " + reason, 0), 0U) << line;
    }

    EXPECT_EQ(shell(cohortCommand(bids, out, "group", "> '" + dir.file("group.log") + "' 2>&1")),
              1);
    const std::string summary = readFile(out + "/group/summary.tsv");
    auto rows = rowsByName(summary);
    ASSERT_EQ(rows.size(), 12U);  // with the header
    EXPECT_EQ(summary.substr(0, summary.find('\n')),
              "participant_id\tsession_id\tvoxels_fitted\tmean_fa\tmean_adc_mm2_per_s\t"
              "track_count\tmean_track_length_mm\tgradients\tstatus\tmean_ad_mm2_per_s\t"
              "mean_rd_mm2_per_s\tnegative_eigenvalue_voxels\tshells_s_per_mm2");
    for (const std::string name : {"sub-01", "sub-02", "sub-03 ses-a"}) {
        SCOPED_TRACE(name);
        const auto& row = rows[name];
        ASSERT_EQ(row.size(), 13U);
        const double ad = std::stod(row[9]);
        const double rd = std::stod(row[10]);
        EXPECT_GT(ad, rd);
        EXPECT_GT(rd, 0.0);
        EXPECT_GE(std::stoi(row[11]), 0);  // voxels with a negative eigenvalue
        EXPECT_EQ(row[12], "0,1000");      // shells up to b = 1500
        EXPECT_EQ(row[kStatusColumn], "ok");
        EXPECT_EQ(row[kGradientsColumn], "right");
        EXPECT_GT(std::stoi(row[5]), 100);  // tracks
        const double truth = truthMeanFa(bids, row[0]);
        EXPECT_NEAR(std::stod(row[3]), truth, 0.1 * truth);
    }
    for (const auto& [name, reason] : reasons) {
        const std::string shown = std::regex_replace(
            std::regex_replace(reason, std::regex("&lt;"), "<"), std::regex("&gt;"), ">");
        EXPECT_EQ(rows[name][kStatusColumn].rfind(shown, 0), 0U) << rows[name][kStatusColumn];
        EXPECT_EQ(rows[name][kStatusColumn].find("** "), std::string::npos);
    }
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
    EXPECT_NE(readFile(out + "/group/summary.json").find("\"Units\": \"mm^2/s\""),
              std::string::npos);
    const auto mask = testsupport::readVolume(bids +
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
    // Too little white matter to check the table: undecided, which is not "right".
    EXPECT_EQ(rows["sub-05"][5], "0");  // tracks
    EXPECT_EQ(rows["sub-05"][kGradientsColumn], "undecided");
    EXPECT_EQ(rows["sub-05"][kStatusColumn], "ok");
    EXPECT_EQ(readFile(out + "/sub-05/dwi/sub-05_model-tensor_tractography.trk"), "");
    const std::string page = readFile(out + "/group/index.html");
    EXPECT_NE(page.find("../sub-03/ses-a/dwi/sub-03_ses-a_qc.png"), std::string::npos);
    EXPECT_NE(page.find("href='../sub-04/dwi/logs/sub-04_gradcheck.log'"), std::string::npos);
    EXPECT_NE(page.find("<figcaption>mean FA " + rows["sub-02"][3] + " \u00b7 " +
                        rows["sub-02"][5] + " tracks, mean length " + rows["sub-02"][6] +
                        " mm \u00b7 gradient table right</figcaption>"),
              std::string::npos);
    checkPageInBrowser(dir, out + "/group/index.html",
                       {"sub-01", "sub-02", "sub-03 ses-a", "sub-05"}, reasons);

    // Labels, with or without "sub-", limit the run and the summary to those subjects.
    ASSERT_EQ(shell(cohortCommand(bids, out, "participant",
                                  "--participant_label 02 --cores 2 > /dev/null 2>&1")),
              0);
    ASSERT_EQ(shell(cohortCommand(bids, out, "group", "--participant_label sub-02 > /dev/null")),
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
    EXPECT_EQ(shell(run), 1);
    struct stat after {};
    ASSERT_EQ(stat(picture.c_str(), &after), 0);
    EXPECT_EQ(before.st_mtime, after.st_mtime);
    EXPECT_TRUE(fileExists(out + "/sub-01/dwi/sub-01_summary.tsv"));
}

// A subject whose .bvec has its x row negated, beside the same phantom as given, under each
// gradcheck setting of the workflow.
TEST(Cohort, GradientVerdictsActAsConfigured) {
    if (shell("command -v snakemake > /dev/null") != 0) {
        GTEST_SKIP() << "snakemake is not installed";
    }
    TempDir dir;
    const std::string bids = dir.file("bids");
    ASSERT_EQ(runProgram("dwiphantom", {"-bids", bids, "-n", "1"}).status, 0);
    ASSERT_EQ(shell("cd '" + bids + "' && mkdir -p sub-02/dwi && for e in nii.gz bval json; do "
                    "cp sub-01/dwi/sub-01_dwi.$e sub-02/dwi/sub-02_dwi.$e; done && awk 'NR == 1 "
                    "{ for (i = 1; i <= NF; i++) $i = -$i } { print }' sub-01/dwi/sub-01_dwi.bvec"
                    " > sub-02/dwi/sub-02_dwi.bvec"),
              0);
    struct Case {
        const char* setting;
        const char* labels;  // the flipped subject alone where the other adds nothing
        int participantStatus;
        int groupStatus;
        const char* status;
        const char* gradients;
    };
    const Case cases[] = {
        {"warn", "", 0, 3, "ok, gradient table looks wrong", "WRONG: best is flip x (mean length"},
        {"fail", "--participant_label 02", 1, 1,
         "failed: gradcheck: gradient table looks wrong: best is flip x (mean length", "n/a"},
        {"correct", "--participant_label 02", 0, 0, "ok", "corrected (flip x)"},
    };
    std::map<std::string, std::map<std::string, std::vector<std::string>>> results;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.setting);
        const std::string out = dir.file(std::string("out-") + c.setting);
        const std::string log = " > '" + dir.file("run.log") + "' 2>&1";
        EXPECT_EQ(shell(cohortCommand(bids, out, "participant",
                                      std::string("--cores 2 ") + c.labels +
                                          " --config gradcheck=" + c.setting + log)),
                  c.participantStatus)
            << readFile(dir.file("run.log"));
        EXPECT_EQ(shell(cohortCommand(bids, out, "group", std::string(c.labels) + log)),
                  c.groupStatus)
            << readFile(dir.file("run.log"));
        results[c.setting] = rowsByName(readFile(out + "/group/summary.tsv"));
        const auto& flipped = results[c.setting]["sub-02"];
        ASSERT_EQ(flipped.size(), 13U);
        EXPECT_EQ(flipped[kStatusColumn].rfind(c.status, 0), 0U) << flipped[kStatusColumn];
        EXPECT_EQ(flipped[kGradientsColumn].rfind(c.gradients, 0), 0U)
            << flipped[kGradientsColumn];
    }
    // Corrected, the flipped subject is the subject as given, measure for measure; as given it
    // is not (its tracks stop short).
    const auto& given = results["warn"]["sub-01"];
    const auto& corrected = results["correct"]["sub-02"];
    ASSERT_EQ(given.size(), 13U);
    for (const int column : {2, 3, 4, 5, 6, 9, 10, 11}) {
        const double expected = std::stod(given[column]);
        EXPECT_NEAR(std::stod(corrected[column]), expected, 1e-3 * std::fabs(expected) + 1e-9)
            << given[0] << " column " << column;
    }
    EXPECT_GT(std::stod(given[6]) - std::stod(results["warn"]["sub-02"][6]), 5.0);
}

// Mistyped command lines and studies with nothing to run: status 2, the reason, and no output
// folder made.
TEST(Cohort, ARefusedCommandCreatesNothing) {
    TempDir dir;
    // The check reads names only, so empty files stand for an acquisition.
    ASSERT_EQ(shell("cd '" + dir.path() + "' && mkdir -p bids/sub-01/dwi anat/sub-01/anat && "
                    "touch bids/sub-01/dwi/sub-01_dwi.nii.gz bids/sub-01/dwi/sub-01_dwi.bval "
                    "bids/sub-01/dwi/sub-01_dwi.bvec anat/sub-01/anat/sub-01_T1w.nii.gz"),
              0);
    const char* const searched = "(searched sub-*/dwi/*_dwi.nii[.gz] and";
    const char* const cases[][3] = {
        {"bids", "particpant", "unknown level 'particpant'"},
        {"bids", "participant --participant_label 99", searched},
        {"bids", "group --participant_label 99", searched},
        {"anat", "participant", "without a dwi/ acquisition: sub-01)"},
        {"bids", "participant --config gradcheck=sometimes",
         "gradcheck must be warn, fail or correct, not 'sometimes'"},
        {"bids", "participant --cores", "--cores needs a number"},
        {"missing", "participant", "no BIDS folder"},
    };
    for (const auto& [bids, arguments, message] : cases) {
        SCOPED_TRACE(std::string(bids) + " " + arguments);
        const std::string err = dir.file("err.log");
        EXPECT_EQ(shell(cohortCommand(dir.file(bids), dir.file("out"), arguments,
                                      "> /dev/null 2> '" + err + "'")),
                  2);
        EXPECT_NE(readFile(err).find(message), std::string::npos) << readFile(err);
        EXPECT_EQ(readFile(err).find("set -e"), std::string::npos) << readFile(err);
        EXPECT_FALSE(fileExists(dir.file("out")));
    }
}

// A study made by dwiphantom yields its bundles' figures and profiles with no settings: the
// planes it writes are the default ROIs. One subject's lesion on the straight bundle is named
// on that bundle's plots and on no other.
TEST(Cohort, BundleProfilesNameTheSubjectWithALesion) {
    if (shell("command -v snakemake > /dev/null") != 0) {
        GTEST_SKIP() << "snakemake is not installed";
    }
    TempDir dir;
    ASSERT_EQ(runProgram("dwiphantom",
                         {"-bids", dir.file("bids"), "-n", "5", "-lesion", "3:straight"})
                  .status,
              0);
    const std::string out = dir.file("out");
    const std::string log = " > '" + dir.file("run.log") + "' 2>&1";
    ASSERT_EQ(shell(cohortCommand(dir.file("bids"), out, "participant", "--cores 2") + log), 0)
        << readFile(dir.file("run.log"));
    ASSERT_EQ(shell(cohortCommand(dir.file("bids"), out, "group") + log), 0)
        << readFile(dir.file("run.log"));

    const auto bundles = tsvRows(readFile(out + "/group/bundles.tsv"));
    ASSERT_EQ(bundles.size(), 1U + 5U * 2U);  // straight and arc
    EXPECT_EQ(bundles[0][0] + " " + bundles[0][2] + " " + bundles[0][3], "subject bundle tracks");
    for (size_t r = 1; r < bundles.size(); ++r) {
        SCOPED_TRACE(bundles[r][0] + " " + bundles[r][2]);
        EXPECT_GT(std::stoi(bundles[r][3]), 10);  // tracks through both planes
    }
    const auto profiles = tsvRows(readFile(out + "/group/profiles.tsv"));
    EXPECT_EQ(profiles.size(), 1U + 5U * 2U * 4U * 100U);  // subjects, bundles, maps, nodes

    // The page: which subjects each plot names.
    const std::string page = readFile(out + "/group/index.html");
    const std::regex figure("data-bundle=\"([a-z]+)\" data-map=\"([a-z]+)\" "
                            "data-outside=\"([^\"]*)\"");
    std::map<std::string, std::string> named;
    for (std::sregex_iterator at(page.begin(), page.end(), figure), end; at != end; ++at) {
        named[(*at)[1].str() + " " + (*at)[2].str()] = (*at)[3];
        EXPECT_TRUE(fileExists(out + "/group/profile_" + (*at)[1].str() + "_" + (*at)[2].str() +
                               ".svg"));
    }
    EXPECT_EQ(named.size(), 8U);
    EXPECT_EQ(named["straight fa"], "sub-03");
    for (const auto& [plot, subjects] : named) {
        if (plot.rfind("straight", 0) != 0) {
            EXPECT_EQ(subjects, "") << plot;
        }
    }
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
