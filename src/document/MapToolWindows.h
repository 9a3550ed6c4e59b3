// The two modeless windows of the map tools that every project keeps: the map representation and
// the colour classification. They belong to the product tools; the project holds them through this
// interface, which is all it asks of them: to let a layer go before the layer is deleted, and
// whether one is shown (the plan view leaves the colour legend out while the classification shows).
//
// A new project asks the maker that the product tools set when they register (SetMapToolWindowMaker)
// for its two windows and deletes them with itself. A project made while no maker is set holds
// none; the product tools reach the windows they made through their own accessors.
#pragma once

class MapToolWindow {
public:
    virtual ~MapToolWindow() = default;
    // A layer leaves the project: when it is the bound one, the window lets go of it and hides.
    virtual void ForgetLayer(const void* layer) = 0;
    // Whether the window is on the screen.
    virtual bool IsShown() const = 0;
};

enum class MapToolWindowKind { MapRepresentation, ColorClassification };

// Makes a window of the kind, without showing it (its commands make its widgets at first use).
using MapToolWindowMaker = MapToolWindow* (*)(MapToolWindowKind kind);
void SetMapToolWindowMaker(MapToolWindowMaker maker);
MapToolWindowMaker GetMapToolWindowMaker();
