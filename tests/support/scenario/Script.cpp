#include "scenario/Script.h"

#include <QDir>
#include <QFileInfo>

#include <cmath>
#include <set>

#include "platform/cad/Cad.h"
#include "platform/ui/CommandIds.h"
#include "platform/ui/Interaction.h"

namespace kvscenario {
namespace {

// How a step takes its arguments.
enum class Args {
    None,     // nothing
    Text,     // the rest of the line, required
    Path,     // the rest of the line, a path, required
    OptPath,  // the rest of the line, a path, optional
    Tokens,   // blank-separated tokens, checked by the step
};

struct Verb {
    const char* name;
    StepKind kind;
    Args args;
    const char* usage;
};

const Verb kVerbs[] = {
    {"new", StepKind::New, Args::None, "new"},
    {"open", StepKind::Open, Args::Path, "open PATH"},
    {"save", StepKind::Save, Args::OptPath, "save [PATH]"},
    {"close", StepKind::Close, Args::None, "close"},
    {"copy", StepKind::Copy, Args::Tokens, "copy SOURCE [TARGET]"},
    {"truncate", StepKind::Truncate, Args::Tokens, "truncate PATH PERCENT"},
    {"add-dem", StepKind::AddDem, Args::Path, "add-dem PATH"},
    {"add-ortho", StepKind::AddOrtho, Args::Path, "add-ortho PATH"},
    {"add-map", StepKind::AddMap, Args::Path, "add-map PATH"},
    {"button", StepKind::Button, Args::Text, "button ID-OR-CAPTION"},
    {"command", StepKind::Command, Args::Text, "command TEXT"},
    {"type", StepKind::Type, Args::Text, "type TEXT"},
    {"enter", StepKind::Enter, Args::None, "enter"},
    {"escape", StepKind::Escape, Args::None, "escape"},
    {"pick", StepKind::Pick, Args::Tokens, "pick X Y [shift] [ctrl]"},
    {"right-click", StepKind::RightClick, Args::Tokens, "right-click [X Y]"},
    {"select-entity", StepKind::SelectEntity, Args::Tokens, "select-entity ID|last"},
    {"dialog", StepKind::Dialog, Args::Text, "dialog TITLE-REGEX"},
    {"message", StepKind::Message, Args::Text, "message OK|Cancel|Yes|No|Retry|Abort|Ignore"},
    {"file", StepKind::File, Args::Path, "file PATH"},
    {"cancel-file", StepKind::CancelFile, Args::None, "cancel-file"},
    {"expect", StepKind::Expect, Args::Text, "expect REGEX"},
    {"expect-file", StepKind::ExpectFile, Args::Path, "expect-file PATH"},
    {"expect-no-file", StepKind::ExpectNoFile, Args::Path, "expect-no-file PATH"},
    {"expect-same", StepKind::ExpectSame, Args::Tokens, "expect-same PATH OTHER"},
    {"expect-layers", StepKind::ExpectLayers, Args::Tokens, "expect-layers [dem=N] [ortho=N] [map=N]"},
    {"expect-cell", StepKind::ExpectCell, Args::Tokens, "expect-cell DEM-NAME X Y VALUE [TOLERANCE]"},
    {"expect-entities", StepKind::ExpectEntities, Args::Tokens, "expect-entities LAYER-REGEX COUNT"},
    {"expect-text", StepKind::ExpectText, Args::Tokens, "expect-text PATH REGEX"},
    {"wait-idle", StepKind::WaitIdle, Args::None, "wait-idle"},
    {"view", StepKind::View, Args::Tokens, "view X Y PIXELS-PER-UNIT WIDTH HEIGHT"},
    {"pan", StepKind::Pan, Args::Tokens, "pan DX DY COUNT [PICTURE]"},
};

const Verb* FindVerb(const QString& name) {
    for (const Verb& v : kVerbs) {
        if (name == QLatin1String(v.name)) {
            return &v;
        }
    }
    return nullptr;
}

class Reader {
public:
    Reader(const ScriptContext& context, ScriptError* error) : m_context(context), m_error(error) {}

    bool Fail(int line, const QString& message) {
        m_error->line = line;
        m_error->message = message;
        return false;
    }

