#include "OwnedNiftiImage.h"
#include "NiftiIO.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <type_traits>
#include <vector>

#include "CMyMath.h"
#include "NiftiFileCheck.h"

namespace {

static_assert(sizeof(long double) == 16, "DT_FLOAT128 voxels are read as 16-byte long double");

// Releases loaded voxel data when a read operation ends, whichever way it ends, so that every
// read goes back to the file and nothing stays loaded behind the caller's back.
class LoadedData {
  public:
    explicit LoadedData(nifti_image* image) : image_(image) {}
    ~LoadedData() { nifti_image_unload(image_); }
    LoadedData(const LoadedData&) = delete;
    LoadedData& operator=(const LoadedData&) = delete;
    bool load() {
        return !NiftiFileCheck::DataCutShort(*image_) && nifti_image_load(image_) >= 0 &&
               image_->data != nullptr;
    }

  private:
    nifti_image* image_;
};

// Bytes per voxel of each handled type; 0 for types no reader handles. Checked against the
// library's nbyper so that a disagreement can never make a reader step past the loaded data.
int storedSize(int datatype) {
    switch (datatype) {
        case DT_UINT8:
        case DT_INT8:
            return 1;
        case DT_INT16:
        case DT_UINT16:
            return 2;
        case DT_INT32:
        case DT_UINT32:
        case DT_FLOAT32:
            return 4;
        case DT_RGB24:
            return 3;
        case DT_INT64:
        case DT_UINT64:
        case DT_FLOAT64:
            return 8;
        case DT_FLOAT128:
            return 16;
        default:
            return 0;
    }
}

template <typename S>
S storedAt(const unsigned char* bytes, size_t i) {
    S value;
    std::memcpy(&value, bytes + i * sizeof(S), sizeof(S));
    return value;
}

// Truncation toward zero as the x86 conversion instruction does it: NaN and values outside the
// 32-bit range give INT32_MIN. Spelled out because the plain cast is undefined there.
template <typename F>
int32_t truncateToInt(F value) {
    if (value > F(-2147483649.0) && value < F(2147483648.0)) {
        return static_cast<int32_t>(value);
    }
    return std::numeric_limits<int32_t>::min();
}

template <typename S>
int32_t toInt(S value) {
    if constexpr (std::is_floating_point_v<S>) {
        return truncateToInt(value);
    } else if constexpr (sizeof(S) <= 2) {
        return static_cast<int32_t>(value);
    } else {
        // 32-bit types copy bit for bit, 64-bit types keep their low 32 bits.
        return static_cast<int32_t>(static_cast<uint32_t>(value));
    }
}

template <typename D, typename S>
D convert(S value) {
    if constexpr (std::is_same_v<D, float>) {
        return static_cast<float>(value);
    } else if constexpr (std::is_same_v<D, int>) {
        return toInt(value);
    } else {
        static_assert(std::is_same_v<D, short>);
        return static_cast<short>(static_cast<uint16_t>(static_cast<uint32_t>(toInt(value))));
    }
}

template <typename D, typename S>
void convertAll(const unsigned char* bytes, D* dest, size_t begin, size_t end) {
    for (size_t i = begin; i < end; ++i) {
        dest[i] = convert<D>(storedAt<S>(bytes, i));
    }
}

// Colour voxels become one 18-bit value with 6 bits per channel.
template <typename D>
void packColour(const unsigned char* bytes, D* dest, size_t begin, size_t end) {
    for (size_t i = begin; i < end; ++i) {
        const unsigned char* rgb = bytes + 3 * i;
        const int32_t packed = (rgb[0] >> 2) * 4096 + (rgb[1] >> 2) * 64 + (rgb[2] >> 2);
        dest[i] = convert<D>(packed);
    }
}

// Converts stored elements [begin, end) into dest[begin, end). False for unhandled types.
template <typename D>
bool convertStored(int datatype, const unsigned char* bytes, D* dest, size_t begin, size_t end,
                   bool packColor) {
    switch (datatype) {
        case DT_UINT8:
            convertAll<D, uint8_t>(bytes, dest, begin, end);
            return true;
        case DT_INT8:
            convertAll<D, int8_t>(bytes, dest, begin, end);
            return true;
        case DT_INT16:
            convertAll<D, int16_t>(bytes, dest, begin, end);
            return true;
        case DT_UINT16:
            convertAll<D, uint16_t>(bytes, dest, begin, end);
            return true;
        case DT_INT32:
            convertAll<D, int32_t>(bytes, dest, begin, end);
            return true;
        case DT_UINT32:
            convertAll<D, uint32_t>(bytes, dest, begin, end);
            return true;
        case DT_INT64:
            convertAll<D, int64_t>(bytes, dest, begin, end);
            return true;
        case DT_UINT64:
            convertAll<D, uint64_t>(bytes, dest, begin, end);
            return true;
        case DT_FLOAT32:
            convertAll<D, float>(bytes, dest, begin, end);
            return true;
        case DT_FLOAT64:
            convertAll<D, double>(bytes, dest, begin, end);
            return true;
        case DT_FLOAT128:
            convertAll<D, long double>(bytes, dest, begin, end);
            return true;
        case DT_RGB24:
            if (!packColor) {
                return false;
            }
            packColour(bytes, dest, begin, end);
            return true;
        default:
            return false;
    }
}

template <typename S, typename C>
void maskAll(const unsigned char* bytes, short* dest, size_t n, C low, C high) {
    for (size_t i = 0; i < n; ++i) {
        const C value = static_cast<C>(storedAt<S>(bytes, i));
        // Without a branch: masks of noisy images would otherwise mispredict on every voxel.
        dest[i] = static_cast<short>((low <= value) & (value <= high));
    }
}

bool maskStored(int datatype, const unsigned char* bytes, short* dest, size_t n, double low,
                double high) {
    switch (datatype) {
        case DT_UINT8:
            maskAll<uint8_t, double>(bytes, dest, n, low, high);
            return true;
        case DT_INT8:
            maskAll<int8_t, double>(bytes, dest, n, low, high);
            return true;
        case DT_INT16:
            maskAll<int16_t, double>(bytes, dest, n, low, high);
            return true;
        case DT_UINT16:
            maskAll<uint16_t, double>(bytes, dest, n, low, high);
            return true;
        case DT_INT32:
            maskAll<int32_t, double>(bytes, dest, n, low, high);
            return true;
        case DT_UINT32:
            maskAll<uint32_t, double>(bytes, dest, n, low, high);
            return true;
        case DT_INT64:
            maskAll<int64_t, double>(bytes, dest, n, low, high);
            return true;
        case DT_UINT64:
            maskAll<uint64_t, double>(bytes, dest, n, low, high);
            return true;
        case DT_FLOAT32:
            maskAll<float, double>(bytes, dest, n, low, high);
            return true;
        case DT_FLOAT64:
            maskAll<double, double>(bytes, dest, n, low, high);
            return true;
        case DT_FLOAT128:
            maskAll<long double, long double>(bytes, dest, n, low, high);
            return true;
        default:
            return false;
    }
}

// Dimensions beyond ndim count as 1 whatever the header holds there.
int usedDim(const nifti_image& image, int axis) {
    return axis <= image.ndim ? image.dim[axis] : 1;
}

// Refuses headers whose used dimensions are not positive or whose voxel count or byte size does
// not fit, before anything divides by or allocates from them.
bool hasSaneSize(const nifti_image& image) {
    if (image.ndim < 1 || image.ndim > 7) {
        return false;
    }
    const size_t limit = std::numeric_limits<size_t>::max();
    size_t count = 1;
    for (int axis = 1; axis <= image.ndim; ++axis) {
        if (image.dim[axis] <= 0) {
            return false;
        }
        const size_t extent = static_cast<size_t>(image.dim[axis]);
        if (count > limit / extent) {
            return false;
        }
        count *= extent;
    }
    if (count != image.nvox) {
        return false;
    }
    const size_t bytesPer = image.nbyper > 0 ? static_cast<size_t>(image.nbyper) : 1;
    return count <= limit / bytesPer;
}

const char* const kNothingOpen = "no volume is open";

std::string nameOf(const nifti_image& image) {
    return image.fname != nullptr ? image.fname : "the volume";
}

std::string fitProblem(const nifti_image& image, size_t needed, size_t capacity,
                       const char* unit, const char* holder) {
    return nameOf(image) + ": the read needs room for " + NiftiFileCheck::Grouped(needed) + " " +
           unit + "; the " + holder + " holds " + NiftiFileCheck::Grouped(capacity);
}

// "<file>: cannot <verb>: <system reason>", the reason left out when the system gave none.
std::string cannot(const std::string& name, const char* verb, int error) {
    return name + ": cannot " + verb + (error != 0 ? ": " + NiftiFileCheck::ErrnoText(error) : "");
}

// Why the readers cannot convert the stored type; empty when they can.
std::string typeProblem(const nifti_image& image, bool packColor) {
    const int size = storedSize(image.datatype);
    if (size != 0 && size == image.nbyper && (image.datatype != DT_RGB24 || packColor)) {
        return "";
    }
    std::string text = nameOf(image) + ": datatype " + nifti_datatype_string(image.datatype) +
                       " (" + std::to_string(image.datatype) + ") is not handled";
    if (image.datatype == DT_RGB24 && size == image.nbyper) {
        text += " without colour packing";
    }
    return text;
}

// Voxels [begin, end) of a whole-file conversion, or why the request does not fit the file or
// the destination.
std::string resolveRange(const nifti_image& image, size_t capacity, int64_t start, int64_t end,
                         size_t& begin, size_t& stop) {
    const size_t nvox = image.nvox;
    if (end <= 0) {
        begin = 0;
        stop = nvox;
    } else {
        if (start < 0 || start > end || static_cast<uint64_t>(end) > nvox) {
            return nameOf(image) + ": voxel range [" + std::to_string(start) + ", " +
                   std::to_string(end) + ") does not lie within the volume's " +
                   NiftiFileCheck::Grouped(nvox) + " voxels";
        }
        begin = static_cast<size_t>(start);
        stop = static_cast<size_t>(end);
    }
    return stop <= capacity ? "" : fitProblem(image, stop, capacity, "values", "destination");
}

// True when a complete header record can be read back from the named header file; catches a
// header file whose writing or closing failed inside the library, where it goes unreported.
bool headerReadsBack(const char* hdrName) {
    znzFile file = znzopen(hdrName, "rb", nifti_is_gzfile(hdrName));
    if (znz_isnull(file)) {
        return false;
    }
    nifti_1_header hdr{};
    const size_t got = znzread(&hdr, 1, sizeof(hdr), file);
    const int closed = znzclose(file);
    return got == sizeof(hdr) && closed == 0 &&
           (hdr.sizeof_hdr == 348 || hdr.sizeof_hdr == 0x5C010000);
}

// Why nifticlib could not create an output file set, with the errno it left. A pair's header
// is written and closed before its data file is created, so once the header is on disk the
// failure concerns the data file.
std::string creationProblem(const nifti_image& image, int error) {
    std::string name = nameOf(image);
    if (image.nifti_type != NIFTI_FTYPE_NIFTI1_1 && image.fname != nullptr &&
        image.iname != nullptr && access(image.fname, W_OK) == 0 &&
        headerReadsBack(image.fname)) {
        name = image.iname;
    }
    return cannot(name, "write", error);
}

void report(std::string* reason, const std::string& text) {
    if (reason != nullptr) {
        *reason = text;
    }
}

}  // namespace

