// The scenario language: one step a line, read and checked as a whole before the program starts,
// so that a script the runner does not understand never half runs.
#pragma once

#include <QHash>
#include <QRegularExpression>
#include <QString>
#include <QStringList>

#include <functional>
#include <map>
#include <vector>

namespace kvscenario {

enum class StepKind {
    New,
    Open,
    Save,
    Close,
    Copy,
    Truncate,
    AddDem,
    AddOrtho,
    AddMap,
    Button,
    Command,
    Type,
    Enter,
    Escape,
    Pick,
    RightClick,
    SelectEntity,
    Dialog,
    Message,
    File,
    CancelFile,
    Expect,
    ExpectFile,
    ExpectNoFile,
    ExpectSame,
    ExpectLayers,
    ExpectCell,
    ExpectEntities,
    ExpectText,
    WaitIdle,
    View,
    Pan,
};

// A "set LABEL = VALUE", "expect LABEL = REGEX" or "press CAPTION" line under a dialog step.
struct DialogLine {
    enum Kind { Set, Expect, Press };
    int line = 0;
    Kind kind = Set;
    QString label;  // the label expression of a set or expect line, the caption of a press line
    QRegularExpression labelExpression;
    // "#N" after the label or caption: the N-th of the fields or buttons it names (0: not given).
    int index = 0;
    QString value;  // what a set line types, the expression an expect line matches
    QRegularExpression valueExpression;
};

struct Step {
    int line = 0;
    StepKind kind = StepKind::New;
    // The line as written (without its indentation), for the transcript and the diagnoses.
    QString source;
    // The text argument (command, typed text, caption, dialog title, message answer, DEM or
    // layer name) or the first path, expanded and made absolute.
    QString text;
    QString path2;  // copy's destination, the file expect-same compares with
    QRegularExpression expression;
    bool hasPoint = false;
    double x = 0.0, y = 0.0;
    int keyFlags = 0;
    double value = 0.0, tolerance = 0.0;
    int count = 0;
    // select-entity: the entity id, or 0 for the last entity of the drawing.
    int entityId = 0;
    // button: the command id; message: the answer id.
    int id = 0;
    // view: the plan view's size in window pixels; pan: the move of one frame.
    int width = 0, height = 0;
    int dx = 0, dy = 0;
    // expect-layers: the counts asked for, by kind ("dem", "ortho", "map").
    std::map<QString, int> layers;
    std::vector<DialogLine> dialogLines;
};

// What a script's names and paths are resolved against.
struct ScriptContext {
    // Relative paths are taken from the working folder; ${SCRIPT_DIR} and ${WORK} name the two
    // folders, any other ${NAME} the environment variable (${NAME:-DEFAULT} with a default).
    QString scriptDir;
    QString workDir;
    std::function<QString(const QString& name, bool* found)> environment;
    // The command ids of the ribbon's buttons and menu items by caption (lower case, without
    // '&'); a caption may name more than one command.
    QHash<QString, QList<int>> ribbonCaptions;
    QList<int> ribbonIds;
};

struct ScriptError {
    int line = 0;
    QString message;
};

// Reads the script. False with the first fault (its line and what is wrong) when the script
// cannot run.
bool ParseScript(const QString& text, const ScriptContext& context, std::vector<Step>* steps,
                 ScriptError* error);

}  // namespace kvscenario