    // Splits at blanks; a double-quoted token may hold blanks.
    bool Tokenize(int line, const QString& text, QStringList* tokens) {
        QString token;
        bool inToken = false;
        bool quoted = false;
        for (QChar c : text) {
            if (quoted) {
                if (c == '"') {
                    quoted = false;
                } else {
                    token += c;
                }
            } else if (c == '"') {
                quoted = true;
                inToken = true;
            } else if (c.isSpace()) {
                if (inToken) {
                    *tokens << token;
                    token.clear();
                    inToken = false;
                }
            } else {
                token += c;
                inToken = true;
            }
        }
        if (quoted) {
            return Fail(line, QStringLiteral("a double quote is not closed"));
        }
        if (inToken) {
            *tokens << token;
        }
        return true;
    }

    // The rest of a line as one argument: without its surrounding quotes when it is one quoted
    // token.
    bool Rest(int line, const QString& rest, QString* out) {
        const QString trimmed = rest.trimmed();
        if (trimmed.startsWith('"')) {
            QStringList tokens;
            if (!Tokenize(line, trimmed, &tokens)) {
                return false;
            }
            if (tokens.size() == 1 && trimmed.endsWith('"')) {
                *out = tokens[0];
                return true;
            }
        }
        *out = trimmed;
        return true;
    }

    // Replaces ${NAME} and ${NAME:-DEFAULT}; the default may hold references of its own.
    bool Expand(int line, const QString& text, QString* out) {
        QString result;
        for (int i = 0; i < text.size();) {
            if (!text.mid(i).startsWith(QLatin1String("${"))) {
                result += text[i++];
                continue;
            }
            int depth = 0;
            int end = -1;
            for (int k = i; k < text.size(); ++k) {
                if (text.mid(k).startsWith(QLatin1String("${"))) {
                    ++depth;
                    ++k;
                } else if (text[k] == '}' && --depth == 0) {
                    end = k;
                    break;
                }
            }
            if (end < 0) {
                return Fail(line, QStringLiteral("\"${\" is not closed"));
            }
            const QString inner = text.mid(i + 2, end - i - 2);
            const int split = inner.indexOf(QLatin1String(":-"));
            const QString name = split < 0 ? inner : inner.left(split);
            QString value;
            if (!Lookup(name, &value)) {
                if (split < 0) {
                    return Fail(line, QStringLiteral("${%1} is not set").arg(name));
                }
                if (!Expand(line, inner.mid(split + 2), &value)) {
                    return false;
                }
            }
            result += value;
            i = end + 1;
        }
        *out = result;
        return true;
    }

    bool Lookup(const QString& name, QString* value) {
        if (name == QLatin1String("SCRIPT_DIR")) {
            *value = m_context.scriptDir;
            return true;
        }
        if (name == QLatin1String("WORK")) {
            *value = m_context.workDir;
            return true;
        }
        bool found = false;
        if (m_context.environment) {
            *value = m_context.environment(name, &found);
        }
        return found;
    }

    QString Absolute(const QString& path) const {
        return QDir::cleanPath(QDir(m_context.workDir).absoluteFilePath(path));
    }

    bool Number(int line, const QString& text, double* value) {
        bool ok = false;
        *value = text.toDouble(&ok);
        if (!ok || !std::isfinite(*value)) {
            return Fail(line, QStringLiteral("\"%1\" is not a number").arg(text));
        }
        return true;
    }

    bool Count(int line, const QString& text, int* value) {
        bool ok = false;
        *value = text.toInt(&ok);
        if (!ok || *value < 0) {
            return Fail(line, QStringLiteral("\"%1\" is not a count").arg(text));
        }
        return true;
    }

    bool Expression(int line, const QString& text, QRegularExpression::PatternOptions options,
                    QRegularExpression* out) {
        QRegularExpression e(text, options);
        if (!e.isValid()) {
            return Fail(line,
                        QStringLiteral("\"%1\" is no regular expression: %2").arg(text, e.errorString()));
        }
        *out = e;
        return true;
    }

    bool Button(Step& step) {
        const QString& text = step.text;
        if (text.startsWith(QLatin1String("ID_")) || (!text.isEmpty() && text[0].isDigit())) {
            const int id = kv::CommandIdFromName(text);
            if (id == 0 || !m_context.ribbonIds.contains(id)) {
                return Fail(step.line, QStringLiteral("the ribbon has no button %1").arg(text));
            }
            step.id = id;
            return true;
        }
        QString caption = text;
        caption.remove('&');
        const QList<int> ids = m_context.ribbonCaptions.value(caption.simplified().toLower());
        const std::set<int> distinct(ids.begin(), ids.end());
        if (distinct.empty()) {
            return Fail(step.line, QStringLiteral("the ribbon has no button \"%1\"").arg(text));
        }
        if (distinct.size() > 1) {
            QStringList names;
            for (int id : distinct) {
                names << kv::CommandNameFromId(id);
            }
            return Fail(step.line, QStringLiteral("\"%1\" names %2 buttons (%3): use the id")
                                       .arg(text)
                                       .arg(distinct.size())
                                       .arg(names.join(QStringLiteral(", "))));
        }
        step.id = *distinct.begin();
        return true;
    }

