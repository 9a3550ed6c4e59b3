// The cut of a raster by a polygon: the polygon in cell coordinates clipped to the raster, and the
// cells of its bounding box written block by block, those outside it set to no data.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "demtools/RasterCutRotate.h"
#include "demtools/RasterJobOutput.h"
#include "platform/tools/ProgressSink.h"
#include "platform/tools/ZQT.h"

namespace {

// Which cells of a row of cell centres (column x0 + i, row y) lie inside the area or on its
// boundary, exactly as CPgon::PtInPolygon answers: the parity of the edges crossed, with every
// cell near a crossing or a vertex, and every cell on a horizontal edge, asked of the area itself.
void InsideCells(const CPgon& area, int y, int x0, int width, std::vector<uchar>& inside) {
    inside.assign(size_t(width), 0);
    std::vector<double> crossings;
    std::vector<double> near;
    for (int k = 0; k < area.GetNumContours(); ++k) {
        const std::vector<Wml::Point2>& ring = area.GetContour(k);
        const size_t n = ring.size();
        if (n < 3) {
            continue;
        }
        for (size_t i = 0; i < n; ++i) {
            const Wml::Point2& cur = ring[i];
            const Wml::Point2& prev = ring[(i + n - 1) % n];
            const double lo = std::min(cur.Y(), prev.Y());
            const double hi = std::max(cur.Y(), prev.Y());
            if (y < lo || y > hi) {
                continue;
            }
            if (cur.Y() == prev.Y()) {
                // A horizontal edge on the row: its cells are on the boundary.
                const int from = std::max(0, int(std::ceil(std::min(cur.X(), prev.X()))) - x0);
                const int to = std::min(width - 1, int(std::floor(std::max(cur.X(), prev.X()))) - x0);
                for (int c = from; c <= to; ++c) {
                    inside[size_t(c)] = 2;
                }
                continue;
            }
            const double x = cur.X() + (y - cur.Y()) * (prev.X() - cur.X()) / (prev.Y() - cur.Y());
            near.push_back(x);
            if ((cur.Y() > y) != (prev.Y() > y)) {
                crossings.push_back(x);
            }
        }
    }
    std::sort(crossings.begin(), crossings.end());
    // Parity of the crossings right of each cell.
    size_t passed = 0;
    for (int c = 0; c < width; ++c) {
        const double x = x0 + c;
        while (passed < crossings.size() && crossings[passed] <= x) {
            ++passed;
        }
        if (inside[size_t(c)] == 0 && (crossings.size() - passed) % 2 == 1) {
            inside[size_t(c)] = 1;
        }
    }
    for (double x : near) {
        const int from = std::max(0, int(std::floor(x)) - 1 - x0);
        const int to = std::min(width - 1, int(std::ceil(x)) + 1 - x0);
        for (int c = from; c <= to; ++c) {
            inside[size_t(c)] = area.PtInPolygon(x0 + c, y) ? 1 : 0;
        }
    }
}

}  // namespace

CPgon CutArea(GDALDatasetH dataset, const std::vector<Wml::Point3>& vertices) {
    double gt[6];
    if (!dataset || vertices.size() <= 2 || GDALGetGeoTransform(dataset, gt) != CE_None || gt[1] == 0.0 ||
        gt[5] == 0.0) {
        return CPgon();
    }
    const double w = GDALGetRasterXSize(dataset);
    const double h = GDALGetRasterYSize(dataset);
    const Wml::Point2 outline[4] = {{0, 0}, {w - 1, 0}, {w - 1, h - 1}, {0, h - 1}};
    std::vector<Wml::Point2> cells;
    for (const Wml::Point3& v : vertices) {
        cells.emplace_back(std::trunc((v.X() - gt[0]) / gt[1]), std::trunc((v.Y() - gt[3]) / gt[5]));
    }
    const CPgon area = CPgon(outline, 4) & CPgon(cells.data(), int(cells.size()));
    return area.GetNumContours() > 0 ? area : CPgon();
}

RasterJob CutRasterToFile(const RasterSource& source, const CPgon& area, const QString& path,
                          ProgressSink* progress) {
    Wml::Point2 low;
    Wml::Point2 high;
    double gt[6];
    if (!source.dataset || !area.GetBoundingBox(low, high) ||
        GDALGetGeoTransform(source.dataset, gt) != CE_None) {
        return RasterJob::NothingToDo;
    }
    const int x0 = int(std::floor(low.X()));
    const int y0 = int(std::floor(low.Y()));
    const int width = int(std::ceil(high.X() - x0 + 1));
    const int height = int(std::ceil(high.Y() - y0 + 1));
    RasterJobOutput output(source, path, width, height);
    if (!output.Opened()) {
        return RasterJob::CannotCreate;
    }
    const GDALDataType type = source.heights ? GDT_Float32 : output.Type();
    const int depth = source.heights ? CV_32F : CellDepth(type);
    const size_t cellSize = size_t(GDALGetDataTypeSizeBytes(type));
    std::vector<std::vector<uchar>> fills;
    for (int b = 1; b <= output.Bands(); ++b) {
        fills.push_back(CellBytes(output.Fill(b), type));
    }

    const int across = (width + kRasterJobBlock - 1) / kRasterJobBlock;
    const int down = (height + kRasterJobBlock - 1) / kRasterJobBlock;
    if (progress) {
        progress->SetRange(0, across * down);
    }
    cv::Mat block;
    std::vector<uchar> inside;
    std::vector<std::vector<uchar>> masks;
    int done = 0;
    for (int by = 0; by < height; by += kRasterJobBlock) {
        for (int bx = 0; bx < width; bx += kRasterJobBlock) {
            if (progress) {
                progress->SetPos(done);
            }
            ZQT_PumpMessages();
            if (progress && progress->IsAborted()) {
                return RasterJob::Aborted;
            }
            const int bw = std::min(kRasterJobBlock, width - bx);
            const int bh = std::min(kRasterJobBlock, height - by);
            masks.resize(size_t(bh));
            for (int r = 0; r < bh; ++r) {
                InsideCells(area, y0 + by + r, x0 + bx, bw, masks[size_t(r)]);
            }
            block.create(bh, bw, CV_MAKETYPE(depth, 1));
            for (int b = 1; b <= output.Bands(); ++b) {
                if (GDALRasterIOEx(GDALGetRasterBand(source.dataset, b), GF_Read, x0 + bx, y0 + by, bw, bh,
                                   block.data, bw, bh, type, static_cast<GSpacing>(cellSize),
                                   static_cast<GSpacing>(block.step[0]), nullptr) != CE_None) {
                    return RasterJob::Failed;
                }
                const std::vector<uchar>& fill = fills[size_t(b - 1)];
                for (int r = 0; r < bh; ++r) {
                    uchar* row = block.ptr(r);
                    const std::vector<uchar>& mask = masks[size_t(r)];
                    for (int c = 0; c < bw; ++c) {
                        if (!mask[size_t(c)]) {
                            std::memcpy(row + size_t(c) * cellSize, fill.data(), cellSize);
                        }
                    }
                }
                if (!output.Write(b, bx, by, block, type)) {
                    return RasterJob::Failed;
                }
            }
            ++done;
        }
    }
    ZQT_PumpMessages();
    const double cut[6] = {gt[0] + gt[1] * x0, gt[1], gt[2], gt[3] + gt[5] * y0, gt[4], gt[5]};
    return output.Finish(cut, progress) ? RasterJob::Done : RasterJob::Failed;
}
