#include "platform/photo/OrientationFile.h"

#include <cctype>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <string>
#include <system_error>
#include <vector>

namespace zqc {

namespace {

// Collections nested deeper than this are refused: the parser descends once per level.
constexpr int kMaxDepth = 32;
// More values than this in one file are refused (a real file holds about forty); with the text's
// size it bounds the memory a file can take.
constexpr size_t kMaxNodes = size_t(1) << 19;
// The largest image side a file may state.
constexpr long long kMaxImageSide = 1000000;

struct Node {
    enum Kind { Empty, Scalar, Sequence, Mapping };
    Kind kind = Empty;
    bool quoted = false;            // a quoted scalar is a text, never a number: its text is not kept
    std::string_view text;          // a plain scalar's text, in the file's text
    std::vector<std::string> keys;  // a mapping's keys, in the file's order
    std::vector<Node> items;        // a sequence's items; a mapping's values, one per key

    // The value of the first entry of the key (a mapping's later entries of a key do not count).
    const Node* Find(std::string_view key) const {
        if (kind != Mapping) {
            return nullptr;
        }
        for (size_t i = 0; i < keys.size(); ++i) {
            if (keys[i] == key) {
                return &items[i];
            }
        }
        return nullptr;
    }
};

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

std::string_view Trimmed(std::string_view s) {
    size_t b = 0, e = s.size();
    while (b < e && s[b] == ' ') {
        ++b;
    }
    while (e > b && s[e - 1] == ' ') {
        --e;
    }
    return s.substr(b, e - b);
}

// A recursive-descent parser over the text. Every loop consumes text or ends, and the descent is
// bounded by kMaxDepth, so the work is at most proportional to the text times that depth.
class Parser {
public:
    explicit Parser(std::string_view text) : m_text(text) {}

    bool ParseDocument(Node* root) {
        // Only printable characters and line breaks: OpenCV refuses tabs and control characters
        // too, and with them ruled out no byte below the blank needs a case of its own.
        for (char c : m_text) {
            if (static_cast<unsigned char>(c) < 0x20 && c != '\n' && c != '\r') {
                return false;
            }
        }
        if (m_text.substr(0, 3) == "\xEF\xBB\xBF") {
            m_pos = m_lineStart = 3;
        }
        for (;;) {
            SkipBlank();
            if (AtEnd()) {
                return false;
            }
            if (Column() == 0 && Peek() == '%') {  // a directive
                SkipToLineEnd();
                continue;
            }
            if (AtDocumentMarker() && Peek() == '-') {
                m_pos += 3;
            }
            break;
        }
        SkipSpacesInLine();
        if (Peek() == '#') {
            SkipToLineEnd();
        }
        const bool parsed = AtLineEnd() ? ParseNode(-1, 0, root) : ParseNodeHere(-1, 0, root);
        if (!parsed || root->kind != Node::Mapping) {
            return false;
        }
        SkipBlank();
        return AtEnd() || AtDocumentMarker();
    }

private:
    bool AtEnd() const { return m_pos >= m_text.size(); }
    // The character ahead, '\0' past the end (the text holds none of its own).
    char Peek(size_t ahead = 0) const { return m_pos + ahead < m_text.size() ? m_text[m_pos + ahead] : '\0'; }
    static bool IsBreak(char c) { return c == '\n' || c == '\r' || c == '\0'; }
    static bool IsBreakOrSpace(char c) { return IsBreak(c) || c == ' '; }
    static bool EndsFlowScalar(char c) { return c == ',' || c == ']' || c == '}' || IsBreak(c); }
    bool AtLineEnd() const { return IsBreak(Peek()); }
    int Column() const { return static_cast<int>(m_pos - m_lineStart); }
    // A "#" starts a comment at the start of a token or after a blank.
    bool AtComment(size_t tokenStart) const {
        return Peek() == '#' && (m_pos == tokenStart || m_text[m_pos - 1] == ' ');
    }

