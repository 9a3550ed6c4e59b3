#include "scenario/DialogFields.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QDoubleSpinBox>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QRadioButton>
#include <QSpinBox>
#include <QTableWidget>
#include <QTest>
#include <QTextDocumentFragment>
#include <QTextEdit>

#include <algorithm>
#include <cstdlib>
#include <limits>
#include <set>

#include "controls/GraphCtrl.h"

namespace kvscenario {
namespace {

// How far a field may stand from its label: to the right in the same row, or below it.
constexpr int kRowReach = 400;
constexpr int kBelowReach = 60;
// A label above its field starts about where the field starts; a line of help across the dialog
// labels nothing below it.
constexpr int kBelowIndent = 24;

QRect RectIn(QWidget* widget, QDialog& dialog) {
    return QRect(widget->mapTo(&dialog, QPoint(0, 0)), widget->size());
}

bool SelfLabelled(QWidget* widget) {
    auto* button = qobject_cast<QAbstractButton*>(widget);
    return button && !ShownText(button->text()).isEmpty();
}

// A control that only shows values: it takes no label of the dialog's.
bool ShowsOnly(QWidget* widget) {
    return qobject_cast<CGraphCtrl*>(widget) || qobject_cast<QTableWidget*>(widget);
}

// The controls that take a value.
std::vector<QWidget*> Editable(QDialog& dialog) {
    std::vector<QWidget*> fields;
    for (QWidget* w : dialog.findChildren<QWidget*>()) {
        if (!w->isVisibleTo(&dialog)) {
            continue;
        }
        const bool inner =
            qobject_cast<QAbstractSpinBox*>(w->parentWidget()) || qobject_cast<QComboBox*>(w->parentWidget());
        if ((qobject_cast<QLineEdit*>(w) && !inner) || qobject_cast<QAbstractSpinBox*>(w) ||
            qobject_cast<QComboBox*>(w) || qobject_cast<QPlainTextEdit*>(w) || qobject_cast<QTextEdit*>(w) ||
            qobject_cast<QCheckBox*>(w) || qobject_cast<QRadioButton*>(w) || ShowsOnly(w)) {
            fields.push_back(w);
        }
    }
    return fields;
}

// The field beside the label: in its row to the right, else right below it.
QWidget* FieldOf(QLabel* label, const std::vector<QWidget*>& fields, QDialog& dialog) {
    if (QWidget* buddy = label->buddy();
        buddy && std::find(fields.begin(), fields.end(), buddy) != fields.end()) {
        return buddy;
    }
    const QRect l = RectIn(label, dialog);
    QWidget* best = nullptr;
    int bestScore = std::numeric_limits<int>::max();
    for (QWidget* f : fields) {
        if (SelfLabelled(f) || ShowsOnly(f)) {
            continue;
        }
        const QRect r = RectIn(f, dialog);
        int score = std::numeric_limits<int>::max();
        if (r.center().y() >= l.top() - 2 && r.center().y() <= l.bottom() + 2 && r.left() >= l.center().x() &&
            r.left() - l.right() <= kRowReach) {
            score = r.left() - l.right();
        } else if (r.top() >= l.center().y() && r.top() - l.bottom() <= kBelowReach &&
                   std::abs(r.left() - l.left()) <= kBelowIndent) {
            score = kRowReach + r.top() - l.bottom();
        }
        if (score < bestScore) {
            bestScore = score;
            best = f;
        }
    }
    return best;
}

bool ParseBool(const QString& text, bool* value) {
    const QString t = text.trimmed().toLower();
    if (t == QLatin1String("true") || t == QLatin1String("yes") || t == QLatin1String("on") ||
        t == QLatin1String("1")) {
        *value = true;
        return true;
    }
    if (t == QLatin1String("false") || t == QLatin1String("no") || t == QLatin1String("off") ||
        t == QLatin1String("0")) {
        *value = false;
        return true;
    }
    return false;
}

}  // namespace

QString ShownText(const QString& text) {
    QString t = Qt::mightBeRichText(text) ? QTextDocumentFragment::fromHtml(text).toPlainText() : text;
    QString plain;
    for (int i = 0; i < t.size(); ++i) {
        if (t[i] == '&' && i + 1 < t.size()) {
            ++i;  // "&&" is one '&', "&x" a mnemonic
        }
        plain += t[i];
    }
    return plain.simplified();
}

std::vector<DialogField> DialogFields(QDialog& dialog) {
    const std::vector<QWidget*> fields = Editable(dialog);
    std::vector<DialogField> result;
    std::set<QWidget*> claimed;
    for (QLabel* label : dialog.findChildren<QLabel*>()) {
        const QString text = ShownText(label->text());
        if (text.isEmpty() || !label->isVisibleTo(&dialog)) {
            continue;
        }
        if (QWidget* field = FieldOf(label, fields, dialog)) {
            result.push_back({field, text});
            claimed.insert(field);
        }
    }
    // A group of radio buttons answers to its title too, with the caption of the one to choose.
    for (QGroupBox* group : dialog.findChildren<QGroupBox*>()) {
        if (group->isVisibleTo(&dialog) && !ShownText(group->title()).isEmpty() &&
            !group->findChildren<QRadioButton*>().isEmpty()) {
            result.push_back({group, ShownText(group->title())});
        }
    }
    // A group that holds one field with no label of its own answers to its title.
    for (QGroupBox* group : dialog.findChildren<QGroupBox*>()) {
        if (!group->isVisibleTo(&dialog) || ShownText(group->title()).isEmpty()) {
            continue;
        }
        std::vector<QWidget*> inside;
        for (QWidget* f : fields) {
            if (group->isAncestorOf(f) && !SelfLabelled(f) && !ShowsOnly(f)) {
                inside.push_back(f);
            }
        }
        if (inside.size() == 1 && !claimed.count(inside[0])) {
            result.push_back({inside[0], ShownText(group->title())});
            claimed.insert(inside[0]);
        }
    }
    for (QWidget* f : fields) {
        if (SelfLabelled(f)) {
            result.push_back({f, ShownText(qobject_cast<QAbstractButton*>(f)->text())});
        } else if (!claimed.count(f)) {
            result.push_back({f, ShownText(dialog.windowTitle())});
        }
    }
    std::stable_sort(result.begin(), result.end(), [&dialog](const DialogField& a, const DialogField& b) {
        const QRect ra = RectIn(a.widget, dialog), rb = RectIn(b.widget, dialog);
        return ra.top() != rb.top() ? ra.top() < rb.top() : ra.left() < rb.left();
    });
    return result;
}

const DialogField* FindDialogField(const std::vector<DialogField>& fields, const QRegularExpression& label,
                                   int index, int* matches) {
    std::vector<const DialogField*> whole, part;
    for (const DialogField& f : fields) {
        const QRegularExpressionMatch match = label.match(f.label);
        if (f.label.isEmpty() || !match.hasMatch()) {
            continue;
        }
        part.push_back(&f);
        if (match.capturedStart() == 0 && match.capturedLength() == f.label.size()) {
            whole.push_back(&f);
        }
    }
    const std::vector<const DialogField*>& found = whole.empty() ? part : whole;
    *matches = int(found.size());
    if (index > 0) {
        return index <= int(found.size()) ? found[size_t(index - 1)] : nullptr;
    }
    return found.size() == 1 ? found.front() : nullptr;
}

QString ShownValue(QWidget* field) {
    if (auto* box = qobject_cast<QAbstractButton*>(field); box && box->isCheckable()) {
        return box->isChecked() ? QStringLiteral("true") : QStringLiteral("false");
    }
    if (auto* group = qobject_cast<QGroupBox*>(field)) {
        for (QRadioButton* radio : group->findChildren<QRadioButton*>()) {
            if (radio->isChecked()) {
                return ShownText(radio->text());
            }
        }
        return QString();
    }
    if (auto* combo = qobject_cast<QComboBox*>(field)) {
        return combo->currentText();
    }
    if (auto* spin = qobject_cast<QAbstractSpinBox*>(field)) {
        return spin->text();
    }
    if (auto* edit = qobject_cast<QLineEdit*>(field)) {
        return edit->text();
    }
    if (auto* text = qobject_cast<QPlainTextEdit*>(field)) {
        return text->toPlainText();
    }
    if (auto* text = qobject_cast<QTextEdit*>(field)) {
        return text->toPlainText();
    }
    QStringList parts;
    if (auto* graph = qobject_cast<CGraphCtrl*>(field)) {
        for (const BAR_DATA& bar : graph->Bars()) {
            parts << bar.label;
        }
    } else if (auto* table = qobject_cast<QTableWidget*>(field)) {
        for (int c = 0; c < table->columnCount(); ++c) {
            const QTableWidgetItem* heading = table->horizontalHeaderItem(c);
            parts << (heading ? heading->text() : QString());
        }
    }
    return parts.join(QLatin1String("; "));
}

QString SetDialogField(QWidget* field, const QString& value, QString* shown) {
    if (!field->isEnabled()) {
        return QStringLiteral("the field is disabled");
    }
    if (auto* box = qobject_cast<QCheckBox*>(field)) {
        bool on = false;
        if (!ParseBool(value, &on)) {
            return QStringLiteral("a check box takes true or false, not \"%1\"").arg(value);
        }
        if (box->isChecked() != on) {
            box->click();
        }
        *shown = box->isChecked() ? QStringLiteral("true") : QStringLiteral("false");
        return QString();
    }
    if (auto* radio = qobject_cast<QRadioButton*>(field)) {
        bool on = false;
        if (!ParseBool(value, &on) || !on) {
            return QStringLiteral("a radio button is chosen with true");
        }
        if (!radio->isChecked()) {
            radio->click();
        }
        *shown = QStringLiteral("true");
        return QString();
    }
    if (auto* group = qobject_cast<QGroupBox*>(field)) {
        QStringList captions;
        for (QRadioButton* radio : group->findChildren<QRadioButton*>()) {
            captions << ShownText(radio->text());
            if (captions.last().compare(ShownText(value), Qt::CaseInsensitive) == 0) {
                return SetDialogField(radio, QStringLiteral("true"), shown);
            }
        }
        return QStringLiteral("the group has no choice \"%1\" (choices: %2)")
            .arg(value, captions.join(QStringLiteral(", ")));
    }
    if (auto* combo = qobject_cast<QComboBox*>(field)) {
        QStringList items;
        for (int i = 0; i < combo->count(); ++i) {
            items << combo->itemText(i);
            if (ShownText(combo->itemText(i)).compare(ShownText(value), Qt::CaseInsensitive) == 0) {
                combo->setCurrentIndex(i);
                emit combo->activated(i);
                emit combo->textActivated(combo->itemText(i));
                *shown = combo->itemText(i);
                return QString();
            }
        }
        if (combo->isEditable()) {
            combo->setEditText(value);
            *shown = combo->currentText();
            return QString();
        }
        return QStringLiteral("the list has no item \"%1\" (items: %2)")
            .arg(value, items.join(QStringLiteral(", ")));
    }
    if (auto* spin = qobject_cast<QSpinBox*>(field)) {
        bool ok = false;
        const int v = value.trimmed().toInt(&ok);
        if (!ok || v < spin->minimum() || v > spin->maximum()) {
            return QStringLiteral("\"%1\" is no whole number from %2 to %3")
                .arg(value)
                .arg(spin->minimum())
                .arg(spin->maximum());
        }
        spin->setValue(v);
        *shown = spin->text();
        return QString();
    }
    if (auto* spin = qobject_cast<QDoubleSpinBox*>(field)) {
        bool ok = false;
        const double v = value.trimmed().toDouble(&ok);
        if (!ok || v < spin->minimum() || v > spin->maximum()) {
            return QStringLiteral("\"%1\" is no number from %2 to %3")
                .arg(value)
                .arg(spin->minimum())
                .arg(spin->maximum());
        }
        spin->setValue(v);
        *shown = spin->text();
        return QString();
    }
    if (auto* edit = qobject_cast<QLineEdit*>(field)) {
        if (edit->isReadOnly()) {
            return QStringLiteral("the field is read-only");
        }
        // Typed, so that the field's checks and the dialog's reactions run as for the operator.
        edit->selectAll();
        QTest::keyClick(edit, Qt::Key_Delete);
        QTest::keyClicks(edit, value);
        *shown = edit->text();
        if (edit->text() != value) {
            return QStringLiteral("the field took \"%1\" of \"%2\"").arg(edit->text(), value);
        }
        return QString();
    }
    if (auto* text = qobject_cast<QPlainTextEdit*>(field)) {
        text->setPlainText(value);
        *shown = value;
        return QString();
    }
    if (auto* text = qobject_cast<QTextEdit*>(field)) {
        text->setPlainText(value);
        *shown = value;
        return QString();
    }
    return QStringLiteral("the field takes no value");
}

QString PressDialogButton(QDialog& dialog, const QString& caption, int index) {
    QStringList captions;
    int found = 0;
    for (QAbstractButton* button : dialog.findChildren<QAbstractButton*>()) {
        if (!button->isVisibleTo(&dialog) || qobject_cast<QCheckBox*>(button)) {
            continue;
        }
        // A button that shows only an icon is known by its tooltip.
        QString text = ShownText(button->text());
        if (text.isEmpty()) {
            text = ShownText(button->toolTip());
        }
        // A button whose caption another one shares is named by its control id.
        if (text.compare(ShownText(caption), Qt::CaseInsensitive) != 0 && button->objectName() != caption) {
            if (!text.isEmpty()) {
                captions << text;
            }
            continue;
        }
        if (++found < std::max(index, 1)) {
            continue;
        }
        if (!button->isEnabled()) {
            return QStringLiteral("the button \"%1\" is disabled").arg(text);
        }
        button->click();
        return QString();
    }
    if (found > 0) {
        return QStringLiteral("%1 buttons \"%2\"").arg(found).arg(caption);
    }
    return QStringLiteral("no button \"%1\" (buttons: %2)").arg(caption, captions.join(QStringLiteral(", ")));
}

}  // namespace kvscenario