    bool Tokens(Step& step, const QStringList& tokens) {
        const int line = step.line;
        auto needs = [&](int low, int high) { return tokens.size() >= low && tokens.size() <= high; };
        switch (step.kind) {
            case StepKind::Copy:
                if (!needs(1, 2)) {
                    return false;
                }
                step.text = Absolute(tokens[0]);
                step.path2 =
                    tokens.size() > 1 ? Absolute(tokens[1]) : Absolute(QFileInfo(tokens[0]).fileName());
                return true;
            case StepKind::Truncate: {
                if (!needs(2, 2)) {
                    return false;
                }
                step.text = Absolute(tokens[0]);
                // Only a file of the working folder may be damaged: never the data it was copied from.
                const QString work = QDir::cleanPath(m_context.workDir) + QLatin1Char('/');
                if (!step.text.startsWith(work)) {
                    return Fail(line, QStringLiteral("%1 lies outside the working folder").arg(tokens[0]));
                }
                if (!Number(line, tokens[1], &step.value) || step.value < 0.0 || step.value > 100.0) {
                    return Fail(line, QStringLiteral("\"%1\" is no percentage (0 to 100)").arg(tokens[1]));
                }
                return true;
            }
            case StepKind::ExpectSame:
                if (!needs(2, 2)) {
                    return false;
                }
                step.text = Absolute(tokens[0]);
                step.path2 = Absolute(tokens[1]);
                return true;
            case StepKind::Pick:
                if (tokens.size() < 2) {
                    return false;
                }
                if (!Number(line, tokens[0], &step.x) || !Number(line, tokens[1], &step.y)) {
                    return false;
                }
                step.hasPoint = true;
                step.keyFlags = CAD_KEY_LBUTTON;
                for (int i = 2; i < tokens.size(); ++i) {
                    const QString flag = tokens[i].toLower();
                    if (flag == QLatin1String("shift")) {
                        step.keyFlags |= CAD_KEY_SHIFT;
                    } else if (flag == QLatin1String("ctrl")) {
                        step.keyFlags |= CAD_KEY_CONTROL;
                    } else {
                        return Fail(line, QStringLiteral("\"%1\" is no key (shift or ctrl)").arg(tokens[i]));
                    }
                }
                return true;
            case StepKind::RightClick:
                if (tokens.isEmpty()) {
                    return true;
                }
                if (tokens.size() != 2) {
                    return false;
                }
                step.hasPoint = true;
                return Number(line, tokens[0], &step.x) && Number(line, tokens[1], &step.y);
            case StepKind::SelectEntity: {
                if (!needs(1, 1)) {
                    return false;
                }
                if (tokens[0].compare(QLatin1String("last"), Qt::CaseInsensitive) == 0) {
                    step.entityId = 0;
                    return true;
                }
                bool ok = false;
                step.entityId = tokens[0].toInt(&ok);
                if (!ok || step.entityId <= 0) {
                    return Fail(line,
                                QStringLiteral("\"%1\" is no entity id (a number or last)").arg(tokens[0]));
                }
                return true;
            }
            case StepKind::ExpectLayers:
                if (tokens.isEmpty()) {
                    return false;
                }
                for (const QString& token : tokens) {
                    const int eq = token.indexOf('=');
                    const QString kind = token.left(eq).toLower();
                    if (eq < 0 || (kind != QLatin1String("dem") && kind != QLatin1String("ortho") &&
                                   kind != QLatin1String("map"))) {
                        return Fail(line, QStringLiteral("\"%1\" is not dem=N, ortho=N or map=N").arg(token));
                    }
                    int count = 0;
                    if (!Count(line, token.mid(eq + 1), &count)) {
                        return false;
                    }
                    step.layers[kind] = count;
                }
                return true;
            case StepKind::ExpectCell:
                if (!needs(4, 5)) {
                    return false;
                }
                step.text = tokens[0].toLower();
                step.hasPoint = true;
                step.tolerance = 0.001;
                return Number(line, tokens[1], &step.x) && Number(line, tokens[2], &step.y) &&
                       Number(line, tokens[3], &step.value) &&
                       (tokens.size() < 5 || Number(line, tokens[4], &step.tolerance));
            case StepKind::ExpectEntities:
                if (!needs(2, 2)) {
                    return false;
                }
                step.text = tokens[0];
                return Expression(line, QRegularExpression::anchoredPattern(tokens[0]),
                                  QRegularExpression::CaseInsensitiveOption, &step.expression) &&
                       Count(line, tokens[1], &step.count);
            case StepKind::View: {
                if (!needs(5, 5) || !Number(line, tokens[0], &step.x) || !Number(line, tokens[1], &step.y) ||
                    !Number(line, tokens[2], &step.value) || !Count(line, tokens[3], &step.width) ||
                    !Count(line, tokens[4], &step.height)) {
                    return false;
                }
                step.hasPoint = true;
                if (step.value <= 0.0 || step.width == 0 || step.height == 0) {
                    return Fail(line, QStringLiteral("a view needs a scale and a size above 0"));
                }
                return true;
            }
            case StepKind::Pan: {
                double dx = 0.0, dy = 0.0;
                if (!needs(3, 4) || !Number(line, tokens[0], &dx) || !Number(line, tokens[1], &dy) ||
                    !Count(line, tokens[2], &step.count)) {
                    return false;
                }
                step.dx = int(dx);
                step.dy = int(dy);
                if (step.dx != dx || step.dy != dy || step.count == 0) {
                    return Fail(line, QStringLiteral("a pan moves by whole pixels, at least once"));
                }
                step.text = tokens.size() > 3 ? Absolute(tokens[3]) : QString();
                return true;
            }
            case StepKind::ExpectText:
                if (!needs(2, 2)) {
                    return false;
                }
                step.text = Absolute(tokens[0]);
                return Expression(line, tokens[1], QRegularExpression::NoPatternOption, &step.expression);
            default:
                return false;
        }
    }

