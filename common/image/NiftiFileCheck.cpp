#include "NiftiFileCheck.h"

#include <sys/stat.h>
#include <zlib.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <system_error>
#include <vector>

#include "OwnedHandles.h"

namespace {

constexpr size_t kHeaderSize = sizeof(nifti_1_header);
static_assert(kHeaderSize == 348, "the NIfTI-1 header record is 348 bytes");

struct MallocFree {
    void operator()(char* text) const noexcept { std::free(text); }
};
// Names nifticlib allocates for its callers.
using OwnedName = std::unique_ptr<char, MallocFree>;

struct GzCloser {
    void operator()(gzFile_s* file) const noexcept { gzclose(file); }
};
using OwnedGz = std::unique_ptr<gzFile_s, GzCloser>;

// One file read as nifticlib reads it: names ending in .gz through zlib, others as they are.
// Remembers why opening or reading failed instead of telling anyone.
class Source {
  public:
    explicit Source(const std::string& name) : name_(name) {
        errno = 0;
        if (nifti_is_gzfile(name.c_str()) != 0) {
            gz_.reset(gzopen(name.c_str(), "rb"));
        } else {
            plain_.reset(std::fopen(name.c_str(), "rb"));
        }
        if (!gz_ && !plain_) {
            openError_ = errno != 0 ? errno : ENOENT;
        }
    }

    bool opened() const { return openError_ == 0; }
    int openError() const { return openError_; }

    // Up to size bytes from the current position; fewer only at the end or on a failure.
    size_t read(void* buffer, size_t size) {
        unsigned char* out = static_cast<unsigned char*>(buffer);
        size_t got = 0;
        while (got < size && failure_.empty()) {
            const size_t part = readSome(out + got, size - got);
            if (part == 0) {
                break;
            }
            got += part;
        }
        return got;
    }

    // Bytes the file holds (decompressed for .gz), counted no further than limit.
    uint64_t measure(uint64_t limit) {
        if (plain_) {
            struct stat info {};
            if (fstat(fileno(plain_.get()), &info) != 0) {
                failure_ = NiftiFileCheck::ErrnoText(errno);
                return 0;
            }
            if (S_ISDIR(info.st_mode)) {
                failure_ = NiftiFileCheck::ErrnoText(EISDIR);
                return 0;
            }
            return static_cast<uint64_t>(info.st_size);
        }
        std::vector<unsigned char> chunk(1 << 16);
        uint64_t total = 0;
        while (total < limit && failure_.empty()) {
            const size_t part = readSome(chunk.data(), chunk.size());
            if (part == 0) {
                break;
            }
            total += part;
        }
        return total;
    }

    // Why reading stopped before the end of the file; empty when it did not.
    const std::string& failure() const { return failure_; }

  private:
    size_t readSome(unsigned char* out, size_t size) {
        if (!opened()) {
            return 0;
        }
        if (plain_) {
            const size_t got = std::fread(out, 1, size, plain_.get());
            if (got < size && std::ferror(plain_.get()) != 0) {
                failure_ = NiftiFileCheck::ErrnoText(errno);
            }
            return got;
        }
        const unsigned request = static_cast<unsigned>(std::min<size_t>(size, size_t{1} << 30));
        errno = 0;
        const int got = gzread(gz_.get(), out, request);
        if (got <= 0) {
            int code = Z_OK;
            const char* message = gzerror(gz_.get(), &code);
            if (code == Z_ERRNO) {
                failure_ = NiftiFileCheck::ErrnoText(errno != 0 ? errno : EIO);
            } else if (code != Z_OK && code != Z_STREAM_END) {
                // zlib puts the file name in front; the reason names the file already.
                std::string text = message != nullptr ? message : "";
                const std::string lead = name_ + ": ";
                if (text.compare(0, lead.size(), lead) == 0) {
                    text.erase(0, lead.size());
                }
                failure_ = "compressed data: " + text;
            }
            return 0;
        }
        return static_cast<size_t>(got);
    }

