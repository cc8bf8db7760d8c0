#include "ImageInfoParser.h"

#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

const char* const kRootName = "ImageInfo";
const char* const kOrientationName = "ImageOrientation";
const char* const kSliceOrderName = "SliceOrder";
const char* const kManufacturerName = "Manufacturer";

}  // namespace

ImageInfoParser::ImageInfoParser(const char* fileName)
    : m_info(XMLNode::createXMLTopNode(kRootName)) {
    if (fileName != nullptr) {
        Open(fileName);
    }
}

bool ImageInfoParser::Open(const std::string& fileName) {
    XMLResults results;
    XMLNode node = XMLNode::parseFile(fileName, kRootName, &results);
    if (node.isEmpty()) {
        m_info = XMLNode::createXMLTopNode(kRootName);
        m_lastError = XMLNode::describe(results);
        return false;
    }
    m_info = node;
    m_lastError.clear();
    return true;
}

const char* ImageInfoParser::childText(const char* name) const {
    return m_info.getChildNode(name).getText(0);
}

void ImageInfoParser::updateChildText(const char* name, const std::string& text) {
    XMLNode child = m_info.getChildNode(name);
    if (child.isEmpty()) {
        child = m_info.addChild(name);
    }
    child.updateText(text, 0);
}

bool ImageInfoParser::GetImageOrientation(float* orientation6) const {
    const char* raw = childText(kOrientationName);
    std::string text = raw != nullptr ? raw : "";
    // Texts read from a file are trimmed already; set ones may not be.
    const size_t begin = text.find_first_not_of(" \t\r\n");
    const size_t end = text.find_last_not_of(" \t\r\n");
    text = begin == std::string::npos ? std::string() : text.substr(begin, end - begin + 1);

    std::vector<std::string> parts;
    size_t start = 0;
    while (start <= text.size()) {
        size_t comma = text.find(',', start);
        if (comma == std::string::npos) {
            comma = text.size();
        }
        if (comma > start) {
            parts.push_back(text.substr(start, comma - start));
        }
        start = comma + 1;
    }
    if (parts.size() < 6) {
        return false;
    }
    for (int i = 0; i < 6; ++i) {
        orientation6[i] =
            static_cast<float>(std::strtod(parts[static_cast<size_t>(i)].c_str(), nullptr));
    }
    return true;
}

int ImageInfoParser::GetSliceOrder() const {
    const XMLNode node = m_info.getChildNode(kSliceOrderName);
    const char* text = node.getText(0);
    if (text == nullptr || *text == '\0') {
        text = node.getAttribute("value");
    }
    if (text == nullptr) {
        return 1;
    }
    return std::strtol(text, nullptr, 10) < 0 ? -1 : 1;
}

std::string ImageInfoParser::GetManufacturer() const {
    const char* text = childText(kManufacturerName);
    return text != nullptr ? text : "";
}

void ImageInfoParser::UpdateImageOrientation(const float* orientation6) {
    char buffer[512];
    std::snprintf(buffer, sizeof(buffer), "%f, %f, %f, %f, %f, %f",
                  static_cast<double>(orientation6[0]), static_cast<double>(orientation6[1]),
                  static_cast<double>(orientation6[2]), static_cast<double>(orientation6[3]),
                  static_cast<double>(orientation6[4]), static_cast<double>(orientation6[5]));
    updateChildText(kOrientationName, buffer);
}

void ImageInfoParser::UpdateSliceOrder(int sliceOrder) {
    updateChildText(kSliceOrderName, std::to_string(sliceOrder));
}

void ImageInfoParser::UpdateManufacturer(const std::string& manufacturer) {
    updateChildText(kManufacturerName, manufacturer);
}

bool ImageInfoParser::WriteToFile(const std::string& fileName, std::string* reason) const {
    return m_info.writeToFile(fileName, nullptr, true, reason) == eXMLErrorNone;
}
