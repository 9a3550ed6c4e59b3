#include "products/DrawPolyOnOrthoDlg.h"

#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QVBoxLayout>

#include "platform/tools/ZQT.h"
#include "platform/ui/Interaction.h"

namespace {

const char* const kLineTypeKey = "Line type";
const char* const kStepKey = "Line_Step";
const char* const kWeightKey = "Line_weight";
const char* const kColorSection = "Line Color";
const char* const kColorKey = "color";

constexpr COLORREF kWhite = kv::Rgb(255, 255, 255);
constexpr COLORREF kBrown = kv::Rgb(102, 51, 0);

}  // namespace

CDrawPolyOnOrthoDlg::CDrawPolyOnOrthoDlg(QWidget* parent)
    : KvDialog(parent),
      m_editStep(this),
      m_editWeight(this),
      m_edit1582(this),
      m_edit1583(this),
      m_btnColor(this),
      m_radioArc(QStringLiteral("Arc"), this),
      m_radioDashedPoly(QStringLiteral("DashedPoly"), this),
      m_radioDashedSegment(QStringLiteral("Dashed Segment"), this),
      m_radioContinua(QStringLiteral("Continua"), this),
      m_radioContinuaLunga(QStringLiteral("Continua lunga"), this),
      m_radioCircle(QStringLiteral("Circle"), this),
      m_checkFilled(QStringLiteral("Is Filled?"), this),
      m_btnCancel(QStringLiteral("Cancel"), this),
      m_btnDrawAll(QStringLiteral("Draw All"), this),
      m_btnOK(QStringLiteral("OK"), this) {
    auto* layout = new QVBoxLayout(this);

    auto* style = new QGridLayout();
    style->addWidget(new QLabel(QStringLiteral("Line Step (15)"), this), 0, 0);
    style->addWidget(&m_editStep, 0, 1);
    style->addWidget(new QLabel(QStringLiteral("Line weight (11-3-2)"), this), 1, 0);
    style->addWidget(&m_editWeight, 1, 1);
    style->addWidget(new QLabel(QStringLiteral("Color"), this), 2, 0);
    style->addWidget(&m_btnColor, 2, 1);
    style->addWidget(&m_checkFilled, 3, 0);
    style->addWidget(&m_edit1582, 0, 2);
    style->addWidget(&m_edit1583, 1, 2);
    layout->addLayout(style);

    auto* types = new QGroupBox(QStringLiteral("Line type"), this);
    auto* typeGrid = new QGridLayout(types);
    const std::vector<QRadioButton*> radios = LineTypes();
    for (size_t i = 0; i < radios.size(); ++i) {
        // The six buttons act as one group of the dialog's own: none checked is a state it knows.
        radios[i]->setAutoExclusive(false);
        typeGrid->addWidget(radios[i], int(i / 3), int(i % 3));
    }
    layout->addWidget(types);

    auto* presets = new QGroupBox(QStringLiteral("Presets"), this);
    auto* presetGrid = new QGridLayout(presets);
    const QString none;
    const struct {
        const char* caption;
        COLORREF colour;
        const char* weight;
    } kPresets[] = {
        {"Campo", kv::Rgb(0, 128, 0), "30"},
        {"Main Campo", kv::Rgb(0, 128, 0), "35"},
        {"Green", kv::Rgb(0, 192, 0), "30"},
        {"Main Green", kv::Rgb(0, 192, 0), "35"},
        {"Bunker", kv::Rgb(254, 104, 8), "30"},
        {"Main Bunker", kv::Rgb(254, 104, 8), "35"},
        {"Tee", kv::Rgb(192, 32, 0), "30"},
        {"Main Tee", kv::Rgb(192, 32, 0), "35"},
        {"Water", kv::Rgb(0, 255, 255), "30"},
        {"Main Water", kv::Rgb(0, 255, 255), "35"},
        {"long 2nd meas", kv::Rgb(0, 192, 192), "35"},
        {"arc 2nd meas", kv::Rgb(0, 128, 128), "35"},
        {"White", kv::Rgb(255, 255, 255), nullptr},
        {"Yellow", kv::Rgb(255, 255, 0), nullptr},
        {"Blue", kv::Rgb(0, 0, 255), nullptr},
        {"Red", kv::Rgb(255, 0, 0), nullptr},
        {"Verde", kv::Rgb(0, 255, 0), nullptr},
        {"Orange", kv::Rgb(255, 128, 0), nullptr},
        {"Long poly", kv::Rgb(188, 188, 2), nullptr},
        {"Arc", kv::Rgb(192, 160, 0), nullptr},
    };
    int index = 0;
    for (const auto& preset : kPresets) {
        QPushButton* button = AddPreset(QString::fromLatin1(preset.caption), preset.colour,
                                        preset.weight ? QString::fromLatin1(preset.weight) : none);
        presetGrid->addWidget(button, index / 4, index % 4);
        ++index;
    }
    layout->addWidget(presets);

    auto* buttons = new QHBoxLayout();
    buttons->addStretch();
    buttons->addWidget(&m_btnOK);
    buttons->addWidget(&m_btnDrawAll);
    buttons->addWidget(&m_btnCancel);
    layout->addLayout(buttons);
    m_btnOK.setDefault(true);

    connect(&m_radioDashedPoly, &QRadioButton::clicked, this, [this] {
        ChooseLineType(&m_radioDashedPoly, QStringLiteral("10"), QStringLiteral("8"), kWhite);
    });
    connect(&m_radioDashedSegment, &QRadioButton::clicked, this,
            [this] { ChooseLineType(&m_radioDashedSegment, QString(), QStringLiteral("2"), kWhite); });
    connect(&m_radioContinua, &QRadioButton::clicked, this,
            [this] { ChooseLineType(&m_radioContinua, QString(), QStringLiteral("3"), kWhite); });
    connect(&m_radioArc, &QRadioButton::clicked, this,
            [this] { ChooseLineType(&m_radioArc, QString(), QStringLiteral("35"), kBrown); });
    connect(&m_radioContinuaLunga, &QRadioButton::clicked, this,
            [this] { ChooseLineType(&m_radioContinuaLunga, QString(), QStringLiteral("35"), kBrown); });
    connect(&m_radioCircle, &QRadioButton::clicked, this,
            [this] { ChooseLineType(&m_radioCircle, QString(), QStringLiteral("11"), kBrown); });
    // Only the operator's click records the fill at once; the dialog's own changes of the box
    // leave the recorded fill to the next OK.
    connect(&m_checkFilled, &QCheckBox::clicked, this, [this](bool checked) { m_bFilled = checked ? 1 : 0; });
    connect(&m_btnCancel, &QPushButton::clicked, this, [this] { EndDialog(IDC_CANCEL_DRAWING); });
    connect(&m_btnDrawAll, &QPushButton::clicked, this, [this] { EndDialog(IDC_DRAW_ALL); });
    connect(&m_btnOK, &QPushButton::clicked, this, [this] { OnOK(); });
}

