#include "NiftiScalar.h"

#include <cmath>
#include <cstdint>

double NiftiScalar::At(const nifti_image& image, size_t p) {
    switch (image.datatype) {
        case DT_UINT8:
            return static_cast<const std::uint8_t*>(image.data)[p];
        case DT_INT16:
            return static_cast<const std::int16_t*>(image.data)[p];
        case DT_UINT16:
            return static_cast<const std::uint16_t*>(image.data)[p];
        case DT_INT32:
            return static_cast<const std::int32_t*>(image.data)[p];
        case DT_FLOAT32:
            return static_cast<const float*>(image.data)[p];
        case DT_FLOAT64:
            return static_cast<const double*>(image.data)[p];
        default:
            return std::nan("");
    }
}

bool NiftiScalar::Reads(int datatype) {
    switch (datatype) {
        case DT_UINT8:
        case DT_INT16:
        case DT_UINT16:
        case DT_INT32:
        case DT_FLOAT32:
        case DT_FLOAT64:
            return true;
        default:
            return false;
    }
}
