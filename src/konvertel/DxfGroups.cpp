#include "konvertel/DxfGroups.h"

#include <QString>
#include <QStringDecoder>

#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace {

bool IsSpace(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v';
}

std::string_view Trim(std::string_view s) {
    while (!s.empty() && IsSpace(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && IsSpace(s.back()))
        s.remove_suffix(1);
    return s;
}

bool ParseReal(std::string_view s, double& out) {
    s = Trim(s);
    if (!s.empty() && s.front() == '+')
        s.remove_prefix(1);
    if (s.empty())
        return false;
    auto r = std::from_chars(s.data(), s.data() + s.size(), out);
    return r.ec == std::errc() && r.ptr == s.data() + s.size() && std::isfinite(out);
}

bool IsValidUtf8(std::string_view s) {
    size_t i = 0;
    while (i < s.size()) {
        const unsigned char c = static_cast<unsigned char>(s[i]);
        int n = 0;
        if (c < 0x80)
            n = 0;
        else if ((c & 0xE0) == 0xC0 && c >= 0xC2)
            n = 1;
        else if ((c & 0xF0) == 0xE0)
            n = 2;
        else if ((c & 0xF8) == 0xF0 && c <= 0xF4)
            n = 3;
        else
            return false;
        if (n > 0 && i + size_t(n) >= s.size())
            return false;
        for (int k = 1; k <= n; ++k)
            if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80)
                return false;
        i += size_t(n) + 1;
    }
    return true;
}

bool IsAscii(std::string_view s) {
    for (char c : s)
        if (static_cast<unsigned char>(c) >= 0x80)
            return false;
    return true;
}

// \U+XXXX escapes (pairs of them for characters beyond the basic plane) as characters.
QString ResolveUnicodeEscapes(const QString& s) {
    if (!s.contains(QLatin1String("\\U+"), Qt::CaseInsensitive))
        return s;
    QString out;
    out.reserve(s.size());
    for (qsizetype i = 0; i < s.size(); ++i) {
        if (s[i] == '\\' && i + 6 < s.size() && (s[i + 1] == 'U' || s[i + 1] == 'u') && s[i + 2] == '+') {
            int v = 0;
            bool ok = true;
            for (int k = 0; k < 4; ++k) {
                int h = s[i + 3 + k].unicode() < 128 ? DxfHexDigit(char(s[i + 3 + k].unicode())) : -1;
                if (h < 0) {
                    ok = false;
                    break;
                }
                v = v * 16 + h;
            }
            if (ok) {
                out.append(QChar(char16_t(v)));
                i += 6;
                continue;
            }
        }
        out.append(s[i]);
    }
    return out;
}

}  // namespace

