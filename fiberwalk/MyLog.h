#pragma once
// Plain-text history of tracking runs: one numbered, dated entry per run, preceded by a folder
// line whenever the run starts from another working directory than the entries before it.

class MyLog {
  public:
    MyLog() = default;
    virtual ~MyLog() = default;

    // Appends an entry for text to the log file at logPath, creating the file when needed.
    // With a null tag the entry is numbered after the last numbered entry of the file; with a
    // tag the tag replaces the number. An unopenable log is reported on standard output.
    static void WriteLog(const char* text, const char* logPath, const char* tag);
};
