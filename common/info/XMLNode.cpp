#include "XMLNode.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <system_error>
#include <utility>
#include <vector>

#include "OwnedHandles.h"

struct XMLNode::Data {
    enum class Kind { Child, Text, Clear };
    struct Clear {
        std::string open;
        std::string content;
        std::string close;
    };

    std::string name;
    bool isDeclaration = false;
    std::weak_ptr<Data> parent;
    std::vector<std::shared_ptr<Data>> children;
    std::vector<std::string> texts;
    std::vector<Clear> clears;
    std::vector<std::pair<std::string, std::string>> attributes;
    // One entry per child, text and verbatim section (kind, index in its list), so that writing
    // reproduces the document order.
    std::vector<std::pair<Kind, size_t>> order;

    bool hasContent() const { return !children.empty() || !texts.empty() || !clears.empty(); }
};

namespace {

using Data = XMLNode::Data;

const char* const kUtf8Bom = "\xEF\xBB\xBF";

bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

char lower(char c) {
    return static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
}

bool equalsNoCase(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (size_t i = 0; i < a.size(); ++i) {
        if (lower(a[i]) != lower(b[i])) {
            return false;
        }
    }
    return true;
}

bool startsWithNoCase(const std::string& text, size_t pos, const std::string& prefix) {
    if (pos > text.size() || text.size() - pos < prefix.size()) {
        return false;
    }
    for (size_t i = 0; i < prefix.size(); ++i) {
        if (lower(text[pos + i]) != lower(prefix[i])) {
            return false;
        }
    }
    return true;
}

size_t findNoCase(const std::string& text, size_t from, const std::string& needle) {
    for (size_t pos = from; pos < text.size(); ++pos) {
        if (startsWithNoCase(text, pos, needle)) {
            return pos;
        }
    }
    return std::string::npos;
}

std::string trimBlanks(const std::string& text) {
    size_t begin = 0;
    size_t end = text.size();
    while (begin < end && isBlank(text[begin])) {
        ++begin;
    }
    while (end > begin && isBlank(text[end - 1])) {
        --end;
    }
    return text.substr(begin, end - begin);
}

// Resolves the entities of raw into out. std::string::npos, or the index of the '&' that starts
// an unknown or malformed entity.
size_t decodeEntities(const std::string& raw, std::string& out) {
    static const std::pair<const char*, char> kNamed[] = {
        {"&amp;", '&'}, {"&lt;", '<'}, {"&gt;", '>'}, {"&quot;", '"'}, {"&apos;", '\''}};
    out.clear();
    out.reserve(raw.size());
    size_t i = 0;
    while (i < raw.size()) {
        if (raw[i] != '&') {
            out += raw[i++];
            continue;
        }
        bool named = false;
        for (const auto& entity : kNamed) {
            if (startsWithNoCase(raw, i, entity.first)) {
                out += entity.second;
                i += std::char_traits<char>::length(entity.first);
                named = true;
                break;
            }
        }
        if (named) {
            continue;
        }
        if (i + 1 >= raw.size() || raw[i + 1] != '#') {
            return i;
        }
        size_t j = i + 2;
        const bool hex = j < raw.size() && (raw[j] == 'x' || raw[j] == 'X');
        if (hex) {
            ++j;
        }
        const size_t digitsBegin = j;
        long value = 0;
        while (j < raw.size() && (hex ? std::isxdigit(static_cast<unsigned char>(raw[j]))
                                      : std::isdigit(static_cast<unsigned char>(raw[j])))) {
            const char c = lower(raw[j]);
            value = value * (hex ? 16 : 10) + (c >= 'a' ? c - 'a' + 10 : c - '0');
            // A byte is all an entity may produce; stop before the number can overflow.
            if (value > 255) {
                return i;
            }
            ++j;
        }
        // A zero byte would silently cut the text for every C-string reader, so it is refused.
        if (j == digitsBegin || j >= raw.size() || raw[j] != ';' || value == 0) {
            return i;
        }
        out += static_cast<char>(static_cast<unsigned char>(value));
        i = j + 1;
    }
    return std::string::npos;
}

// The entity starting at text[at] as written, for messages: up to its ';', cut short at a
// blank or markup.
std::string entityAt(const std::string& text, size_t at) {
    size_t end = at + 1;
    while (end < text.size() && end - at < 12 && text[end] != ';' && !isBlank(text[end]) &&
           text[end] != '<' && text[end] != '&') {
        ++end;
    }
    if (end < text.size() && text[end] == ';') {
        ++end;
    }
    return text.substr(at, end - at);
}

std::string errnoText(int error) {
    return std::generic_category().message(error);
}

void appendChild(const std::shared_ptr<Data>& parent, const std::shared_ptr<Data>& child) {
    child->parent = parent;
    parent->order.emplace_back(Data::Kind::Child, parent->children.size());
    parent->children.push_back(child);
}

void appendText(Data& node, std::string text) {
    node.order.emplace_back(Data::Kind::Text, node.texts.size());
    node.texts.push_back(std::move(text));
}

void appendClear(Data& node, Data::Clear clear) {
    node.order.emplace_back(Data::Kind::Clear, node.clears.size());
    node.clears.push_back(std::move(clear));
}

struct ClearTag {
    const char* open;
    const char* close;
};

// DOCTYPE's closing marker depends on its content and is settled where it is read.
constexpr ClearTag kClearTags[] = {{"<![CDATA[", "]]>"},
                                   {"<!DOCTYPE", ">"},
                                   {"<PRE>", "</PRE>"},
                                   {"<Script>", "</Script>"},
                                   {"<!--", "-->"}};

// Reads a whole document into a tree below a nameless top node. The element stack is explicit
// so that nesting depth costs no native stack and is easy to bound.
class Parser {
  public:
    explicit Parser(const std::string& text) : m_text(text) {}

