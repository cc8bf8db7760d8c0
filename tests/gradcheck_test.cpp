// gradcheck on phantoms with a bundle through the slices: the right table is recognised, and a
// table with a flipped or swapped axis is found out and corrected, for both kinds of gradient
// files; a phantom without white matter cannot be decided.

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "GradcheckSettings.h"
#include "TestSupport.h"

using testsupport::readFile;
using testsupport::runProgram;
using testsupport::RunResult;
using testsupport::TempDir;
using testsupport::writeFile;

namespace {

using Direction = std::array<double, 3>;

// The numbers of every line that is not a comment, one row per line.
std::vector<std::vector<double>> numberRows(const std::string& text) {
    std::vector<std::vector<double>> rows;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        if (line.empty() || line[0] == '#') {
            continue;
        }
        for (char& c : line) {
            c = c == ',' ? ' ' : c;
        }
        std::istringstream words(line);
        std::vector<double> row;
        double value = 0.0;
        while (words >> value) {
            row.push_back(value);
        }
        if (!row.empty()) {
            rows.push_back(row);
        }
    }
    return rows;
}

// Unit directions (zero for b0) of a gradient table or of a .bvec file.
std::vector<Direction> directionsOf(const std::string& text, bool bvec) {
    const auto rows = numberRows(text);
    std::vector<Direction> directions;
    if (bvec) {
        for (size_t v = 0; rows.size() == 3 && v < rows[0].size(); ++v) {
            directions.push_back({rows[0][v], rows[1][v], rows[2][v]});
        }
    } else {
        for (const auto& row : rows) {
            directions.push_back({row[0], row[1], row[2]});
        }
    }
    for (Direction& d : directions) {
        const double n = std::sqrt(d[0] * d[0] + d[1] * d[1] + d[2] * d[2]);
        for (double& c : d) {
            c = n > 1e-8 ? c / n : 0.0;
        }
    }
    return directions;
}

std::string tableText(const std::vector<Direction>& directions) {
    std::string text;
    char line[100];
    for (const Direction& d : directions) {
        std::snprintf(line, sizeof line, "%.9f %.9f %.9f\n", d[0], d[1], d[2]);
        text += line;
    }
    return text;
}

std::string bvecText(const std::vector<Direction>& directions) {
    std::string text;
    char number[40];
    for (int axis = 0; axis < 3; ++axis) {
        for (const Direction& d : directions) {
            std::snprintf(number, sizeof number, "%.12g ", d[static_cast<size_t>(axis)]);
            text += number;
        }
        text += "\n";
    }
    return text;
}

struct Mistake {
    const char* name;
    Direction (*apply)(const Direction&);
};

const Mistake kMistakes[] = {
    {"flip x", [](const Direction& d) { return Direction{-d[0], d[1], d[2]}; }},
    {"flip y", [](const Direction& d) { return Direction{d[0], -d[1], d[2]}; }},
    {"flip z", [](const Direction& d) { return Direction{d[0], d[1], -d[2]}; }},
    {"swap x/y", [](const Direction& d) { return Direction{d[1], d[0], d[2]}; }},
    {"swap y/z", [](const Direction& d) { return Direction{d[0], d[2], d[1]}; }},
};

std::string lastLine(const std::string& text) {
    const size_t end = text.find_last_not_of('\n');
    const size_t start = text.rfind('\n', end);
    return text.substr(start == std::string::npos ? 0 : start + 1, end - start);
}

class Gradcheck : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        dir_ = new TempDir();
        ASSERT_EQ(runProgram("dwiphantom", {dir_->file("ph"), "-slanted", "-sigma", "10"}).status,
                  0);
    }
    static void TearDownTestSuite() {
        delete dir_;
        dir_ = nullptr;
    }
    static std::string file(const std::string& name) { return dir_->file(name); }

    // Runs the check with a gradient table (bvec false) or .bvec/.bval files.
    static RunResult check(const std::string& gradients, bool bvec, const std::string& exported) {
        std::vector<std::string> args = {file("ph.nii")};
        if (bvec) {
            args.insert(args.end(), {"-bvec", gradients, "-bval", file("ph.bval")});
        } else {
            args.insert(args.end(), {"-gm", gradients});
        }
        args.insert(args.end(), {"-export", exported, "-nthreads", "2"});
        return runProgram("gradcheck", args);
    }

    static TempDir* dir_;
};

