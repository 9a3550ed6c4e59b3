// Drawing of raster layers under the CAD drawing: a visible window of a raster (on file or in
// memory) is read at screen resolution, coloured, clipped to its polylines and drawn into the
// drawing window's painter with black as the transparent colour. The profile and subtraction
// windows use the same helpers for their own rasters.
#pragma once

#include <gdal.h>
#include <opencv2/core.hpp>

#include <cstdint>

#include "platform/cad/Cad.h"
#include "raster/LayerEntities.h"
#include "raster/RasterDisplayCache.h"

class CAGColors;
class QPainter;

// Where and how large a visible raster window is drawn. Covering and visible windows are in
// raster pixels; the scale is window pixels per raster pixel; (x, y) is the window point of the
// visible window's top-left cell.
struct RasterDrawTarget {
    QPainter* dc = nullptr;
    int x = 0;
    int y = 0;
    int coverWidth = 0;
    int coverHeight = 0;
    int visibleWidth = 0;
    int visibleHeight = 0;
    double scale = 1.0;
    int left = 0;
    int top = 0;
    double opacity = 1.0;

    // The visible width rounded up to a multiple of 4: the width that is read.
    int ReadWidth() const { return (visibleWidth + 3) / 4 * 4; }
    // The size of the output image; empty when it rounds to nothing.
    cv::Size OutputSize() const;
    // The pixel rectangle that is read.
    cv::Rect ReadRect() const { return cv::Rect(left, top, ReadWidth(), visibleHeight); }
};

// How values become colours: the value range and the palette (null: the elevation ramp).
struct RasterColouring {
    double minimum = 0.0;
    double maximum = 0.0;
    const CAGColors* palette = nullptr;
    // With a palette: its colours only, no classes and no test of a zero range.
    bool colorsOnly = false;
};

// Where clip polylines lie: the raster's geotransform and the polylines (null or empty: none).
struct RasterClip {
    const CadEntityList* polylines = nullptr;
    const double* geoTransform = nullptr;
};

// The palette colour at fractional index x, red, green and blue each interpolated between its
// neighbours; 0 for a palette without colours.
uint32_t InterpolatePaletteColor(const CAGColors& palette, double x);
// The packed colour 0x00BBGGRR of a value (never -9999) under the colouring; 0 (black, drawn
// transparent) for a disabled class or a palette without colours.
uint32_t ColourOfValue(float value, const RasterColouring& colouring);

// A three-band raster (one band: grey): 8-bit bands are drawn as they are, wider bands with a
// contrast stretch of each band between its 2nd and 98th percentiles. 1 when drawn.
int ExtractRasterToImage(GDALDatasetH dataset, const RasterDrawTarget& target, const RasterClip& clip,
                         cv::Mat& colour);
// A one-band raster coloured with the palette; the display image receives the values as drawn
// (the band's scale and offset applied, -9999 for no data), the colour image their ARGB pixels
// (four channels, as PaintPicture takes them). Display and colour images that nothing else holds
// are written over, as are those of the renderers below. 1 when drawn.
int DrawRasterWithPalette(GDALDatasetH dataset, const RasterDrawTarget& target, double minimum,
                          double maximum, const CAGColors* palette, const RasterClip& clip, cv::Mat& display,
                          cv::Mat& colour);
// As DrawRasterWithPalette with the elevation ramp and no clip; NaN and infinite no-data values
// are honoured and no data never blends into its neighbours when zoomed in.
int DrawRasterBand(GDALDatasetH dataset, const RasterDrawTarget& target, double minimum, double maximum,
                   cv::Mat& display, cv::Mat& colour);
// A Float32 grid in memory (-9999 or NaN for no data) coloured with the palette's colours.
int DrawImageWithPalette(const cv::Mat& grid, const RasterDrawTarget& target, double minimum, double maximum,
                         const CAGColors& palette, cv::Mat& display, cv::Mat& colour);
