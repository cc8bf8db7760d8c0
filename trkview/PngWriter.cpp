#include "PngWriter.h"

#include <png.h>

#include <csetjmp>
#include <cstdio>

#include "OwnedHandles.h"

namespace {

// Owns the libpng write and info structures.
class PngStructs {
  public:
    PngStructs() {
        png_ = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
        if (png_ != nullptr) {
            info_ = png_create_info_struct(png_);
        }
    }
    ~PngStructs() { png_destroy_write_struct(&png_, info_ != nullptr ? &info_ : nullptr); }
    PngStructs(const PngStructs&) = delete;
    PngStructs& operator=(const PngStructs&) = delete;

    bool valid() const { return png_ != nullptr && info_ != nullptr; }
    png_structp png() const { return png_; }
    png_infop info() const { return info_; }

  private:
    png_structp png_ = nullptr;
    png_infop info_ = nullptr;
};

// libpng reports errors by longjmp; everything with a destructor lives in the caller's frame,
// so the jump skips no destructor.
bool Encode(const PngStructs& structs, std::FILE* file, int width, int height, png_bytepp rows) {
    if (setjmp(png_jmpbuf(structs.png())) != 0) {
        return false;
    }
    png_init_io(structs.png(), file);
    png_set_IHDR(structs.png(), structs.info(), static_cast<png_uint_32>(width),
                 static_cast<png_uint_32>(height), 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(structs.png(), structs.info());
    png_write_image(structs.png(), rows);
    png_write_end(structs.png(), nullptr);
    return true;
}

}  // namespace

bool PngWriter::Write(const std::string& path, int width, int height,
                      const std::vector<std::uint8_t>& rgb) {
    if (width <= 0 || height <= 0 ||
        rgb.size() != static_cast<size_t>(width) * static_cast<size_t>(height) * 3) {
        return false;
    }
    OwnedFile file(std::fopen(path.c_str(), "wb"));
    if (!file) {
        return false;
    }
    const PngStructs structs;
    if (!structs.valid()) {
        return false;
    }
    // libpng takes non-const row pointers but only reads through them when writing.
    std::vector<png_bytep> rows(static_cast<size_t>(height));
    for (int v = 0; v < height; ++v) {
        rows[v] = const_cast<png_bytep>(rgb.data() + static_cast<size_t>(v) * width * 3);
    }
    if (!Encode(structs, file.get(), width, height, rows.data())) {
        return false;
    }
    return std::fclose(file.release()) == 0;
}