    void SkipSpacesInLine() {
        while (Peek() == ' ') {
            ++m_pos;
        }
    }
    void SkipToLineEnd() {
        while (!AtLineEnd()) {
            ++m_pos;
        }
    }
    void NewLine() {
        if (Peek() == '\r') {
            ++m_pos;
        }
        if (Peek() == '\n') {
            ++m_pos;
        }
        m_lineStart = m_pos;
    }
    // Blanks, comments and line breaks up to the next token or the end.
    void SkipBlank() {
        for (;;) {
            SkipSpacesInLine();
            if (Peek() == '#') {
                SkipToLineEnd();
            }
            if (AtEnd() || !AtLineEnd()) {
                return;
            }
            NewLine();
        }
    }
    // "---" or "..." alone at the start of a line.
    bool AtDocumentMarker() const {
        if (Column() != 0) {
            return false;
        }
        const std::string_view three = m_text.substr(m_pos, 3);
        return (three == "---" || three == "...") && IsBreakOrSpace(Peek(3));
    }
    bool AtSequenceEntry() const { return Peek() == '-' && IsBreakOrSpace(Peek(1)); }

    // A quoted scalar on one line, its escapes resolved.
    bool ReadQuoted(std::string* out) {
        const char quote = Peek();
        ++m_pos;
        for (;;) {
            if (AtLineEnd()) {
                return false;
            }
            const char c = Peek();
            ++m_pos;
            if (quote == '\'') {
                if (c != '\'') {
                    out->push_back(c);
                } else if (Peek() == '\'') {
                    out->push_back('\'');
                    ++m_pos;
                } else {
                    return true;
                }
            } else if (c == '"') {
                return true;
            } else if (c == '\\') {
                if (AtLineEnd()) {
                    return false;
                }
                const char e = Peek();
                ++m_pos;
                out->push_back(e == 'n' ? '\n' : e == 't' ? '\t' : e == 'r' ? '\r' : e);
            } else {
                out->push_back(c);
            }
        }
    }

    // Whether the token here is a key of a block mapping: a scalar followed on its line by ":"
    // and a blank or the line's end. The position is left where it was.
    bool AtKey() {
        const size_t start = m_pos, lineStart = m_lineStart;
        bool key = false;
        if (Peek() == '"' || Peek() == '\'') {
            std::string ignored;
            if (ReadQuoted(&ignored)) {
                SkipSpacesInLine();
                key = Peek() == ':';
            }
        } else {
            while (!AtLineEnd() && !AtComment(start)) {
                if (Peek() == ':' && IsBreakOrSpace(Peek(1))) {
                    key = true;
                    break;
                }
                ++m_pos;
            }
        }
        m_pos = start;
        m_lineStart = lineStart;
        return key;
    }

    // A mapping's key and its ":". In a block mapping the ":" ends the key before a blank or the
    // line's end; in a flow mapping it ends the key wherever it stands.
    bool ReadKey(bool flow, std::string* key) {
        const size_t start = m_pos;
        if (Peek() == '"' || Peek() == '\'') {
            if (!ReadQuoted(key)) {
                return false;
            }
            if (flow) {
                SkipBlank();
            } else {
                SkipSpacesInLine();
            }
        } else {
            while (!(flow ? EndsFlowScalar(Peek()) : AtLineEnd()) && !AtComment(start) &&
                   !(Peek() == ':' && (flow || IsBreakOrSpace(Peek(1))))) {
                ++m_pos;
            }
            *key = std::string(Trimmed(m_text.substr(start, m_pos - start)));
        }
        if (Peek() != ':' || key->empty()) {
            return false;
        }
        ++m_pos;
        return true;
    }

    // The node of a block context whose parent stands at parentIndent: on the following lines
    // when they are indented further, else empty.
    bool ParseNode(int parentIndent, int depth, Node* out) {
        SkipBlank();
        if (AtEnd() || AtDocumentMarker() || Column() <= parentIndent) {
            out->kind = Node::Empty;
            return true;
        }
        return ParseNodeHere(parentIndent, depth, out);
    }

    // The node whose first token is here.
    bool ParseNodeHere(int parentIndent, int depth, Node* out) {
        if (depth > kMaxDepth) {
            return false;
        }
        // Tags name the node's type; the values are read by what the keys need. A node after its
        // tag may start on a following line, indented further than its parent.
        while (Peek() == '!') {
            while (!IsBreakOrSpace(Peek())) {
                ++m_pos;
            }
            SkipSpacesInLine();
            if (Peek() == '#') {
                SkipToLineEnd();
            }
            if (AtLineEnd()) {
                SkipBlank();
                if (AtEnd() || AtDocumentMarker() || Column() <= parentIndent) {
                    out->kind = Node::Empty;
                    return true;
                }
            }
        }
        if (Peek() == '[' || Peek() == '{') {
            return ParseFlow(depth, out);
        }
        if (AtSequenceEntry()) {
            return ParseBlockSequence(Column(), depth, out);
        }
        if (AtKey()) {
            return ParseBlockMapping(Column(), depth, out);
        }
        out->kind = Node::Scalar;
        const size_t start = m_pos;
        if (Peek() == '"' || Peek() == '\'') {
            out->quoted = true;
            std::string ignored;
            if (!ReadQuoted(&ignored)) {
                return false;
            }
        } else {
            while (!AtLineEnd() && !AtComment(start)) {
                ++m_pos;
            }
            out->text = Trimmed(m_text.substr(start, m_pos - start));
        }
        SkipSpacesInLine();
        if (Peek() == '#') {
            SkipToLineEnd();
        }
        return AtLineEnd();
    }

