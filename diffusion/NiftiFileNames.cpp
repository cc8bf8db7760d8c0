#include "NiftiFileNames.h"

#include <algorithm>
#include <cstdio>
#include <vector>

#include "CMyUtils.h"

std::string format_series_number(int number, int paddings) {
    const std::string format = "%0" + std::to_string(paddings) + "d";
    const int length = std::snprintf(nullptr, 0, format.c_str(), number);
    if (length < 0) {
        return "";
    }
    std::vector<char> text(static_cast<size_t>(length) + 1, '\0');
    std::snprintf(text.data(), text.size(), format.c_str(), number);
    return text.data();
}

std::string get_valid_nifti_filename(const std::string& name, int number, int paddings) {
    const std::string extension = CMyUtils::getFileExtension(name);
    const bool hasVolumeEnding =
        extension == "nii" || extension == "hdr" || extension == "img" ||
        (extension == "gz" && CMyUtils::getFileExtension(CMyUtils::getFileTitle(name)) == "nii");
    if (hasVolumeEnding) {
        return CMyUtils::pathExist(name) ? name : "";
    }
    const std::string digits = format_series_number(number, paddings);
    const std::string candidates[] = {
        name + digits + ".nii", name + digits + ".nii.gz", name + digits + ".hdr",
        name + ".nii",          name + ".nii.gz",          name + ".hdr",
    };
    for (const auto& candidate : candidates) {
        if (CMyUtils::pathExist(candidate)) {
            return candidate;
        }
    }
    return "";
}

std::string get_nifti_prefix(const std::string& name, bool stripNumber, int paddings) {
    const std::string extension = CMyUtils::getFileExtension(name);
    size_t cut = 0;
    if (extension == "hdr" || extension == "img" || extension == "nii") {
        cut = 4;
    } else if (extension == "gz") {
        cut = 7;
    }
    if (stripNumber && paddings > 0) {
        cut += static_cast<size_t>(paddings);
    }
    return name.substr(0, name.size() - std::min(cut, name.size()));
}
