// tenscalc: fits a diffusion tensor in every voxel of a raw diffusion acquisition and writes the
// derived maps.

#include "ExitStatus.h"
#include "TenscalcCommandLine.h"
#include "TenscalcSettings.h"

int main(int argc, char** argv) {
    TenscalcSettings settings;
    const int status = TenscalcCommandLine::Parse(argc, argv, settings);
    if (status >= 0) {
        return status;
    }
    return kExitSuccess;
}