void NiftiIO::FileDeleter::operator()(znzptr* file) const {
    znzFile handle = file;
    znzclose(handle);
}

NiftiIO::NiftiIO() = default;

NiftiIO::~NiftiIO() {
    Close();
}

NiftiIO::NiftiIO(NiftiIO&&) noexcept = default;

NiftiIO& NiftiIO::operator=(NiftiIO&&) noexcept = default;

bool NiftiIO::finish(std::string reason) {
    lastError_ = std::move(reason);
    return lastError_.empty();
}

std::string NiftiIO::headerName() const {
    return image_ ? nameOf(*image_) : std::string("the volume");
}

bool NiftiIO::Open(const std::string& filename, nifti_1_header* hdr, int mode) {
    Close();
    if (mode == kRead) {
        // Headers the library would refuse (or quietly repair: a used dimension stored as 0) are
        // refused here, with the reason and before the library prints anything about them.
        std::string problem = NiftiFileCheck::HeaderProblem(filename);
        if (!problem.empty()) {
            return finish(std::move(problem));
        }
        OwnedNiftiImage image(nifti_image_read(filename.c_str(), 0));
        if (!image) {
            return finish(filename + ": the header could not be read");
        }
        if (!hasSaneSize(*image)) {
            return finish(nameOf(*image) + ": the header's sizes do not agree");
        }
        if (hdr != nullptr) {
            *hdr = nifti_convert_nim2nhdr(image.get());
        }
        image_ = std::move(image);
        return finish("");
    }

    if (hdr == nullptr) {
        return finish(filename + ": no header was given for writing");
    }
    // The stored record must be usable as it is; the library would repair a used dimension of 0.
    const std::string problem = NiftiFileCheck::RecordProblem(*hdr);
    if (!problem.empty()) {
        return finish(filename + ": " + problem);
    }
    OwnedNiftiImage image(nifti_convert_nhdr2nim(*hdr, filename.c_str()));
    if (!image) {
        return finish(filename + ": not a usable volume file name");
    }
    if (!hasSaneSize(*image)) {
        return finish(nameOf(*image) + ": the header's sizes do not agree");
    }
    errno = 0;
    FilePtr output(nifti_image_write_hdr_img2(image.get(), 2, "wb", nullptr, nullptr));
    if (!output) {
        const int error = errno;
        return finish(creationProblem(*image, error));
    }
    image_ = std::move(image);
    output_ = std::move(output);
    return finish("");
}

