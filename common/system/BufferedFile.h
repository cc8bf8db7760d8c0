#pragma once
// A C stream that owns a megabyte buffer: with the C library's few kilobytes, writing tracks
// point by point cost a system call for every few tracks. Used like OwnedFile; the buffer stays
// with this object after release(), so the stream must be closed before this object goes.

#include <cstdio>
#include <memory>

#include "OwnedHandles.h"

class BufferedFile {
  public:
    BufferedFile() = default;
    explicit BufferedFile(std::FILE* file) { reset(file); }

    void reset(std::FILE* file = nullptr);
    std::FILE* get() const { return file_.get(); }
    std::FILE* release() { return file_.release(); }
    explicit operator bool() const { return file_ != nullptr; }

  private:
    std::unique_ptr<char[]> buffer_;  // declared before the stream, so that it outlives it
    OwnedFile file_;
};
