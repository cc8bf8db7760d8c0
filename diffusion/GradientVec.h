#pragma once

// One row of a gradient table: the unit gradient direction of a diffusion-weighted volume (for a
// b0 row the numbers as read) and its b value, in the unit of the -b option.
struct GradientVec {
    double x = 0.0;
    double y = 0.0;
    double z = 0.0;
    double b = 0.0;
};