int DxfHexDigit(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

double DxfGroup::Real() const {
    double v = 0;
    return ParseReal(value, v) ? v : 0.0;
}

int DxfGroup::Int() const {
    double v = 0;
    if (!ParseReal(value, v))
        return 0;
    if (v > 2147483647.0)
        return 2147483647;
    if (v < -2147483647.0)
        return -2147483647;  // so that every value can be negated
    return int(v);
}

bool DxfGroupIsNumeric(int code) {
    return (code >= 10 && code <= 99) || (code >= 110 && code <= 179) || (code >= 210 && code <= 299) ||
           (code >= 370 && code <= 389) || (code >= 400 && code <= 409) || (code >= 420 && code <= 429) ||
           (code >= 440 && code <= 469) || (code >= 1010 && code <= 1071);
}

DxfGroupReader::DxfGroupReader(const QByteArray& data)
    : p_(data.constData()), end_(data.constData() + data.size()) {
    // A byte-order mark before the first group code.
    if (end_ - p_ >= 3 && std::memcmp(p_, "\xEF\xBB\xBF", 3) == 0)
        p_ += 3;
}

bool DxfGroupReader::ReadLine(std::string_view& line) {
    if (p_ >= end_)
        return false;
    const char* start = p_;
    const void* nl = std::memchr(p_, '\n', size_t(end_ - p_));
    const char* stop = nl ? static_cast<const char*>(nl) : end_;
    p_ = nl ? stop + 1 : end_;
    line = std::string_view(start, size_t(stop - start));
    if (!line.empty() && line.back() == '\r')
        line.remove_suffix(1);
    ++nextLine_;
    return true;
}

bool DxfGroupReader::Next(DxfGroup& group) {
    if (pushed_) {
        pushed_ = false;
        group = last_;
        return true;
    }
    if (Failed())
        return false;
    std::string_view codeLine, value;
    line_ = nextLine_;
    if (!ReadLine(codeLine))
        return false;
    if (line_ == 1 && codeLine.substr(0, 18) == "AutoCAD Binary DXF") {
        error_ = "binary DXF files are not read; save the drawing as ASCII DXF";
        return false;
    }
    const std::string_view c = Trim(codeLine);
    int code = -1;
    auto r = std::from_chars(c.data(), c.data() + c.size(), code);
    if (c.empty() || r.ec != std::errc() || r.ptr != c.data() + c.size() || code < 0 || code > 1071) {
        if (c.empty() && p_ >= end_)
            return false;  // a last empty line
        error_ = "line " + std::to_string(line_) + " is not a group code";
        return false;
    }
    if (!ReadLine(value)) {
        error_ = "the file ends after the group code on line " + std::to_string(line_);
        return false;
    }
    if (DxfGroupIsNumeric(code)) {
        // An empty number reads as 0, as several writers leave optional values empty.
        double v;
        if (!ParseReal(value, v) && !Trim(value).empty()) {
            error_ =
                "line " + std::to_string(line_ + 1) + " holds no number for group " + std::to_string(code);
            return false;
        }
    }
    last_.code = code;
    last_.value = (code == 0 || code == 2 || code == 9) ? Trim(value) : value;
    group = last_;
    return true;
}

void DxfTextCodec::Configure(std::string_view codePage, std::string_view version) {
    utf8_ = Trim(version) >= std::string_view("AC1021");
    declared_ = !Trim(codePage).empty();
    std::string cp(Trim(codePage));
    for (char& ch : cp)
        ch = char(std::toupper(static_cast<unsigned char>(ch)));
    std::string name = "windows-1252";
    if (cp.rfind("ANSI_", 0) == 0) {
        const std::string n = cp.substr(5);
        if (n == "932")
            name = "Shift_JIS";
        else if (n == "936")
            name = "GBK";
        else if (n == "949")
            name = "EUC-KR";
        else if (n == "950")
            name = "Big5";
        else if (!n.empty())
            name = "windows-" + n;
    } else if (cp.rfind("DOS", 0) == 0 && cp.size() > 3) {
        name = "IBM" + cp.substr(3);
    }
    QStringDecoder probe(name.c_str());
    codec_ = probe.isValid() ? name : "windows-1252";
}

std::string DxfTextCodec::Decode(std::string_view raw) const {
    QString s;
    if (IsAscii(raw) || utf8_ || (!declared_ && IsValidUtf8(raw))) {
        // Without a declared code page, text that is valid UTF-8 is taken as such: simple
        // writers store UTF-8 and say nothing, while text of a single-byte code page almost
        // never forms valid multi-byte sequences.
        s = QString::fromUtf8(raw.data(), qsizetype(raw.size()));
    } else {
        QStringDecoder dec(codec_.c_str());
        s = dec.decode(QByteArrayView(raw.data(), qsizetype(raw.size())));
        if (dec.hasError())
            s = IsValidUtf8(raw) ? QString::fromUtf8(raw.data(), qsizetype(raw.size()))
                                 : QString::fromLatin1(raw.data(), qsizetype(raw.size()));
    }
    return ResolveUnicodeEscapes(s).toStdString();
}

namespace {

// The byte of a character in windows-1252, 0 when it has none.
unsigned char Windows1252(char16_t u) {
    if ((u >= 0x20 && u < 0x80) || (u >= 0xA0 && u <= 0xFF))
        return static_cast<unsigned char>(u);
    static const char16_t high[32] = {0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                      0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0,      0x017D, 0,
                                      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                      0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};
    for (int i = 0; i < 32; ++i)
        if (high[i] == u)
            return static_cast<unsigned char>(0x80 + i);
    return 0;
}

}  // namespace

std::string DxfEncodeText(std::string_view utf8) {
    std::string out;
    out.reserve(utf8.size());
    if (IsAscii(utf8)) {
        for (char c : utf8)
            out.push_back(static_cast<unsigned char>(c) < 0x20 ? ' ' : c);
        return out;
    }
    const QString s = QString::fromUtf8(utf8.data(), qsizetype(utf8.size()));
    char buf[16];
    for (QChar ch : s) {
        const char16_t u = ch.unicode();
        if (u < 0x20) {
            out.push_back(' ');
        } else if (const unsigned char b = Windows1252(u)) {
            out.push_back(static_cast<char>(b));
        } else {
            std::snprintf(buf, sizeof buf, "\\U+%04X", unsigned(u));
            out += buf;
        }
    }
    return out;
}

std::string DxfResolveTextCodes(const std::string& text) {
    if (text.find("%%") == std::string::npos)
        return text;
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size() && text[i + 1] == '%') {
            const char c = char(std::tolower(static_cast<unsigned char>(text[i + 2])));
            if (c == 'd') {
                out += "\u00b0";
                i += 2;
                continue;
            }
            if (c == 'p') {
                out += "\u00b1";
                i += 2;
                continue;
            }
            if (c == 'c') {
                out += "\u2300";
                i += 2;
                continue;
            }
            if (c == '%') {
                out += '%';
                i += 2;
                continue;
            }
            if (c == 'u' || c == 'o' || c == 'k') {
                i += 2;
                continue;
            }
            if (std::isdigit(static_cast<unsigned char>(c))) {
                size_t j = i + 2;
                int v = 0;
                while (j < text.size() && j < i + 5 && std::isdigit(static_cast<unsigned char>(text[j])))
                    v = v * 10 + (text[j++] - '0');
                if (v > 0)
                    out += QString(QChar(char16_t(v))).toStdString();
                i = j - 1;
                continue;
            }
        }
        out.push_back(text[i]);
    }
    return out;
}