    // The value after a key's ":" or a sequence entry's "-": on the same line, or below.
    bool ParseValue(int indent, int depth, Node* out) {
        SkipSpacesInLine();
        if (Peek() == '#') {
            SkipToLineEnd();
        }
        return AtLineEnd() ? ParseNode(indent, depth, out) : ParseNodeHere(indent, depth, out);
    }

    // After an entry of a block collection at indent: true when another follows at that indent,
    // false (with `ended`) when the collection ends, false otherwise for a misplaced token.
    bool NextEntry(int indent, bool* ended) {
        SkipBlank();
        *ended = AtEnd() || AtDocumentMarker() || Column() < indent;
        return !*ended && Column() == indent;
    }

    bool ParseBlockMapping(int indent, int depth, Node* out) {
        out->kind = Node::Mapping;
        for (;;) {
            std::string key;
            Node value;
            if (!ReadKey(false, &key) || !ParseValue(indent, depth + 1, &value)) {
                return false;
            }
            if (!Count()) {
                return false;
            }
            out->keys.push_back(std::move(key));
            out->items.push_back(std::move(value));
            bool ended = false;
            if (!NextEntry(indent, &ended)) {
                return ended;
            }
        }
    }

    bool ParseBlockSequence(int indent, int depth, Node* out) {
        out->kind = Node::Sequence;
        for (;;) {
            ++m_pos;  // the "-"
            Node item;
            if (!ParseValue(indent, depth + 1, &item)) {
                return false;
            }
            if (!Count()) {
                return false;
            }
            out->items.push_back(std::move(item));
            bool ended = false;
            if (!NextEntry(indent, &ended)) {
                return ended;
            }
            if (!AtSequenceEntry()) {
                return false;
            }
        }
    }

    // "[a, b, ...]" or "{k: v, ...}", over any number of lines.
    bool ParseFlow(int depth, Node* out) {
        if (depth > kMaxDepth) {
            return false;
        }
        const bool mapping = Peek() == '{';
        const char close = mapping ? '}' : ']';
        out->kind = mapping ? Node::Mapping : Node::Sequence;
        ++m_pos;
        for (bool first = true;; first = false) {
            SkipBlank();
            if (!first && Peek() == ',') {
                ++m_pos;
                SkipBlank();
            } else if (!first && Peek() != close) {
                return false;
            }
            if (AtEnd()) {
                return false;
            }
            if (Peek() == close) {
                ++m_pos;
                return true;
            }
            if (mapping) {
                std::string key;
                if (!ReadKey(true, &key)) {
                    return false;
                }
                out->keys.push_back(std::move(key));
                SkipBlank();
            }
            Node item;
            if (!ParseFlowNode(depth + 1, &item) || !Count()) {
                return false;
            }
            out->items.push_back(std::move(item));
        }
    }

    bool ParseFlowNode(int depth, Node* out) {
        while (Peek() == '!') {
            while (!IsBreakOrSpace(Peek()) && !EndsFlowScalar(Peek())) {
                ++m_pos;
            }
            SkipBlank();
        }
        if (Peek() == '[' || Peek() == '{') {
            return ParseFlow(depth, out);
        }
        const size_t start = m_pos;
        if (Peek() == '"' || Peek() == '\'') {
            out->kind = Node::Scalar;
            out->quoted = true;
            std::string ignored;
            return ReadQuoted(&ignored);
        }
        while (!EndsFlowScalar(Peek()) && !AtComment(start)) {
            ++m_pos;
        }
        out->text = Trimmed(m_text.substr(start, m_pos - start));
        out->kind = out->text.empty() ? Node::Empty : Node::Scalar;
        return true;
    }

