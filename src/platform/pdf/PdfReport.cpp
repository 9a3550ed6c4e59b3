#include "platform/pdf/PdfReport.h"

#include <QFile>

#include <hpdf.h>
#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>

#include <cstdio>

#include "platform/tools/SafeFile.h"

namespace {

thread_local kv::hpdf::Error t_lastError;
thread_local uint64_t t_errorCount = 0;

HPDF_Doc Doc(void* doc) {
    return static_cast<HPDF_Doc>(doc);
}

HPDF_Page Page(void* page) {
    return static_cast<HPDF_Page>(page);
}

}  // namespace

void PdfErrorHandler(unsigned long error_no, unsigned long detail_no, void* /*user_data*/) {
    std::printf("ERROR: error_no=%04X, detail_no=%d\n", static_cast<unsigned>(error_no),
                static_cast<int>(detail_no));
    std::fflush(stdout);
    t_lastError = {error_no, detail_no};
    ++t_errorCount;
}

namespace kv::hpdf {

Error LastError() {
    return t_lastError;
}

uint64_t ErrorCount() {
    return t_errorCount;
}

Report::Report() : m_errorsBefore(t_errorCount) {
    m_doc = HPDF_New(PdfErrorHandler, nullptr);
    m_failed = m_doc == nullptr;
}

Report::~Report() {
    if (m_doc) {
        HPDF_Free(Doc(m_doc));
    }
}

bool Report::IsOk() const {
    return !m_failed && t_errorCount == m_errorsBefore && HPDF_GetError(Doc(m_doc)) == HPDF_OK;
}

bool Report::Check(bool callSucceeded) {
    if (!callSucceeded || !IsOk()) {
        m_failed = true;
    }
    return !m_failed;
}

bool Report::AddPage() {
    if (m_failed) {
        return false;
    }
    HPDF_Page page = HPDF_AddPage(Doc(m_doc));
    if (!Check(page != nullptr)) {
        return false;
    }
    m_page = page;
    m_width = HPDF_Page_GetWidth(page);
    m_height = HPDF_Page_GetHeight(page);
    return Check(true);
}

bool Report::SetFont(const char* name, float size) {
    if (m_failed || !Check(m_page != nullptr)) {
        return false;
    }
    HPDF_Font font = HPDF_GetFont(Doc(m_doc), name, "WinAnsiEncoding");
    if (!Check(font != nullptr)) {
        return false;
    }
    m_font = font;
    m_fontSize = size;
    return Check(HPDF_Page_SetFontAndSize(Page(m_page), font, size) == HPDF_OK);
}

float Report::TextWidth(const QString& text) {
    if (m_failed || !Check(m_font != nullptr)) {
        return 0.0f;
    }
    const QByteArray latin = text.toLatin1();
    const float width = HPDF_Page_TextWidth(Page(m_page), latin.constData());
    return Check(true) ? width : 0.0f;
}

bool Report::Text(float x, float baseline, const QString& text) {
    if (m_failed || !Check(m_font != nullptr)) {
        return false;
    }
    const QByteArray latin = text.toLatin1();
    HPDF_Page page = Page(m_page);
    return Check(HPDF_Page_BeginText(page) == HPDF_OK) &&
           Check(HPDF_Page_TextOut(page, x, baseline, latin.constData()) == HPDF_OK) &&
           Check(HPDF_Page_EndText(page) == HPDF_OK);
}

bool Report::CentredText(float baseline, const QString& text) {
    const float width = TextWidth(text);
    return !m_failed && Text((m_width - width) / 2.0f, baseline, text);
}

bool Report::RightAlignedText(float right, float baseline, const QString& text) {
    const float width = TextWidth(text);
    return !m_failed && Text(right - width, baseline, text);
}

bool Report::Rules(float lineWidth, const std::vector<Line>& lines) {
    if (m_failed || !Check(m_page != nullptr)) {
        return false;
    }
    HPDF_Page page = Page(m_page);
    if (!Check(HPDF_Page_SetLineWidth(page, lineWidth) == HPDF_OK)) {
        return false;
    }
    for (const Line& line : lines) {
        if (!Check(HPDF_Page_MoveTo(page, line.x0, line.y0) == HPDF_OK) ||
            !Check(HPDF_Page_LineTo(page, line.x1, line.y1) == HPDF_OK)) {
            return false;
        }
    }
    return Check(HPDF_Page_Stroke(page) == HPDF_OK);
}

bool Report::LoadJpeg(const QString& path, Image* image) {
    if (m_failed) {
        return false;
    }
    HPDF_Image loaded = HPDF_LoadJpegImageFromFile(Doc(m_doc), QFile::encodeName(path).constData());
    if (!Check(loaded != nullptr)) {
        return false;
    }
    image->handle = loaded;
    image->width = static_cast<float>(HPDF_Image_GetWidth(loaded));
    image->height = static_cast<float>(HPDF_Image_GetHeight(loaded));
    return Check(true);
}

bool Report::DrawImage(const Image& image, float x, float y, float width, float height) {
    if (m_failed || !Check(m_page != nullptr && image.handle != nullptr)) {
        return false;
    }
    return Check(HPDF_Page_DrawImage(Page(m_page), static_cast<HPDF_Image>(image.handle), x, y, width,
                                     height) == HPDF_OK);
}

bool Report::PlaceJpeg(const QString& path, float x, float y, float width, float height) {
    Image image;
    return LoadJpeg(path, &image) && DrawImage(image, x, y, width, height);
}

bool Report::SaveAs(const QString& path, QString* temporary) {
    if (m_failed || !IsOk()) {
        m_failed = true;
        return false;
    }
    const QString written = kv::TemporaryPathFor(path);
    if (!Check(HPDF_SaveToFile(Doc(m_doc), QFile::encodeName(written).constData()) == HPDF_OK)) {
        QFile::remove(written);
        return false;
    }
    if (temporary) {
        *temporary = written;
        return true;
    }
    return kv::CommitTemporary(written, path);
}

bool WriteSwatchJpeg(const QString& path, uint32_t colour, int side) {
    const cv::Mat swatch(side, side, CV_8UC3,
                         cv::Scalar((colour >> 16) & 0xFF, (colour >> 8) & 0xFF, colour & 0xFF));
    try {
        return cv::imwrite(QFile::encodeName(path).toStdString(), swatch);
    } catch (const cv::Exception&) {
        return false;
    }
}

}  // namespace kv::hpdf
