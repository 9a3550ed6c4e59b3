#include "Points.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "Data.h"

namespace bench {

bool WritePointsCsv(const std::string& csvPath, const std::string& vrtPath,
                    const std::vector<Wml::Point3>& points, const char* format) {
    std::FILE* csv = std::fopen(csvPath.c_str(), "wb");
    if (!csv) {
        return false;
    }
    const std::string row = std::string(format) + ',' + format + ',' + format + '\n';
    std::fputs("x,y,z\n", csv);
    for (const Wml::Point3& p : points) {
        std::fprintf(csv, row.c_str(), p.X(), p.Y(), p.Z());
    }
    if (std::fclose(csv) != 0) {
        return false;
    }
    std::FILE* vrt = std::fopen(vrtPath.c_str(), "wb");
    if (!vrt) {
        return false;
    }
    const std::string file = csvPath.substr(csvPath.find_last_of('/') + 1);
    const std::string layer = file.substr(0, file.find_last_of('.'));
    std::fprintf(vrt,
                 "<OGRVRTDataSource><OGRVRTLayer name=\"points\"><SrcDataSource>%s</SrcDataSource>"
                 "<SrcLayer>%s</SrcLayer><GeometryType>wkbPoint</GeometryType><GeometryField "
                 "encoding=\"PointFromColumns\" x=\"x\" y=\"y\" z=\"z\"/></OGRVRTLayer></OGRVRTDataSource>\n",
                 csvPath.c_str(), layer.c_str());
    return std::fclose(vrt) == 0;
}

std::vector<Wml::Point3> ReadPointsCsv(const std::string& path) {
    std::vector<Wml::Point3> points;
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) {
        return points;
    }
    char line[256];
    if (std::fgets(line, sizeof line, f)) {
        while (std::fgets(line, sizeof line, f)) {
            const char* end = line + std::strlen(line);
            double v[3] = {0.0, 0.0, 0.0};
            const char* at = line;
            for (double& value : v) {
                at = std::min(end, std::from_chars(at, end, value).ptr + 1);
            }
            points.emplace_back(v[0], v[1], v[2]);
        }
    }
    std::fclose(f);
    return points;
}

void BoxOf(const std::vector<Wml::Point3>& points, double box[4]) {
    box[0] = box[2] = HUGE_VAL;
    box[1] = box[3] = -HUGE_VAL;
    for (const Wml::Point3& p : points) {
        box[0] = std::min(box[0], p.X());
        box[1] = std::max(box[1], p.X());
        box[2] = std::min(box[2], p.Y());
        box[3] = std::max(box[3], p.Y());
    }
}

Command GdalGrid(const std::string& algorithm, double x0, double x1, double y0, double y1, int w, int h,
                 const std::string& vrt, const std::string& output) {
    return {"gdal_grid",
            "-q",
            "-a",
            algorithm,
            "-ot",
            "Float32",
            "-of",
            "GTiff",
            "-co",
            "TILED=YES",
            "-co",
            "BLOCKXSIZE=128",
            "-co",
            "BLOCKYSIZE=128",
            "-txe",
            Number(x0),
            Number(x1),
            "-tye",
            Number(y0),
            Number(y1),
            "-outsize",
            std::to_string(w),
            std::to_string(h),
            "-l",
            "points",
            vrt,
            output};
}

}  // namespace bench