    std::string name_;
    OwnedFile plain_;
    OwnedGz gz_;
    int openError_ = 0;
    std::string failure_;
};

template <typename T>
T swapped(T value) {
    unsigned char bytes[sizeof(T)];
    std::memcpy(bytes, &value, sizeof(T));
    std::reverse(bytes, bytes + sizeof(T));
    std::memcpy(&value, bytes, sizeof(T));
    return value;
}

// nifticlib's byte-order rule: dim[0] decides when it is not 0, else sizeof_hdr does.
// 0: as stored, 1: swapped, -1: neither order makes sense.
int byteOrder(short dim0, int sizeofHdr) {
    if (dim0 != 0) {
        if (dim0 > 0 && dim0 <= 7) {
            return 0;
        }
        const short other = swapped(dim0);
        return other > 0 && other <= 7 ? 1 : -1;
    }
    if (sizeofHdr == static_cast<int>(kHeaderSize)) {
        return 0;
    }
    return swapped(sizeofHdr) == static_cast<int>(kHeaderSize) ? 1 : -1;
}

// The fields the checks look at, put into this machine's byte order.
void swapCheckedFields(nifti_1_header& hdr) {
    hdr.sizeof_hdr = swapped(hdr.sizeof_hdr);
    for (short& d : hdr.dim) {
        d = swapped(d);
    }
    hdr.datatype = swapped(hdr.datatype);
    hdr.bitpix = swapped(hdr.bitpix);
    hdr.vox_offset = swapped(hdr.vox_offset);
}

struct HeaderRead {
    std::string problem;  // why there is no usable record
    nifti_1_header record{};
};

// The header record of the named header file in this machine's byte order.
HeaderRead readRecord(const std::string& name) {
    HeaderRead result;
    Source source(name);
    if (!source.opened()) {
        result.problem = name + ": cannot open: " + NiftiFileCheck::ErrnoText(source.openError());
        return result;
    }
    unsigned char bytes[kHeaderSize] = {};
    const size_t count = source.read(bytes, kHeaderSize);
    static const char kAsciiStart[] = "<nifti_image";
    const size_t asciiLength = sizeof(kAsciiStart) - 1;
    if (count >= asciiLength && std::memcmp(bytes, kAsciiStart, asciiLength) == 0) {
        result.problem = name + ": ASCII NIfTI headers are not read";
        return result;
    }
    if (count < kHeaderSize) {
        result.problem = source.failure().empty()
                             ? name + ": file ends at byte " + NiftiFileCheck::Grouped(count) +
                                   "; the header needs " + NiftiFileCheck::Grouped(kHeaderSize)
                             : name + ": cannot read the header: " + source.failure();
        return result;
    }
    std::memcpy(&result.record, bytes, kHeaderSize);
    nifti_1_header& hdr = result.record;
    const int order = byteOrder(hdr.dim[0], hdr.sizeof_hdr);
    if (order < 0) {
        result.problem =
            hdr.dim[0] != 0
                ? name + ": header field dim[0] is " + std::to_string(hdr.dim[0]) +
                      ", not 1 to 7 in either byte order"
                : name + ": header field sizeof_hdr is " + std::to_string(hdr.sizeof_hdr) +
                      ", not 348 in either byte order (and dim[0] is 0)";
        return result;
    }
    if (order > 0) {
        swapCheckedFields(hdr);
    }
    return result;
}

bool endsWith(const std::string& text, const std::string& ending) {
    return text.size() >= ending.size() &&
           text.compare(text.size() - ending.size(), ending.size(), ending) == 0;
}

std::string lowered(std::string text) {
    for (char& c : text) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return text;
}

int openError(const std::string& name) {
    errno = 0;
    const OwnedFile file(std::fopen(name.c_str(), "rb"));
    return file ? 0 : (errno != 0 ? errno : ENOENT);
}

// nifticlib found no header file for filename: say which file is missing and why.
std::string missingProblem(const std::string& filename) {
    if (filename.empty()) {
        return "no file name was given";
    }
    const std::string lower = lowered(filename);
    std::string ending;
    for (const char* known : {".nii.gz", ".hdr.gz", ".img.gz", ".nia.gz", ".nii", ".hdr", ".img",
                              ".nia"}) {
        if (endsWith(lower, known)) {
            ending = known;
            break;
        }
    }
    if (ending.empty()) {
        return filename + ": none of " + filename + ".nii, .nii.gz, .hdr and .hdr.gz exists";
    }
    std::string probe = filename;
    if (ending.compare(0, 4, ".img") == 0) {
        // An image file's header is the .hdr beside it.
        const std::string base = filename.substr(0, filename.size() - ending.size());
        const bool upper = filename.compare(base.size(), 4, ".IMG") == 0;
        probe = base + (upper ? ".HDR" : ".hdr");
    }
    const int error = openError(probe);
    if (error == 0) {
        return probe + ": not found as a volume header";
    }
    return probe + ": cannot open: " + NiftiFileCheck::ErrnoText(error);
}

std::string dimensionList(const nifti_1_header& hdr) {
    std::string text;
    for (int axis = 1; axis <= hdr.dim[0]; ++axis) {
        text += (axis > 1 ? " x " : "") + std::to_string(hdr.dim[axis]);
    }
    return text;
}

// A header whose bitpix disagrees with its datatype was often written with the wrong voxel size,
// which explains data of an unexpected length.
std::string bitpixNote(const nifti_image& image) {
    if (image.fname == nullptr) {
        return "";
    }
    const HeaderRead header = readRecord(image.fname);
    if (!header.problem.empty() || header.record.bitpix == 8 * image.nbyper) {
        return "";
    }
    return "header field bitpix is " + std::to_string(header.record.bitpix) + ", but datatype " +
           nifti_datatype_string(image.datatype) + " has " + std::to_string(8 * image.nbyper) +
           " bits a voxel";
}

}  // namespace