bool NiftiIO::Close() {
    std::string problem;
    if (output_) {
        const std::string name =
            image_ && image_->iname != nullptr ? image_->iname : std::string("the output file");
        znzFile handle = output_.release();
        errno = 0;
        if (znzclose(handle) != 0) {
            problem = cannot(name, "close", errno);
        }
    }
    image_.reset();
    return finish(std::move(problem));
}

bool NiftiIO::GetHeader(nifti_1_header& hdr) const {
    if (!image_) {
        return false;
    }
    hdr = nifti_convert_nim2nhdr(image_.get());
    return true;
}

bool NiftiIO::GetVoxelToRas(mat44& matrix) const {
    if (!image_) {
        return false;
    }
    matrix = image_->qto_xyz;
    return true;
}

bool NiftiIO::GetOrientationInfo(float* vectors, int* sliceDirection) const {
    if (!image_ || image_->qform_code <= 0) {
        return false;
    }
    const nifti_image& im = *image_;
    // Voxel sizes of 0 make the library use 1, leaving a pure rotation.
    const mat44 rotation =
        nifti_quatern_to_mat44(im.quatern_b, im.quatern_c, im.quatern_d, im.qoffset_x, im.qoffset_y,
                               im.qoffset_z, 0.0f, 0.0f, 0.0f, im.qfac);
    const mat44 inv = nifti_mat44_inverse(rotation);
    // Rows of the inverse are the RAS directions of the voxel axes; patient space is LPS.
    const float u[3] = {-inv.m[0][0], -inv.m[0][1], inv.m[0][2]};
    const float w[3] = {-inv.m[1][0], -inv.m[1][1], inv.m[1][2]};
    for (int i = 0; i < 3; ++i) {
        vectors[i] = u[i];
        vectors[3 + i] = w[i];
    }
    if (sliceDirection != nullptr) {
        const float s[3] = {-inv.m[2][0], -inv.m[2][1], inv.m[2][2]};
        const float normal[3] = {u[1] * w[2] - u[2] * w[1], u[2] * w[0] - u[0] * w[2],
                                 u[0] * w[1] - u[1] * w[0]};
        const float dot = normal[0] * s[0] + normal[1] * s[1] + normal[2] * s[2];
        *sliceDirection = dot > 0.0f ? 1 : -1;
    }
    return true;
}

