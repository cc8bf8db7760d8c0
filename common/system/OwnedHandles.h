#pragma once
// Owner for the C streams the toolkit opens (nifticlib images have theirs beside the volume
// code, OwnedNiftiImage.h). Closing
// through these is for paths that give up; a writer that must know whether its data reached the
// disk releases the stream and checks fclose itself.

#include <cstdio>
#include <memory>

struct StreamCloser {
    void operator()(std::FILE* file) const noexcept { std::fclose(file); }
};
using OwnedFile = std::unique_ptr<std::FILE, StreamCloser>;
