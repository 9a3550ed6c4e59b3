// A dialog read as the operator reads it: its fields by the text of their labels, its buttons by
// their captions. The dialogs lay their controls out by hand or with layouts, so a label is tied
// to its field by where they stand.
#pragma once

#include <QString>
#include <QStringList>

#include <vector>

class QDialog;
class QWidget;

namespace kvscenario {

struct DialogField {
    QWidget* widget = nullptr;
    QString label;
};

// The fields in reading order. A field is labelled by its label's buddy, else by the label on
// its left in the same row or right above it; check boxes and radio buttons by their own caption;
// a field no label claims by the dialog's title; a group of radio buttons by the group's title.
std::vector<DialogField> DialogFields(QDialog& dialog);

// Text as the operator reads it: without mnemonics, markup and doubled blanks.
QString ShownText(const QString& text);

// Gives the field the value as the operator would: typed text, a number, an item of a list by
// its text, true or false for a check box, true for a radio button, the caption of one of the
// radio buttons of a group. Empty when done; otherwise
// what went wrong. shown receives the value the field shows afterwards.
QString SetDialogField(QWidget* field, const QString& value, QString* shown);

// Clicks the button with that caption. Empty when done; otherwise what went wrong.
QString PressDialogButton(QDialog& dialog, const QString& caption);

}  // namespace kvscenario
