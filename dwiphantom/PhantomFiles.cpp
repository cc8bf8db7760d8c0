#include "PhantomFiles.h"

#include <nifti1_io.h>
#include <sys/stat.h>

#include <cstring>
#include <fstream>

#include "CTrackWriter.h"
#include "ImageInfoParser.h"
#include "NiftiIO.h"
#include "OwnedHandles.h"
#include "OwnedNiftiImage.h"
#include "PhantomOrientation.h"

bool PhantomFiles::WriteVolume(const std::string& path, const std::vector<int>& dims, int datatype,
                               float voxelSize, const std::string& description, const void* data,
                               size_t bytes, const std::optional<mat44>& voxelToWorld,
                               std::string* reason) {
    nifti_1_header header{};
    header.sizeof_hdr = 348;
    header.dim[0] = static_cast<short>(dims.size());
    for (size_t d = 0; d < 7; ++d) {
        header.dim[d + 1] = d < dims.size() ? static_cast<short>(dims[d]) : 1;
    }
    header.datatype = static_cast<short>(datatype);
    int bytesPerVoxel = 0;
    int swapSize = 0;
    nifti_datatype_sizes(datatype, &bytesPerVoxel, &swapSize);
    header.bitpix = static_cast<short>(8 * bytesPerVoxel);
    header.pixdim[0] = 1.0f;
    for (int d = 1; d < 8; ++d) {
        header.pixdim[d] = d <= 3 ? voxelSize : 1.0f;
    }
    header.xyzt_units = NIFTI_UNITS_MM | NIFTI_UNITS_SEC;
    header.vox_offset = 352.0f;
    std::memcpy(header.magic, "n+1", 4);
    std::strncpy(header.descrip, description.c_str(), sizeof header.descrip - 1);
    if (voxelToWorld) {
        PhantomOrientation::Declare(*voxelToWorld, &header);
    }

    size_t expected = static_cast<size_t>(bytesPerVoxel);
    for (int d : dims) {
        expected *= static_cast<size_t>(d);
    }
    if (expected != bytes) {
        return false;
    }
    // The compressed file's size says nothing about its data, so the toolkit's own writer,
    // which checks every byte it hands to zlib and the close, writes it.
    if (path.size() > 3 && path.compare(path.size() - 3, 3, ".gz") == 0) {
        return NiftiIO::WriteData(path, header, data, bytes, reason);
    }

    const OwnedNiftiImage image(nifti_convert_nhdr2nim(header, path.c_str()));
    if (!image) {
        return false;
    }
    // nifticlib only reads through the pointer while writing; it is detached again before the
    // image is freed so that the caller keeps ownership of its buffer.
    image->data = const_cast<void*>(data);
    nifti_image_write(image.get());
    image->data = nullptr;

    struct stat info {};
    return stat(path.c_str(), &info) == 0 &&
           static_cast<size_t>(info.st_size) >= bytes + static_cast<size_t>(header.vox_offset);
}

bool PhantomFiles::WriteAxialInfo(const std::string& path) {
    ImageInfoParser info;
    const float axial[6] = {1, 0, 0, 0, 1, 0};
    info.UpdateImageOrientation(axial);
    info.UpdateSliceOrder(1);
    return info.WriteToFile(path);
}

bool PhantomFiles::WriteText(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
    out.close();
    return static_cast<bool>(out);
}

bool PhantomFiles::WriteBundleTracks(const std::string& path, const PhantomModel& model) {
    const int dim[3] = {model.dimx(), model.dimy(), model.dimz()};
    const float size = static_cast<float>(model.voxelSize());
    const float voxelSize[3] = {size, size, size};
    CTrackWriter writer;
    if (!writer.Initialize(path.c_str(), dim, voxelSize, nullptr, 0)) {
        return false;
    }
    bool written = true;
    for (const PhantomModel::Bundle& bundle : model.bundles()) {
        std::vector<float> points;
        for (const Vec3& p : bundle.centreLine) {
            points.insert(points.end(), {static_cast<float>(p[0]), static_cast<float>(p[1]),
                                         static_cast<float>(p[2])});
        }
        written =
            writer.WriteNextTrack(static_cast<int>(bundle.centreLine.size()), points.data()) &&
            written;
    }
    return writer.Close() && written;
}