    std::shared_ptr<Data> parse(XMLResults& results) {
        auto root = std::make_shared<Data>();
        m_stack.push_back(root);
        m_openedAt.push_back(0);
        size_t pos = 0;
        if (startsWithNoCase(m_text, 0, kUtf8Bom)) {
            pos = 3;
        }
        while (pos < m_text.size()) {
            const size_t lt = m_text.find('<', pos);
            const size_t textEnd = lt == std::string::npos ? m_text.size() : lt;
            if (addText(pos, textEnd) != eXMLErrorNone) {
                return fail(results);
            }
            if (lt == std::string::npos) {
                break;
            }
            pos = lt;
            if (readMarkup(pos) != eXMLErrorNone) {
                return fail(results);
            }
        }
        results = XMLResults();
        // The innermost element left open is the one most likely missing its end tag.
        for (size_t i = m_stack.size() - 1; i >= 1; --i) {
            if (!m_stack[i]->isDeclaration) {
                results.error = eXMLErrorMissingEndTag;
                setPosition(results, m_text.size());
                XMLResults opened;
                setPosition(opened, m_openedAt[i]);
                results.detail = "unclosed tag <" + m_stack[i]->name + "> opened at line " +
                                 std::to_string(opened.nLine) + ", column " +
                                 std::to_string(opened.nColumn);
                break;
            }
        }
        return root;
    }

  private:
    std::shared_ptr<Data> fail(XMLResults& results) const {
        results.error = m_error;
        results.detail = m_detail;
        setPosition(results, m_errorPos);
        return nullptr;
    }

    void setPosition(XMLResults& results, size_t where) const {
        results.nLine = 1;
        results.nColumn = 1;
        for (size_t i = 0; i < where && i < m_text.size(); ++i) {
            if (m_text[i] == '\n') {
                ++results.nLine;
                results.nColumn = 1;
            } else {
                ++results.nColumn;
            }
        }
    }

    XMLError error(XMLError code, size_t where, std::string detail) {
        m_error = code;
        m_errorPos = where;
        m_detail = std::move(detail);
        return code;
    }