    // One more value; false once the file holds too many.
    bool Count() { return ++m_nodes <= kMaxNodes; }

    std::string_view m_text;
    size_t m_pos = 0;
    size_t m_lineStart = 0;
    size_t m_nodes = 0;
};

// A whole number as OpenCV's file storage reads one: digits (with a sign, or a C prefix for hex
// and octal) not followed by "." or "e", which make it a real number.
bool ToInteger(const Node* node, long long* value) {
    if (!node || node->kind != Node::Scalar || node->quoted) {
        return false;
    }
    const std::string t(node->text);
    size_t i = t.empty() ? 0 : (t[0] == '+' || t[0] == '-');
    if (i >= t.size() || !IsDigit(t[i])) {
        return false;
    }
    while (i < t.size() && IsDigit(t[i])) {
        ++i;
    }
    if (i < t.size() && (t[i] == '.' || t[i] == 'e')) {
        return false;
    }
    errno = 0;
    char* end = nullptr;
    const long long v = std::strtoll(t.c_str(), &end, 0);
    if (errno != 0 || end != t.c_str() + t.size()) {
        return false;
    }
    *value = v;
    return true;
}

// A finite number, whole or real.
bool ToNumber(const Node* node, double* value) {
    long long whole = 0;
    if (ToInteger(node, &whole)) {
        *value = static_cast<double>(whole);
        return true;
    }
    if (!node || node->kind != Node::Scalar || node->quoted || node->text.empty()) {
        return false;
    }
    const std::string_view t = node->text;
    const char c0 = t[0], c1 = t.size() > 1 ? t[1] : '\0';
    const bool numeric = IsDigit(c0) || ((c0 == '-' || c0 == '+') && (IsDigit(c1) || c1 == '.')) ||
                         (c0 == '.' && std::isalnum(static_cast<unsigned char>(c1)));
    if (!numeric) {
        return false;
    }
    const char* begin = t.data() + (c0 == '+');
    const char* end = t.data() + t.size();
    double v = 0.0;
    const std::from_chars_result r = std::from_chars(begin, end, v);
    if (r.ec != std::errc() || r.ptr != end || !std::isfinite(v)) {
        return false;
    }
    *value = v;
    return true;
}

bool ReadSide(const Node* node, int* out) {
    long long v = 0;
    if (!ToInteger(node, &v) || v < 1 || v > kMaxImageSide) {
        return false;
    }
    *out = static_cast<int>(v);
    return true;
}

// `count` finite numbers of a sequence.
bool ReadSequence(const Node* node, int count, double* out) {
    if (!node || node->kind != Node::Sequence || node->items.size() != size_t(count)) {
        return false;
    }
    for (int i = 0; i < count; ++i) {
        if (!ToNumber(&node->items[size_t(i)], &out[i])) {
            return false;
        }
    }
    return true;
}

// The numbers of a plain sequence, or of a matrix as the file storage writes it (rows, cols,
// dt, data): exactly `count` of them.
bool ReadNumbers(const Node* node, int count, double* out) {
    if (node && node->kind == Node::Sequence) {
        return ReadSequence(node, count, out);
    }
    long long rows = 0, cols = 0;
    if (!node || node->kind != Node::Mapping || !ToInteger(node->Find("rows"), &rows) ||
        !ToInteger(node->Find("cols"), &cols) || rows < 1 || cols < 1 || rows > count || cols > count ||
        rows * cols != count) {
        return false;
    }
    return ReadSequence(node->Find("data"), count, out);
}

}  // namespace

bool ParseOrientationText(std::string_view text, OrientationValues* values) {
    if (!values || text.size() > size_t(kMaxOrientationFileBytes)) {
        return false;
    }
    Node root;
    Parser parser(text);
    if (!parser.ParseDocument(&root)) {
        return false;
    }
    OrientationValues v;
    if (!ReadSide(root.Find("image_width"), &v.width) || !ReadSide(root.Find("image_height"), &v.height) ||
        !ReadNumbers(root.Find("camera_matrix"), 9, v.camera) ||
        !ReadNumbers(root.Find("distortion_coefficients"), 5, v.distortion) ||
        !ReadNumbers(root.Find("projection_center"), 3, v.center) ||
        !ReadNumbers(root.Find("rotation"), 9, v.rotation)) {
        return false;
    }
    *values = v;
    return true;
}

}  // namespace zqc
