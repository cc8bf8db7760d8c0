#pragma once
// Names and small text files of the BIDS dataset dwiphantom writes: the raw dataset (one
// diffusion acquisition per subject) and, beside it, a derivative dataset with every subject's
// ground truth, where BIDS tools expect processed data and do not look for raw files.
//
//   DIR/dataset_description.json, DIR/participants.tsv, DIR/README
//   DIR/sub-01/dwi/sub-01_dwi.nii.gz, .bval, .bvec, .json
//   DIR/derivatives/phantom-truth/dataset_description.json
//   DIR/derivatives/phantom-truth/sub-01/dwi/sub-01_desc-truth_fa.nii.gz, ...
//   DIR/derivatives/phantom-rois/dataset_description.json, README
//   DIR/derivatives/phantom-rois/sub-01/dwi/sub-01_bundle-straight_desc-start_mask.nii.gz, ...

#include <string>
#include <vector>

class BidsDataset {
  public:
    static constexpr const char* kBidsVersion = "1.9.0";
    static constexpr const char* kTruthPipeline = "phantom-truth";
    // The planes across the bundles, for selecting each bundle's tracks.
    static constexpr const char* kRoiPipeline = "phantom-rois";

    struct TextFile {
        std::string path;
        std::string text;
    };

    // subjectCount at least 1. Without bundlePlanes (a phantom without bundles) there is no
    // dataset of planes.
    BidsDataset(std::string folder, int subjectCount, bool bundlePlanes);

    int subjectCount() const { return subjectCount_; }
    // "01", "02", ...: every label has the digits of the largest, two at least, so that the
    // subjects sort by number as text.
    std::string SubjectLabel(int subject) const;
    // Every file of the subject's acquisition starts with it: DIR/sub-01/dwi/sub-01_dwi
    std::string DwiStem(int subject) const;
    // Every truth file of the subject starts with it:
    // DIR/derivatives/phantom-truth/sub-01/dwi/sub-01_desc-truth
    std::string TruthStem(int subject) const;
    // The subject's brain mask among the derivatives, named as BIDS derivatives name them:
    // DIR/derivatives/phantom-truth/sub-01/dwi/sub-01_desc-brain_mask.nii.gz
    std::string BrainMaskName(int subject) const;
    // One plane across a bundle, end "start" or "end":
    // DIR/derivatives/phantom-rois/sub-01/dwi/sub-01_bundle-straight_desc-start_mask.nii.gz
    std::string PlaneMaskName(int subject, const std::string& bundle, const std::string& end) const;
    // Every folder the dataset needs, parents first.
    std::vector<std::string> Folders() const;

    // The files that describe the dataset and its truth; generator says how dwiphantom made
    // the data (recorded in both dataset descriptions).
    std::vector<TextFile> DescriptionFiles(const std::string& generator) const;
    // The JSON sidecar of every acquisition.
    static std::string SidecarText();

  private:
    // What the planes are and how they were placed, for the dataset of planes.
    static std::string RoiReadmeText();
    std::string SubjectFolder(int subject) const;
    std::string TruthFolder() const;
    std::string RoiFolder() const;

    std::string folder_;
    int subjectCount_;
    int labelDigits_;
    bool bundlePlanes_;
};