    bool Message(Step& step) {
        static const std::pair<const char*, int> kAnswers[] = {
            {"ok", IDOK},       {"cancel", IDCANCEL}, {"yes", IDYES},      {"no", IDNO},
            {"retry", IDRETRY}, {"abort", IDABORT},   {"ignore", IDIGNORE}};
        for (const auto& [name, id] : kAnswers) {
            if (step.text.toLower() == QLatin1String(name)) {
                step.id = id;
                return true;
            }
        }
        return Fail(step.line, QStringLiteral("\"%1\" is no message box button").arg(step.text));
    }

    // Takes a trailing " #N" off a label or caption.
    bool Index(int line, QString* label, int* index) {
        static const QRegularExpression kIndex(QStringLiteral("^(.*\\S)\\s+#(\\d+)$"));
        const QRegularExpressionMatch match = kIndex.match(*label);
        if (!match.hasMatch()) {
            return true;
        }
        *index = match.captured(2).toInt();
        if (*index < 1) {
            return Fail(line, QStringLiteral("\"#%1\" counts from 1").arg(match.captured(2)));
        }
        *label = match.captured(1);
        return true;
    }

    bool DialogLineOf(int line, const QString& body, DialogLine* out) {
        out->line = line;
        const QString word = body.section(QRegularExpression(QStringLiteral("\\s+")), 0, 0);
        const QString rest = body.mid(word.size());
        if (word == QLatin1String("press")) {
            out->kind = DialogLine::Press;
            if (!Rest(line, rest, &out->label) || !Expand(line, out->label, &out->label) ||
                !Index(line, &out->label, &out->index)) {
                return false;
            }
            if (out->label.isEmpty()) {
                return Fail(line, QStringLiteral("press needs a CAPTION"));
            }
            return true;
        }
        if (word != QLatin1String("set") && word != QLatin1String("expect")) {
            return Fail(
                line, QStringLiteral("only set, expect and press lines belong under a dialog (found \"%1\")")
                          .arg(word));
        }
        out->kind = word == QLatin1String("set") ? DialogLine::Set : DialogLine::Expect;
        int eq = rest.indexOf(QLatin1String(" = "));
        int width = 3;
        if (eq < 0) {
            eq = rest.indexOf('=');
            width = 1;
        }
        const QString usage =
            QStringLiteral("%1 needs LABEL = %2")
                .arg(word, out->kind == DialogLine::Set ? QStringLiteral("VALUE") : QStringLiteral("REGEX"));
        if (eq < 0) {
            return Fail(line, usage);
        }
        if (!Rest(line, rest.left(eq), &out->label) || !Rest(line, rest.mid(eq + width), &out->value) ||
            !Expand(line, out->label, &out->label) || !Expand(line, out->value, &out->value) ||
            !Index(line, &out->label, &out->index)) {
            return false;
        }
        if (out->label.isEmpty()) {
            return Fail(line, usage);
        }
        if (out->kind == DialogLine::Expect &&
            !Expression(line, out->value, QRegularExpression::NoPatternOption, &out->valueExpression)) {
            return false;
        }
        return Expression(line, out->label, QRegularExpression::CaseInsensitiveOption, &out->labelExpression);
    }

