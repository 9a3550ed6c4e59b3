#include "raster/Ortho.h"

#include "platform/raster/ExtractROI.h"
#include "raster/RasterIO.h"

COrtho::COrtho(CKelvaroDoc* owner) : m_pDoc(owner) {
    for (auto& transform : m_correction) {
        transform = vtkSmartPointer<vtkThinPlateSplineTransform>::New();
        transform->SetBasisToR();
        transform->SetSigma(0.7);
    }
}

COrtho::~COrtho() {
    EraseLayerEntity(m_imageEntity);
    if (m_pDataset) {
        GDALClose(m_pDataset);
    }
}

cv::Mat COrtho::ExtractThumbnail(cv::Size size) {
    if (!m_pDataset || size.width <= 0 || size.height <= 0) {
        return cv::Mat();
    }
    cv::Mat image(size, CV_8UC3);
    kv::GdalFailureWatch watch;
    if (!GDALExtractROI(m_pDataset, image, nullptr, kExtractColour)) {
        if (watch.Failed()) {
            kv::ReportUnreadableRaster(m_path, kv::ReadFailureText(watch));
        }
        return cv::Mat();
    }
    return image;
}

cv::Mat COrtho::GetScaledImage(double factor) {
    if (!m_pDataset || !(factor > 0.0)) {
        return cv::Mat();
    }
    cv::Size size(static_cast<int>(GDALGetRasterXSize(m_pDataset) / factor),
                  static_cast<int>(GDALGetRasterYSize(m_pDataset) / factor));
    cv::Mat thumbnail = ExtractThumbnail(size);
    if (thumbnail.empty()) {
        return thumbnail;
    }
    cv::Mat mask = BuildValidAreaMask(thumbnail);
    thumbnail.setTo(cv::Scalar::all(0), mask == 0);
    return thumbnail;
}