    // The character at pos as a message shows it.
    std::string shown(size_t pos) const {
        const unsigned char c = static_cast<unsigned char>(m_text[pos]);
        if (std::isprint(c) != 0) {
            return std::string("'") + m_text[pos] + "'";
        }
        static const char kHex[] = "0123456789ABCDEF";
        return std::string("byte 0x") + kHex[c >> 4] + kHex[c & 15];
    }

    XMLError addText(size_t begin, size_t end) {
        while (begin < end && isBlank(m_text[begin])) {
            ++begin;
        }
        const std::string raw = trimBlanks(m_text.substr(begin, end - begin));
        if (raw.empty()) {
            return eXMLErrorNone;
        }
        std::string decoded;
        const size_t bad = decodeEntities(raw, decoded);
        if (bad != std::string::npos) {
            return error(eXMLErrorUnknownCharacterEntity, begin + bad,
                         "unknown or malformed entity " + entityAt(raw, bad));
        }
        appendText(*m_stack.back(), std::move(decoded));
        return eXMLErrorNone;
    }

    void skipBlanks(size_t& pos) const {
        while (pos < m_text.size() && isBlank(m_text[pos])) {
            ++pos;
        }
    }

    std::string readName(size_t& pos) const {
        const size_t begin = pos;
        while (pos < m_text.size()) {
            const char c = m_text[pos];
            if (isBlank(c) || c == '/' || c == '>' || c == '?' || c == '=' || c == '<' ||
                c == '"' || c == '\'') {
                break;
            }
            ++pos;
        }
        return m_text.substr(begin, pos - begin);
    }

    // pos is at '<'; on success pos is moved past the markup.
    XMLError readMarkup(size_t& pos) {
        for (const ClearTag& tag : kClearTags) {
            if (startsWithNoCase(m_text, pos, tag.open)) {
                return readClear(pos, tag);
            }
        }
        if (pos + 1 < m_text.size() && m_text[pos + 1] == '/') {
            return readEndTag(pos);
        }
        return readStartTag(pos);
    }

    XMLError readClear(size_t& pos, const ClearTag& tag) {
        const std::string open = m_text.substr(pos, std::char_traits<char>::length(tag.open));
        const size_t contentBegin = pos + open.size();
        std::string close = tag.close;
        if (equalsNoCase(open, "<!DOCTYPE")) {
            // The bracket search stops at the first '>' so that a run of DOCTYPEs stays linear.
            const size_t gt = m_text.find('>', contentBegin);
            const size_t limit = gt == std::string::npos ? m_text.size() : gt;
            if (std::find(m_text.begin() + static_cast<std::ptrdiff_t>(contentBegin),
                          m_text.begin() + static_cast<std::ptrdiff_t>(limit),
                          '[') != m_text.begin() + static_cast<std::ptrdiff_t>(limit)) {
                close = "]>";
            }
        }
        const size_t closePos = findNoCase(m_text, contentBegin, close);
        if (closePos == std::string::npos) {
            return error(eXMLErrorUnexpectedEnd, pos, open + " is never closed by " + close);
        }
        Data::Clear clear;
        clear.open = open;
        clear.content = m_text.substr(contentBegin, closePos - contentBegin);
        clear.close = m_text.substr(closePos, close.size());
        appendClear(*m_stack.back(), std::move(clear));
        pos = closePos + close.size();
        return eXMLErrorNone;
    }

    XMLError readEndTag(size_t& pos) {
        const size_t tagPos = pos;
        pos += 2;
        skipBlanks(pos);
        const std::string name = readName(pos);
        skipBlanks(pos);
        if (pos >= m_text.size()) {
            return error(eXMLErrorUnexpectedEnd, tagPos,
                         "the document ends inside end tag </" + name);
        }
        if (name.empty()) {
            return error(eXMLErrorMissingTagName, tagPos, "end tag without a name");
        }
        if (m_text[pos] != '>') {
            return error(eXMLErrorSyntax, pos,
                         "unexpected " + shown(pos) + " in end tag </" + name + ">");
        }
        ++pos;
        // Closing an outer element also closes the elements and declarations still open in it.
        for (size_t i = m_stack.size() - 1; i >= 1; --i) {
            if (!m_stack[i]->isDeclaration && equalsNoCase(m_stack[i]->name, name)) {
                m_stack.resize(i);
                m_openedAt.resize(i);
                return eXMLErrorNone;
            }
        }
        return error(eXMLErrorUnmatchedEndTag, tagPos,
                     "end tag </" + name + "> matches no open element");
    }

