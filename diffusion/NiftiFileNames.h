#pragma once
// How tenscalc finds its raw data: a volume named in full, or the first file of a numbered
// series given by its prefix.

#include <string>

// The raw data file to open for name, or empty text. A name with a volume ending (.nii, .hdr,
// .img, .nii.gz) must exist as given; otherwise name + number (zero-padded to paddings digits)
// and then name alone are tried with the endings .nii, .nii.gz and .hdr.
std::string get_valid_nifti_filename(const std::string& name, int number, int paddings);

// name without its volume ending (.hdr, .img, .nii, .nii.gz) and, when stripNumber is set,
// without the paddings characters of the series number before it.
std::string get_nifti_prefix(const std::string& name, bool stripNumber, int paddings);

// number zero-padded to paddings digits, as the series file names carry it.
std::string format_series_number(int number, int paddings);
