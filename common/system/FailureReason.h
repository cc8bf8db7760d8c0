#pragma once
// The line a program adds under its own failure message to say why: the library's reason,
// indented, without the file name when the message above already names that file.

#include <string>

class FailureReason {
  public:
    // "  <reason>\n", with a leading "<subject>: " removed; empty for an empty reason.
    static std::string Line(const std::string& reason, const std::string& subject);
};
