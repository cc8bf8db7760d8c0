#pragma once
// A small XML document layer: reading a file or string into a tree of elements, texts,
// attributes and verbatim sections (comments, CDATA, DOCTYPE, <PRE>, <Script>), looking up
// children and attributes by name (case-insensitively), replacing texts, and writing the tree
// back with a fixed tab-indented layout that keeps the document order.
//
// An XMLNode is a handle to shared node data: copies share the node, and the node (with
// everything below it) is released with its last handle. A handle to nothing is the empty node.

#include <memory>
#include <string>

enum XMLError {
    eXMLErrorNone = 0,
    eXMLErrorMissingEndTag,  // a warning only: an element left open at the end is accepted
    eXMLErrorEmpty,
    eXMLErrorFileNotFound,
    eXMLErrorFirstTagNotFound,
    eXMLErrorUnexpectedEnd,  // truncated tag, unterminated quote or verbatim section
    eXMLErrorMissingTagName,
    eXMLErrorUnmatchedEndTag,
    eXMLErrorSyntax,
    eXMLErrorUnknownCharacterEntity,
    eXMLErrorTooDeep,
    eXMLErrorCannotOpenWriteFile,
    eXMLErrorCannotWriteFile
};

struct XMLResults {
    XMLError error = eXMLErrorNone;
    int nLine = 0;    // 1-based line of the error; 0 when the error has no place in the text
    int nColumn = 0;  // 1-based column of the error
    // What was wrong, without the place, e.g. "end tag </Other> matches no open element" or
    // "cannot open: No such file or directory". Empty without an error.
    std::string detail;
};

class XMLNode {
  public:
    // Nesting beyond this depth makes the document unreadable, so hostile input cannot exhaust
    // the stack of the recursive writer and destructor.
    static constexpr int kMaxDepth = 256;

    XMLNode() = default;  // the empty node

    // A new parentless element.
    static XMLNode createXMLTopNode(const std::string& name, bool isDeclaration = false);

    // Parse text and return its element named tag (searched as openFileHelper describes), or,
    // with an empty tag, the document's top node. Any error other than a missing end tag gives
    // the empty node; results (when given) receive the error code and position.
    static XMLNode parseString(const std::string& text, const std::string& tag,
                               XMLResults* results = nullptr);
    // The same for a whole file; a leading UTF-8 byte-order mark is skipped. A file that cannot
    // be opened or read gives eXMLErrorFileNotFound, with the system's reason in the detail.
    static XMLNode parseFile(const std::string& fileName, const std::string& tag,
                             XMLResults* results = nullptr);
    // "line 7, column 12: <detail>", or the detail alone for an error without a place; empty
    // without an error.
    static std::string describe(const XMLResults& results);
    // parseFile without results: the element named tag, found as the top node itself or the
    // first top-level element of that name (descending into declarations), or the empty node.
    static XMLNode openFileHelper(const std::string& fileName, const std::string& tag);

    bool isEmpty() const { return !m_data; }
    // nullptr for the empty node and for a document's nameless top node.
    const char* getName() const;
    bool isDeclaration() const;
    XMLNode getParentNode() const;

    int nChildNode() const;
    int nText() const;
    int nClear() const;
    int nAttribute() const;

    // The i-th child element, or the empty node.
    XMLNode getChildNode(int i = 0) const;
    // First child element named name (case-insensitive) at or after *position (0 when null);
    // *position is then set just past the found child.
    XMLNode getChildNode(const std::string& name, int* position = nullptr) const;
    // New child element inserted before the position-th child element (-1: at the end).
    XMLNode addChild(const std::string& name, bool isDeclaration = false, int position = -1);

    // The i-th text, or nullptr.
    const char* getText(int i = 0) const;
    // Replaces the i-th text, or appends a new text when there are fewer texts.
    const char* updateText(const std::string& text, int i = 0);
    void addText(const std::string& text);
    // Appends a verbatim section written as open + content + close.
    void addClear(const std::string& content, const std::string& open = "<![CDATA[",
                  const std::string& close = "]]>");
    // Content of the i-th verbatim section, or nullptr.
    const char* getClear(int i = 0) const;

    // Value of the first attribute named name (case-insensitive) at or after *position, or
    // nullptr; *position is then set just past the found attribute.
    const char* getAttribute(const std::string& name, int* position = nullptr) const;
    void addAttribute(const std::string& name, const std::string& value);

    // The element as text; format adds line feeds and tab indentation.
    std::string createXMLString(bool format = true, int* length = nullptr) const;
    // Writes byte-order mark, "<?xml version=\"1.0\" encoding=\"utf-8\"?>" plus line feed (the
    // encoding name given, or utf-8), and the element. eXMLErrorNone (0) on success; otherwise
    // reason (when given) receives e.g. "cannot write: No space left on device".
    int writeToFile(const std::string& fileName, const char* encoding = nullptr,
                    bool format = true, std::string* reason = nullptr) const;

    // Entity encoding of the five XML special characters.
    static std::string encodeEntities(const std::string& text);

    struct Data;  // node data, shared between handles

  private:
    explicit XMLNode(std::shared_ptr<Data> data) : m_data(std::move(data)) {}

    std::shared_ptr<Data> m_data;
};