TempDir* Gradcheck::dir_ = nullptr;

TEST_F(Gradcheck, TheRightTableLooksRight) {
    for (const bool bvec : {false, true}) {
        SCOPED_TRACE(bvec ? "bvec" : "table");
        const std::string given = file(bvec ? "ph.bvec" : "ph_grad.txt");
        const RunResult result = check(given, bvec, file("same.txt"));
        EXPECT_EQ(result.status, 0) << result.out << result.err;
        EXPECT_EQ(lastLine(result.out), "Gradient table looks right");
        // The table of every candidate is listed, the one as given marked.
        EXPECT_NE(result.out.find("permutation  flips   mean length (mm)   tracks"),
                  std::string::npos);
        EXPECT_NE(result.out.find("   as given\n"), std::string::npos);
        const auto exported = directionsOf(readFile(file("same.txt")), bvec);
        const auto right = directionsOf(readFile(given), bvec);
        ASSERT_EQ(exported.size(), right.size());
    }
}

TEST_F(Gradcheck, FlippedOrSwappedAxesAreFoundAndCorrected) {
    for (const bool bvec : {false, true}) {
        const std::string rightFile = file(bvec ? "ph.bvec" : "ph_grad.txt");
        const std::vector<Direction> right = directionsOf(readFile(rightFile), bvec);
        ASSERT_GT(right.size(), 60U);
        for (const Mistake& mistake : kMistakes) {
            SCOPED_TRACE(std::string(bvec ? "bvec " : "table ") + mistake.name);
            std::vector<Direction> wrong;
            for (const Direction& d : right) {
                wrong.push_back(mistake.apply(d));
            }
            const std::string wrongFile = file("wrong.txt");
            writeFile(wrongFile, bvec ? bvecText(wrong) : tableText(wrong));
            const RunResult result = check(wrongFile, bvec, file("fixed.txt"));
            EXPECT_EQ(result.status, 3) << result.out << result.err;
            EXPECT_EQ(lastLine(result.out).rfind("Gradient table looks wrong: best is ", 0), 0U)
                << lastLine(result.out);
            const auto fixed = directionsOf(readFile(file("fixed.txt")), bvec);
            ASSERT_EQ(fixed.size(), right.size());
            for (size_t v = 0; v < right.size(); ++v) {
                for (size_t a = 0; a < 3; ++a) {
                    EXPECT_NEAR(fixed[v][a], right[v][a], 1e-6) << "volume " << v;
                }
            }
        }
    }
}

TEST(GradcheckUndecided, APhantomWithoutWhiteMatterCannotBeDecided) {
    TempDir dir;
    ASSERT_EQ(runProgram("dwiphantom", {dir.file("iso"), "-isotropic"}).status, 0);
    const RunResult result = runProgram(
        "gradcheck", {dir.file("iso.nii"), "-gm", dir.file("iso_grad.txt"), "-export",
                      dir.file("never.txt")});
    EXPECT_EQ(result.status, 4) << result.out;
    EXPECT_EQ(lastLine(result.out).rfind("Gradient table cannot be checked: ", 0), 0U)
        << result.out;
    EXPECT_FALSE(testsupport::fileExists(dir.file("never.txt")));
}

TEST(GradcheckCommandLine, RefusesWithoutGradients) {
    const RunResult none = runProgram("gradcheck", {"raw.nii"});
    EXPECT_EQ(none.status, 2);
    EXPECT_EQ(none.err, "\nPlease specify a matrix file with -gm, or -bvec and -bval.\n");
    const RunResult help = runProgram("gradcheck", {});
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("Usage: gradcheck RAW_DATA_FILE_NAME"), std::string::npos);
}

}  // namespace
