#pragma once
// trkprofile's command line: the track file, the masks that select tracks, the maps sampled
// along them, the files to write and how the profile is made.

#include <optional>
#include <string>
#include <vector>

#include "OptionTable.h"
#include "RunStep.h"

class ProfileSettings {
  public:
    static constexpr const char* kProgramName = "trkprofile";
    static constexpr int kDefaultNodes = 100;
    static constexpr int kMostNodes = 100000;

    enum class Weights { kUniform, kGaussian };

    struct NamedMap {
        std::string name;  // the column and row label: fa in fa_mean
        std::string file;
    };
    struct LengthRange {
        double min = 0.0;
        double max = 0.0;
    };

    std::string tracks;
    std::vector<std::string> includes;  // every one must be passed through
    std::vector<std::string> excludes;  // none may be touched
    std::string ends;                   // empty: no end-point condition
    std::optional<LengthRange> length;  // millimetres
    std::vector<NamedMap> maps;
    std::string selectedOutput;  // empty: the selected tracks are not written
    std::string statsFile;
    std::string profileFile;
    int nodes = kDefaultNodes;
    Weights weights = Weights::kUniform;
    std::string bundle;  // the name in the first column of both tables
    int threads = 1;

    // The image whose grid a .tck file's points are placed on: the first mask or map named
    // on the command line; empty when none is.
    std::string GridImage() const { return gridImage_; }

    static const OptionTable& Options();
    static RunStep FromCommandLine(int argc, const char* const* argv, ProfileSettings* settings);

  private:
    static RunStep CollectRepeated(int argc, const char* const* argv, ProfileSettings* settings);

    std::string gridImage_;
};
