#include "BidsDataset.h"

#include <algorithm>
#include <cstdio>
#include <utility>

#include "BundlePlanes.h"

namespace {

std::string jsonString(const std::string& text) {
    std::string quoted = "\"";
    for (const char c : text) {
        if (c == '"' || c == '\\') {
            quoted += '\\';
            quoted += c;
        } else if (static_cast<unsigned char>(c) < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(c));
            quoted += escaped;
        } else {
            quoted += c;
        }
    }
    return quoted + "\"";
}

std::string descriptionText(const std::string& name, const char* datasetType,
                            const std::string& generator) {
    return "{\n"
           "    \"Name\": " +
           jsonString(name) +
           ",\n"
           "    \"BIDSVersion\": " +
           jsonString(BidsDataset::kBidsVersion) +
           ",\n"
           "    \"DatasetType\": " +
           jsonString(datasetType) +
           ",\n"
           "    \"GeneratedBy\": [\n"
           "        {\n"
           "            \"Name\": \"dwiphantom\",\n"
           "            \"Description\": " +
           jsonString(generator) +
           "\n"
           "        }\n"
           "    ]\n"
           "}\n";
}

}  // namespace

BidsDataset::BidsDataset(std::string folder, int subjectCount, bool bundlePlanes)
    : folder_(std::move(folder)),
      subjectCount_(subjectCount),
      labelDigits_(std::max<int>(2, static_cast<int>(std::to_string(subjectCount).size()))),
      bundlePlanes_(bundlePlanes) {}

std::string BidsDataset::SubjectLabel(int subject) const {
    char label[16];
    std::snprintf(label, sizeof label, "%0*d", labelDigits_, subject);
    return label;
}

std::string BidsDataset::SubjectFolder(int subject) const {
    return "sub-" + SubjectLabel(subject) + "/dwi";
}

std::string BidsDataset::TruthFolder() const {
    return folder_ + "/derivatives/" + kTruthPipeline;
}

std::string BidsDataset::RoiFolder() const {
    return folder_ + "/derivatives/" + kRoiPipeline;
}

std::string BidsDataset::DwiStem(int subject) const {
    return folder_ + "/" + SubjectFolder(subject) + "/sub-" + SubjectLabel(subject) + "_dwi";
}

std::string BidsDataset::TruthStem(int subject) const {
    return TruthFolder() + "/" + SubjectFolder(subject) + "/sub-" + SubjectLabel(subject) +
           "_desc-truth";
}

std::string BidsDataset::BrainMaskName(int subject) const {
    return TruthFolder() + "/" + SubjectFolder(subject) + "/sub-" + SubjectLabel(subject) +
           "_desc-brain_mask.nii.gz";
}

std::string BidsDataset::PlaneMaskName(int subject, const std::string& bundle,
                                       const std::string& end) const {
    return RoiFolder() + "/" + SubjectFolder(subject) + "/sub-" + SubjectLabel(subject) +
           "_bundle-" + bundle + "_desc-" + end + "_mask.nii.gz";
}

std::vector<std::string> BidsDataset::Folders() const {
    std::vector<std::string> folders = {folder_, TruthFolder()};
    if (bundlePlanes_) {
        folders.push_back(RoiFolder());
    }
    for (int subject = 1; subject <= subjectCount_; ++subject) {
        folders.push_back(folder_ + "/" + SubjectFolder(subject));
        folders.push_back(TruthFolder() + "/" + SubjectFolder(subject));
        if (bundlePlanes_) {
            folders.push_back(RoiFolder() + "/" + SubjectFolder(subject));
        }
    }
    return folders;
}

std::vector<BidsDataset::TextFile> BidsDataset::DescriptionFiles(
    const std::string& generator) const {
    std::string participants = "participant_id\n";
    for (int subject = 1; subject <= subjectCount_; ++subject) {
        participants += "sub-" + SubjectLabel(subject) + "\n";
    }
    const std::string readme =
        "Synthetic diffusion MRI written by dwiphantom, so that a study-wide workflow can be\n"
        "tried without data. Subjects: " +
        std::to_string(subjectCount_) +
        ", each with one diffusion acquisition, noise of its own\n"
        "and its bundles moved a little against the other subjects'.\n"
        "\n"
        "The ground truth of every subject is in derivatives/" +
        kTruthPipeline +
        ", in the same voxel grid:\n"
        "desc-truth_fa (true FA), desc-truth_v1 (true principal direction along the voxel\n"
        "axes, 3 volumes), desc-truth_wm (white-matter labels: 1 straight, 2 arc, 3 crossing\n"
        "bundle, 4 where the crossing bundles meet, 5 slanted bundle) and the bundle\n"
        "centre-lines in millimetres (desc-truth_bundles.txt and .trk).\n";
    std::vector<TextFile> files = {
        {folder_ + "/dataset_description.json",
         descriptionText("dwiphantom synthetic diffusion dataset", "raw", generator)},
        {folder_ + "/participants.tsv", participants},
        {folder_ + "/README", readme},
        {TruthFolder() + "/dataset_description.json",
         descriptionText("dwiphantom ground truth", "derivative", generator)},
    };
    if (bundlePlanes_) {
        files.push_back({RoiFolder() + "/dataset_description.json",
                         descriptionText("dwiphantom bundle planes", "derivative", generator)});
        files.push_back({RoiFolder() + "/README", RoiReadmeText()});
    }
    return files;
}

std::string BidsDataset::RoiReadmeText() {
    char text[2048];
    std::snprintf(
        text, sizeof text,
        "Regions of interest for selecting each bundle's tracks, in the grid and the header of\n"
        "the subject's acquisition (uint8, 1 inside): two planes across every bundle,\n"
        "sub-XX_bundle-NAME_desc-start_mask.nii.gz near the first point of its centre-line\n"
        "(derivatives/%s, desc-truth_bundles.txt) and sub-XX_bundle-NAME_desc-end_mask.nii.gz\n"
        "near its last. A track that runs the bundle's length passes through both; a track of\n"
        "another bundle passes through neither.\n"
        "\n"
        "Each plane is perpendicular to the centre-line where it crosses it, one voxel thick\n"
        "(more where it is oblique to the voxel axes, so that no track slips through between\n"
        "its voxels), and reaches %g voxel beyond the bundle's radius. It crosses at %g %%\n"
        "(start) or %g %% (end) of the centre-line's length where every voxel of it keeps more\n"
        "than %g voxels outside every other bundle's radius; elsewhere at the nearest place, in\n"
        "steps of %g %% of the length, that does (towards the middle first), between %g %%\n"
        "from the bundle's end and its middle. The straight bundle's start plane so lies past\n"
        "the crossing bundle, at 25-35 %% of its length.\n",
        kTruthPipeline, BundlePlanes::kMarginVoxels, 100.0 * BundlePlanes::kStartFraction,
        100.0 * BundlePlanes::kEndFraction, BundlePlanes::kClearanceVoxels,
        100.0 * BundlePlanes::kStepFraction, 100.0 * BundlePlanes::kEndKeepFraction);
    return text;
}

std::string BidsDataset::SidecarText() {
    // Plausible values for an echo-planar acquisition, for tools that ask for them.
    return "{\n"
           "    \"PhaseEncodingDirection\": \"j-\",\n"
           "    \"TotalReadoutTime\": 0.05\n"
           "}\n";
}