std::string DxfPlainMText(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '{' || c == '}')
            continue;
        if (c != '\\' || i + 1 >= text.size()) {
            out.push_back(c);
            continue;
        }
        const char k = text[++i];
        switch (k) {
            case 'P':
            case 'X':
                out.push_back('\n');
                break;
            case '~':
                out.push_back(' ');
                break;
            case '\\':
            case '{':
            case '}':
                out.push_back(k);
                break;
            case 'L':
            case 'l':
            case 'O':
            case 'o':
            case 'K':
            case 'k':
                break;  // underline, overline and strike switches
            case 'S': {
                // Stacked text "\Snum^den;" (also with / or #) written inline as num/den.
                const size_t end = text.find(';', i + 1);
                std::string part =
                    text.substr(i + 1, end == std::string::npos ? std::string::npos : end - i - 1);
                for (char& ch : part)
                    if (ch == '^' || ch == '#')
                        ch = '/';
                out += part;
                i = end == std::string::npos ? text.size() : end;
                break;
            }
            case 'U':
            case 'u':
                // A \U+XXXX escape stays for the decoder.
                out.push_back('\\');
                out.push_back(k);
                break;
            default: {
                // Codes with an argument up to ';' (\f, \F, \H, \W, \Q, \T, \A, \C, \c, \p).
                if (std::strchr("fFHWQTACcp", k)) {
                    const size_t end = text.find(';', i + 1);
                    i = end == std::string::npos ? text.size() : end;
                } else {
                    out.push_back(k);
                }
                break;
            }
        }
    }
    return out;
}

std::string DxfMTextFromPlain(const std::string& text) {
    std::string out;
    out.reserve(text.size() + 8);
    for (char c : text) {
        if (c == '\n')
            out += "\\P";
        else if (c == '\r')
            continue;
        else if (c == '\\')
            out += "\\\\";
        else if (c == '{')
            out += "\\{";
        else if (c == '}')
            out += "\\}";
        else
            out.push_back(c);
    }
    return out;
}

std::string DxfFormatReal(double value) {
    if (!std::isfinite(value))
        return "0.0";
    if (value == 0)
        value = 0;  // no "-0"
    char buf[64];
    auto r = std::to_chars(buf, buf + sizeof buf, value);
    std::string s(buf, r.ptr);
    if (s.find_first_of(".e") == std::string::npos)
        s += ".0";
    return s;
}

void DxfGroupWriter::Code(int code) {
    char buf[16];
    int n = std::snprintf(buf, sizeof buf, "%3d\n", code);
    out_.append(buf, size_t(n));
}

void DxfGroupWriter::Str(int code, std::string_view value) {
    Code(code);
    out_.append(value);
    out_.push_back('\n');
}

void DxfGroupWriter::Real(int code, double value) {
    Code(code);
    out_ += DxfFormatReal(value);
    out_.push_back('\n');
}

void DxfGroupWriter::Int(int code, long long value) {
    Code(code);
    out_ += std::to_string(value);
    out_.push_back('\n');
}

void DxfGroupWriter::Hex(int code, uint64_t value) {
    char buf[24];
    std::snprintf(buf, sizeof buf, "%llX", static_cast<unsigned long long>(value));
    Str(code, buf);
}

void DxfGroupWriter::Point(int code, double x, double y, double z) {
    Real(code, x);
    Real(code + 10, y);
    Real(code + 20, z);
}

void DxfGroupWriter::Point2(int code, double x, double y) {
    Real(code, x);
    Real(code + 10, y);
}