std::vector<QRadioButton*> CDrawPolyOnOrthoDlg::LineTypes() {
    return {&m_radioDashedPoly,    &m_radioDashedSegment, &m_radioContinua,
            &m_radioContinuaLunga, &m_radioArc,           &m_radioCircle};
}

QPushButton* CDrawPolyOnOrthoDlg::AddPreset(const QString& caption, COLORREF colour, const QString& weight) {
    auto* button = new QPushButton(caption, this);
    connect(button, &QPushButton::clicked, this, [this, colour, weight] {
        m_btnColor.SetColor(colour);
        if (!weight.isEmpty()) {
            m_editWeight.setText(weight);
        }
    });
    m_presets.push_back(button);
    return button;
}

void CDrawPolyOnOrthoDlg::CheckLineType(QRadioButton* checked) {
    for (QRadioButton* radio : LineTypes()) {
        radio->setChecked(radio == checked);
    }
}

void CDrawPolyOnOrthoDlg::ChooseLineType(QRadioButton* button, const QString& step, const QString& weight,
                                         COLORREF colour) {
    CheckLineType(button);
    m_editStep.setText(step);
    m_editWeight.setText(weight);
    m_btnColor.SetColor(colour);
    m_checkFilled.setChecked(false);
    m_bFilled = 0;
}

