#include "TrackSource.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "CMyUtils.h"
#include "CTrackReader.h"
#include "ImageInfoParser.h"
#include "ImageOrientation.h"
#include "NiftiIO.h"
#include "TckReader.h"
#include "TrackRecordReader.h"
#include "TrackScalarFiles.h"
#include "TrackSpace.h"
#include "TrxReader.h"

namespace {

// The voxel order of a .trk header's matrix, as the volume code names it; the header's own
// ("LPS") when the matrix has none.
void voxelOrderOf(TRACK_HEADER& header) {
    mat44 matrix{};
    for (int r = 0; r < 4; ++r) {
        for (int c = 0; c < 4; ++c) {
            matrix.m[r][c] = header.voxel_to_ras[r][c];
        }
    }
    char order[3];
    if (NiftiIO::VoxelOrderOf(matrix, order)) {
        std::memcpy(header.voxel_order, order, 3);
        header.voxel_order[3] = '\0';
    }
    std::memcpy(header.voxel_order_copy, header.voxel_order, 4);
}

// The .info files the tracker reads for a volume without orientation, nearest first: NAME.info
// beside NAME.nii, and PREFIX.info beside PREFIX_fa.nii and the other maps of one fit.
std::vector<std::string> infoFilesOf(const std::string& image) {
    std::string base = image;
    for (const char* ending : {".nii.gz", ".hdr.gz", ".img.gz", ".nii", ".hdr", ".img"}) {
        const std::string suffix = ending;
        if (base.size() > suffix.size() &&
            base.compare(base.size() - suffix.size(), suffix.size(), suffix) == 0) {
            base.erase(base.size() - suffix.size());
            break;
        }
    }
    std::vector<std::string> names = {base + ".info"};
    const std::size_t cut = base.find_last_of('_');
    if (cut != std::string::npos && cut > base.find_last_of('/') + 1) {
        names.push_back(base.substr(0, cut) + ".info");
    }
    return names;
}

// The voxel order the tracker gives tracks on a volume without orientation: from its .info file,
// else the default patient orientation. Points of a .tck file made on such a volume lie where
// this order puts them, whatever the volume's matrix says.
std::string unorientedVoxelOrder(const std::string& image) {
    float vectors[6] = {1.0f, 0.0f, 0.0f, 0.0f, 1.0f, 0.0f};
    int slice = 1;
    for (const std::string& name : infoFilesOf(image)) {
        ImageInfoParser info;
        if (CMyUtils::pathExist(name) && info.Open(name) && info.GetImageOrientation(vectors)) {
            slice = info.GetSliceOrder();
            break;
        }
    }
    return ImageOrientation::GetVoxelOrder(vectors, slice);
}

// A reader's message without the "path: " it starts with.
std::string withoutName(const std::string& message, const std::string& path) {
    return message.rfind(path + ": ", 0) == 0 ? message.substr(path.size() + 2) : message;
}

void copyName(const std::string& name, char field[20]) {
    std::memset(field, 0, 20);
    name.copy(field, 19);
}

class TrkSource : public TrackSource {
  public:
    bool Open(const std::string& path, std::string& reason) {
        if (!reader_.Open(path.c_str(), &header_)) {
            reason = path + ": " + reader_.GetLastErrorMessage();
            return false;
        }
        records_ = std::make_unique<TrackRecordReader>(reader_);
        return true;
    }
    Outcome Next() override { return ReadInto(values_, 0); }
    Outcome AppendNext(std::vector<float>& records) override {
        return ReadInto(records, records.size());
    }

  private:
    Outcome ReadInto(std::vector<float>& records, std::size_t at) {
        switch (records_->ReadNextInto(records, at)) {
            case TrackRecordReader::Outcome::kEnd:
                return Outcome::kEnd;
            case TrackRecordReader::Outcome::kDamaged:
                failure_ = records_->GetFailure();
                return Outcome::kDamaged;
            case TrackRecordReader::Outcome::kRecord:
                break;
        }
        pointCount_ = records_->GetPointCount();
        ++tracksRead_;
        return Outcome::kTrack;
    }

