// tenscalc: fits a diffusion tensor in every voxel of a raw diffusion acquisition and writes the
// derived maps (b0, DWI, FA, ADC, colour FA, EXP, tensor, eigenvalues and eigenvectors).

#include <nifti1_io.h>

#include "ExitStatus.h"
#include "MemoryGuard.h"
#include "ReconstructionRun.h"
#include "RunStep.h"
#include "TenscalcCommandLine.h"
#include "TenscalcSettings.h"

int run(int argc, char** argv) {
    // Unreadable inputs are reported by the run's own messages, not by the library's diagnostics.
    nifti_set_debug_level(0);
    TenscalcSettings settings;
    if (const RunStep stop = TenscalcCommandLine::Parse(argc, argv, settings)) {
        return *stop;
    }
    ReconstructionRun run(settings);
    using Step = RunStep (ReconstructionRun::*)();
    for (const Step step :
         {&ReconstructionRun::OpenRawData, &ReconstructionRun::SettleOrientation,
          &ReconstructionRun::LoadGradientTable, &ReconstructionRun::ReadFitMask,
          &ReconstructionRun::ReadRawVolumes,
          &ReconstructionRun::FitVoxels, &ReconstructionRun::MaskBackground,
          &ReconstructionRun::WriteOutputs}) {
        if (const RunStep stop = (run.*step)()) {
            return *stop;
        }
    }
    return kExitSuccess;
}

int main(int argc, char** argv) {
    return MemoryGuard::Call(run, argc, argv, "the volumes of this run");
}
