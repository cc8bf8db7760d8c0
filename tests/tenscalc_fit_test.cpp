// tenscalc's weighted fits: against the truth of a noisy phantom, on the voxels the ordinary
// fit treats specially, and on the command line.

#include <gtest/gtest.h>

#include <cmath>
#include <iostream>
#include <string>
#include <vector>

#include "PhantomTruth.h"
#include "TenscalcAcquisition.h"
#include "TestSupport.h"

namespace {

using phantomtruth::ReadVolume;
using phantomtruth::Volume;
using testsupport::runProgram;
using testsupport::TempDir;

struct Errors {
    double angle = 0.0;  // mean principal-direction error, degrees
    double fa = 0.0;     // mean absolute FA error
};

// Errors in the single-fibre voxels of the phantom written with prefix truth.
Errors errorsAgainstTruth(const std::string& fit, const std::string& truth) {
    const Volume fa = ReadVolume(fit + "_fa.nii");
    const Volume v1 = ReadVolume(fit + "_v1.nii");
    const Volume trueFa = ReadVolume(truth + "_truth_fa.nii");
    const Volume trueV1 = ReadVolume(truth + "_truth_v1.nii");
    const Volume wm = ReadVolume(truth + "_truth_wm.nii");
    Errors errors;
    int count = 0;
    for (size_t p = 0; p < wm.voxels(); ++p) {
        if (wm.at(p) < 1 || wm.at(p) > 3) {
            continue;
        }
        const double dot = std::fabs(v1.at(p, 0) * trueV1.at(p, 0) + v1.at(p, 1) * trueV1.at(p, 1) +
                                     v1.at(p, 2) * trueV1.at(p, 2));
        errors.angle += std::acos(std::min(1.0, dot)) * 180.0 / M_PI;
        errors.fa += std::fabs(fa.at(p) - trueFa.at(p));
        ++count;
    }
    EXPECT_GT(count, 300);
    errors.angle /= count;
    errors.fa /= count;
    return errors;
}

TEST(TenscalcFit, WeightedFitsAreCloserToTheTruthOfANoisyPhantom) {
    TempDir dir;
    const std::string phantom = dir.file("ph");
    // SNR about 25 in the b0 of the white matter.
    ASSERT_EQ(runProgram("dwiphantom", {phantom, "-sigma", "40"}).status, 0);
    std::vector<std::pair<std::string, Errors>> results;
    for (const std::vector<std::string>& method :
         std::vector<std::vector<std::string>>{{"ols"}, {"wls"}, {"iwls", "2"}}) {
        const std::string name = method.size() == 1 ? method[0] : method[0] + method[1];
        std::vector<std::string> args = {phantom + ".nii", dir.file(name), "-gm",
                                         phantom + "_grad.txt", "-fit"};
        args.insert(args.end(), method.begin(), method.end());
        const auto result = runProgram("tenscalc", args);
        ASSERT_EQ(result.status, 0) << result.err;
        results.emplace_back(name, errorsAgainstTruth(dir.file(name), phantom));
    }
    for (const auto& [name, errors] : results) {
        std::cout << "  " << name << ": mean direction error " << errors.angle
                  << " degrees, mean FA error " << errors.fa << "\n";
    }
    const Errors& ols = results[0].second;
    for (size_t i = 1; i < results.size(); ++i) {
        SCOPED_TRACE(results[i].first);
        EXPECT_LT(results[i].second.angle, ols.angle);
        EXPECT_LT(results[i].second.fa, ols.fa);
    }
}

TEST(TenscalcFit, SpecialVoxelsFollowTheOrdinaryRules) {
    using namespace tenscalctest;  // NOLINT(google-build-using-namespace)
    Workspace r;
    Acquisition& acq = r.acq;
    // Voxel 1: one sample at zero; voxel 2: every sample equal (no attenuation at all);
    // column x = 0 has no signal.
    std::vector<short> all;
    for (int i = 0; i < acq.rows(); ++i) {
        std::vector<short> volume = acq.volume(i);
        if (i == 5) {
            volume[1] = 0;
        }
        volume[2] = 700;
        all.insert(all.end(), volume.begin(), volume.end());
    }
    testsupport::VolumeSpec layout;
    layout.dims = {acq.nx, acq.ny, acq.nz, acq.rows()};
    writeVolume(r.raw, layout, all);
    ASSERT_EQ(r.run({"-fit", "ols"}).status, 0);
    const auto olsTensor = r.output("tensor").as<float>();
    for (const std::vector<std::string>& method :
         std::vector<std::vector<std::string>>{{"-fit", "wls"}, {"-fit", "iwls", "3"}}) {
        SCOPED_TRACE(method.back());
        ASSERT_EQ(r.run(method).status, 0);
        const auto tensor = r.output("tensor").as<float>();
        const auto fa = r.output("fa").as<float>();
        const size_t v = acq.voxels();
        for (size_t p = 0; p < v; ++p) {
            EXPECT_TRUE(std::isfinite(fa[p])) << p;
            for (int plane = 0; plane < 6; ++plane) {
                EXPECT_TRUE(std::isfinite(tensor[plane * v + p])) << p;
            }
            if (p % static_cast<size_t>(acq.nx) == 0) {
                // No signal: the zero tensor, as the ordinary fit gives it.
                for (int plane = 0; plane < 6; ++plane) {
                    EXPECT_EQ(tensor[plane * v + p], 0.0f);
                }
            }
        }
        // Equal samples: no diffusion in any method.
        for (int plane = 0; plane < 6; ++plane) {
            EXPECT_NEAR(tensor[plane * v + 2], 0.0f, 1e-9);
            EXPECT_NEAR(olsTensor[plane * v + 2], 0.0f, 1e-9);
        }
    }
}

TEST(TenscalcFit, FitMethodsOnTheCommandLine) {
    using namespace tenscalctest;  // NOLINT(google-build-using-namespace)
    Workspace r;
    r.acq.write4d(r.raw);
    struct Case {
        std::vector<std::string> words;
        std::string err;
    };
    for (const Case& c : std::vector<Case>{
             {{"-fit", "gls"}, "\n-fit must be one of ols, wls, iwls, not 'gls'.\n"},
             {{"-fit"}, "\nMissing argument(s) for -fit.\n"},
             {{"--fit_method", "iwls", "0"},
              "\n--fit_method must be a whole number from 1 to 100, not '0'.\n"},
             {{"-fit", "iwls", "2.5"}, "\n-fit must be a whole number from 1 to 100, not '2.5'.\n"},
             {{"-fit", "wls", "2"}, "\n-fit wls takes no number ('2' given).\n"}}) {
        SCOPED_TRACE(c.err);
        const auto result = r.run(c.words);
        EXPECT_EQ(result.status, 2);
        EXPECT_EQ(result.err, c.err);
        EXPECT_FALSE(testsupport::fileExists(r.prefix + "_fa.nii"));
    }
    // The default is the ordinary fit, bit for bit.
    ASSERT_EQ(r.run().status, 0);
    const auto plain = r.output("tensor").bytes;
    ASSERT_EQ(r.run({"--fit_method", "ols"}).status, 0);
    EXPECT_EQ(r.output("tensor").bytes, plain);
    ASSERT_EQ(r.run({"-fit", "iwls"}).status, 0);
    ASSERT_EQ(r.run({"-fit", "wls"}).status, 0);
}

}  // namespace
