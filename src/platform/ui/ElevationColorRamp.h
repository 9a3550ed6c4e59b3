// The program-wide colour table that elevations are mapped onto when a DEM is drawn: packed
// colours 0x00BBGGRR (red in the low byte), running once around the colour circle. The
// application object builds it at start and frees it at exit.
#pragma once

#include <cstdint>

// Number of entries of a built ramp.
constexpr int kElevationColorRampEntries = 262144;

// The table, null until built.
extern uint32_t* ElevationColorRamp;
// Its number of entries, 0 until built.
extern int ElevationColorRampSize;

// Builds the table (once; a second call keeps the first). Non-zero on success.
int BuildElevationColorRamp();
void FreeElevationColorRamp();