// A Float32 grid in memory coloured with the elevation ramp.
int DrawFloatImageRegion(const cv::Mat& grid, const RasterDrawTarget& target, double minimum, double maximum,
                         cv::Mat& display, cv::Mat& colour);
// A Float32 grid in memory with the full colouring (palette with its classes) and clip: how an
// edited DEM keeps looking as it did on file.
int DrawGridWithColouring(const cv::Mat& grid, const RasterDrawTarget& target,
                          const RasterColouring& colouring, const RasterClip& clip, cv::Mat& display,
                          cv::Mat& colour);
// A cached or loaded picture (three or four channels, as PaintPicture takes them): its region (0,
// 0, read width, visible height) resized bilinearly as blue, green and red to the output size and
// drawn; the resized three-channel picture is handed back when asked for.
int DrawImageGdiPlus(const cv::Mat& image, const RasterDrawTarget& target, cv::Mat* resized = nullptr);
// A class image (8-bit, one channel): 0 blue, 2 green, 3 red, everything else transparent.
int DrawGrayImageRegion(const cv::Mat& classes, const RasterDrawTarget& target, cv::Mat& colour);

// Draws a picture at (x, y) with the opacity applied when 0 <= opacity < 1 (an opacity of 1 or
// more draws opaque): 8-bit three channels (blue, green, red) with black transparent, or 8-bit
// four channels holding ARGB pixels that are opaque or 0 (transparent), drawn as they stand.
bool PaintPicture(QPainter* dc, const cv::Mat& picture, int x, int y, double opacity);

// ---- Drawing an image place through a display cache: the plan view and every dialog that shows
// a raster in a CAD window of its own (with a cache of its own) draw the same way.

// Works out the covering and visible raster windows of an image place of a w x h raster, placed
// in the window at left x0, bottom yb with the size W x H in window pixels. Sets the windows, the
// scale and the window point of the target (its painter and opacity are left alone). False when
// nothing is to be drawn.
bool LayoutPlace(const CadWinRect* update, int x0, int yb, int W, int H, int w, int h,
                 RasterDrawTarget& target);

// A zoomed-out repaint of the same window at nearly the same scale (within 10 %) draws the cached
// picture.
bool IsCacheHit(const RasterDisplayCache& cache, const RasterDrawTarget& target);

// Draws the cached picture at the current size. The values follow the picture to the size on
// screen, so that the readouts and the snap read the cell that is shown.
int DrawFromCache(RasterDisplayCache& cache, const RasterDrawTarget& target);

// Runs the renderer (int render(cv::Mat& values, cv::Mat& picture), which may make its images in
// the ones it is given) on a cache miss and keeps what it made; draws from the cache on a hit.
template <typename Render>
int DrawCached(RasterDisplayCache& cache, const RasterDrawTarget& target, Render render) {
    if (IsCacheHit(cache, target)) {
        return DrawFromCache(cache, target);
    }
    // The last paint's images are the renderer's buffers: a repaint of the same size writes over
    // them.
    cv::Mat values = std::move(cache.values);
    cv::Mat picture = std::move(cache.picture);
    cache.Release();
    const int drawn = render(values, picture);
    if (!drawn) {
        return 0;
    }
    cache.values = values;
    cache.picture = picture;
    cache.left = target.left;
    cache.top = target.top;
    cache.width = target.visibleWidth;
    cache.height = target.visibleHeight;
    cache.scale = target.scale;
    return drawn;
}

// Records in the cache where the drawn target's window point lies in the model and the model
// length of one window pixel, from the drawing's window (or, without one, from the image place at
// left x0, bottom yb, W pixels wide).
void SetDisplayGeoTransform(CadDrawing* drawing, CadEntity* place, const RasterDrawTarget& target, int x0,
                            int yb, int W, RasterDisplayCache& cache);

// How many raster reads the helpers made since the program started (each read is one window of
// one raster); what shows that a cached repaint reads nothing.
long long RasterRenderReadCount();
