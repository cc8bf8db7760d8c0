#include "TrxReader.h"

#include <algorithm>
#include <cstring>

#include "CMyUtils.h"
#include "LittleEndian.h"

namespace {

constexpr std::uint64_t kMaxHeaderBytes = 1 << 20;
constexpr std::size_t kBlockBytes = std::size_t{1} << 18;

}  // namespace

TrxReader::TrxReader() = default;
TrxReader::~TrxReader() = default;

bool TrxReader::Fail(const std::string& what) {
    error_ = path_ + ": " + what;
    return false;
}

TrxReader::Outcome TrxReader::Damaged(const std::string& what) {
    Fail(what);
    return Outcome::kDamaged;
}

bool TrxReader::Stream::Read(void* out, std::size_t bytes) {
    auto* target = static_cast<unsigned char*>(out);
    while (bytes > 0) {
        if (position == filled) {
            block.resize(kBlockBytes);
            const zip_int64_t got = zip_fread(member.get(), block.data(), block.size());
            if (got <= 0) {
                return false;
            }
            position = 0;
            filled = static_cast<std::size_t>(got);
        }
        const std::size_t taken = std::min(bytes, filled - position);
        std::memcpy(target, block.data() + position, taken);
        position += taken;
        target += taken;
        bytes -= taken;
    }
    return true;
}

bool TrxReader::OpenMember(const std::string& name, std::uint64_t bytes, Stream& stream) {
    zip_stat_t stat;
    zip_stat_init(&stat);
    if (zip_stat(archive_.get(), name.c_str(), 0, &stat) != 0) {
        return Fail("no member " + name + " in the archive");
    }
    if (stat.size != bytes) {
        return Fail(name + " holds " + std::to_string(stat.size) + " bytes; header.json needs " +
                    std::to_string(bytes));
    }
    stream.member.reset(zip_fopen(archive_.get(), name.c_str(), 0));
    if (!stream.member) {
        return Fail("cannot read " + name + ": " + zip_strerror(archive_.get()));
    }
    return true;
}

bool TrxReader::Open(const std::string& path) {
    path_ = path;
    error_.clear();
    int code = 0;
    archive_.reset(zip_open(path.c_str(), ZIP_RDONLY, &code));
    if (!archive_) {
        zip_error_t problem;
        zip_error_init_with_code(&problem, code);
        const std::string why = zip_error_strerror(&problem);
        zip_error_fini(&problem);
        return Fail("not a readable zip archive: " + why);
    }
    zip_stat_t stat;
    zip_stat_init(&stat);
    if (zip_stat(archive_.get(), "header.json", 0, &stat) != 0) {
        return Fail("no member header.json in the archive");
    }
    if (stat.size > kMaxHeaderBytes) {
        return Fail("header.json holds " + std::to_string(stat.size) + " bytes, too many");
    }
    std::string json(stat.size, '\0');
    const Member header(zip_fopen(archive_.get(), "header.json", 0));
    if (!header || zip_fread(header.get(), &json[0], stat.size) !=
                       static_cast<zip_int64_t>(stat.size)) {
        return Fail("cannot read header.json");
    }
    std::string reason;
    if (!TrxNames::ParseHeader(json, header_, reason)) {
        return Fail(reason);
    }
    const std::uint64_t n = header_.streamlines;
    const std::uint64_t v = header_.vertices;
    if (!OpenMember(TrxNames::kPositions, v * 12, positions_)) {
        return false;
    }
    // Offsets of either width, with or without the closing vertex count.
    for (const int width : {8, 4}) {
        const std::string name = width == 8 ? "offsets.uint64" : "offsets.uint32";
        zip_stat_init(&stat);
        if (zip_stat(archive_.get(), name.c_str(), 0, &stat) != 0) {
            continue;
        }
        offsetWidth_ = width;
        const std::uint64_t entries = stat.size == (n + 1) * width ? n + 1 : n;
        if (!OpenMember(name, entries * width, offsets_)) {
            return false;
        }
        break;
    }
    if (!offsets_.member) {
        return error_.empty() ? Fail("no member offsets.uint64 in the archive") : false;
    }
    const zip_int64_t members = zip_get_num_entries(archive_.get(), 0);
    for (zip_int64_t i = 0; i < members; ++i) {
        const char* raw = zip_get_name(archive_.get(), static_cast<zip_uint64_t>(i), 0);
        const std::string name = raw != nullptr ? raw : "";
        const bool perPoint = name.rfind("dpv/", 0) == 0;
        const bool perTrack = name.rfind("dps/", 0) == 0;
        if ((!perPoint && !perTrack) || CMyUtils::getFileExtension(name) != "float32" ||
            name.find('/', 4) != std::string::npos) {
            continue;  // groups, other value types, folders
        }
        Stream stream;
        if (!OpenMember(name, (perPoint ? v : n) * 4, stream)) {
            return false;
        }
        const std::string value = name.substr(4, name.size() - 4 - 8);
        (perPoint ? scalars_ : properties_).push_back(std::move(stream));
        (perPoint ? scalarNames_ : propertyNames_).push_back(value);
    }
    start_ = 0;
    tracksRead_ = 0;
    if (n > 0) {
        if (!ReadOffset(&start_) || start_ != 0) {
            return Fail("the first offset is not 0");
        }
    }
    return true;
}

