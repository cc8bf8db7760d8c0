#pragma once
// Finds out, without printing anything, why a volume file set cannot be read: the file that
// cannot be opened (with the system's reason), the header field that is unusable, or where the
// voxel data ends short of what the header describes. NiftiIO consults it before handing a file
// to nifticlib, so that headers nifticlib would refuse are refused here, quietly and with a
// reason, and again after a data read failed, to say why.
//
// Every reason names the file it concerns: "<file>: <what is wrong>".

#include <nifti1_io.h>

#include <cstdint>
#include <string>

class NiftiFileCheck {
  public:
    // Why the header of the file set named filename (found as nifticlib finds it) cannot be
    // used; empty when it can. Refuses exactly the headers the readers refuse: a file that cannot
    // be found or opened, a short or ASCII header, a byte order that cannot be told, a used
    // dimension below 1, a datatype without voxel size, and sizes beyond what can be addressed.
    static std::string HeaderProblem(const std::string& filename);

    // Why a header record (in this machine's byte order) cannot describe a volume: dim[0] outside
    // 1..7, a used dimension below 1, a datatype without voxel size, or more data than can be
    // addressed. Empty when it can. No file name in the text.
    static std::string RecordProblem(const nifti_1_header& hdr);

    // Why the voxel data of an image whose header was read cannot be loaded: its data file cannot
    // be found or opened, the data ends before the header says it does, or vox_offset cannot be
    // used. A generic reason when none of these is found.
    static std::string DataProblem(const nifti_image& image);

    // True when the image's data file is uncompressed and shorter than its header needs. nifticlib
    // reads such a file as if the missing voxels were zeros (and says so on standard error), so
    // the readers refuse it before reading. Compressed files are not measured here: that would
    // mean decompressing them twice.
    static bool DataCutShort(const nifti_image& image);

    // The system's text for an errno value, e.g. "No such file or directory".
    static std::string ErrnoText(int error);

    // n with a comma between groups of three digits: 2621792 -> "2,621,792".
    static std::string Grouped(uint64_t n);
};
