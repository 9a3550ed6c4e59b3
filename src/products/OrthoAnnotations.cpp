#include "products/OrthoAnnotations.h"

#include <opencv2/imgproc.hpp>

#include <cmath>
#include <memory>

#include "demtools/DemEditCommands.h"
#include "document/KelvaroDoc.h"
#include "platform/cad/Cad.h"
#include "platform/ui/ActiveCommand.h"
#include "platform/ui/CadCommandIds.h"
#include "platform/ui/Interaction.h"
#include "raster/DEM.h"
#include "raster/RasterIO.h"

namespace {

// Metres to inches (the quotes' second image) and metres to yards.
constexpr double kInchesPerMetre = 39.37008;
constexpr double kYardsPerMetre = 1.093613;

const cv::Scalar kBlack = products::BandColor(0, 0, 0);

void Duplex(cv::Mat& image, const QString& text, cv::Point at, double scale, const cv::Scalar& colour,
            int thickness) {
    products::PutText(image, text, at, cv::FONT_HERSHEY_DUPLEX, scale, colour, thickness);
}

struct Pick {
    int input = CAD_INPUT_CANCEL;
    double x = 0.0, y = 0.0, z = 0.0;
};

// Shows the prompt and waits for the operator's next input.
Pick AskPoint(CadDrawing* drawing, const QString& prompt) {
    Prompt(drawing, prompt);
    Pick pick;
    pick.input = CadCmdUserInput(drawing);
    if (pick.input == CAD_INPUT_POINT) {
        CadCmdGetInputPoint(drawing, &pick.x, &pick.y, &pick.z);
    }
    return pick;
}

// The name of the orthophoto layer whose image place the entity is; empty for anything else.
QString OrthophotoLayerOf(const CKelvaroDoc& doc, CadEntity* entity) {
    const auto name = doc.m_OrthoHandleNames.find(entity);
    if (name == doc.m_OrthoHandleNames.end() || !doc.m_Orthos.count(name->second)) {
        return QString();
    }
    return name->second;
}

// Writes an annotated copy beside the orthophoto: its geotransform, no projection, no data 0.
bool WriteAnnotated(const cv::Mat& image, const double* gt, const QString& path, ProgressSink* progress) {
    return SaveImageAsGeoTiff(image, gt, QString(), 0.0, path, progress);
}

}  // namespace

bool PickOrthophotoLayer(CadDrawing* drawing, CKelvaroDoc& doc, int commandId,
                         std::optional<ActiveCommandScope>& active, bool takeOnlyLayer, QString* layerName) {
    if (!products::HasOrthophotoLayer(doc)) {
        CadCmdPrompt(drawing, "No OrthoPhoto loaded", "");
        return false;
    }
    active.emplace(drawing, commandId);
    if (takeOnlyLayer && doc.m_Orthos.size() == 1) {
        if (layerName) {
            *layerName = doc.m_Orthos.begin()->first;
        }
        return true;
    }
    for (;;) {
        Prompt(drawing, QStringLiteral("Select OrthoPhoto"));
        CadEntity* entity = CadCmdUserGetImagePlace(
            drawing, [&doc](CadEntity* image) { return !OrthophotoLayerOf(doc, image).isEmpty(); });
        if (!entity) {
            active.reset();
            return false;
        }
        const QString name = OrthophotoLayerOf(doc, entity);
        if (!name.isEmpty()) {
            CadCmdPromptAdd(drawing, (QStringLiteral(" ") + name).toUtf8().constData());
            if (layerName) {
                *layerName = name;
            }
            return true;
        }
        CadCmdPrompt(drawing, "Invalid entity", "");
    }
}

QString FormatYardage(double pixels, double pixelWidth) {
    const float metres = static_cast<float>(pixels * pixelWidth * 100.0) / 100.0f;
    return QString::asprintf("%.1f %.1f", double(metres), double(metres) * kYardsPerMetre);
}