    XMLError readStartTag(size_t& pos) {
        const size_t tagPos = pos;
        ++pos;
        const bool declaration = pos < m_text.size() && m_text[pos] == '?';
        if (declaration) {
            ++pos;
        }
        const std::string name = readName(pos);
        const std::string shownTag = std::string(declaration ? "<?" : "<") + name;
        if (pos >= m_text.size()) {
            return error(eXMLErrorUnexpectedEnd, tagPos,
                         "the document ends inside tag " + shownTag);
        }
        if (name.empty()) {
            return error(eXMLErrorMissingTagName, tagPos, "tag without a name");
        }
        auto node = std::make_shared<Data>();
        node->name = name;
        node->isDeclaration = declaration;
        while (true) {
            skipBlanks(pos);
            if (pos >= m_text.size()) {
                return error(eXMLErrorUnexpectedEnd, tagPos,
                             "the document ends inside tag " + shownTag);
            }
            const char c = m_text[pos];
            if (declaration && c == '?' && pos + 1 < m_text.size() && m_text[pos + 1] == '>') {
                pos += 2;
                return open(node, tagPos);
            }
            if (c == '/' && pos + 1 < m_text.size() && m_text[pos + 1] == '>') {
                pos += 2;
                appendChild(m_stack.back(), node);
                return eXMLErrorNone;
            }
            if (c == '>') {
                ++pos;
                return open(node, tagPos);
            }
            const XMLError attributeError = readAttribute(pos, *node, shownTag);
            if (attributeError != eXMLErrorNone) {
                return attributeError;
            }
        }
    }

    // Elements and declarations alike receive what follows until they are closed.
    XMLError open(const std::shared_ptr<Data>& node, size_t tagPos) {
        if (m_stack.size() > static_cast<size_t>(XMLNode::kMaxDepth)) {
            return error(eXMLErrorTooDeep, tagPos,
                         "elements nested deeper than " + std::to_string(XMLNode::kMaxDepth) +
                             " levels");
        }
        appendChild(m_stack.back(), node);
        m_stack.push_back(node);
        m_openedAt.push_back(tagPos);
        return eXMLErrorNone;
    }

    XMLError readAttribute(size_t& pos, Data& node, const std::string& shownTag) {
        const size_t attributePos = pos;
        const std::string name = readName(pos);
        if (name.empty()) {
            return error(eXMLErrorSyntax, attributePos,
                         "unexpected " + shown(attributePos) + " in tag " + shownTag);
        }
        skipBlanks(pos);
        std::string value;
        if (pos < m_text.size() && m_text[pos] == '=') {
            ++pos;
            skipBlanks(pos);
            if (pos >= m_text.size()) {
                return error(eXMLErrorUnexpectedEnd, attributePos,
                             "the document ends before the value of attribute " + name);
            }
            const char quote = m_text[pos];
            if (quote != '"' && quote != '\'') {
                return error(eXMLErrorSyntax, pos,
                             "the value of attribute " + name + " is not in quotes");
            }
            const size_t end = m_text.find(quote, pos + 1);
            if (end == std::string::npos) {
                return error(eXMLErrorUnexpectedEnd, pos,
                             "the value of attribute " + name + " has no closing quote");
            }
            const std::string raw = m_text.substr(pos + 1, end - pos - 1);
            const size_t bad = decodeEntities(raw, value);
            if (bad != std::string::npos) {
                return error(eXMLErrorUnknownCharacterEntity, pos + 1 + bad,
                             "unknown or malformed entity " + entityAt(raw, bad) +
                                 " in attribute " + name);
            }
            pos = end + 1;
        }
        node.attributes.emplace_back(name, std::move(value));
        return eXMLErrorNone;
    }

