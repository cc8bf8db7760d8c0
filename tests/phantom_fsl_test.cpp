// The phantom's acquisition written with headers of both handedness and with an oblique
// voxel-to-world matrix, fitted from its .bvec/.bval files: the same FA and ADC as the fit from
// its gradient table, and principal directions along the truth in the voxel frame.

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "PhantomTruth.h"
#include "TestSupport.h"

using namespace phantomtruth;  // NOLINT(google-build-using-namespace)
using testsupport::readFile;
using testsupport::runProgram;
using testsupport::RunResult;
using testsupport::TempDir;
using testsupport::writeFile;

namespace {

class PhantomFsl : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        dir_ = new TempDir();
        // Little noise, so that the directions can be held to the truth closely.
        ASSERT_EQ(runProgram("dwiphantom", {dir_->file("plain"), "-sigma", "2"}).status, 0);
        ASSERT_EQ(runProgram("tenscalc", {dir_->file("plain.nii"), dir_->file("table"), "-gm",
                                          dir_->file("plain_grad.txt")})
                      .status,
                  0);
    }
    static void TearDownTestSuite() {
        delete dir_;
        dir_ = nullptr;
    }
    static std::string file(const std::string& name) { return dir_->file(name); }

    // Mean |cos| between the fitted principal direction and the truth in single-fibre voxels.
    static double Alignment(const std::string& v1File) {
        const Volume v1 = ReadVolume(v1File);
        const Volume truth = ReadVolume(file("plain_truth_v1.nii"));
        const Volume wm = ReadVolume(file("plain_truth_wm.nii"));
        double sum = 0.0;
        int count = 0;
        for (size_t p = 0; p < wm.voxels(); ++p) {
            const int label = static_cast<int>(wm.at(p));
            if (label < 1 || label > 3) {
                continue;
            }
            sum += std::fabs(v1.at(p, 0) * truth.at(p, 0) + v1.at(p, 1) * truth.at(p, 1) +
                             v1.at(p, 2) * truth.at(p, 2));
            ++count;
        }
        EXPECT_GT(count, 300);
        return count > 0 ? sum / count : 0.0;
    }

    static double LargestDifference(const std::string& a, const std::string& b) {
        const Volume first = ReadVolume(a);
        const Volume second = ReadVolume(b);
        EXPECT_EQ(first.values.size(), second.values.size());
        double largest = 0.0;
        for (size_t i = 0; i < first.values.size() && i < second.values.size(); ++i) {
            largest = std::max(largest, std::fabs(first.values[i] - second.values[i]));
        }
        return largest;
    }

    static TempDir* dir_;
};

TempDir* PhantomFsl::dir_ = nullptr;

TEST_F(PhantomFsl, EveryHeaderGivesTheTableFitAndTheTrueDirections) {
    const double tableAlignment = Alignment(file("table_v1.nii"));
    EXPECT_GT(tableAlignment, 0.99);
    const std::vector<std::vector<std::string>> headers = {
        {}, {"-las"}, {"-oblique"}, {"-las", "-oblique"}};
    for (const auto& flags : headers) {
        std::string name = "h";
        for (const std::string& flag : flags) {
            name += flag;
        }
        SCOPED_TRACE(name);
        std::vector<std::string> args = {file(name), "-sigma", "2"};
        args.insert(args.end(), flags.begin(), flags.end());
        ASSERT_EQ(runProgram("dwiphantom", args).status, 0);
        const RunResult fit = runProgram(
            "tenscalc", {file(name + ".nii"), file(name), "-bvec", file(name + ".bvec"), "-bval",
                         file(name + ".bval")});
        ASSERT_EQ(fit.status, 0) << fit.err;
        EXPECT_LT(LargestDifference(file(name + "_fa.nii"), file("table_fa.nii")), 1e-6);
        EXPECT_LT(LargestDifference(file(name + "_adc.nii"), file("table_adc.nii")), 1e-9);
        EXPECT_GT(Alignment(file(name + "_v1.nii")), 0.99);
    }
}

TEST_F(PhantomFsl, FlippedOrSwappedFilesGiveVisiblyWrongDirections) {
    // The .bvec of the default header, with x negated once more, or y and z exchanged.
    const std::string bvec = readFile(file("plain.bvec"));
    std::vector<std::string> rows;
    size_t start = 0;
    while (start < bvec.size()) {
        const size_t end = bvec.find('\n', start);
        rows.push_back(bvec.substr(start, end - start));
        start = end == std::string::npos ? bvec.size() : end + 1;
    }
    ASSERT_EQ(rows.size(), 3U);
    std::string negatedX;
    size_t word = 0;
    while (word < rows[0].size()) {
        const size_t end = rows[0].find(' ', word);
        const std::string value = rows[0].substr(word, end - word);
        negatedX += (value[0] == '-' ? value.substr(1) : "-" + value) + " ";
        word = end == std::string::npos ? rows[0].size() : end + 1;
    }
    const std::vector<std::pair<std::string, std::string>> wrong = {
        {"flipx", negatedX + "\n" + rows[1] + "\n" + rows[2] + "\n"},
        {"swapyz", rows[0] + "\n" + rows[2] + "\n" + rows[1] + "\n"}};
    for (const auto& [name, text] : wrong) {
        SCOPED_TRACE(name);
        writeFile(file(name + ".bvec"), text);
        ASSERT_EQ(runProgram("tenscalc", {file("plain.nii"), file(name), "-bvec",
                                          file(name + ".bvec"), "-bval", file("plain.bval")})
                      .status,
                  0);
        // FA does not see the mistake; the directions do.
        EXPECT_LT(LargestDifference(file(name + "_fa.nii"), file("table_fa.nii")), 1e-5);
        EXPECT_LT(Alignment(file(name + "_v1.nii")), 0.9);
    }
}

}  // namespace
