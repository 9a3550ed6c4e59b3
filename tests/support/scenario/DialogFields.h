// A dialog read as the operator reads it: its fields by the text of their labels, its buttons by
// their captions. The dialogs lay their controls out by hand or with layouts, so a label is tied
// to its field by where they stand.
#pragma once

#include <QRegularExpression>
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
// a field no label claims by the title of a group box it stands in alone, else by the dialog's
// title; a group of radio buttons by the group's title. Controls that only show values (a bar
// graph, a table's column headings) claim no label.
std::vector<DialogField> DialogFields(QDialog& dialog);

// The field that the label expression names: the one whose whole label it matches, else the one
// whose label it matches in part; index (from 1, 0 when not given) picks one of several. An
// empty label is matched by nothing. Null when no field or more than one answers; *matches
// receives how many did.
const DialogField* FindDialogField(const std::vector<DialogField>& fields, const QRegularExpression& label,
                                   int index, int* matches);

// Text as the operator reads it: without mnemonics, markup and doubled blanks.
QString ShownText(const QString& text);

// What the field shows: its text, the chosen item, true or false for a check box or radio
// button, the chosen caption of a group, the labels of a graph's bars or a table's column
// headings joined by "; ".
QString ShownValue(QWidget* field);

// Gives the field the value as the operator would: typed text, a number, an item of a list by
// its text, true or false for a check box, true for a radio button, the caption of one of the
// radio buttons of a group. Empty when done; otherwise
// what went wrong. shown receives the value the field shows afterwards.
QString SetDialogField(QWidget* field, const QString& value, QString* shown);

// Clicks the button (a push or a radio button) with that caption, or the tooltip of a button
// that shows only an icon, or that control id; index (from 1, 0 for the first) picks one of
// several that share it. Empty when done; otherwise what went wrong.
QString PressDialogButton(QDialog& dialog, const QString& caption, int index);

}  // namespace kvscenario
