// One-page PDF reports over libharu: the error handler every report installs, and a document that
// owns its libharu handle, lays out text, rules and JPEG pictures on one page and is written
// through a temporary file beside its target.
//
//     kv::hpdf::Report pdf;
//     if (!pdf.IsCreated()) { ... }                    // libharu could not make a document
//     bool ok = pdf.AddPage() && pdf.SetFont("Helvetica-Bold", 18) &&
//               pdf.CentredText(pdf.PageHeight() - 80, "Title") &&
//               pdf.SetFont("Helvetica", 10) && pdf.RightAlignedText(pdf.PageWidth() - 100, 500, "42") &&
//               pdf.Rules(1, {{95, 495, 500, 495}}) && pdf.PlaceJpeg(path, 100, 100, 200, 150) &&
//               pdf.SaveAs(reportPath);
//
// libharu reports an error through PdfErrorHandler, which prints it and records it; it never
// throws, since an exception must not unwind through libharu's C frames. From the first error on
// the report is abandoned: every later call does nothing and answers false, and SaveAs writes
// nothing, so the file at the target stays as it was.
#pragma once

#include <QString>

#include <cstdint>
#include <vector>

// The error callback handed to libharu (HPDF_New): prints "ERROR: error_no=%04X, detail_no=%d" on
// the standard output and records the error for the thread's reports. The signature is libharu's
// HPDF_Error_Handler.
void PdfErrorHandler(unsigned long error_no, unsigned long detail_no, void* user_data);

namespace kv::hpdf {

// An error recorded by PdfErrorHandler.
struct Error {
    unsigned long error = 0;
    unsigned long detail = 0;
};
// The last error recorded in this thread, and how many were recorded since the thread started.
Error LastError();
uint64_t ErrorCount();

// A picture loaded into a report, with its size in pixels.
struct Image {
    void* handle = nullptr;
    float width = 0.0f;
    float height = 0.0f;
};

// A line from (x0, y0) to (x1, y1), in points from the page's lower left corner.
struct Line {
    float x0, y0, x1, y1;
};

class Report {
public:
    // Makes the libharu document with PdfErrorHandler; IsCreated() tells whether libharu could.
    Report();
    // Frees the document.
    ~Report();
    Report(const Report&) = delete;
    Report& operator=(const Report&) = delete;

    bool IsCreated() const { return m_doc != nullptr; }
    // True while every call so far succeeded.
    bool IsOk() const;

    // Adds the page, of libharu's default size, on which everything after is laid out.
    bool AddPage();
    float PageWidth() const { return m_width; }
    float PageHeight() const { return m_height; }

    // The font of the texts that follow: one of the standard fonts ("Helvetica", "Helvetica-Bold")
    // at a size in points. Texts are written in black, Latin-1.
    bool SetFont(const char* name, float size);
    // The width of the text in the current font, 0 after an error.
    float TextWidth(const QString& text);
    // Texts by their baseline: starting at x, centred on the page, ending at right.
    bool Text(float x, float baseline, const QString& text);
    bool CentredText(float baseline, const QString& text);
    bool RightAlignedText(float right, float baseline, const QString& text);

    // The lines, of the given line width, stroked together in black.
    bool Rules(float lineWidth, const std::vector<Line>& lines);

    // Loads a JPEG file (a file that is missing or no JPEG is a libharu error).
    bool LoadJpeg(const QString& path, Image* image);
    // Draws the picture with its lower left corner at (x, y) at the given size in points.
    bool DrawImage(const Image& image, float x, float y, float width, float height);
    // LoadJpeg then DrawImage.
    bool PlaceJpeg(const QString& path, float x, float y, float width, float height);

    // Writes the document to a temporary file beside path and renames it over path once it is
    // complete. False, with nothing at path changed and no temporary left, when the document has
    // failed or the file cannot be written. With temporary given, the complete document is left
    // under the temporary name it names, for the caller to put in place with the files that go
    // with it (kv::PlaceFileSet).
    bool SaveAs(const QString& path, QString* temporary = nullptr);

private:
    bool Check(bool callSucceeded);

    void* m_doc = nullptr;
    void* m_page = nullptr;
    void* m_font = nullptr;
    float m_fontSize = 0.0f;
    float m_width = 0.0f;
    float m_height = 0.0f;
    uint64_t m_errorsBefore = 0;
    bool m_failed = false;
};

// Writes a side x side JPEG filled with the colour (a COLORREF, 0x00BBGGRR): the colour key a
// report places beside a class. False when it cannot be written.
bool WriteSwatchJpeg(const QString& path, uint32_t colour, int side = 10);

}  // namespace kv::hpdf