bool NiftiIO::ReadData(void* buffer, size_t capacityBytes) {
    if (!image_) {
        return finish(kNothingOpen);
    }
    if (buffer == nullptr) {
        return finish(headerName() + ": no buffer was given");
    }
    nifti_image_unload(image_.get());
    const size_t bytes = image_->nvox * static_cast<size_t>(image_->nbyper);
    if (image_->nbyper <= 0) {
        return finish(headerName() + ": the header describes no voxel data");
    }
    if (bytes > capacityBytes) {
        return finish(fitProblem(*image_, bytes, capacityBytes, "bytes", "buffer"));
    }
    if (nifti_image_load(image_.get()) < 0 || image_->data == nullptr) {
        nifti_image_unload(image_.get());
        return finish(NiftiFileCheck::DataProblem(*image_));
    }
    std::memcpy(buffer, image_->data, bytes);
    return finish("");
}

namespace {

// Empty on success, else why the read failed.
template <typename D>
std::string readRange(nifti_image* image, D* dest, size_t capacity, int64_t start, int64_t end,
                      bool packColor) {
    if (image == nullptr) {
        return kNothingOpen;
    }
    if (dest == nullptr) {
        return nameOf(*image) + ": no destination was given";
    }
    nifti_image_unload(image);
    std::string problem = typeProblem(*image, packColor);
    if (!problem.empty()) {
        return problem;
    }
    size_t begin = 0;
    size_t stop = 0;
    problem = resolveRange(*image, capacity, start, end, begin, stop);
    if (!problem.empty()) {
        return problem;
    }
    LoadedData data(image);
    if (!data.load()) {
        return NiftiFileCheck::DataProblem(*image);
    }
    if (!convertStored(image->datatype, static_cast<const unsigned char*>(image->data), dest,
                       begin, stop, packColor)) {
        return nameOf(*image) + ": datatype " + std::to_string(image->datatype) + " is not handled";
    }
    return "";
}

}  // namespace

bool NiftiIO::ReadAsShort(short* dest, size_t capacity, int64_t start, int64_t end,
                          bool packColor) {
    return finish(readRange(image_.get(), dest, capacity, start, end, packColor));
}

bool NiftiIO::ReadAsInt(int* dest, size_t capacity, int64_t start, int64_t end, bool packColor) {
    return finish(readRange(image_.get(), dest, capacity, start, end, packColor));
}

bool NiftiIO::ReadAsFloat(float* dest, size_t capacity, int64_t start, int64_t end,
                          bool packColor) {
    return finish(readRange(image_.get(), dest, capacity, start, end, packColor));
}

