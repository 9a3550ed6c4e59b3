#include "products/ProductsSupport.h"

#include <QDir>
#include <QFileInfo>

#include <climits>
#include <cmath>

#include "document/KelvaroDoc.h"
#include "document/LayerFiles.h"
#include "platform/ui/Interaction.h"
#include "platform/ui/MainWindowService.h"
#include "raster/RasterIO.h"

namespace products {

QString OutputPathBeside(const QString& input, const char* pattern) {
    const QFileInfo info(input);
    const QString name = QString::asprintf(pattern, info.completeBaseName().toUtf8().constData());
    return QDir(info.absolutePath()).filePath(name + QStringLiteral(".tif"));
}

namespace {

int SaturateInt(double value) {
    if (std::isnan(value)) {
        return 0;
    }
    if (value <= double(INT_MIN)) {
        return INT_MIN;
    }
    if (value >= double(INT_MAX)) {
        return INT_MAX;
    }
    return static_cast<int>(value);
}

}  // namespace

int RoundHalfEven(double value) {
    // The default rounding mode of the floating-point environment is to nearest, ties to even.
    return SaturateInt(std::nearbyint(value));
}

int Truncate(double value) {
    return SaturateInt(std::trunc(value));
}

cv::Point PixelTruncated(const double* gt, double x, double y) {
    return cv::Point(Truncate((x - gt[0]) / gt[1]), Truncate((y - gt[3]) / gt[5]));
}

cv::Point PixelRounded(const double* gt, double x, double y) {
    return cv::Point(RoundHalfEven((x - gt[0]) / gt[1]), RoundHalfEven((y - gt[3]) / gt[5]));
}

void PutText(cv::Mat& image, const QString& text, cv::Point at, int font, double scale,
             const cv::Scalar& colour, int thickness) {
    cv::putText(image, text.toStdString(), at, font, scale, colour, thickness, cv::LINE_AA);
}

namespace {

QString ChooseInputFile(const QString& filter) {
    return kv::GetInteraction().ChooseOpenFile(QStringLiteral("Open"), QString(), filter);
}

}  // namespace

QString ChooseDtmFile() {
    return ChooseInputFile(QStringLiteral("GeoTiff DTM (*.gtif *.tif)"));
}

QString ChooseOrthophotoFile() {
    return ChooseInputFile(QStringLiteral("Orthophoto (*.tif)"));
}

QString ChooseSlopeMapFile() {
    return ChooseInputFile(QStringLiteral("Slope Map (*.tif)"));
}

bool ChooseOrthophotoCopy(std::initializer_list<const char*> patterns, OrthophotoCopy* copy,
                          const QStringList& otherInputs) {
    const QString path = ChooseOrthophotoFile();
    if (path.isEmpty()) {
        return false;
    }
    copy->outputs.clear();
    for (const char* pattern : patterns) {
        copy->outputs.push_back(OutputPathBeside(path, pattern));
    }
    if (RefuseOutputOverInputs(QStringList(copy->outputs.begin(), copy->outputs.end()),
                               QStringList{path} + otherInputs)) {
        return false;
    }
    return LoadOrthophotoImage(path, copy->image, copy->gt);
}

namespace {

QWidget* MainWindow() {
    kv::MainWindowService* service = kv::GetMainWindowService();
    return service ? service->MainWindow() : nullptr;
}

}  // namespace

DrawingProgress::DrawingProgress() : CAbortSingleProgressDlg(MainWindow()) {
    Create();
    SetCaption(QStringLiteral("drawing..."));
}

bool HasOrthophotoLayer(const CKelvaroDoc& doc) {
    return !doc.m_Orthos.empty();
}

}  // namespace products