    CTrackReader reader_;
    std::unique_ptr<TrackRecordReader> records_;
};

class TckSource : public TrackSource {
  public:
    bool Open(const std::string& path, const std::string& reference, std::string& reason) {
        path_ = path;
        if (!reader_.Open(path)) {
            reason = reader_.LastError();
            return false;
        }
        if (!reference.empty()) {
            if (!HeaderOfImage(reference, header_, reason)) {
                return false;
            }
        } else {
            // No grid: a 1 mm grid whose voxel millimetres are the world's millimetres.
            hasGrid_ = false;
            for (int a = 0; a < 3; ++a) {
                header_.voxel_size[a] = 1.0f;
                header_.voxel_to_ras[a][a] = 1.0f;
                header_.voxel_to_ras[a][3] = 0.5f;
            }
            header_.voxel_to_ras[3][3] = 1.0f;
            std::memcpy(header_.voxel_order, "RAS", 4);
        }
        space_ = std::make_unique<TrackSpace>(header_);
        if (!space_->Usable()) {
            reason = reference + ": its voxel sizes and voxel-to-world matrix cannot be inverted";
            return false;
        }
        if (!scalars_.Open(path, reader_.Timestamp(), reason)) {
            return false;
        }
        header_.scalar_count = static_cast<std::int16_t>(scalars_.Names().size());
        for (std::size_t s = 0; s < scalars_.Names().size(); ++s) {
            copyName(scalars_.Names()[s], header_.scalar_names[s]);
        }
        return true;
    }
    Outcome Next() override {
        switch (reader_.Next(points_)) {
            case TckReader::Outcome::kEnd:
                return Outcome::kEnd;
            case TckReader::Outcome::kDamaged:
                failure_ = withoutName(reader_.LastError(), path_);
                return Outcome::kDamaged;
            case TckReader::Outcome::kTrack:
                break;
        }
        pointCount_ = static_cast<int>(points_.size() / 3);
        values_.resize(points_.size());
        for (std::size_t i = 0; i < points_.size(); i += 3) {
            space_->FromRas(points_.data() + i, values_.data() + i);
        }
        if (!scalars_.ReadInto(static_cast<std::size_t>(pointCount_), values_, failure_)) {
            failure_ = withoutName(failure_, path_);
            return Outcome::kDamaged;
        }
        ++tracksRead_;
        return Outcome::kTrack;
    }

  private:
    std::string path_;
    TckReader reader_;
    TrackScalarFiles scalars_;
    std::unique_ptr<TrackSpace> space_;
    std::vector<float> points_;
};

class TrxSource : public TrackSource {
  public:
    bool Open(const std::string& path, std::string& reason) {
        path_ = path;
        if (!reader_.Open(path)) {
            reason = reader_.LastError();
            return false;
        }
        const TrxNames::Header& trx = reader_.Header();
        for (int r = 0; r < 4; ++r) {
            for (int c = 0; c < 4; ++c) {
                header_.voxel_to_ras[r][c] = static_cast<float>(trx.voxelToRas[r][c]);
            }
        }
        for (int a = 0; a < 3; ++a) {
            header_.dim[a] = static_cast<std::int16_t>(trx.dimensions[a]);
            header_.voxel_size[a] = static_cast<float>(
                std::sqrt(trx.voxelToRas[0][a] * trx.voxelToRas[0][a] +
                          trx.voxelToRas[1][a] * trx.voxelToRas[1][a] +
                          trx.voxelToRas[2][a] * trx.voxelToRas[2][a]));
        }
        voxelOrderOf(header_);
        if (reader_.ScalarNames().size() > 10 || reader_.PropertyNames().size() > 10) {
            reason = path + ": more than 10 kinds of values per point or per track";
            return false;
        }
        header_.scalar_count = static_cast<std::int16_t>(reader_.ScalarNames().size());
        header_.property_count = static_cast<std::int16_t>(reader_.PropertyNames().size());
        for (std::size_t s = 0; s < reader_.ScalarNames().size(); ++s) {
            copyName(reader_.ScalarNames()[s], header_.scalar_names[s]);
        }
        for (std::size_t p = 0; p < reader_.PropertyNames().size(); ++p) {
            copyName(reader_.PropertyNames()[p], header_.property_names[p]);
        }
        space_ = std::make_unique<TrackSpace>(header_);
        if (!space_->Usable()) {
            reason = path + ": header.json's VOXEL_TO_RASMM cannot be inverted";
            return false;
        }
        return true;
    }
    Outcome Next() override {
        switch (reader_.Next(points_, scalars_, properties_)) {
            case TrxReader::Outcome::kEnd:
                return Outcome::kEnd;
            case TrxReader::Outcome::kDamaged:
                failure_ = withoutName(reader_.LastError(), path_);
                return Outcome::kDamaged;
            case TrxReader::Outcome::kTrack:
                break;
        }
        pointCount_ = static_cast<int>(points_.size() / 3);
        const std::size_t width = static_cast<std::size_t>(header_.scalar_count);
        values_.resize(static_cast<std::size_t>(pointCount_) * (3 + width) + properties_.size());
        for (std::size_t i = 0; i < static_cast<std::size_t>(pointCount_); ++i) {
            float* point = values_.data() + i * (3 + width);
            space_->FromRas(points_.data() + 3 * i, point);
            std::copy_n(scalars_.data() + i * width, width, point + 3);
        }
        std::copy(properties_.begin(), properties_.end(),
                  values_.end() - static_cast<long>(properties_.size()));
        ++tracksRead_;
        return Outcome::kTrack;
    }

