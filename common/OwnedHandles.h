#pragma once
// Owners for the C handles the toolkit opens: standard streams and nifticlib images. Closing
// through these is for paths that give up; a writer that must know whether its data reached the
// disk releases the stream and checks fclose itself.

#include <nifti1_io.h>

#include <cstdio>
#include <memory>

struct StreamCloser {
    void operator()(std::FILE* file) const noexcept { std::fclose(file); }
};
using OwnedFile = std::unique_ptr<std::FILE, StreamCloser>;

struct NiftiImageDeleter {
    void operator()(nifti_image* image) const noexcept { nifti_image_free(image); }
};
using OwnedNiftiImage = std::unique_ptr<nifti_image, NiftiImageDeleter>;