    bool StepOf(int line, const QString& body, Step* step) {
        step->line = line;
        step->source = body;
        const QString name = body.section(QRegularExpression(QStringLiteral("\\s+")), 0, 0);
        const Verb* verb = FindVerb(name);
        if (!verb) {
            return Fail(line, QStringLiteral("unknown step \"%1\"").arg(name));
        }
        step->kind = verb->kind;
        const QString rest = body.mid(name.size());
        const QString usage = QStringLiteral("usage: %1").arg(QLatin1String(verb->usage));
        switch (verb->args) {
            case Args::None:
                if (!rest.trimmed().isEmpty()) {
                    return Fail(line, QStringLiteral("%1 takes no argument").arg(name));
                }
                break;
            case Args::Text:
            case Args::Path:
            case Args::OptPath:
                if (!Rest(line, rest, &step->text) || !Expand(line, step->text, &step->text)) {
                    return false;
                }
                if (step->text.isEmpty() && verb->args != Args::OptPath) {
                    return Fail(line, QStringLiteral("missing argument; %1").arg(usage));
                }
                if (verb->args != Args::Text && !step->text.isEmpty()) {
                    step->text = Absolute(step->text);
                }
                break;
            case Args::Tokens: {
                QStringList tokens;
                if (!Tokenize(line, rest, &tokens)) {
                    return false;
                }
                for (QString& token : tokens) {
                    if (!Expand(line, token, &token)) {
                        return false;
                    }
                }
                // A step that fails without saying why was given the wrong number of arguments.
                if (!Tokens(*step, tokens)) {
                    return m_error->line != 0
                               ? false
                               : Fail(line, QStringLiteral("wrong number of arguments; %1").arg(usage));
                }
                break;
            }
        }
        switch (step->kind) {
            case StepKind::Button:
                return Button(*step);
            case StepKind::Message:
                return Message(*step);
            case StepKind::Dialog:
                return Expression(line, step->text, QRegularExpression::CaseInsensitiveOption,
                                  &step->expression);
            case StepKind::Expect:
                return Expression(line, step->text, QRegularExpression::NoPatternOption, &step->expression);
            default:
                return true;
        }
    }

private:
    const ScriptContext& m_context;
    ScriptError* m_error;
};

}  // namespace

bool ParseScript(const QString& text, const ScriptContext& context, std::vector<Step>* steps,
                 ScriptError* error) {
    *error = ScriptError();
    Reader reader(context, error);
    const QStringList lines = text.split('\n');
    Step* dialog = nullptr;
    for (int i = 0; i < lines.size(); ++i) {
        const int number = i + 1;
        QString line = lines[i];
        if (line.endsWith('\r')) {
            line.chop(1);
        }
        const QString body = line.trimmed();
        if (body.isEmpty() || body.startsWith('#')) {
            continue;
        }
        if (line[0].isSpace()) {
            if (!dialog) {
                return reader.Fail(number, QStringLiteral("an indented line belongs under a dialog step"));
            }
            DialogLine d;
            if (!reader.DialogLineOf(number, body, &d)) {
                return false;
            }
            dialog->dialogLines.push_back(d);
            continue;
        }
        const QString first = body.section(QRegularExpression(QStringLiteral("\\s+")), 0, 0);
        if (first == QLatin1String("set") || first == QLatin1String("press")) {
            return reader.Fail(number, QStringLiteral("%1 belongs indented under a dialog step").arg(first));
        }
        Step step;
        if (!reader.StepOf(number, body, &step)) {
            return false;
        }
        steps->push_back(step);
        dialog = step.kind == StepKind::Dialog ? &steps->back() : nullptr;
    }
    return true;
}

}  // namespace kvscenario
