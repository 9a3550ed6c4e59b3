// The command-line window (prompt, history, typed line) and the top-level "Layers Order"
// window of engine command 802.
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QTextCursor>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>

#include "platform/cad/CadView.h"
#include "platform/ui/Interaction.h"

namespace cad {
namespace {

// The typed line: Escape cancels the waiting input, Enter submits.
class CommandEdit : public QLineEdit {
public:
    using QLineEdit::QLineEdit;

protected:
    void keyPressEvent(QKeyEvent* ev) override {
        CadDrawing* d = ActiveDrawing();
        if (ev->key() == Qt::Key_Escape && d) {
            clear();
            if (!d->waits.empty()) {
                ScriptItem item;
                item.kind = ScriptKind::Cancel;
                DeliverInput(d, item);
            }
            return;
        }
        if (ev->key() == Qt::Key_Return || ev->key() == Qt::Key_Enter) {
            std::string t = text().toStdString();
            clear();
            if (d)
                SubmitTyped(d, t);
            return;
        }
        QLineEdit::keyPressEvent(ev);
    }
};

class CommandLine : public QWidget {
public:
    explicit CommandLine(QWidget* parent) : QWidget(parent) {
        auto* box = new QVBoxLayout(this);
        box->setContentsMargins(0, 0, 0, 0);
        box->setSpacing(0);
        history = new QPlainTextEdit(this);
        history->setReadOnly(true);
        history->setMaximumBlockCount(500);
        history->setFocusPolicy(Qt::NoFocus);
        auto* row = new QHBoxLayout();
        prompt = new QLabel(this);
        edit = new CommandEdit(this);
        row->addWidget(prompt);
        row->addWidget(edit, 1);
        box->addWidget(history, 1);
        box->addLayout(row);
    }
    QPlainTextEdit* history;
    QLabel* prompt;
    CommandEdit* edit;
};

QPointer<CommandLine> g_commandLine;

// Layers listed from the top-most (drawn last) down; reordering renumbers the levels.
class LayersOrder : public QWidget {
public:
    // A tool window of the main window: the window manager keeps it above its parent.
    LayersOrder(CadDrawing* d, QWidget* parent) : QWidget(parent, Qt::Tool), drawing(d) {
        setWindowTitle(QString::fromUtf8(CAD_LAYERS_ORDER_TITLE));
        setAttribute(Qt::WA_DeleteOnClose);
        auto* box = new QVBoxLayout(this);
        list = new QListWidget(this);
        list->setDragDropMode(QAbstractItemView::InternalMove);
        box->addWidget(list, 1);
        auto* row = new QHBoxLayout();
        auto* up = new QPushButton(QStringLiteral("Up"), this);
        auto* down = new QPushButton(QStringLiteral("Down"), this);
        row->addWidget(up);
        row->addWidget(down);
        box->addLayout(row);
        connect(up, &QPushButton::clicked, this, [this] { Move(-1); });
        connect(down, &QPushButton::clicked, this, [this] { Move(1); });
        connect(list->model(), &QAbstractItemModel::rowsMoved, this, [this] { Apply(); });
        resize(220, 320);
        Refresh();
    }

    void Refresh() {
        pending = false;
        if (!drawing)
            return;
        QString current = list->currentItem() ? list->currentItem()->text() : QString();
        // Only the list's own signals are held back: the view follows the model's, and without
        // them it keeps drawing the rows it had. Filling the list moves no row, so it never
        // reorders the drawing's layers.
        list->blockSignals(true);
        list->clear();
        for (auto it = drawing->layers.rbegin(); it != drawing->layers.rend(); ++it) {
            if ((*it)->deleted)
                continue;
            list->addItem(QString::fromStdString((*it)->name));
        }
        for (int i = 0; i < list->count(); ++i)
            if (list->item(i)->text() == current)
                list->setCurrentRow(i);
        list->blockSignals(false);
    }

    void Move(int by) {
        int row = list->currentRow();
        int to = row + by;
        if (row < 0 || to < 0 || to >= list->count())
            return;
        QListWidgetItem* item = list->takeItem(row);
        list->insertItem(to, item);
        list->setCurrentRow(to);
        Apply();
    }

    // The first row lies on top: it gets the lowest level.
    void Apply() {
        if (!drawing)
            return;
        for (int i = 0; i < list->count(); ++i) {
            CadLayer* l = CadGetLayerByName(drawing, list->item(i)->text().toUtf8().constData());
            if (l)
                l->level = (i + 1) * 10;
        }
        int n = list->count();
        for (CadLayer* l : drawing->layers)
            if (l->deleted)
                l->level = (++n) * 10;
        CadSortLayers(drawing);
    }