void CDrawPolyOnOrthoDlg::showEvent(QShowEvent* event) {
    // The dialog opens again and again within one drawing: each opening starts from the profile.
    if (m_opened) {
        OnInitDialog();
    }
    m_opened = true;
    KvDialog::showEvent(event);
}

bool CDrawPolyOnOrthoDlg::OnInitDialog() {
    m_editStep.setText(QStringLiteral("10"));
    m_editWeight.setText(QStringLiteral("8"));
    const QString key = QString::fromLatin1(kLineTypeKey);
    const QString type = ZQT_GetUserProfileString(key, key, QStringLiteral("DashedPoly"));
    const struct {
        const char* name;
        QRadioButton* radio;
        const char* step;
        const char* weight;
        COLORREF colour;
    } kStored[] = {
        {"ContinuaLunga", &m_radioContinuaLunga, "", "35", kBrown},
        {"Circle", &m_radioCircle, "", "", kWhite},
        {"DashedPoly", &m_radioDashedPoly, "10", "8", kWhite},
        {"DashedSegment", &m_radioDashedSegment, "", "2", kWhite},
        {"Continua", &m_radioContinua, "", "3", kWhite},
    };
    for (const auto& stored : kStored) {
        if (type == QLatin1String(stored.name)) {
            CheckLineType(stored.radio);
            m_editStep.setText(QString::fromLatin1(stored.step));
            m_editWeight.setText(QString::fromLatin1(stored.weight));
            m_btnColor.SetColor(stored.colour);
            m_checkFilled.setChecked(false);
            return true;
        }
    }
    // Any other stored type ("Arc" among them): no type checked, the colour as it was.
    CheckLineType(nullptr);
    return true;
}

void CDrawPolyOnOrthoDlg::OnOK() {
    const QString step = m_editStep.text();
    const QString weight = m_editWeight.text();
    // A text that is no number (an empty one too) keeps the value of the last OK.
    ZQT_StringToInt(step, &m_nStep);
    ZQT_StringToInt(weight, &m_nWeight);
    m_Color = m_btnColor.GetColor();
    m_bArc = m_radioArc.isChecked();
    m_bDashedPoly = m_radioDashedPoly.isChecked();
    m_bDashedSegment = m_radioDashedSegment.isChecked();
    m_bContinua = m_radioContinua.isChecked();
    m_bContinuaLunga = m_radioContinuaLunga.isChecked();
    m_bFilled = m_checkFilled.isChecked();
    m_bCircle = m_radioCircle.isChecked();

    const char* type = m_bContinuaLunga   ? "ContinuaLunga"
                       : m_bContinua      ? "Continua"
                       : m_bDashedPoly    ? "DashedPoly"
                       : m_bDashedSegment ? "DashedSegment"
                       : m_bArc           ? "Arc"
                       : m_bCircle        ? "Circle"
                                          : nullptr;
    if (type) {
        ZQT_WriteUserProfileString(kLineTypeKey, kLineTypeKey, type);
    }
    ZQT_WriteUserProfileString(QString::fromLatin1(kStepKey), QString::fromLatin1(kStepKey), step);
    ZQT_WriteUserProfileString(QString::fromLatin1(kWeightKey), QString::fromLatin1(kWeightKey), weight);
    ZQT_WriteUserProfileString(
        QString::fromLatin1(kColorSection), QString::fromLatin1(kColorKey),
        QString::asprintf("%d;%d;%d", kv::RedOf(m_Color), kv::GreenOf(m_Color), kv::BlueOf(m_Color)));
    EndDialog(IDOK);
}
