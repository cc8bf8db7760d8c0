#pragma once
// Reads a TRX archive track by track: positions.3.float32 and offsets.uint64 (or uint32, with or
// without the closing vertex count), and the float32 values per point (dpv/) and per track
// (dps/); values of other types are not read. Every member's size is checked against
// header.json before anything is read, and memory follows the longest track, not the file.

#include <zip.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "TrxNames.h"

class TrxReader {
  public:
    enum class Outcome { kTrack, kEnd, kDamaged };

    TrxReader();
    ~TrxReader();
    TrxReader(const TrxReader&) = delete;
    TrxReader& operator=(const TrxReader&) = delete;

    bool Open(const std::string& path);
    const TrxNames::Header& Header() const { return header_; }
    const std::vector<std::string>& ScalarNames() const { return scalarNames_; }
    const std::vector<std::string>& PropertyNames() const { return propertyNames_; }
    // The next track: points (RAS millimetres), scalars point by point, properties.
    Outcome Next(std::vector<float>& points, std::vector<float>& scalars,
                 std::vector<float>& properties);
    std::uint64_t TracksRead() const { return tracksRead_; }
    const std::string& LastError() const { return error_; }

  private:
    struct ArchiveCloser {
        void operator()(zip_t* archive) const noexcept { zip_discard(archive); }
    };
    struct MemberCloser {
        void operator()(zip_file_t* member) const noexcept { zip_fclose(member); }
    };
    using Member = std::unique_ptr<zip_file_t, MemberCloser>;
    // A member read in blocks: a read per track cost the archive a seek and a read each.
    struct Stream {
        Member member;
        std::vector<unsigned char> block;
        std::size_t position = 0;  // next byte of block to take
        std::size_t filled = 0;    // bytes read into block
        bool Read(void* out, std::size_t bytes);
    };

    bool Fail(const std::string& what);
    Outcome Damaged(const std::string& what);
    // Opens a member whose size must be bytes.
    bool OpenMember(const std::string& name, std::uint64_t bytes, Stream& stream);
    static bool ReadFloats(Stream& stream, float* values, std::size_t count);
    bool ReadOffset(std::uint64_t* offset);

    std::string path_;
    std::unique_ptr<zip_t, ArchiveCloser> archive_;
    TrxNames::Header header_;
    Stream positions_;
    Stream offsets_;
    int offsetWidth_ = 8;
    std::vector<Stream> scalars_;
    std::vector<Stream> properties_;
    std::vector<std::string> scalarNames_;
    std::vector<std::string> propertyNames_;
    std::uint64_t start_ = 0;  // first vertex of the next track
    std::uint64_t tracksRead_ = 0;
    std::string error_;
};