bool NiftiIO::ReadAsShortMask(short* dest, size_t capacity, double low, double high) {
    if (!image_) {
        return finish(kNothingOpen);
    }
    if (dest == nullptr) {
        return finish(headerName() + ": no destination was given");
    }
    nifti_image* image = image_.get();
    nifti_image_unload(image);
    const size_t n = image->nvox;
    if (n > capacity) {
        return finish(fitProblem(*image, n, capacity, "values", "destination"));
    }
    LoadedData data(image);
    if (!data.load()) {
        return finish(NiftiFileCheck::DataProblem(*image));
    }
    // Cleared before the type is examined, so an unhandled type still leaves an empty mask.
    std::fill(dest, dest + n, static_cast<short>(0));
    std::string problem = typeProblem(*image, false);
    if (!problem.empty()) {
        return finish(std::move(problem));
    }
    if (!maskStored(image->datatype, static_cast<const unsigned char*>(image->data), dest, n, low,
                    high)) {
        return finish(headerName() + ": datatype " + std::to_string(image->datatype) +
                      " is not handled");
    }
    return finish("");
}

size_t NiftiIO::CollapsedCount(int x, int y, int z, int t, int u, int v, int w) const {
    if (!image_) {
        return 0;
    }
    const int selectors[7] = {x, y, z, t, u, v, w};
    size_t count = 1;
    for (int axis = 1; axis <= image_->ndim; ++axis) {
        const int selector = selectors[axis - 1];
        if (selector >= usedDim(*image_, axis)) {
            return 0;
        }
        if (selector < 0) {
            count *= static_cast<size_t>(usedDim(*image_, axis));
        }
    }
    return count;
}

namespace {

// Why a collapsed read with these selectors picks no voxel.
std::string selectorProblem(const nifti_image& image, const int (&selectors)[7]) {
    for (int axis = 1; axis <= image.ndim; ++axis) {
        const int selector = selectors[axis - 1];
        const int extent = usedDim(image, axis);
        if (selector >= extent) {
            return nameOf(image) + ": selector " + std::to_string(selector) + " for dimension " +
                   std::to_string(axis) + " is outside 0 to " + std::to_string(extent - 1);
        }
    }
    return nameOf(image) + ": the selectors pick no voxel";
}

}  // namespace

bool NiftiIO::ReadCollapsed(void* buffer, size_t capacityBytes, int x, int y, int z, int t, int u,
                            int v, int w) {
    if (!image_) {
        return finish(kNothingOpen);
    }
    if (buffer == nullptr) {
        return finish(headerName() + ": no buffer was given");
    }
    if (image_->nbyper <= 0) {
        return finish(headerName() + ": the header describes no voxel data");
    }
    nifti_image_unload(image_.get());
    const size_t count = CollapsedCount(x, y, z, t, u, v, w);
    if (count == 0) {
        return finish(selectorProblem(*image_, {x, y, z, t, u, v, w}));
    }
    const size_t bytes = count * static_cast<size_t>(image_->nbyper);
    if (bytes > capacityBytes) {
        return finish(fitProblem(*image_, bytes, capacityBytes, "bytes", "buffer"));
    }
    if (NiftiFileCheck::DataCutShort(*image_)) {
        return finish(NiftiFileCheck::DataProblem(*image_));
    }
    const int selectors[8] = {0, x, y, z, t, u, v, w};
    // nifticlib frees the block it reads into when a read fails part way (a truncated file) and
    // sets the pointer to null, so it is handed a block of its own kind, never the caller's.
    void* target = std::malloc(bytes);
    if (target == nullptr) {
        return finish(headerName() + ": cannot allocate " + NiftiFileCheck::Grouped(bytes) +
                      " bytes for the read");
    }
    if (nifti_read_collapsed_image(image_.get(), selectors, &target) < 0) {
        std::free(target);
        return finish(NiftiFileCheck::DataProblem(*image_));
    }
    std::memcpy(buffer, target, bytes);
    std::free(target);
    return finish("");
}

namespace {

// Empty on success, else why the read failed.
template <typename D>
std::string readCollapsedAs(NiftiIO& io, nifti_image* image, D* dest, size_t capacity,
                            const int (&sel)[7]) {
    if (image == nullptr) {
        return kNothingOpen;
    }
    if (dest == nullptr) {
        return nameOf(*image) + ": no destination was given";
    }
    std::string problem = typeProblem(*image, false);
    if (!problem.empty()) {
        return problem;
    }
    const size_t count = io.CollapsedCount(sel[0], sel[1], sel[2], sel[3], sel[4], sel[5], sel[6]);
    if (count == 0) {
        return selectorProblem(*image, sel);
    }
    if (count > capacity) {
        return fitProblem(*image, count, capacity, "values", "destination");
    }
    // A stored type that is the working type itself (int16 into short, float32 into float) is
    // copied straight into the destination: its conversion would be a plain copy.
    const bool sameType = (std::is_same<D, short>::value && image->datatype == DT_INT16) ||
                          (std::is_same<D, float>::value && image->datatype == DT_FLOAT32);
    if (sameType) {
        return io.ReadCollapsed(dest, count * sizeof(D), sel[0], sel[1], sel[2], sel[3], sel[4],
                                sel[5], sel[6])
                   ? ""
                   : io.LastError();
    }
    std::vector<unsigned char> stored(count * static_cast<size_t>(image->nbyper));
    if (!io.ReadCollapsed(stored.data(), stored.size(), sel[0], sel[1], sel[2], sel[3], sel[4],
                          sel[5], sel[6])) {
        return io.LastError();
    }
    if (!convertStored(image->datatype, stored.data(), dest, 0, count, false)) {
        return nameOf(*image) + ": datatype " + std::to_string(image->datatype) + " is not handled";
    }
    return "";
}

}  // namespace

