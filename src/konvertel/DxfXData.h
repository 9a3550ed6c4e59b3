// What DXF cannot say about an entity of ours travels as extended data of the application
// "KELVARO": the rectangle an outline stands for, that a solid hatch is a filled polygon, the
// second point of an ordinate dimension, the fill flag, and the program's user number and byte
// block, the pattern numbers of a solid hatch. Other programs keep or ignore it; our reader
// restores the entity from it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "konvertel/DrawingShape.h"
#include "konvertel/DxfGroups.h"

constexpr const char* kKelvaroAppId = "KELVARO";

struct KelvaroXData {
    bool rect = false;
    ShapePoint rectCentre;
    double rectWidth = 0, rectHeight = 0, rectTurn = 0;
    bool polygon = false;
    bool hasPattern = false;
    double patternScale = 1, patternAngle = 0;
    bool hasOrdinate = false;
    ShapePoint ordinate;
    int filled = -1;
    bool hasUserData = false;
    int userData = 0;
    std::vector<uint8_t> exData;

    bool Empty() const {
        return !rect && !polygon && !hasPattern && !hasOrdinate && filled < 0 && !hasUserData &&
               exData.empty();
    }
    // From the groups of one entity (ours only; other applications' data is passed over).
    static KelvaroXData Parse(const std::vector<DxfGroup>& groups);
    // Fill flag, user number and byte block onto a shape.
    void ApplyTo(DrawingShape& s) const;
    // The groups, from 1001 on; nothing when there is nothing to say.
    void Write(DxfGroupWriter& w) const;
};
