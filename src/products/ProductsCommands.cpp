#include "products/ProductsCommands.h"

#include "document/UserCommands.h"
#include "products/DrawPolyOnOrtho.h"
#include "products/OrthoAnnotations.h"
#include "products/SlopeArrows.h"
#include "products/SlopeMap.h"

void RegisterProductsCommands(CommandRegistry& registry) {
    registry.Supply(11021, CmdAddQuotes);
    registry.Supply(11022, CmdDrawPolylineOnOrtho, CmdDrawPolylineOnOrthoDraw);
    registry.Supply(11023, CmdCreateSlopeMap);
    registry.Supply(11024, CmdDrawArrow);
    registry.Supply(11027, CmdAddPoints);
    registry.Supply(11051, CmdAddLongMeas);
}
