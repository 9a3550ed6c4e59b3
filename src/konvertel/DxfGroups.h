// The group level of ASCII DXF: a file is a sequence of groups, each a line with an integer
// group code and a line with its value. The reader hands out the groups of a file held in
// memory and checks every code and every number as it goes; the writer appends groups to a text
// buffer. Texts inside the program are UTF-8; in the file they are the drawing's code page with
// \U+XXXX escapes for what the code page does not hold.
#pragma once

#include <QByteArray>

#include <cstdint>
#include <string>
#include <string_view>

// One group: its code and the value exactly as the file writes it (line end removed).
struct DxfGroup {
    int code = -1;
    std::string_view value;
    double Real() const;  // the value of a numeric group (checked by the reader)
    int Int() const;      // likewise, rounded toward zero
    bool Is(int c, std::string_view v) const { return code == c && value == v; }
};

// Whether values of this group code are numbers (reals or integers).
bool DxfGroupIsNumeric(int code);

class DxfGroupReader {
public:
    // The reader keeps a reference to data, which must outlive it.
    explicit DxfGroupReader(const QByteArray& data);
    // The next group; false at the end of the data or on a malformed group (see Error()).
    bool Next(DxfGroup& group);
    // Hands the last group out again at the next call.
    void PushBack() { pushed_ = true; }
    bool Failed() const { return !error_.empty(); }
    const std::string& Error() const { return error_; }
    // Line number (1-based) of the last group's code.
    int64_t Line() const { return line_; }

private:
    bool ReadLine(std::string_view& line);
    const char* p_;
    const char* end_;
    int64_t line_ = 0;
    int64_t nextLine_ = 1;
    DxfGroup last_;
    bool pushed_ = false;
    std::string error_;
};

// Text values: conversion between the file's code page and UTF-8.
class DxfTextCodec {
public:
    // From $DWGCODEPAGE ("ANSI_1252" ...) and $ACADVER: drawings of AC1021 and later are UTF-8.
    void Configure(std::string_view codePage, std::string_view version);
    // A file value as UTF-8, \U+XXXX escapes resolved.
    std::string Decode(std::string_view raw) const;

private:
    std::string codec_ = "windows-1252";
    bool utf8_ = false;
    bool declared_ = false;
};

// A UTF-8 text as a value in a file of code page ANSI_1252: characters of that code page as its
// bytes, others as \U+XXXX escapes; line breaks and other control characters become spaces (a
// value is one line).
std::string DxfEncodeText(std::string_view utf8);

// Resolves the control sequences of TEXT values: %%d, %%p, %%c, %%% and %%nnn; %%u and %%o
// (underline and overline switches) are dropped.
std::string DxfResolveTextCodes(const std::string& text);
// The plain text of an MTEXT value: paragraph breaks become line breaks, formatting codes and
// braces are dropped, stacked fractions are written with a slash.
std::string DxfPlainMText(const std::string& text);
// A plain text as an MTEXT value: line breaks become paragraph breaks, backslashes and braces
// are escaped.
std::string DxfMTextFromPlain(const std::string& text);

class DxfGroupWriter {
public:
    void Str(int code, std::string_view value);
    void Real(int code, double value);
    void Int(int code, long long value);
    void Hex(int code, uint64_t value);  // handles
    // A point as groups code, code + 10, code + 20.
    void Point(int code, double x, double y, double z);
    void Point2(int code, double x, double y);
    const std::string& Text() const { return out_; }
    std::string& Text() { return out_; }

private:
    void Code(int code);
    std::string out_;
};

// A true colour of the file (group 420, 0x00RRGGBB) as the program's 0x00BBGGRR.
inline uint32_t DxfTrueColourToColourRef(uint32_t rgb) {
    return ((rgb & 0xFF) << 16) | (rgb & 0xFF00) | ((rgb >> 16) & 0xFF);
}

// The value of a hexadecimal digit ('0'-'9', 'a'-'f', 'A'-'F'), -1 for any other character.
int DxfHexDigit(char c);

// The shortest text that reads back as the same double, always with a decimal point or an
// exponent; non-finite values are written as 0.0.
std::string DxfFormatReal(double value);
