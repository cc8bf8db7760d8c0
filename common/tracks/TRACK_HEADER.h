#pragma once
// The 1000-byte header at the start of every track file (.trk).
//
// A track file is this header followed by one record per track, back to back:
//   int32 n; n points of (x, y, z, scalar_count scalars) as float32; property_count float32.
// Multi-byte numbers are in the byte order of the writing machine; a reader recognises the
// opposite order by header_size (neither 0 nor 1000 when read natively).
// Coordinates are in millimetres: voxel (i, j, k) spans [i*sx, (i+1)*sx) and so on.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <type_traits>

struct TRACK_HEADER {
    char magic[6];                       // "TRACK" and a NUL
    std::int16_t dim[3];                 // volume dimensions in voxels
    float voxel_size[3];                 // millimetres
    float origin[3];                     // the tracker writes 0, 0, 0
    std::int16_t scalar_count;           // float32 values after each point's x, y, z
    char scalar_names[10][20];           // carried along, never interpreted
    std::int16_t property_count;         // float32 values at the end of each track
    char property_names[10][20];         // carried along, never interpreted
    float voxel_to_ras[4][4];            // row by row
    char reserved[444];                  // zero; carried along
    char voxel_order[4];                 // e.g. "LPS"
    char voxel_order_copy[4];            // a second voxel order
    float image_orientation_patient[6];  // row direction cosines, then column ones
    char pad[2];                         // zero
    std::uint8_t invert_x;               // the tracking run inverted vector x
    std::uint8_t invert_y;               //
    std::uint8_t invert_z;               //
    std::uint8_t swap_xy;                // the tracking run swapped vector x and y
    std::uint8_t swap_yz;                //
    std::uint8_t swap_zx;                //
    std::int32_t track_count;            // 0: not recorded, readers count the records
    std::int32_t version;                // 2
    std::int32_t header_size;            // 1000

    // The header every newly made track file starts from: zero bytes except magic "TRACK",
    // voxel order "LPS", rows along x and columns along y, version 2 and header size 1000.
    static TRACK_HEADER MakeDefault() noexcept {
        TRACK_HEADER header;
        std::memset(&header, 0, sizeof header);
        std::memcpy(header.magic, "TRACK", 6);
        std::memcpy(header.voxel_order, "LPS", 4);
        header.image_orientation_patient[0] = 1.0f;
        header.image_orientation_patient[4] = 1.0f;
        header.version = 2;
        header.header_size = 1000;
        return header;
    }

    // True when header_size, read as stored, says the numbers are in the opposite byte order.
    bool IsForeignByteOrder() const noexcept { return header_size != 0 && header_size != 1000; }

    // Reverses the byte order of every numeric field; byte fields are left alone.
    void SwapByteOrder() noexcept {
        for (std::int16_t& value : dim) {
            SwapBytes(value);
        }
        for (float& value : voxel_size) {
            SwapBytes(value);
        }
        for (float& value : origin) {
            SwapBytes(value);
        }
        SwapBytes(scalar_count);
        SwapBytes(property_count);
        for (auto& row : voxel_to_ras) {
            for (float& value : row) {
                SwapBytes(value);
            }
        }
        for (float& value : image_orientation_patient) {
            SwapBytes(value);
        }
        SwapBytes(track_count);
        SwapBytes(version);
        SwapBytes(header_size);
    }

    // Reverses the bytes of one 2- or 4-byte number in place.
    template <typename T>
    static void SwapBytes(T& value) noexcept {
        static_assert(sizeof(T) == 2 || sizeof(T) == 4, "only 16- and 32-bit fields are swapped");
        unsigned char bytes[sizeof(T)];
        std::memcpy(bytes, &value, sizeof(T));
        for (std::size_t i = 0; i < sizeof(T) / 2; ++i) {
            const unsigned char keep = bytes[i];
            bytes[i] = bytes[sizeof(T) - 1 - i];
            bytes[sizeof(T) - 1 - i] = keep;
        }
        std::memcpy(&value, bytes, sizeof(T));
    }
};

// The file layout is this struct's memory image, so padding or a moved field would corrupt
// every file written or read.
static_assert(sizeof(TRACK_HEADER) == 1000, "TRACK_HEADER must be exactly 1000 bytes");
static_assert(std::is_standard_layout<TRACK_HEADER>::value, "TRACK_HEADER is a byte image");
static_assert(std::is_trivially_copyable<TRACK_HEADER>::value, "TRACK_HEADER is a byte image");
static_assert(sizeof(float) == 4, "track files store IEEE single precision");
static_assert(offsetof(TRACK_HEADER, magic) == 0, "magic offset");
static_assert(offsetof(TRACK_HEADER, dim) == 6, "dim offset");
static_assert(offsetof(TRACK_HEADER, voxel_size) == 12, "voxel_size offset");
static_assert(offsetof(TRACK_HEADER, origin) == 24, "origin offset");
static_assert(offsetof(TRACK_HEADER, scalar_count) == 36, "scalar_count offset");
static_assert(offsetof(TRACK_HEADER, scalar_names) == 38, "scalar_names offset");
static_assert(offsetof(TRACK_HEADER, property_count) == 238, "property_count offset");
static_assert(offsetof(TRACK_HEADER, property_names) == 240, "property_names offset");
static_assert(offsetof(TRACK_HEADER, voxel_to_ras) == 440, "voxel_to_ras offset");
static_assert(offsetof(TRACK_HEADER, reserved) == 504, "reserved offset");
static_assert(offsetof(TRACK_HEADER, voxel_order) == 948, "voxel_order offset");
static_assert(offsetof(TRACK_HEADER, voxel_order_copy) == 952, "voxel_order_copy offset");
static_assert(offsetof(TRACK_HEADER, image_orientation_patient) == 956,
              "image_orientation_patient offset");
static_assert(offsetof(TRACK_HEADER, pad) == 980, "pad offset");
static_assert(offsetof(TRACK_HEADER, invert_x) == 982, "invert_x offset");
static_assert(offsetof(TRACK_HEADER, invert_y) == 983, "invert_y offset");
static_assert(offsetof(TRACK_HEADER, invert_z) == 984, "invert_z offset");
static_assert(offsetof(TRACK_HEADER, swap_xy) == 985, "swap_xy offset");
static_assert(offsetof(TRACK_HEADER, swap_yz) == 986, "swap_yz offset");
static_assert(offsetof(TRACK_HEADER, swap_zx) == 987, "swap_zx offset");
static_assert(offsetof(TRACK_HEADER, track_count) == 988, "track_count offset");
static_assert(offsetof(TRACK_HEADER, version) == 992, "version offset");
static_assert(offsetof(TRACK_HEADER, header_size) == 996, "header_size offset");
