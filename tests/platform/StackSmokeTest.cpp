// Every library of the stack, once, in one process that must start and exit cleanly offscreen.
#include <QLabel>
#include <vector>

#include <CGAL/Delaunay_triangulation_2.h>
#include <CGAL/Exact_predicates_inexact_constructions_kernel.h>
#include <gdal.h>
#include <geos_c.h>
#include <gtest/gtest.h>
#include <hpdf.h>
#include <muParser.h>
#include <saga_api/saga_api.h>
#include <vtkNew.h>
#include <vtkPoints.h>
#include <vtkThinPlateSplineTransform.h>
#include <opencv2/imgproc.hpp>

namespace {

int QuietSagaCallback(TSG_UI_Callback_ID id, CSG_UI_Parameter&, CSG_UI_Parameter&) {
    // Carry on whenever a tool asks whether to.
    return id == CALLBACK_PROCESS_GET_OKAY ? 1 : 0;
}

void PdfError(HPDF_STATUS, HPDF_STATUS, void* data) {
    *static_cast<bool*>(data) = true;
}

}  // namespace

TEST(StackSmoke, EveryLibraryLoadsAndWorks) {
    // SAGA first: its callback must be in place before any tool library is loaded.
    ASSERT_TRUE(SG_Set_UI_Callback(QuietSagaCallback));
    CSG_Tool_Library* morphometry =
        SG_Get_Tool_Library_Manager().Add_Library(KV_SAGA_TOOLS_DIR "/libta_morphometry.so");
    ASSERT_NE(morphometry, nullptr);
    EXPECT_GT(morphometry->Get_Count(), 0);
    EXPECT_NE(morphometry->Get_Tool(0), nullptr);

    QLabel label(QStringLiteral("Kelvaro"));
    label.show();
    EXPECT_TRUE(label.isVisible());

    EXPECT_GT(GDALGetDriverCount(), 0);
    EXPECT_NE(GDALGetDriverByName("GTiff"), nullptr);

    cv::Mat img(20, 20, CV_8U, cv::Scalar(0));
    cv::rectangle(img, cv::Rect(5, 5, 10, 10), cv::Scalar(255), cv::FILLED);
    cv::Mat eroded;
    cv::erode(img, eroded, cv::Mat());
    EXPECT_EQ(cv::countNonZero(eroded), 64);

    vtkNew<vtkPoints> source, target;
    for (double p : {0.0, 1.0}) {
        for (double q : {0.0, 1.0}) {
            source->InsertNextPoint(p, q, 0);
            target->InsertNextPoint(p, q, 1);
        }
    }
    vtkNew<vtkThinPlateSplineTransform> tps;
    tps->SetSourceLandmarks(source);
    tps->SetTargetLandmarks(target);
    tps->SetBasisToR();
    double out[3];
    tps->TransformPoint(std::vector<double>{0.5, 0.5, 0}.data(), out);
    EXPECT_NEAR(out[2], 1.0, 1e-9);

    mu::Parser parser;
    parser.SetExpr("2*3");
    EXPECT_EQ(parser.Eval(), 6.0);

    bool pdfFailed = false;
    HPDF_Doc pdf = HPDF_New(PdfError, &pdfFailed);
    ASSERT_NE(pdf, nullptr);
    HPDF_Page page = HPDF_AddPage(pdf);
    EXPECT_NE(page, nullptr);
    EXPECT_EQ(HPDF_SaveToStream(pdf), HPDF_OK);
    EXPECT_GT(HPDF_GetStreamSize(pdf), 0u);
    HPDF_Free(pdf);
    EXPECT_FALSE(pdfFailed);

    GEOSContextHandle_t geos = GEOS_init_r();
    GEOSGeometry* square = GEOSGeomFromWKT_r(geos, "POLYGON((0 0, 2 0, 2 2, 0 2, 0 0))");
    ASSERT_NE(square, nullptr);
    double area = 0;
    EXPECT_EQ(GEOSArea_r(geos, square, &area), 1);
    EXPECT_EQ(area, 4.0);
    GEOSGeom_destroy_r(geos, square);
    GEOS_finish_r(geos);

    using Kernel = CGAL::Exact_predicates_inexact_constructions_kernel;
    CGAL::Delaunay_triangulation_2<Kernel> dt;
    std::vector<Kernel::Point_2> pts = {{0, 0}, {1, 0}, {0, 1}, {1, 1}, {0.5, 0.4}};
    dt.insert(pts.begin(), pts.end());
    EXPECT_EQ(dt.number_of_vertices(), 5u);
    EXPECT_EQ(dt.number_of_faces(), 4u);
}
