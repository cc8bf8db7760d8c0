// The run log: folder lines, entry numbering continued from the file, tagged entries.

#include "MyLog.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "TestSupport.h"

namespace {

using testsupport::readFile;
using testsupport::TempDir;
using testsupport::writeFile;

// Runs the body in another working directory and comes back, so that tests stay independent.
class WorkingDirectory {
  public:
    explicit WorkingDirectory(const std::string& path) {
        char buffer[4096];
        if (getcwd(buffer, sizeof buffer) != nullptr) {
            previous_ = buffer;
        }
        EXPECT_EQ(chdir(path.c_str()), 0);
    }
    ~WorkingDirectory() {
        if (!previous_.empty()) {
            (void)chdir(previous_.c_str());
        }
    }
    WorkingDirectory(const WorkingDirectory&) = delete;
    WorkingDirectory& operator=(const WorkingDirectory&) = delete;

  private:
    std::string previous_;
};

std::vector<std::string> linesOf(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        lines.push_back(line);
    }
    return lines;
}

// The folder as the log names it: the real path (tmp may be a link) with a trailing '/'.
std::string folderName(const std::string& path) {
    WorkingDirectory inside(path);
    char buffer[4096];
    return std::string(getcwd(buffer, sizeof buffer)) + "/";
}

// An entry line: lead (number or tag field), "[mm/dd/yy HH:MM] ", then the text.
void expectEntry(const std::string& line, const std::string& lead, const std::string& text) {
    const size_t stampLength = std::string("[01/01/20 10:00] ").size();
    ASSERT_EQ(line.size(), lead.size() + stampLength + text.size()) << "line: '" << line << "'";
    EXPECT_EQ(line.substr(0, lead.size()), lead);
    EXPECT_TRUE(std::regex_match(line.substr(lead.size(), stampLength),
                                 std::regex(R"(\[\d\d/\d\d/\d\d \d\d:\d\d\] )")))
        << "line: '" << line << "'";
    EXPECT_EQ(line.substr(lead.size() + stampLength), text);
}

TEST(MyLogTest, NewLogStartsWithFolderLineAndEntryOne) {
    TempDir dir;
    const std::string log = dir.file("run.log");
    {
        WorkingDirectory inside(dir.path());
        MyLog::WriteLog("fiberwalk a b ", log.c_str(), nullptr);
    }
    const std::vector<std::string> lines = linesOf(readFile(log));
    ASSERT_EQ(lines.size(), 2U);
    EXPECT_EQ(lines[0], "    In folder " + folderName(dir.path()));
    expectEntry(lines[1], "1   ", "fiberwalk a b ");
}

TEST(MyLogTest, SameFolderContinuesNumberingAndOtherFolderAddsBlankAndFolderLine) {
    TempDir dir;
    TempDir other;
    const std::string log = dir.file("run.log");
    {
        WorkingDirectory inside(dir.path());
        MyLog::WriteLog("first ", log.c_str(), nullptr);
        MyLog::WriteLog("second ", log.c_str(), nullptr);
    }
    {
        WorkingDirectory inside(other.path());
        MyLog::WriteLog("third ", log.c_str(), nullptr);
    }
    const std::vector<std::string> lines = linesOf(readFile(log));
    ASSERT_EQ(lines.size(), 6U);
    EXPECT_EQ(lines[0], "    In folder " + folderName(dir.path()));
    expectEntry(lines[1], "1   ", "first ");
    expectEntry(lines[2], "2   ", "second ");
    EXPECT_EQ(lines[3], "");
    EXPECT_EQ(lines[4], "    In folder " + folderName(other.path()));
    expectEntry(lines[5], "3   ", "third ");
}

// Numbering follows the last numbered entry (even a smaller one), ignores entries whose number
// is not positive, and the folder state comes from the last line that is not an entry.
TEST(MyLogTest, ExistingEntriesDecideNumberAndFolder) {
    TempDir dir;
    const std::string log = dir.file("run.log");
    const std::string folder = folderName(dir.path());
    const std::string old = "    In folder /elsewhere/\n17  [01/01/20 10:00] a \n\n    In folder " +
                            folder + "\n4   [01/01/20 10:01] b \n0   [01/01/20 10:02] c \n" +
                            "abc [01/01/20 10:03] d \n";
    writeFile(log, old);
    {
        WorkingDirectory inside(dir.path());
        MyLog::WriteLog("e ", log.c_str(), nullptr);
    }
    std::vector<std::string> lines = linesOf(readFile(log));
    ASSERT_EQ(lines.size(), 8U);
    expectEntry(lines[7], "5   ", "e ");

    writeFile(log, old + "    In folder /elsewhere/\n");
    {
        WorkingDirectory inside(dir.path());
        MyLog::WriteLog("f ", log.c_str(), nullptr);
    }
    lines = linesOf(readFile(log));
    ASSERT_EQ(lines.size(), 11U);
    EXPECT_EQ(lines[8], "");
    EXPECT_EQ(lines[9], "    In folder " + folder);
    expectEntry(lines[10], "5   ", "f ");
}

TEST(MyLogTest, FolderWithBlankNeverMatchesItsOwnLine) {
    TempDir dir;
    const std::string spaced = dir.file("with space");
    ASSERT_EQ(mkdir(spaced.c_str(), 0755), 0);
    const std::string log = dir.file("run.log");
    {
        WorkingDirectory inside(spaced);
        MyLog::WriteLog("a ", log.c_str(), nullptr);
        MyLog::WriteLog("b ", log.c_str(), nullptr);
    }
    const std::vector<std::string> lines = linesOf(readFile(log));
    ASSERT_EQ(lines.size(), 5U);
    EXPECT_EQ(lines[0], "    In folder " + folderName(spaced));
    expectEntry(lines[1], "1   ", "a ");
    EXPECT_EQ(lines[2], "");
    EXPECT_EQ(lines[3], lines[0]);
    expectEntry(lines[4], "2   ", "b ");
}

TEST(MyLogTest, TaggedEntriesUseWidenedTagFieldAndKeepNumbering) {
    TempDir dir;
    const std::string log = dir.file("run.log");
    {
        WorkingDirectory inside(dir.path());
        MyLog::WriteLog("one ", log.c_str(), nullptr);
        MyLog::WriteLog("five ", log.c_str(), "fives");
        MyLog::WriteLog("eight ", log.c_str(), "eightchr");
        MyLog::WriteLog("three ", log.c_str(), "abc");
        MyLog::WriteLog("two ", log.c_str(), nullptr);
    }
    const std::vector<std::string> lines = linesOf(readFile(log));
    ASSERT_EQ(lines.size(), 6U);
    expectEntry(lines[2], "fives   ", "five ");
    expectEntry(lines[3], "eightchr    ", "eight ");
    expectEntry(lines[4], "abc ", "three ");
    // Tagged lines carry no number, so numbering goes on from the last numbered entry.
    expectEntry(lines[5], "2   ", "two ");
}

TEST(MyLogTest, UnopenableLogIsReportedOnStandardOutput) {
    TempDir dir;
    const std::string log = dir.file("missing/run.log");
    testing::internal::CaptureStdout();
    MyLog::WriteLog("x ", log.c_str(), nullptr);
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(out, "Can not open " + log + " to write.\n");
}

}  // namespace