    const std::string& m_text;
    std::vector<std::shared_ptr<Data>> m_stack;
    std::vector<size_t> m_openedAt;  // where each element on the stack was opened
    XMLError m_error = eXMLErrorNone;
    size_t m_errorPos = 0;
    std::string m_detail;
};

std::string attributesText(const Data& node) {
    std::string out;
    for (const auto& attribute : node.attributes) {
        out += ' ';
        out += attribute.first;
        out += "=\"";
        out += XMLNode::encodeEntities(attribute.second);
        out += '"';
    }
    return out;
}

void writeContent(const Data& node, int depth, bool format, std::string& out);

void writeNode(const Data& node, int depth, bool format, std::string& out) {
    const std::string indent = format ? std::string(static_cast<size_t>(depth), '\t') : "";
    const char* const lineEnd = format ? "\n" : "";
    if (node.name.empty()) {
        // The nameless top of a parsed document has no tags of its own.
        writeContent(node, depth, format, out);
        return;
    }
    if (node.isDeclaration) {
        // A declaration has no end tag; what it contains follows at its own level.
        out += indent + "<?" + node.name + attributesText(node) + "?>" + lineEnd;
        writeContent(node, depth, format, out);
        return;
    }
    out += indent + "<" + node.name + attributesText(node);
    if (!node.hasContent()) {
        out += std::string("/>") + lineEnd;
        return;
    }
    out += std::string(">") + lineEnd;
    writeContent(node, depth + 1, format, out);
    out += indent + "</" + node.name + ">" + lineEnd;
}

void writeContent(const Data& node, int depth, bool format, std::string& out) {
    const std::string indent = format ? std::string(static_cast<size_t>(depth), '\t') : "";
    const char* const lineEnd = format ? "\n" : "";
    for (const auto& entry : node.order) {
        switch (entry.first) {
            case Data::Kind::Child:
                writeNode(*node.children[entry.second], depth, format, out);
                break;
            case Data::Kind::Text: {
                const std::string text = XMLNode::encodeEntities(node.texts[entry.second]);
                if (!text.empty()) {
                    out += indent + text + lineEnd;
                }
                break;
            }
            case Data::Kind::Clear: {
                const Data::Clear& clear = node.clears[entry.second];
                out += indent + clear.open + clear.content + clear.close + lineEnd;
                break;
            }
        }
    }
}

// The whole file into content; otherwise why not ("cannot open: ...", "cannot read: ...").
std::string readWholeFile(const std::string& fileName, std::string& content) {
    errno = 0;
    const OwnedFile file(std::fopen(fileName.c_str(), "rb"));
    if (!file) {
        return "cannot open: " + errnoText(errno != 0 ? errno : ENOENT);
    }
    content.clear();
    char buffer[1 << 16];
    size_t got = 0;
    while ((got = std::fread(buffer, 1, sizeof buffer, file.get())) > 0) {
        content.append(buffer, got);
    }
    if (std::ferror(file.get()) != 0) {
        return "cannot read: " + errnoText(errno != 0 ? errno : EIO);
    }
    return "";
}

}  // namespace

XMLNode XMLNode::createXMLTopNode(const std::string& name, bool isDeclaration) {
    auto data = std::make_shared<Data>();
    data->name = name;
    data->isDeclaration = isDeclaration;
    return XMLNode(std::move(data));
}

