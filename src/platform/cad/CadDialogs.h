// The engine's dialogs: layers, line type, line weight, dimension style, point style, object
// snaps and the properties of the selection. Each works on a copy of what it shows and changes
// the drawing only when the operator confirms. Controls carry object names, so that scripts find
// them as an operator finds them by their captions.
#pragma once

#include <vector>

#include "platform/cad/CadInternal.h"
#include "platform/ui/KvDialog.h"

class QCheckBox;
class QComboBox;
class QDoubleSpinBox;
class QLineEdit;
class QListWidget;
class QSpinBox;
class QTableWidget;

// Layers: create, rename, colour, line type, line weight, on/off, lock, current, delete.
class CadLayersDlg : public KvDialog {
    Q_OBJECT
public:
    CadLayersDlg(CadDrawing* drawing, QWidget* parent);

protected:
    bool OnInitDialog() override;
    void OnOK() override;

private:
    enum Column { kCurrent, kName, kOn, kLocked, kColour, kLineType, kLineWeight, kColumns };
    void AddRow(CadLayer* layer, const QString& name, int colour, uint32_t lineType, int lineWeight, bool on,
                bool locked);
    void OnNew();
    void OnDelete();
    void OnSetCurrent();
    void MarkCurrent(int row);

    CadDrawing* drawing_;
    QTableWidget* table_ = nullptr;
    std::vector<CadLayer*> rowLayer_;  // per row; null for a layer not created yet
    std::vector<CadLayer*> deleted_;
    int currentRow_ = 0;
};

// The line type of what the operator draws next.
class CadLineTypeDlg : public KvDialog {
    Q_OBJECT
public:
    CadLineTypeDlg(CadDrawing* drawing, QWidget* parent);

protected:
    void OnOK() override;

private:
    CadDrawing* drawing_;
    QListWidget* list_;
};

// The line weight of what the operator draws next, and whether line weights show.
class CadLineWeightDlg : public KvDialog {
    Q_OBJECT
public:
    CadLineWeightDlg(CadDrawing* drawing, QWidget* parent);

protected:
    void OnOK() override;

private:
    CadDrawing* drawing_;
    QListWidget* list_;
    QCheckBox* display_;
};

class CadDimStyleDlg : public KvDialog {
    Q_OBJECT
public:
    CadDimStyleDlg(CadDrawing* drawing, QWidget* parent);

protected:
    void OnOK() override;

private:
    CadDrawing* drawing_;
    QDoubleSpinBox* textHeight_;
    QDoubleSpinBox* arrowSize_;
    QSpinBox* decimals_;
};

class CadPointStyleDlg : public KvDialog {
    Q_OBJECT
public:
    CadPointStyleDlg(CadDrawing* drawing, QWidget* parent);

protected:
    void OnOK() override;

private:
    CadDrawing* drawing_;
    QComboBox* mark_;
    QSpinBox* size_;
};

// The object snaps: one check box per snap and the switch for all of them.
class CadOsnapDlg : public KvDialog {
    Q_OBJECT
public:
    CadOsnapDlg(CadDrawing* drawing, QWidget* parent);

protected:
    void OnOK() override;

private:
    CadDrawing* drawing_;
    std::vector<std::pair<QCheckBox*, int>> bits_;
    QCheckBox* on_;
};

// Layer, colour, line type and line weight of the selected entities (a text also its text,
// height and angle); with nothing selected, the current layer and what the operator draws next.
class CadPropertiesDlg : public KvDialog {
    Q_OBJECT
public:
    CadPropertiesDlg(CadDrawing* drawing, QWidget* parent);

protected:
    void OnOK() override;

private:
    CadDrawing* drawing_;
    std::vector<CadEntity*> entities_;
    QComboBox* layer_;
    QComboBox* colour_;
    QComboBox* lineType_;
    QComboBox* lineWeight_;
    QLineEdit* text_ = nullptr;
    QLineEdit* height_ = nullptr;
    QLineEdit* angle_ = nullptr;
};
