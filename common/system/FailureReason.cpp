#include "FailureReason.h"

std::string FailureReason::Line(const std::string& reason, const std::string& subject) {
    if (reason.empty()) {
        return "";
    }
    const std::string named = subject + ": ";
    const bool namesSubject = !subject.empty() && reason.compare(0, named.size(), named) == 0;
    return "  " + (namesSubject ? reason.substr(named.size()) : reason) + "\n";
}