XMLNode XMLNode::parseString(const std::string& text, const std::string& tag, XMLResults* results) {
    XMLResults local;
    XMLResults& res = results != nullptr ? *results : local;
    res = XMLResults();
    if (text.empty()) {
        res.error = eXMLErrorEmpty;
        res.detail = "the document is empty";
        return XMLNode();
    }
    std::shared_ptr<Data> root = Parser(text).parse(res);
    if (!root) {
        return XMLNode();
    }
    if (tag.empty()) {
        // A document of a single element is that element.
        if (root->order.size() == 1 && root->children.size() == 1) {
            std::shared_ptr<Data> only = root->children.front();
            only->parent.reset();
            return XMLNode(only);
        }
        return XMLNode(root);
    }
    std::shared_ptr<Data> container = root;
    size_t i = 0;
    while (i < container->children.size()) {
        const std::shared_ptr<Data>& child = container->children[i];
        if (equalsNoCase(child->name, tag)) {
            std::shared_ptr<Data> found = child;
            // The rest of the document goes with its last handle; found stands alone.
            found->parent.reset();
            return XMLNode(found);
        }
        if (child->isDeclaration) {
            container = child;
            i = 0;
        } else {
            ++i;
        }
    }
    res.error = eXMLErrorFirstTagNotFound;
    res.nLine = 0;
    res.nColumn = 0;
    res.detail = "no <" + tag + "> element";
    return XMLNode();
}

XMLNode XMLNode::parseFile(const std::string& fileName, const std::string& tag,
                           XMLResults* results) {
    std::string content;
    std::string problem = readWholeFile(fileName, content);
    if (!problem.empty()) {
        if (results != nullptr) {
            *results = XMLResults();
            results->error = eXMLErrorFileNotFound;
            results->detail = std::move(problem);
        }
        return XMLNode();
    }
    return parseString(content, tag, results);
}

std::string XMLNode::describe(const XMLResults& results) {
    if (results.error == eXMLErrorNone) {
        return "";
    }
    if (results.nLine <= 0) {
        return results.detail;
    }
    return "line " + std::to_string(results.nLine) + ", column " +
           std::to_string(results.nColumn) + ": " + results.detail;
}

XMLNode XMLNode::openFileHelper(const std::string& fileName, const std::string& tag) {
    return parseFile(fileName, tag, nullptr);
}

const char* XMLNode::getName() const {
    if (!m_data || m_data->name.empty()) {
        return nullptr;
    }
    return m_data->name.c_str();
}

bool XMLNode::isDeclaration() const {
    return m_data && m_data->isDeclaration;
}

XMLNode XMLNode::getParentNode() const {
    if (!m_data) {
        return XMLNode();
    }
    return XMLNode(m_data->parent.lock());
}

int XMLNode::nChildNode() const {
    return m_data ? static_cast<int>(m_data->children.size()) : 0;
}

int XMLNode::nText() const {
    return m_data ? static_cast<int>(m_data->texts.size()) : 0;
}

int XMLNode::nClear() const {
    return m_data ? static_cast<int>(m_data->clears.size()) : 0;
}

int XMLNode::nAttribute() const {
    return m_data ? static_cast<int>(m_data->attributes.size()) : 0;
}

XMLNode XMLNode::getChildNode(int i) const {
    if (!m_data || i < 0 || i >= nChildNode()) {
        return XMLNode();
    }
    return XMLNode(m_data->children[static_cast<size_t>(i)]);
}

XMLNode XMLNode::getChildNode(const std::string& name, int* position) const {
    if (!m_data) {
        return XMLNode();
    }
    const int start = position != nullptr && *position > 0 ? *position : 0;
    for (int i = start; i < nChildNode(); ++i) {
        const std::shared_ptr<Data>& child = m_data->children[static_cast<size_t>(i)];
        if (equalsNoCase(child->name, name)) {
            if (position != nullptr) {
                *position = i + 1;
            }
            return XMLNode(child);
        }
    }
    return XMLNode();
}

