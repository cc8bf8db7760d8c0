#pragma once
// Volume file access: NIfTI-1 (.nii, .hdr/.img pair) and Analyze 7.5 volumes, gzip-compressed or
// not, through nifticlib. Converts stored voxel data of any handled type into the working types
// (16-bit, 32-bit integer, 32-bit float), reads single volumes out of 4D/5D files, builds masks,
// derives orientation from the quaternion form and writes header plus data.
//
// Every reader is told how many elements (ReadData/ReadCollapsed: bytes) its destination holds
// and returns false, writing nothing, when the read would not fit.
//
// Nothing is printed by this class. Failures say why instead: instance operations through
// LastError(), static ones through their optional reason argument. A reason names the file it
// concerns and what is wrong, e.g.
//   "/data/dwi.nii: cannot open: No such file or directory"
//   "/data/dwi.nii: header field dim[0] is 9, not 1 to 7 in either byte order"
//   "/data/dwi.nii: data ends at byte 1,048,576; the header needs 2,621,792"
//   "/out/fa.nii: cannot write: No space left on device"
// Headers nifticlib would refuse are refused before it reads them, so that it prints nothing
// about them; when creating or writing an output file fails, nifticlib still prints its own
// message whatever its debug level.

#include <nifti1_io.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "OwnedHandles.h"
#include "OwnedNiftiImage.h"

class NiftiIO {
  public:
    // Open modes.
    static constexpr int kRead = 0;
    static constexpr int kWrite = 1;
    // File kinds for InitializeNiftiHeader: anything other than these makes an Analyze 7.5 header.
    static constexpr int kAnalyze = 0;
    static constexpr int kNiftiSingle = 1;  // one .nii file, magic "n+1"
    static constexpr int kNiftiPair = 2;    // .hdr/.img pair, magic "ni1"

    NiftiIO();
    virtual ~NiftiIO();
    NiftiIO(const NiftiIO&) = delete;
    NiftiIO& operator=(const NiftiIO&) = delete;
    NiftiIO(NiftiIO&&) noexcept;
    NiftiIO& operator=(NiftiIO&&) noexcept;

    // ---- instance operations (one open volume at a time) -----------------------------------
    // mode kRead: reads the header (no voxel data); hdr, when not null, receives it.
    // mode kWrite: hdr is required; the header is written at once and the image file is kept
    // open for WriteDataBlock. Whatever was open is closed first.
    bool Open(const std::string& filename, nifti_1_header* hdr, int mode);
    // Frees the image and closes the output file. False when closing the output file failed
    // (data written by WriteDataBlock may then be incomplete on disk).
    bool Close();
    bool IsOpen() const { return image_ != nullptr; }

    // Why the last Open, Close, read or write of this object failed; empty after one succeeded.
    // Operations that only look at the open header (GetHeader, CollapsedCount, ...) leave it.
    const std::string& LastError() const { return lastError_; }

    bool GetHeader(nifti_1_header& hdr) const;
    bool GetVoxelToRas(mat44& matrix) const;
    // vectors: six floats, the patient-space (LPS) directions of increasing column index and of
    // increasing row index. sliceDirection (may be null): +1 or -1. False, outputs untouched,
    // when nothing is open or the volume has no quaternion form.
    bool GetOrientationInfo(float* vectors, int* sliceDirection) const;

    // Raw copy of all voxel data (nvox * nbyper bytes); the data stays loaded until Close or
    // the next read. capacityBytes: size of buffer in bytes.
    bool ReadData(void* buffer, size_t capacityBytes);

    // Converts voxels [start, end) of the whole file (end <= 0: [0, nvox), start ignored) into
    // dest[start..end-1]; dest is laid out like the file and holds capacity elements.
    // packColor: pack DT_RGB24 voxels into 18-bit values (without it RGB24 fails).
    bool ReadAsShort(short* dest, size_t capacity, int64_t start, int64_t end, bool packColor);
    bool ReadAsInt(int* dest, size_t capacity, int64_t start, int64_t end, bool packColor);
    bool ReadAsFloat(float* dest, size_t capacity, int64_t start, int64_t end, bool packColor);

    // dest[i] = 1 when low <= value <= high, else 0, over all nvox voxels.
    bool ReadAsShortMask(short* dest, size_t capacity, double low, double high);

    // Selectors for dimensions 1..7 (x, y, z, t, u, v, w): -1 keeps the whole dimension, k >= 0
    // keeps only index k. (-1,-1,-1,k,0,0,0) is volume k of a 4D file.
    bool ReadCollapsed(void* buffer, size_t capacityBytes, int x, int y, int z, int t, int u, int v,
                       int w);
    bool ReadCollapsedAsFloat(float* dest, size_t capacity, int x, int y, int z, int t, int u,
                              int v, int w);
    bool ReadCollapsedAsShort(short* dest, size_t capacity, int x, int y, int z, int t, int u,
                              int v, int w);
    // Number of elements a collapsed read with these selectors produces; 0 when nothing is open
    // or a selector is out of range.
    size_t CollapsedCount(int x, int y, int z, int t, int u, int v, int w) const;

