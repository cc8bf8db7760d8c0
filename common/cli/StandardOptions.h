#pragma once
// Options every program has, declared once: the help, the version and the thread count.

#include "CommandOption.h"

class StandardOptions {
  public:
    // -h/--help; each program gives its own help lines for it.
    static constexpr CommandOption Help(const char* help) {
        return CommandOption::Flag("-h", "--help", help);
    }
    // Only the long spelling: "-version" was never a switch of these programs.
    static constexpr CommandOption kVersion = CommandOption::Flag(
        "--version", "--version",
        "  --version\n"
        "          print the toolkit's version\n");
    // -nthreads with the lines that say what runs on the threads.
    static constexpr CommandOption Threads(const char* help) {
        return CommandOption::Checked("-nthreads", "--nthreads",
                                   CommandOption::Value::Integer(1, CommandOption::kUnbounded), help);
    }
};
