#include "BufferedFile.h"

namespace {
constexpr std::size_t kBufferBytes = std::size_t{1} << 20;
}  // namespace

void BufferedFile::reset(std::FILE* file) {
    file_.reset(file);
    if (file != nullptr) {
        if (!buffer_) {
            buffer_ = std::make_unique<char[]>(kBufferBytes);
        }
        // setvbuf must come before the first read or write; a stream that refuses keeps its own.
        std::setvbuf(file, buffer_.get(), _IOFBF, kBufferBytes);
    }
}