bool NiftiIO::ReadCollapsedAsFloat(float* dest, size_t capacity, int x, int y, int z, int t, int u,
                                   int v, int w) {
    return finish(readCollapsedAs(*this, image_.get(), dest, capacity, {x, y, z, t, u, v, w}));
}

bool NiftiIO::ReadCollapsedAsShort(short* dest, size_t capacity, int x, int y, int z, int t, int u,
                                   int v, int w) {
    return finish(readCollapsedAs(*this, image_.get(), dest, capacity, {x, y, z, t, u, v, w}));
}

bool NiftiIO::WriteDataBlock(const void* bytes, size_t count) {
    if (!output_) {
        return finish("no volume is open for writing");
    }
    const std::string name =
        image_->iname != nullptr ? image_->iname : std::string("the output file");
    if (bytes == nullptr || count == 0) {
        return finish(name + ": no data was given to write");
    }
    errno = 0;
    if (nifti_write_buffer(output_.get(), bytes, count) != count) {
        return finish(cannot(name, "write", errno));
    }
    return finish("");
}

// ---- static operations ----------------------------------------------------------------------

namespace {

void copyGeometry(const nifti_1_header& hdr, int* dims, float* voxelSize) {
    for (int i = 0; i < 3; ++i) {
        if (dims != nullptr) {
            dims[i] = hdr.dim[i + 1];
        }
        if (voxelSize != nullptr) {
            voxelSize[i] = hdr.pixdim[i + 1];
        }
    }
}

}  // namespace

bool NiftiIO::ReadHeader(const std::string& filename, nifti_1_header& hdr, int* dims,
                         float* voxelSize, std::string* reason) {
    NiftiIO io;
    const bool read = io.Open(filename, &hdr, kRead);
    report(reason, io.LastError());
    if (!read) {
        return false;
    }
    copyGeometry(hdr, dims, voxelSize);
    return true;
}

bool NiftiIO::ReadHeader(const std::string& filename, nifti_1_header& hdr, mat44& voxelToRas,
                         int* dims, float* voxelSize, std::string* reason) {
    NiftiIO io;
    const bool read = io.Open(filename, &hdr, kRead);
    report(reason, io.LastError());
    if (!read) {
        return false;
    }
    copyGeometry(hdr, dims, voxelSize);
    return io.GetVoxelToRas(voxelToRas);
}

bool NiftiIO::ReadHeader(const std::string& filename, nifti_1_header& hdr, float* const rows[4],
                         int* dims, float* voxelSize, std::string* reason) {
    mat44 matrix{};
    if (!ReadHeader(filename, hdr, matrix, dims, voxelSize, reason)) {
        return false;
    }
    for (int r = 0; r < 4; ++r) {
        for (int c = 0; c < 4; ++c) {
            rows[r][c] = matrix.m[r][c];
        }
    }
    return true;
}

bool NiftiIO::ReadAsShort(const std::string& filename, short* dest, size_t capacity, int64_t start,
                          int64_t end, bool packColor, std::string* reason) {
    NiftiIO io;
    const bool read = io.Open(filename, nullptr, kRead) &&
                      io.ReadAsShort(dest, capacity, start, end, packColor);
    report(reason, io.LastError());
    return read;
}

bool NiftiIO::ReadAsInt(const std::string& filename, int* dest, size_t capacity, int64_t start,
                        int64_t end, bool packColor, std::string* reason) {
    NiftiIO io;
    const bool read =
        io.Open(filename, nullptr, kRead) && io.ReadAsInt(dest, capacity, start, end, packColor);
    report(reason, io.LastError());
    return read;
}

bool NiftiIO::ReadAsFloat(const std::string& filename, float* dest, size_t capacity, int64_t start,
                          int64_t end, bool packColor, std::string* reason) {
    NiftiIO io;
    const bool read = io.Open(filename, nullptr, kRead) &&
                      io.ReadAsFloat(dest, capacity, start, end, packColor);
    report(reason, io.LastError());
    return read;
}

