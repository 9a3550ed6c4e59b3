// What the benchmarks share that run each side of a pair as a process of its own (ProcessRun.h):
// the timing of a pair's side, number arguments, and gdal_grid over a CSV file of points.
#pragma once

#include <benchmark/benchmark.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "ProcessRun.h"
#include "platform/math/Wml.h"

// Times the steps, one after the other, as one iteration of the benchmark (manual time), with the
// largest peak memory of them as the counter peak_MiB.
inline void ReportProcesses(benchmark::State& state, const std::vector<std::vector<std::string>>& steps) {
    for (auto _ : state) {
        double seconds = 0.0, peak = 0.0;
        for (const auto& step : steps) {
            const ProcessRun run = RunProcess(step);
            if (run.status != 0) {
                state.SkipWithError(("failed: " + step[0]).c_str());
                return;
            }
            seconds += run.seconds;
            peak = std::max(peak, run.peakMiB);
        }
        state.SetIterationTime(seconds);
        state.counters["peak_MiB"] = peak;
    }
}

// A number as a command-line argument, without loss.
inline std::string NumberArg(double v) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.17g", v);
    return buffer;
}

// Writes the points as a CSV file with the columns x, y, z, each number in the printf format
// ("%.2f"). False when the file cannot be written.
inline bool WritePointsCsv(const std::string& path, const std::vector<Wml::Point3>& points,
                           const char* format) {
    std::FILE* csv = std::fopen(path.c_str(), "wb");
    if (!csv) {
        return false;
    }
    const std::string row = std::string(format) + ',' + format + ',' + format + '\n';
    std::fputs("x,y,z\n", csv);
    for (const Wml::Point3& p : points) {
        std::fprintf(csv, row.c_str(), p.X(), p.Y(), p.Z());
    }
    return std::fclose(csv) == 0;
}

// The points of such a CSV file, read as plainly as a drawing holds them.
inline std::vector<Wml::Point3> ReadPointsCsv(const char* path) {
    std::vector<Wml::Point3> points;
    std::FILE* f = std::fopen(path, "rb");
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

// The box of the points: (xmin, xmax, ymin, ymax).
inline void BoxOf(const std::vector<Wml::Point3>& points, double box[4]) {
    box[0] = box[2] = HUGE_VAL;
    box[1] = box[3] = -HUGE_VAL;
    for (const Wml::Point3& p : points) {
        box[0] = std::min(box[0], p.X());
        box[1] = std::max(box[1], p.X());
        box[2] = std::min(box[2], p.Y());
        box[3] = std::max(box[3], p.Y());
    }
}

// The VRT through which GDAL's tools read a CSV file of points (columns x, y, z) as the point
// layer "points". False when it cannot be written.
inline bool WritePointsVrt(const std::string& vrtPath, const std::string& csvPath) {
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

// gdal_grid with the algorithm over the points of the VRT into a tiled Float32 GeoTIFF of w x h
// cells between x0 and x1 and between y0 and y1 (in the order gdal_grid takes them).
inline std::vector<std::string> GdalGridCommand(const std::string& algorithm, double x0, double x1, double y0,
                                                double y1, int w, int h, const std::string& vrt,
                                                const std::string& output) {
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
            NumberArg(x0),
            NumberArg(x1),
            "-tye",
            NumberArg(y0),
            NumberArg(y1),
            "-outsize",
            std::to_string(w),
            std::to_string(h),
            "-l",
            "points",
            vrt,
            output};
}