void CmdAddQuotes(CadDrawing* drawing) {
    CKelvaroDoc* doc = FindDocByCad(drawing);
    if (!doc) {
        return;
    }
    const QString dtmPath = products::ChooseDtmFile();
    if (dtmPath.isEmpty()) {
        return;
    }
    const std::unique_ptr<CDEM> dem(LoadDemFromGeoTiff(dtmPath, true));
    if (!dem) {
        return;
    }
    products::OrthophotoCopy ortho;
    if (!products::ChooseOrthophotoCopy({"%s_OrthoQuotes", "%s_OrthoQuotes_YRD"}, &ortho, {dtmPath})) {
        return;
    }
    const double* gt = ortho.gt;
    cv::Mat& metres = ortho.image;
    cv::Mat inches = metres.clone();
    std::optional<ActiveCommandScope> active;
    if (!PickOrthophotoLayer(drawing, *doc, CMD_ADDQUOTES, active)) {
        return;
    }
    // Orthophoto pixels per terrain-model cell.
    const double g = dem->m_geoTransform[1] / gt[1];

    double base = kNoData;
    while (base == kNoData) {
        const Pick pick = AskPoint(drawing, QStringLiteral("Select Base Point"));
        if (pick.input == CAD_INPUT_FINISH || pick.input == CAD_INPUT_CANCEL) {
            return;
        }
        if (pick.input != CAD_INPUT_POINT) {
            continue;
        }
        CadAddPoint(drawing, pick.x, pick.y, pick.z);
        base = dem->GetElevation(pick.x, pick.y);
        if (base == kNoData) {
            continue;
        }
        const cv::Point at = products::PixelRounded(gt, pick.x, pick.y);
        for (cv::Mat* image : {&metres, &inches}) {
            cv::circle(*image, at, products::Truncate(g + 3.0), products::BandColor(255, 0, 0), cv::FILLED,
                       cv::LINE_AA);
            cv::circle(*image, at, products::Truncate(g + 4.0), kBlack, 2, cv::LINE_AA);
            Duplex(*image, QStringLiteral("0"), cv::Point(at.x + 5, products::Truncate(at.y - g - 20.0)), 2.0,
                   kBlack, 2);
        }
    }

    for (;;) {
        const Pick pick = AskPoint(drawing, QStringLiteral("Select Quote Point (right click to end)"));
        if (pick.input == CAD_INPUT_FINISH || pick.input == CAD_INPUT_CANCEL) {
            break;
        }
        if (pick.input != CAD_INPUT_POINT) {
            continue;
        }
        CadAddPoint(drawing, pick.x, pick.y, pick.z);
        const float elevation = static_cast<float>(dem->GetElevation(pick.x, pick.y));
        if (elevation == kNoData) {
            continue;
        }
        const double d = elevation - base;
        const cv::Point at = products::PixelTruncated(gt, pick.x, pick.y);
        const int radius = products::Truncate(g / 3.0 + 3.0);
        const int textY = products::Truncate(at.y - g);
        cv::circle(metres, at, radius, kBlack, cv::FILLED, cv::LINE_AA);
        Duplex(metres, QString::asprintf(" %.2lf", d), cv::Point(at.x, textY), 2.0, kBlack, 2);
        cv::circle(inches, at, radius, kBlack, cv::FILLED, cv::LINE_AA);
        Duplex(inches, QString::asprintf("%.2lf", d * kInchesPerMetre), cv::Point(at.x + 15, textY), 2.0,
               kBlack, 2);
    }

    const bool metresWritten = WriteAnnotated(metres, gt, ortho.outputs[0], nullptr);
    const bool inchesWritten = WriteAnnotated(inches, gt, ortho.outputs[1], nullptr);
    if (metresWritten && inchesWritten) {
        KvMessageBox(QStringLiteral("OrthoQuotes image generation done"), MB_OK | MB_ICONINFORMATION);
    } else {
        KvMessageBox(QStringLiteral("Unable to save OrthoQuotes image!"), MB_OK | MB_ICONEXCLAMATION);
    }
}

