#pragma once
// Reader and writer of the ".info" side file: an XML document whose "ImageInfo" element carries
// the image orientation (six numbers), the slice order (+1/-1) and the scanner manufacturer.
// Everything else in the document is kept and written back unchanged. Nothing is printed.

#include <string>

#include "XMLNode.h"

class ImageInfoParser {
  public:
    // With a file name the file is read as by Open; with nullptr (or an unreadable file) a fresh
    // "ImageInfo" element is held.
    explicit ImageInfoParser(const char* fileName = nullptr);

    // Replaces the held document by the file's "ImageInfo" element. False (and a fresh element
    // held) when the file is missing, malformed or has no such element.
    bool Open(const std::string& fileName);
    // Why the last Open (or the constructor's) failed, empty after one succeeded, e.g.
    //   "line 7, column 12: end tag </ImageInfo> matches no open element"
    //   "cannot open: No such file or directory"
    //   "no <ImageInfo> element"
    const std::string& LastError() const { return m_lastError; }

    // True and the six numbers when the "ImageOrientation" text has at least six non-empty
    // comma-separated parts; otherwise false and orientation6 untouched.
    bool GetImageOrientation(float* orientation6) const;
    // -1 when "SliceOrder" (its text, or its "value" attribute when the text is empty) is
    // negative, otherwise +1, also when there is no usable value.
    int GetSliceOrder() const;
    std::string GetManufacturer() const;

    void UpdateImageOrientation(const float* orientation6);
    void UpdateSliceOrder(int sliceOrder);
    void UpdateManufacturer(const std::string& manufacturer);

    // Byte-order mark, XML declaration line and the element; true on success. reason (may be
    // null) receives why it failed ("cannot create: No such file or directory", "cannot write:
    // No space left on device") and is emptied on success.
    bool WriteToFile(const std::string& fileName, std::string* reason = nullptr) const;

    // The held "ImageInfo" element, never empty.
    const XMLNode& GetNode() const { return m_info; }

  private:
    // First text of the first child of that name, or nullptr.
    const char* childText(const char* name) const;
    void updateChildText(const char* name, const std::string& text);

    XMLNode m_info;
    std::string m_lastError;
};