  private:
    std::string path_;
    TrxReader reader_;
    std::unique_ptr<TrackSpace> space_;
    std::vector<float> points_;
    std::vector<float> scalars_;
    std::vector<float> properties_;
};

}  // namespace

TrackSource::Outcome TrackSource::AppendNext(std::vector<float>& records) {
    const Outcome outcome = Next();
    if (outcome == Outcome::kTrack) {
        records.insert(records.end(), values_.begin(), values_.end());
    }
    return outcome;
}

TrackSource::Format TrackSource::FormatOf(const std::string& name) {
    const std::string ending = CMyUtils::getFileExtension(name);
    if (ending == "tck") {
        return Format::kTck;
    }
    if (ending == "trx") {
        return Format::kTrx;
    }
    return Format::kTrk;
}

std::unique_ptr<TrackSource> TrackSource::Open(const std::string& path,
                                               const std::string& reference,
                                               std::string& reason) {
    switch (FormatOf(path)) {
        case Format::kTck: {
            auto source = std::make_unique<TckSource>();
            return source->Open(path, reference, reason) ? std::move(source) : nullptr;
        }
        case Format::kTrx: {
            auto source = std::make_unique<TrxSource>();
            return source->Open(path, reason) ? std::move(source) : nullptr;
        }
        case Format::kTrk:
            break;
    }
    auto source = std::make_unique<TrkSource>();
    return source->Open(path, reason) ? std::move(source) : nullptr;
}

bool TrackSource::HeaderOfImage(const std::string& image, TRACK_HEADER& header,
                                std::string& reason) {
    NiftiIO file;
    nifti_1_header nifti{};
    if (!file.Open(image, &nifti, NiftiIO::kRead)) {
        reason = file.LastError();
        return false;
    }
    header = TRACK_HEADER::MakeDefault();
    for (int a = 0; a < 3; ++a) {
        header.dim[a] = static_cast<std::int16_t>(nifti.dim[a + 1]);
        header.voxel_size[a] = nifti.pixdim[a + 1];
    }
    mat44 voxelToRas{};
    file.GetVoxelToRas(voxelToRas);
    for (int r = 0; r < 4; ++r) {
        for (int c = 0; c < 4; ++c) {
            header.voxel_to_ras[r][c] = voxelToRas.m[r][c];
        }
    }
    voxelOrderOf(header);
    float vectors[6];
    if (!file.GetOrientationInfo(vectors, nullptr)) {
        const std::string order = unorientedVoxelOrder(image);
        if (order.size() >= 3) {
            std::memcpy(header.voxel_order, order.data(), 3);
            header.voxel_order[3] = '\0';
            std::memcpy(header.voxel_order_copy, header.voxel_order, 4);
        }
    }
    return true;
}