bool NiftiIO::ReadAsShortMask(const std::string& filename, short* dest, size_t capacity, double low,
                              double high, std::string* reason) {
    NiftiIO io;
    const bool read =
        io.Open(filename, nullptr, kRead) && io.ReadAsShortMask(dest, capacity, low, high);
    report(reason, io.LastError());
    return read;
}

bool NiftiIO::GetOrientationInfo(const std::string& filename, float* vectors, int* sliceDirection) {
    NiftiIO io;
    return io.Open(filename, nullptr, kRead) && io.GetOrientationInfo(vectors, sliceDirection);
}

bool NiftiIO::GetVoxelOrder(const std::string& filename, char* letters) {
    NiftiIO io;
    mat44 matrix{};
    if (!io.Open(filename, nullptr, kRead) || !io.GetVoxelToRas(matrix)) {
        return false;
    }
    return VoxelOrderOf(matrix, letters);
}

bool NiftiIO::VoxelOrderOf(const mat44& matrix, char* letters) {
    int codes[3] = {0, 0, 0};
    nifti_mat44_to_orientation(matrix, &codes[0], &codes[1], &codes[2]);
    static constexpr char kNames[] = "-RLAPSI";
    for (const int code : codes) {
        if (code <= 0 || code > 6) {
            return false;
        }
    }
    for (int axis = 0; axis < 3; ++axis) {
        letters[axis] = kNames[codes[axis]];
    }
    return true;
}

double NiftiIO::GetAutoThreshold(const std::string& filename, int nb, double* range,
                                 std::string* reason) {
    NiftiIO io;
    nifti_1_header hdr{};
    if (!io.Open(filename, &hdr, kRead)) {
        report(reason, io.LastError());
        return 0.0;
    }
    const nifti_image& image = *io.image_;
    const size_t n = static_cast<size_t>(usedDim(image, 1)) *
                     static_cast<size_t>(usedDim(image, 2)) *
                     static_cast<size_t>(usedDim(image, 3));
    std::vector<float> values(n);
    const bool read = image.ndim > 3
                          ? io.ReadCollapsedAsFloat(values.data(), n, -1, -1, -1, 0, 0, 0, 0)
                          : io.ReadAsFloat(values.data(), n, 0, 0, false);
    // A volume whose data cannot be converted has no threshold, as an unreadable file has none.
    report(reason, io.LastError());
    if (!read) {
        return 0.0;
    }
    return CMyMath::GetAutoThreshold(values.data(), static_cast<int64_t>(n), nb, range, nullptr);
}

bool NiftiIO::IsAnalyze(const std::string& filename) {
    NiftiIO io;
    nifti_1_header hdr{};
    if (!io.Open(filename, &hdr, kRead)) {
        return false;
    }
    const char* magic = hdr.magic;
    const bool nifti = magic[0] == 'n' && (magic[1] == 'i' || magic[1] == '+') && magic[2] >= '1' &&
                       magic[2] <= '9' && magic[3] == '\0';
    return !nifti;
}

bool NiftiIO::WriteData(const std::string& filename, const nifti_1_header& hdr, const void* data,
                        size_t bytes, std::string* reason) {
    if (data == nullptr) {
        report(reason, filename + ": no data was given to write");
        return false;
    }
    NiftiIO io;
    nifti_1_header copy = hdr;
    if (!io.Open(filename, &copy, kWrite)) {
        report(reason, io.LastError());
        return false;
    }
    const size_t size = nifti_get_volsize(io.image_.get());
    if (size == 0 || size > bytes) {
        io.Close();
        report(reason, filename + ": the data holds " + NiftiFileCheck::Grouped(bytes) +
                           " bytes; the header needs " + NiftiFileCheck::Grouped(size));
        return false;
    }
    const std::string hdrName = io.image_->fname != nullptr ? io.image_->fname : "";
    const std::string dataName = io.image_->iname != nullptr ? io.image_->iname : hdrName;
    errno = 0;
    const bool written = nifti_write_buffer(io.output_.get(), data, size) == size;
    const int writeError = errno;
    const bool closed = io.Close();
    // The header of a file pair lives in its own file, closed inside the library unchecked.
    std::string problem;
    if (!written) {
        problem = cannot(dataName, "write", writeError);
    } else if (!closed) {
        problem = io.LastError();
    } else if (!headerReadsBack(hdrName.c_str())) {
        problem = NiftiFileCheck::HeaderProblem(hdrName);
        if (problem.empty()) {
            problem = hdrName + ": the header does not read back whole after writing";
        }
    }
    report(reason, problem);
    return problem.empty();
}

