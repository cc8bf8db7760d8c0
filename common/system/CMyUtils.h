#pragma once
// File-name and string helpers used by the programs.

#include <string>
#include <vector>

class CMyUtils {
  public:
    // Text after the last '.' that follows the last '/', or empty.
    static std::string getFileExtension(const std::string& path);
    // The name without getFileExtension's extension (and without its '.').
    static std::string getFileTitle(const std::string& path);
    // Everything up to and including the last '/', or empty when there is none.
    static std::string getFilePath(const std::string& path);
    // True when stat succeeds, or fails for a reason other than a missing entry.
    static bool pathExist(const std::string& path);
    static std::string upperCase(const std::string& text);
    // The process's working directory, or empty when it cannot be determined.
    static std::string getCurrentPath();
    // Removes leading and trailing white space (isspace) in place.
    static void trimWhiteSpace(std::string& text);
    // Turns '\' into '/' and appends '/' to a non-empty path that does not end with one.
    static void toValidatePath(std::string& path);
    // Trims text and returns its non-empty pieces between separators (any white space when the
    // separator is ' ').
    static std::vector<std::string> parseString(const std::string& text, char separator);
};