namespace {

// Two picks in pixels (rounded); false when the operator ended the step before the second.
bool PickTwoPixels(CadDrawing* drawing, const QString& prompt, const double* gt, cv::Point* first,
                   cv::Point* second) {
    int picked = 0;
    while (picked < 2) {
        const Pick pick = AskPoint(drawing, prompt);
        if (pick.input == CAD_INPUT_FINISH || pick.input == CAD_INPUT_CANCEL) {
            return false;
        }
        if (pick.input == CAD_INPUT_POINT) {
            *(picked == 0 ? first : second) = products::PixelRounded(gt, pick.x, pick.y);
            ++picked;
        }
    }
    return true;
}

QString MeasureText(const char* label, float metres) {
    return QString::asprintf("%s = %.1f %.1f", label, double(metres), double(metres) * kYardsPerMetre);
}

}  // namespace

void CmdAddPoints(CadDrawing* drawing) {
    CKelvaroDoc* doc = FindDocByCad(drawing);
    if (!doc) {
        return;
    }
    products::OrthophotoCopy ortho;
    if (!products::ChooseOrthophotoCopy({"%s_ortho_Meas"}, &ortho)) {
        return;
    }
    cv::Mat& image = ortho.image;
    const double* gt = ortho.gt;
    const QString& output = ortho.outputs[0];
    std::optional<ActiveCommandScope> active;
    if (!PickOrthophotoLayer(drawing, *doc, CMD_ADDPOINTS, active)) {
        return;
    }
    cv::Point a, b;
    if (PickTwoPixels(drawing, QStringLiteral("Select 2 width Points"), gt, &a, &b)) {
        const float width = static_cast<float>(std::abs(double(b.x) - a.x) * gt[1]);
        Duplex(image, MeasureText("width", width), cv::Point(image.cols / 2, 80), 4.0, kBlack, 2);
    }
    if (PickTwoPixels(drawing, QStringLiteral("Select 2 lenght Points"), gt, &a, &b)) {
        // Rows are measured with the pixel width as well: the orthophotos have square pixels.
        const float length = static_cast<float>(std::abs(double(b.y) - a.y) * gt[1]);
        Duplex(image, MeasureText("lenght", length), cv::Point(20, image.rows / 2), 4.0, kBlack, 2);
    }
    if (WriteAnnotated(image, gt, output, nullptr)) {
        KvMessageBox(QStringLiteral("image generation done"), MB_OK | MB_ICONINFORMATION);
    } else {
        KvMessageBox(QStringLiteral("Unable to save image!"), MB_OK | MB_ICONEXCLAMATION);
    }
}

namespace {

// The references of the long measurements, in the order they are asked for.
enum Reference { kWhite, kYellow, kBlue, kRed, kGreen, kOrange, kSecond, kReferenceCount };
const char* const kReferenceNames[kReferenceCount] = {"white", "yellow", "blue",      "red",
                                                      "green", "orange", "second ref"};

struct ReferencePoint {
    bool picked = false;
    cv::Point pixel;
};

// The dot of a measured point and its distances to the references given, each on its own line
// above the point; a reference the operator skipped has no distance.
struct DistanceLine {
    Reference reference;
    int offset;
    cv::Scalar colour;
    int thickness;
};

void DrawMeasurement(cv::Mat& image, const double* gt, cv::Point at, const ReferencePoint* references,
                     std::initializer_list<DistanceLine> lines) {
    cv::circle(image, at, 4, kBlack, cv::FILLED, cv::LINE_AA);
    for (const DistanceLine& line : lines) {
        const ReferencePoint& reference = references[line.reference];
        if (!reference.picked) {
            continue;
        }
        const long long dx = static_cast<long long>(at.x) - reference.pixel.x;
        const long long dy = static_cast<long long>(at.y) - reference.pixel.y;
        const double distance = std::sqrt(double(dx * dx + dy * dy));
        Duplex(image, FormatYardage(distance, gt[1]),
               cv::Point(at.x, products::Truncate(double(at.y) - line.offset)), 4.0, line.colour,
               line.thickness);
    }
}

enum class Step { Done, Aborted };

// Measures every point picked at the prompt until a right click.
Step MeasurePoints(CadDrawing* drawing, const QString& prompt, cv::Mat& image, const double* gt,
                   const ReferencePoint* references, std::initializer_list<DistanceLine> lines) {
    for (;;) {
        const Pick pick = AskPoint(drawing, prompt);
        if (pick.input == CAD_INPUT_CANCEL) {
            return Step::Aborted;
        }
        if (pick.input == CAD_INPUT_FINISH) {
            return Step::Done;
        }
        if (pick.input == CAD_INPUT_POINT) {
            DrawMeasurement(image, gt, products::PixelTruncated(gt, pick.x, pick.y), references, lines);
        }
    }
}

}  // namespace

