#pragma once
// Owner of a nifticlib image, for paths that give up before the image is handed on.

#include <nifti1_io.h>

#include <memory>

struct NiftiImageDeleter {
    void operator()(nifti_image* image) const noexcept { nifti_image_free(image); }
};
using OwnedNiftiImage = std::unique_ptr<nifti_image, NiftiImageDeleter>;