bool TrxReader::ReadOffset(std::uint64_t* offset) {
    unsigned char bytes[8] = {};
    if (!offsets_.Read(bytes, static_cast<std::size_t>(offsetWidth_))) {
        return false;
    }
    LittleEndian::ToOrFromHost(bytes, 1, static_cast<std::size_t>(offsetWidth_));
    if (offsetWidth_ == 8) {
        std::memcpy(offset, bytes, 8);
    } else {
        std::uint32_t narrow = 0;
        std::memcpy(&narrow, bytes, 4);
        *offset = narrow;
    }
    return true;
}

bool TrxReader::ReadFloats(Stream& stream, float* values, std::size_t count) {
    if (!stream.Read(values, count * sizeof(float))) {
        return false;
    }
    LittleEndian::ToOrFromHost(reinterpret_cast<unsigned char*>(values), count, sizeof(float));
    return true;
}

TrxReader::Outcome TrxReader::Next(std::vector<float>& points, std::vector<float>& scalars,
                                   std::vector<float>& properties) {
    if (tracksRead_ == header_.streamlines) {
        return Outcome::kEnd;
    }
    std::uint64_t end = header_.vertices;
    if (tracksRead_ + 1 < header_.streamlines && !ReadOffset(&end)) {
        return Damaged("the offsets end after " + std::to_string(tracksRead_ + 1) + " tracks");
    }
    if (end < start_ || end > header_.vertices) {
        return Damaged("track " + std::to_string(tracksRead_ + 1) + " would end at vertex " +
                       std::to_string(end) + " of " + std::to_string(header_.vertices));
    }
    const std::size_t n = static_cast<std::size_t>(end - start_);
    points.resize(3 * n);
    if (!ReadFloats(positions_, points.data(), points.size())) {
        return Damaged("cannot read the positions of track " + std::to_string(tracksRead_ + 1));
    }
    const std::size_t width = scalars_.size();
    scalars.resize(n * width);
    std::vector<float> column(n);
    for (std::size_t s = 0; s < width; ++s) {
        if (!ReadFloats(scalars_[s], column.data(), n)) {
            return Damaged("cannot read dpv/" + scalarNames_[s]);
        }
        for (std::size_t i = 0; i < n; ++i) {
            scalars[i * width + s] = column[i];
        }
    }
    properties.resize(properties_.size());
    for (std::size_t p = 0; p < properties_.size(); ++p) {
        if (!ReadFloats(properties_[p], properties.data() + p, 1)) {
            return Damaged("cannot read dps/" + propertyNames_[p]);
        }
    }
    start_ = end;
    ++tracksRead_;
    return Outcome::kTrack;
}
