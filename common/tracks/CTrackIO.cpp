#include "CTrackIO.h"

namespace {

const char* const error_message[] = {
    "No error",
    "Can not open file",
    "Can not close file",
    "Can not read from file",
    "Can not write to file",
    "Not a compatible track file",
    "I/O not initialized. Call 'Open' or 'Initialize' first",
};

}  // namespace

CTrackIO::CTrackIO() : m_header(TRACK_HEADER::MakeDefault()) {}

CTrackIO::~CTrackIO() {
    CloseFile();
}

bool CTrackIO::Close() {
    return CloseFile();
}

bool CTrackIO::CloseFile() {
    if (!m_file) {
        return true;
    }
    // fclose releases the stream even when it fails, so ownership ends here either way.
    if (std::fclose(m_file.release()) != 0) {
        m_error = kCanNotClose;
        return false;
    }
    return true;
}

const char* CTrackIO::GetLastErrorMessage() const {
    const int count = static_cast<int>(sizeof error_message / sizeof error_message[0]);
    if (m_error < 0 || m_error >= count) {
        return "Unknown error";
    }
    return error_message[m_error];
}

bool CTrackIO::GetHeader(TRACK_HEADER* out) {
    if (!m_file) {
        m_error = kNotInitialized;
        return false;
    }
    if (out != nullptr) {
        *out = m_header;
    }
    return true;
}

void CTrackIO::UseLargeBuffer() {
    constexpr std::size_t kStreamBufferBytes = std::size_t(1) << 20;
    if (m_file) {
        m_streamBuffer.resize(kStreamBufferBytes);
        std::setvbuf(m_file.get(), m_streamBuffer.data(), _IOFBF, m_streamBuffer.size());
    }
}
