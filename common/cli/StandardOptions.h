#pragma once
// Options every program has, declared once: the help, the version and the thread count.

#include "OptionSpec.h"

class StandardOptions {
  public:
    // -h/--help; each program gives its own help lines for it.
    static constexpr OptionSpec Help(const char* help) {
        return OptionSpec::Flag("-h", "--help", help);
    }
    // Only the long spelling: "-version" was never a switch of these programs.
    static constexpr OptionSpec kVersion = OptionSpec::Flag(
        "--version", "--version",
        "  --version\n"
        "          print the toolkit's version\n");
    // -nthreads with the lines that say what runs on the threads.
    static constexpr OptionSpec Threads(const char* help) {
        return OptionSpec::Checked("-nthreads", "--nthreads",
                                   OptionSpec::Value::Integer(1, OptionSpec::kUnbounded), help);
    }
};