std::string NiftiFileCheck::HeaderProblem(const std::string& filename) {
    const OwnedName found(nifti_findhdrname(filename.c_str()));
    if (!found) {
        return missingProblem(filename);
    }
    const std::string name = found.get();
    const HeaderRead header = readRecord(name);
    if (!header.problem.empty()) {
        return header.problem;
    }
    const std::string problem = RecordProblem(header.record);
    return problem.empty() ? problem : name + ": " + problem;
}

std::string NiftiFileCheck::RecordProblem(const nifti_1_header& hdr) {
    const int rank = hdr.dim[0];
    if (rank < 1 || rank > 7) {
        return "header field dim[0] is " + std::to_string(rank) + ", not 1 to 7";
    }
    for (int axis = 1; axis <= rank; ++axis) {
        if (hdr.dim[axis] <= 0) {
            return "header field dim[" + std::to_string(axis) + "] is " +
                   std::to_string(hdr.dim[axis]) + ", not a size of at least 1";
        }
    }
    if (nifti_is_valid_datatype(hdr.datatype) == 0) {
        const std::string name = nifti_datatype_string(hdr.datatype);
        return "header field datatype is " + std::to_string(hdr.datatype) +
               (name == "**ILLEGAL**" ? ", not a NIfTI voxel type"
                                      : " (" + name + "), which has no voxel size");
    }
    int bytesPer = 0;
    int swapSize = 0;
    nifti_datatype_sizes(hdr.datatype, &bytesPer, &swapSize);
    const size_t limit = std::numeric_limits<size_t>::max();
    size_t count = bytesPer > 0 ? static_cast<size_t>(bytesPer) : 1U;
    for (int axis = 1; axis <= rank; ++axis) {
        const size_t extent = static_cast<size_t>(hdr.dim[axis]);
        if (count > limit / extent) {
            return "header dimensions " + dimensionList(hdr) +
                   " describe more data than can be addressed";
        }
        count *= extent;
    }
    return "";
}

bool NiftiFileCheck::DataCutShort(const nifti_image& image) {
    if (image.iname == nullptr || image.nbyper <= 0 || image.nvox == 0 ||
        image.iname_offset < 0 || nifti_is_gzfile(image.iname) != 0) {
        return false;
    }
    const OwnedName found(nifti_findimgname(image.iname, image.nifti_type));
    struct stat info {};
    if (!found || nifti_is_gzfile(found.get()) != 0 || stat(found.get(), &info) != 0) {
        return false;
    }
    const uint64_t needed = static_cast<uint64_t>(image.iname_offset) + nifti_get_volsize(&image);
    return static_cast<uint64_t>(info.st_size) < needed;
}

std::string NiftiFileCheck::DataProblem(const nifti_image& image) {
    const std::string headerName = image.fname != nullptr ? image.fname : "the volume";
    if (image.iname == nullptr || image.nbyper <= 0 || image.nvox == 0) {
        return headerName + ": the header describes no voxel data";
    }
    const std::string dataName = image.iname;
    const OwnedName found(nifti_findimgname(image.iname, image.nifti_type));
    if (!found) {
        const int error = openError(dataName);
        return dataName + ": cannot open: " + ErrnoText(error != 0 ? error : ENOENT);
    }
    const std::string name = found.get();
    const uint64_t volume = nifti_get_volsize(&image);

    // Where the data starts, decided as the loader decides it: a negative offset counts back
    // from the end of an uncompressed file.
    uint64_t start = 0;
    if (image.iname_offset >= 0) {
        start = static_cast<uint64_t>(image.iname_offset);
    } else if (nifti_is_gzfile(image.iname) != 0) {
        return headerName + ": header field vox_offset is negative, which a compressed data " +
               "file cannot have";
    } else {
        struct stat info {};
        const uint64_t size =
            stat(image.iname, &info) == 0 ? static_cast<uint64_t>(info.st_size) : 0;
        start = size > volume ? size - volume : 0;
    }
    const uint64_t needed = start + volume;

    Source source(name);
    if (!source.opened()) {
        return name + ": cannot open: " + ErrnoText(source.openError());
    }
    const uint64_t available = source.measure(needed);
    if (available < needed) {
        std::string notes = source.failure();
        const std::string bitpix = bitpixNote(image);
        if (!bitpix.empty()) {
            notes += (notes.empty() ? "" : "; ") + bitpix;
        }
        return name + ": data ends at byte " + Grouped(available) + "; the header needs " +
               Grouped(needed) + (notes.empty() ? "" : " (" + notes + ")");
    }
    if (!source.failure().empty()) {
        return name + ": cannot read the voxel data: " + source.failure();
    }
    return name + ": the voxel data could not be read";
}

std::string NiftiFileCheck::ErrnoText(int error) {
    return std::generic_category().message(error);
}

std::string NiftiFileCheck::Grouped(uint64_t n) {
    std::string digits = std::to_string(n);
    for (size_t end = digits.size(); end > 3; end -= 3) {
        digits.insert(end - 3, 1, ',');
    }
    return digits;
}
