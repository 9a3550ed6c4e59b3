#include "products/ProductsCommands.h"

#include "document/UserCommands.h"
#include "platform/ui/CadCommandIds.h"
#include "products/ControlPointFile.h"
#include "products/DrawPolyOnOrtho.h"
#include "products/LandmarkTransform.h"
#include "products/MapClassificationCommands.h"
#include "products/NdviReport.h"
#include "products/OrthoAnnotations.h"
#include "products/RasterCalculator.h"
#include "products/RasterizeMap.h"
#include "products/SlopeArrows.h"
#include "products/SlopeMap.h"
#include "products/TerrainMeshExport.h"
#include "products/VegetationIndex.h"

void RegisterProductsCommands(CommandRegistry& registry) {
    SetMapToolWindowMaker(MakeMapToolWindow);
    registry.Supply(CMD_ADDQUOTES, CmdAddQuotes);
    registry.Supply(CMD_DRAWPOLYLINEONORTHO, CmdDrawPolylineOnOrtho, CmdDrawPolylineOnOrthoDraw);
    registry.Supply(CMD_CREATESLOPEMAP, CmdCreateSlopeMap);
    registry.Supply(CMD_DRAWARROW, CmdDrawArrow);
    registry.Supply(CMD_ADDPOINTS, CmdAddPoints);
    registry.Supply(CMD_ADDLONGMEAS, CmdAddLongMeas);
    registry.Supply(CMD_RASTERCALCULATOR, CmdRasterCalculator);
    registry.Supply(CMD_MAPREPRESENTATION, CmdMapRepresentation);
    registry.Supply(CMD_COLORCLASSIFICATION, CmdColorClassification, CmdColorClassificationDraw);
    registry.Supply(CMD_NDVISAVI, CmdNdviSavi, CmdNdviSaviDraw);
    registry.Supply(CMD_EXPORTNDVIRESULTS, CmdExportNdviResults, CmdExportNdviResultsDraw);
    registry.Supply(CMD_RASTERIZEMAP, CmdRasterizeMap);
    registry.Supply(CMD_LANDMARKTRANSFORM, CmdLandmarkTransform);
    registry.Supply(CMD_LANDMARKTRANSFORMGPS, CmdLandmarkTransformGps);
    registry.Supply(CMD_ROTATEFROMPOLY, CmdRotateFromPoly);
    registry.Supply(CMD_WRITEOBJ, CmdWriteObj);
}
