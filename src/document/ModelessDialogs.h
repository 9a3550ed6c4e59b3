// The two modeless dialogs each project keeps: the map representation and the colour
// classification. The document builds both objects without showing them; their commands make
// their windows on first use and bind a layer, after which the windows are only shown and hidden.
#pragma once

#include "document/ColorClassificationDlg.h"
#include "document/MapRepresentationDlg.h"
