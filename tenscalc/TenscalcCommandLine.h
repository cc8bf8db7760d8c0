#pragma once
// The first phase of tenscalc: the command line is checked and the run settings settled.

#include "CMyCmdParser.h"
#include "RunStep.h"
#include "TenscalcSettings.h"

class TenscalcCommandLine {
  public:
    static constexpr const char* kProgramName = "tenscalc";

    // Fills settings from the command line. Goes on, or stops with the exit status to end with
    // (the help, or a refused command line; the message is printed).
    static RunStep Parse(int argc, const char* const* argv, TenscalcSettings& settings);
    // "Type 'tenscalc --help' for more information." on standard output.
    static void ShowHint();

  private:
    // -fit, -nthreads, -export_grad, -bzero, -shells, -mask and -metrics.
    static RunStep ParseAddedOptions(const CMyCmdParser& parser, TenscalcSettings& settings);
    // -fit: the fit method and its rounds.
    static RunStep ParseFitMethod(const CMyCmdParser& parser, TenscalcSettings& settings);
    // -metrics: the names asked for, "all" for every one.
    static void ReadMetrics(const CMyCmdParser& parser, TenscalcSettings& settings);
    // -ot, -nex and -cb.
    static RunStep ParseOutputType(const CMyCmdParser& parser, TenscalcSettings& settings);
    // The switches that only set what the run does: the output choices, the orientation
    // switches and -b0_th.
    static void ParseRunOptions(const CMyCmdParser& parser, TenscalcSettings& settings);
};