    CadDrawing* drawing;
    QListWidget* list;
    bool pending = false;
};

QPointer<LayersOrder> g_layersOrder;

}  // namespace

void PromptChanged(CadDrawing* d) {
    if (g_commandLine && d == ActiveDrawing())
        g_commandLine->prompt->setText(QString::fromStdString(d->prompt));
}

void AddHistory(CadDrawing* d, const std::string& line) {
    if (!d || line.empty())
        return;
    d->history.push_back(line);
    if (d->history.size() > 500)
        d->history.erase(d->history.begin());
    if (g_commandLine && d == ActiveDrawing())
        g_commandLine->history->appendPlainText(QString::fromStdString(line));
}

void AppendToHistory(CadDrawing* d, const std::string& text) {
    if (!d || text.empty() || d->history.empty())
        return;
    d->history.back() += text;
    if (g_commandLine && d == ActiveDrawing()) {
        QTextCursor end = g_commandLine->history->textCursor();
        end.movePosition(QTextCursor::End);
        end.insertText(QString::fromStdString(text));
    }
}

std::string CommandLineTyped(CadDrawing* d, const std::string& text, TypedEdit op) {
    if (g_commandLine) {
        QLineEdit* e = g_commandLine->edit;
        switch (op) {
            case TypedEdit::Append:
                e->insert(QString::fromStdString(text));
                break;
            case TypedEdit::Backspace:
                e->backspace();
                break;
            case TypedEdit::Clear:
                e->clear();
                break;
            case TypedEdit::Take: {
                std::string t = e->text().toStdString();
                e->clear();
                return t;
            }
        }
        return std::string();
    }
    if (!d || !d->window)
        return std::string();
    std::string& t = d->window->Typed();
    switch (op) {
        case TypedEdit::Append:
            t += text;
            break;
        case TypedEdit::Backspace:
            if (!t.empty())
                t.pop_back();
            break;
        case TypedEdit::Clear:
            t.clear();
            break;
        case TypedEdit::Take: {
            std::string r;
            r.swap(t);
            return r;
        }
    }
    return std::string();
}

void ToggleLayersOrder(CadDrawing* d) {
    if (g_layersOrder) {
        bool same = g_layersOrder->drawing == d;
        g_layersOrder->close();
        delete g_layersOrder.data();
        if (same)
            return;
    }
    QWidget* view = d ? d->window.data() : nullptr;
    auto* w = new LayersOrder(d, view ? view->window() : kv::DialogParent());
    g_layersOrder = w;
    // It opens in the top-right corner of the drawing's window, so it lies over the drawing and
    // not over the program's ribbon or the screen's corner.
    if (view && view->isVisible()) {
        constexpr int kMargin = 8;
        const QPoint topLeft = view->mapToGlobal(QPoint(0, 0));
        const int x = std::max(topLeft.x() + kMargin, topLeft.x() + view->width() - w->width() - 2 * kMargin);
        w->move(x, topLeft.y() + kMargin);
    }
    // Asked for, it comes up in front and takes the keyboard.
    w->show();
    w->raise();
    w->activateWindow();
}

void CloseLayersOrderOf(CadDrawing* d) {
    if (g_layersOrder && g_layersOrder->drawing == d) {
        g_layersOrder->drawing = nullptr;
        g_layersOrder->close();
        g_layersOrder->deleteLater();
    }
}

void LayersOrderChanged(CadDrawing* d) {
    if (!g_layersOrder || g_layersOrder->drawing != d || g_layersOrder->pending)
        return;
    g_layersOrder->pending = true;
    QPointer<LayersOrder> w = g_layersOrder;
    QTimer::singleShot(0, w, [w] {
        if (w)
            w->Refresh();
    });
}

}  // namespace cad

QWidget* CadLayersOrderWindow() {
    return cad::g_layersOrder.data();
}

QWidget* CadCWCreate(QWidget* parent, int x, int y, int width, int height) {
    delete cad::g_commandLine.data();
    auto* w = new cad::CommandLine(parent);
    w->setGeometry(x, y, std::max(1, width), std::max(1, height));
    cad::g_commandLine = w;
    w->show();
    if (CadDrawing* d = cad::ActiveDrawing())
        cad::PromptChanged(d);
    return w;
}

int CadCWResize(QWidget* window, int x, int y, int width, int height) {
    if (!window || window != cad::g_commandLine.data())
        return 0;
    window->setGeometry(x, y, std::max(1, width), std::max(1, height));
    return 1;
}

int CadCWClear(QWidget* window) {
    if (!window || window != cad::g_commandLine.data())
        return 0;
    cad::g_commandLine->history->clear();
    cad::g_commandLine->prompt->clear();
    return 1;
}
