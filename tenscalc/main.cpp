// tenscalc: fits a diffusion tensor in every voxel of a raw diffusion acquisition and writes the
// derived maps (b0, DWI, FA, ADC, colour FA, EXP, tensor, eigenvalues and eigenvectors).

#include <nifti1_io.h>

#include "ExitStatus.h"
#include "MemoryGuard.h"
#include "ReconstructionRun.h"
#include "TenscalcCommandLine.h"
#include "TenscalcSettings.h"

int run(int argc, char** argv) {
    // Unreadable inputs are reported by the run's own messages, not by the library's diagnostics.
    nifti_set_debug_level(0);
    TenscalcSettings settings;
    int status = TenscalcCommandLine::Parse(argc, argv, settings);
    if (status != ReconstructionRun::kContinue) {
        return status;
    }
    ReconstructionRun run(settings);
    status = run.OpenRawData();
    if (status == ReconstructionRun::kContinue)
        status = run.SettleOrientation();
    if (status == ReconstructionRun::kContinue)
        status = run.LoadGradientTable();
    if (status == ReconstructionRun::kContinue)
        status = run.ReadRawVolumes();
    if (status == ReconstructionRun::kContinue)
        status = run.FitVoxels();
    if (status == ReconstructionRun::kContinue)
        status = run.MaskBackground();
    if (status == ReconstructionRun::kContinue)
        status = run.WriteOutputs();
    return status;
}

int main(int argc, char** argv) {
    return MemoryGuard::Call(run, argc, argv, "the volumes of this run");
}