    // Appends bytes to the image file opened in write mode. True when all bytes were written.
    bool WriteDataBlock(const void* bytes, size_t count);

    // ---- static operations ------------------------------------------------------------------
    // reason (may be null) receives why the operation failed, as LastError() would say it, and is
    // emptied when it succeeded.

    // dims (may be null) receives dim[1..3], voxelSize (may be null) pixdim[1..3].
    static bool ReadHeader(const std::string& filename, nifti_1_header& hdr, int* dims,
                           float* voxelSize, std::string* reason = nullptr);
    // As above; voxelToRas receives the volume's qto_xyz.
    static bool ReadHeader(const std::string& filename, nifti_1_header& hdr, mat44& voxelToRas,
                           int* dims, float* voxelSize, std::string* reason = nullptr);
    // As above, the matrix written row by row through four row pointers, only on success.
    static bool ReadHeader(const std::string& filename, nifti_1_header& hdr, float* const rows[4],
                           int* dims, float* voxelSize, std::string* reason = nullptr);

    static bool ReadAsShort(const std::string& filename, short* dest, size_t capacity,
                            int64_t start, int64_t end, bool packColor,
                            std::string* reason = nullptr);
    static bool ReadAsInt(const std::string& filename, int* dest, size_t capacity, int64_t start,
                          int64_t end, bool packColor, std::string* reason = nullptr);
    static bool ReadAsFloat(const std::string& filename, float* dest, size_t capacity,
                            int64_t start, int64_t end, bool packColor,
                            std::string* reason = nullptr);
    static bool ReadAsShortMask(const std::string& filename, short* dest, size_t capacity,
                                double low, double high, std::string* reason = nullptr);
    static bool GetOrientationInfo(const std::string& filename, float* vectors,
                                   int* sliceDirection);

    // Three letters (no terminator) naming the direction toward which each voxel index grows,
    // e.g. "RAS". False, letters untouched, when unreadable or an axis has no orientation.
    static bool GetVoxelOrder(const std::string& filename, char* letters);
    // The same for a voxel-to-world matrix.
    static bool VoxelOrderOf(const mat44& matrix, char* letters);

    // Automatic threshold of the first volume; range receives its (min, max). 0.0 (range
    // untouched) when the file cannot be read; reason then says why and is empty otherwise.
    static double GetAutoThreshold(const std::string& filename, int nb, double* range,
                                   std::string* reason = nullptr);

    // Voxels of all volumes the header describes (dimensions 1..dim[0], each at least 1), so
    // that a 4D volume is told apart from a 3D one of the same grid.
    static size_t VoxelsInHeader(const nifti_1_header& hdr);

    // True when the file can be read and is Analyze 7.5 rather than NIfTI.
    static bool IsAnalyze(const std::string& filename);

    // Writes header and data as one file set (kind from the header's magic; ".gz" compresses).
    // bytes: size of data; fewer bytes than the header describes are refused. False whenever
    // the header or any data byte was not written or the files could not be closed.
    static bool WriteData(const std::string& filename, const nifti_1_header& hdr, const void* data,
                          size_t bytes, std::string* reason = nullptr);

    static void InitializeNiftiHeader(nifti_1_header& hdr, int fileKind);
    // vectors: six floats (patient-space row and column directions); origin may be null.
    // qform_code is left as it was.
    static void SetNiftiOrientationInfo(nifti_1_header& hdr, const float* vectors,
                                        const float* origin, int sliceDirection);
    static void SetNiftiRotationMatrixInfo(nifti_1_header& hdr, const mat44& matrix);
    // Sign of the determinant of the voxel-to-world matrix: the sform when sform_code > 0, else
    // the qform when qform_code > 0. +1 or -1; 0 when the header has neither (or a singular one).
    static int VoxelToWorldHandedness(const nifti_1_header& hdr);
    // Voxel-to-RAS from the quaternion form scaled by pixdim; false when qform_code is 0.
    static bool GetNiftiRotationMatrix(const nifti_1_header& hdr, mat44& matrix);

  private:
    struct FileDeleter {
        void operator()(znzptr* file) const;
    };
    using FilePtr = std::unique_ptr<znzptr, FileDeleter>;

    // Record the outcome of an operation in lastError_ (empty reason: success).
    bool finish(std::string reason);
    // Header file name of the open volume, for reasons.
    std::string headerName() const;

    OwnedNiftiImage image_;
    FilePtr output_;
    std::string lastError_;
};