void CmdAddLongMeas(CadDrawing* drawing) {
    CKelvaroDoc* doc = FindDocByCad(drawing);
    if (!doc) {
        return;
    }
    products::DrawingProgress progress;
    products::OrthophotoCopy ortho;
    if (!products::ChooseOrthophotoCopy({"%s_ortho_Meas"}, &ortho)) {
        return;
    }
    cv::Mat& image = ortho.image;
    const double* gt = ortho.gt;
    const QString& output = ortho.outputs[0];
    std::optional<ActiveCommandScope> active;
    if (!PickOrthophotoLayer(drawing, *doc, CMD_ADDLONGMEAS, active, true)) {
        return;
    }

    ReferencePoint references[kReferenceCount];
    for (int i = 0; i < kReferenceCount; ++i) {
        const Pick pick = AskPoint(
            drawing,
            QString::asprintf("select %s base point (right click to skip point)", kReferenceNames[i]));
        if (pick.input == CAD_INPUT_CANCEL) {
            return;
        }
        if (pick.input == CAD_INPUT_POINT) {
            references[i].picked = true;
            references[i].pixel = products::PixelRounded(gt, pick.x, pick.y);
        }
    }

    const cv::Scalar yellow = products::BandColor(255, 255, 0);
    const cv::Scalar red = products::BandColor(255, 0, 0);
    if (MeasurePoints(drawing, QStringLiteral("select point to measure from tee"), image, gt, references,
                      {{kYellow, 12, yellow, 3}, {kRed, 112, red, 3}}) == Step::Aborted) {
        return;
    }
    if (references[kSecond].picked &&
        MeasurePoints(drawing, QStringLiteral("select point to measure from second ref point"), image, gt,
                      references, {{kSecond, 12, products::BandColor(0, 255, 255), 2}}) == Step::Aborted) {
        return;
    }
    const Pick green = AskPoint(drawing, QStringLiteral("select end of green"));
    if (green.input == CAD_INPUT_CANCEL) {
        return;
    }
    if (green.input == CAD_INPUT_POINT) {
        DrawMeasurement(image, gt, products::PixelTruncated(gt, green.x, green.y), references,
                        {{kWhite, 12, products::BandColor(255, 255, 255), 3},
                         {kYellow, 112, yellow, 3},
                         {kBlue, 212, products::BandColor(0, 0, 255), 3},
                         {kRed, 312, red, 3},
                         {kGreen, 412, products::BandColor(0, 255, 0), 3},
                         {kOrange, 512, products::BandColor(255, 128, 0), 3}});
    }

    progress.show();
    const bool written = WriteAnnotated(image, gt, output, &progress);
    progress.hide();
    if (written) {
        KvMessageBox(QStringLiteral("image generation done"), MB_OK | MB_ICONINFORMATION);
    } else {
        KvMessageBox(QStringLiteral("Unable to save image!"), MB_OK | MB_ICONEXCLAMATION);
    }
}
