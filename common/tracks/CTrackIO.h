#pragma once
// Common state of the track file reader and writer: the current header, the open file and the
// last error.

#include <cstdio>
#include <memory>
#include <vector>

#include "OwnedHandles.h"
#include "TRACK_HEADER.h"

class CTrackIO {
  public:
    // Indices into the message table returned by GetLastErrorMessage.
    enum ErrorCode : int {
        kNoError = 0,
        kCanNotOpen = 1,
        kCanNotClose = 2,
        kCanNotRead = 3,
        kCanNotWrite = 4,
        kNotTrackFile = 5,
        kNotInitialized = 6,
    };

    CTrackIO();
    // Closes an open file; a failure to close is recorded but cannot be reported.
    virtual ~CTrackIO();
    CTrackIO(const CTrackIO&) = delete;
    CTrackIO& operator=(const CTrackIO&) = delete;

    // Without an open file: true. Otherwise closes it; a failed close sets kCanNotClose.
    virtual bool Close();

    const char* GetLastErrorMessage() const;
    int GetLastError() const { return m_error; }

    // Copies the current header. Without an open file: kNotInitialized and false.
    bool GetHeader(TRACK_HEADER* out);

    bool IsOpen() const { return m_file != nullptr; }
    // The open file is in the opposite byte order (the reader swaps every number it reads).
    bool IsSwapped() const { return m_swap; }
    // The open file is a headerless legacy file.
    bool IsLegacy() const { return m_legacy; }

  protected:
    using FilePtr = OwnedFile;

    // Closes the open file (if any) and reports whether fclose succeeded; sets kCanNotClose.
    bool CloseFile();
    // Gives the just opened file a large stream buffer: records are a few kilobytes each, and
    // the default buffer would cost one system call per record.
    void UseLargeBuffer();

    TRACK_HEADER m_header;
    std::vector<char> m_streamBuffer;  // declared before the file, so it outlives the stream
    FilePtr m_file;
    int m_error = kNoError;
    bool m_swap = false;
    bool m_legacy = false;
};