XMLNode XMLNode::addChild(const std::string& name, bool isDeclaration, int position) {
    if (!m_data) {
        return XMLNode();
    }
    auto child = std::make_shared<Data>();
    child->name = name;
    child->isDeclaration = isDeclaration;
    if (position < 0 || position >= nChildNode()) {
        appendChild(m_data, child);
        return XMLNode(child);
    }
    child->parent = m_data;
    const size_t index = static_cast<size_t>(position);
    m_data->children.insert(m_data->children.begin() + static_cast<std::ptrdiff_t>(index), child);
    // The later children moved one place up in their list; the order entries must follow.
    auto insertAt = m_data->order.end();
    for (auto it = m_data->order.begin(); it != m_data->order.end(); ++it) {
        if (it->first == Data::Kind::Child && it->second >= index) {
            if (it->second == index) {
                insertAt = it;
            }
            ++it->second;
        }
    }
    m_data->order.insert(insertAt, {Data::Kind::Child, index});
    return XMLNode(child);
}

const char* XMLNode::getText(int i) const {
    if (!m_data || i < 0 || i >= nText()) {
        return nullptr;
    }
    return m_data->texts[static_cast<size_t>(i)].c_str();
}

const char* XMLNode::updateText(const std::string& text, int i) {
    if (!m_data) {
        return nullptr;
    }
    if (i >= 0 && i < nText()) {
        m_data->texts[static_cast<size_t>(i)] = text;
        return m_data->texts[static_cast<size_t>(i)].c_str();
    }
    appendText(*m_data, text);
    return m_data->texts.back().c_str();
}

void XMLNode::addText(const std::string& text) {
    if (m_data) {
        appendText(*m_data, text);
    }
}

void XMLNode::addClear(const std::string& content, const std::string& open,
                       const std::string& close) {
    if (m_data) {
        appendClear(*m_data, Data::Clear{open, content, close});
    }
}

const char* XMLNode::getClear(int i) const {
    if (!m_data || i < 0 || i >= nClear()) {
        return nullptr;
    }
    return m_data->clears[static_cast<size_t>(i)].content.c_str();
}

const char* XMLNode::getAttribute(const std::string& name, int* position) const {
    if (!m_data) {
        return nullptr;
    }
    const int start = position != nullptr && *position > 0 ? *position : 0;
    for (int i = start; i < nAttribute(); ++i) {
        const auto& attribute = m_data->attributes[static_cast<size_t>(i)];
        if (equalsNoCase(attribute.first, name)) {
            if (position != nullptr) {
                *position = i + 1;
            }
            return attribute.second.c_str();
        }
    }
    return nullptr;
}

void XMLNode::addAttribute(const std::string& name, const std::string& value) {
    if (m_data) {
        m_data->attributes.emplace_back(name, value);
    }
}

std::string XMLNode::createXMLString(bool format, int* length) const {
    std::string out;
    if (m_data) {
        writeNode(*m_data, 0, format, out);
    }
    if (length != nullptr) {
        *length = static_cast<int>(out.size());
    }
    return out;
}

int XMLNode::writeToFile(const std::string& fileName, const char* encoding, bool format,
                         std::string* reason) const {
    std::string content = kUtf8Bom;
    content += "<?xml version=\"1.0\" encoding=\"";
    content += encoding != nullptr ? encoding : "utf-8";
    content += "\"?>";
    content += format ? "\n" : "";
    content += createXMLString(format);

    const auto failed = [reason](XMLError code, const char* what) {
        const int error = errno;
        if (reason != nullptr) {
            *reason = std::string(what) + (error != 0 ? ": " + errnoText(error) : "");
        }
        return code;
    };
    errno = 0;
    OwnedFile file(std::fopen(fileName.c_str(), "wb"));
    if (!file) {
        return failed(eXMLErrorCannotOpenWriteFile, "cannot create");
    }
    if (std::fwrite(content.data(), 1, content.size(), file.get()) != content.size()) {
        return failed(eXMLErrorCannotWriteFile, "cannot write");
    }
    // The close flushes the buffer, so its failure is a failed write too.
    if (std::fclose(file.release()) != 0) {
        return failed(eXMLErrorCannotWriteFile, "cannot write");
    }
    if (reason != nullptr) {
        reason->clear();
    }
    return eXMLErrorNone;
}

std::string XMLNode::encodeEntities(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += "&quot;";
                break;
            case '\'':
                out += "&apos;";
                break;
            default:
                out += c;
        }
    }
    return out;
}
