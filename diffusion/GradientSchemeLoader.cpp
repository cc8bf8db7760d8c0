#include "GradientSchemeLoader.h"

#include "DTIReconstructor.h"
#include "FslGradientFiles.h"
#include "GradientTableFile.h"

bool GradientSchemeLoader::Load(const AcquisitionSettings& settings, EncodingScheme& scheme,
                                Failure& failure) {
    if (!settings.bvecFile.empty()) {
        std::string reason;
        if (!FslGradientFiles::Read(settings.bvecFile, settings.bvalFile, scheme, reason,
                                    settings.b0Threshold)) {
            failure = {"", "\nCannot load gradient files " + settings.bvecFile + " and " +
                               settings.bvalFile,
                       reason};
            return false;
        }
        return true;
    }
    GradientTableFile::Failure tableFailure;
    if (!GradientTableFile::Read(settings.gradientTable, settings.requestedB0, settings.bValue,
                                 settings.tabledBValues, scheme, tableFailure)) {
        failure = {DTIReconstructor::TableFailureText(tableFailure, settings.gradientTable),
                   "\nCannot load gradient matrix from " + settings.gradientTable, ""};
        return false;
    }
    return true;
}

EncodingScheme GradientSchemeLoader::NegatedX(const EncodingScheme& scheme) {
    EncodingScheme negated = scheme;
    for (GradientVec& g : negated.rows) {
        if (EncodingScheme::IsDiffusionWeighted(g)) {
            g.x = -g.x;
        }
    }
    return negated;
}