void NiftiIO::InitializeNiftiHeader(nifti_1_header& hdr, int fileKind) {
    std::memset(&hdr, 0, sizeof(hdr));
    hdr.sizeof_hdr = 348;
    hdr.dim[0] = 1;
    hdr.xyzt_units = 10;
    if (fileKind == kNiftiSingle) {
        std::memcpy(hdr.magic, "n+1", 4);
    } else if (fileKind == kNiftiPair) {
        std::memcpy(hdr.magic, "ni1", 4);
    }
}

void NiftiIO::SetNiftiOrientationInfo(nifti_1_header& hdr, const float* vectors,
                                      const float* origin, int sliceDirection) {
    const float ux = vectors[0], uy = vectors[1], uz = vectors[2];
    const float wx = vectors[3], wy = vectors[4], wz = vectors[5];
    float mx = uy * wz - uz * wy;
    float my = uz * wx - ux * wz;
    float mz = ux * wy - uy * wx;
    if (sliceDirection < 0) {
        mx = -mx;
        my = -my;
        mz = -mz;
    }
    // Rows are the voxel axes in RAS; the quaternion form wants them as columns.
    const mat44 axes = nifti_make_orthog_mat44(-ux, -uy, uz, -wx, -wy, wz, -mx, -my, mz);
    const mat44 rotation = nifti_mat44_inverse(axes);
    float qb = 0, qc = 0, qd = 0, qx = 0, qy = 0, qz = 0, dx = 0, dy = 0, dz = 0, qfac = 0;
    nifti_mat44_to_quatern(rotation, &qb, &qc, &qd, &qx, &qy, &qz, &dx, &dy, &dz, &qfac);
    hdr.quatern_b = qb;
    hdr.quatern_c = qc;
    hdr.quatern_d = qd;
    hdr.pixdim[0] = qfac;
    if (origin != nullptr) {
        hdr.qoffset_x = -origin[0];
        hdr.qoffset_y = -origin[1];
        hdr.qoffset_z = origin[2];
    }
}

void NiftiIO::SetNiftiRotationMatrixInfo(nifti_1_header& hdr, const mat44& matrix) {
    float dx = 0, dy = 0, dz = 0, qfac = 0;
    nifti_mat44_to_quatern(matrix, &hdr.quatern_b, &hdr.quatern_c, &hdr.quatern_d, &hdr.qoffset_x,
                           &hdr.qoffset_y, &hdr.qoffset_z, &dx, &dy, &dz, &qfac);
    hdr.pixdim[0] = qfac;
}

bool NiftiIO::GetNiftiRotationMatrix(const nifti_1_header& hdr, mat44& matrix) {
    if (hdr.qform_code == 0) {
        return false;
    }
    matrix = nifti_quatern_to_mat44(hdr.quatern_b, hdr.quatern_c, hdr.quatern_d, hdr.qoffset_x,
                                    hdr.qoffset_y, hdr.qoffset_z, hdr.pixdim[1], hdr.pixdim[2],
                                    hdr.pixdim[3], hdr.pixdim[0] < 0.0f ? -1.0f : 1.0f);
    return true;
}

size_t NiftiIO::VoxelsInHeader(const nifti_1_header& hdr) {
    size_t count = 1;
    const int rank = hdr.dim[0] < 1 || hdr.dim[0] > 7 ? 3 : hdr.dim[0];
    for (int i = 1; i <= rank; ++i) {
        count *= hdr.dim[i] > 0 ? static_cast<size_t>(hdr.dim[i]) : 1U;
    }
    return count;
}

int NiftiIO::VoxelToWorldHandedness(const nifti_1_header& hdr) {
    double m[3][3] = {};
    if (hdr.sform_code > 0) {
        const float* rows[3] = {hdr.srow_x, hdr.srow_y, hdr.srow_z};
        for (int r = 0; r < 3; ++r) {
            for (int c = 0; c < 3; ++c) {
                m[r][c] = rows[r][c];
            }
        }
    } else if (hdr.qform_code > 0) {
        const mat44 q = nifti_quatern_to_mat44(hdr.quatern_b, hdr.quatern_c, hdr.quatern_d,
                                               hdr.qoffset_x, hdr.qoffset_y, hdr.qoffset_z,
                                               hdr.pixdim[1], hdr.pixdim[2], hdr.pixdim[3],
                                               hdr.pixdim[0]);
        for (int r = 0; r < 3; ++r) {
            for (int c = 0; c < 3; ++c) {
                m[r][c] = q.m[r][c];
            }
        }
    } else {
        return 0;
    }
    const double determinant = m[0][0] * (m[1][1] * m[2][2] - m[1][2] * m[2][1]) -
                               m[0][1] * (m[1][0] * m[2][2] - m[1][2] * m[2][0]) +
                               m[0][2] * (m[1][0] * m[2][1] - m[1][1] * m[2][0]);
    return determinant > 0.0 ? 1 : determinant < 0.0 ? -1 : 0;
}
