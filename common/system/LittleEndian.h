#pragma once
// The byte order of the file formats that store little-endian numbers (.tck by default, TRX):
// one swap serves both directions, file to host and host to file.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

class LittleEndian {
  public:
    static bool IsHost() {
        const std::uint16_t probe = 1;
        unsigned char first = 0;
        std::memcpy(&first, &probe, 1);
        return first == 1;
    }
    // Reverses the bytes of each of count values of width bytes: little-endian values to the
    // host's order and back when the host is big-endian, or always when swap is set.
    static void Swap(unsigned char* bytes, std::size_t count, std::size_t width, bool swap) {
        if (!swap) {
            return;
        }
        for (std::size_t i = 0; i < count; ++i) {
            std::reverse(bytes + i * width, bytes + (i + 1) * width);
        }
    }
    static void ToOrFromHost(unsigned char* bytes, std::size_t count, std::size_t width) {
        Swap(bytes, count, width, !IsHost());
    }
};
