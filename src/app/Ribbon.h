// The ribbon of the main window: a row of category tabs with the application button at the left
// and the style menu at the right, and under it the page of the selected category, a row of
// panels of large and small buttons, split buttons and sliders. It is built from the ribbon
// definition (resources/ribbon.json). Every element sends its command id through one signal;
// the frame decides who handles it and tells the ribbon which elements are enabled and checked.
#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <QToolButton>
#include <QWidget>
#include <functional>

#include "app/VisualLook.h"

class QHBoxLayout;
class QLabel;
class QMenu;
class QSlider;
class QStackedWidget;

namespace kv {
struct CommandUI;
}

// An element of a panel: a button or a slider, known by its command id.
class CRibbonBaseElement {
public:
    explicit CRibbonBaseElement(int id) : m_id(id) {}
    virtual ~CRibbonBaseElement() = default;

    int GetID() const { return m_id; }
    virtual QWidget* GetWidget() = 0;
    virtual QString GetText() const = 0;
    // Large elements fill the height of their panel; small ones stack three to a column.
    virtual bool IsLarge() const { return false; }
    // The element's id and those of its menu items.
    virtual QList<int> GetIds() const { return {m_id}; }
    // Shows the state an update handler gave for one of the ids.
    virtual void SetCommandState(int id, bool enabled, bool checked) = 0;

private:
    int m_id;
};

class CRibbonButton : public QToolButton, public CRibbonBaseElement {
    Q_OBJECT
public:
    CRibbonButton(int id, const QString& text, const QString& iconName, bool large,
                  QWidget* parent = nullptr);

    QWidget* GetWidget() override { return this; }
    QString GetText() const override { return m_text; }
    bool IsLarge() const override { return m_large; }
    QList<int> GetIds() const override;
    void SetCommandState(int id, bool enabled, bool checked) override;

    // Adds an item to the button's drop-down menu; a button with items opens the menu when pressed.
    void AddSubItem(int id, const QString& text, const QString& iconName);
    // The menu item with that id, or null.
    QAction* FindSubItem(int id) const;

signals:
    void CommandInvoked(int id);

private:
    QString m_text;
    bool m_large;
    QMenu* m_menu = nullptr;
};

class CRibbonSlider : public QWidget, public CRibbonBaseElement {
    Q_OBJECT
public:
    CRibbonSlider(int id, int minimum, int maximum, int pos, int width, bool zoomButtons,
                  QWidget* parent = nullptr);

    QWidget* GetWidget() override { return this; }
    QString GetText() const override { return QString(); }
    void SetCommandState(int id, bool enabled, bool checked) override;

    int GetPos() const;
    // Moves the thumb without sending the command.
    void SetPos(int pos);
    int GetRangeMin() const;
    int GetRangeMax() const;

signals:
    // The operator moved the slider (also by its zoom buttons).
    void CommandInvoked(int id);
    void PosChanged(int pos);

private:
    void OnValueChanged(int value);

    QSlider* m_slider;
    bool m_settingPos = false;
};

class CRibbonPanel : public QWidget {
    Q_OBJECT
public:
    explicit CRibbonPanel(const QString& name, QWidget* parent = nullptr);
    ~CRibbonPanel() override;

    QString GetName() const { return m_name; }
    int GetCount() const { return static_cast<int>(m_elements.size()); }
    CRibbonBaseElement* GetElement(int index) const;
    // Takes ownership.
    void Add(CRibbonBaseElement* element);
    // Removes and deletes the element at index.
    void Remove(int index);
    void SetLook(const CVisualLook& look);

    // A collapsed panel shows one button with its name that drops its elements down, as the
    // ribbon does when the window is too narrow for every panel.
    void SetCollapsed(bool collapsed);
    // The icon of the collapsed panel's button (by default the first button's).
    void SetCollapsedIcon(const QString& iconName);
    bool IsCollapsed() const { return m_collapsed; }
    int ExpandedWidth() const;
    int CollapsedWidth() const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void Relayout();
    void ShowPopup();

    QString m_name;
    QList<CRibbonBaseElement*> m_elements;
    QWidget* m_content;  // the elements, in the panel or in the drop-down
    QHBoxLayout* m_columns;
    QLabel* m_caption;
    QToolButton* m_collapsedButton;
    QWidget* m_popup;
    bool m_collapsed = false;
    CVisualLook m_look;
};

class CRibbonCategory : public QWidget {
    Q_OBJECT
public:
    explicit CRibbonCategory(const QString& name, QWidget* parent = nullptr);

    QString GetName() const { return m_name; }
    int GetPanelCount() const { return static_cast<int>(m_panels.size()); }
    CRibbonPanel* GetPanel(int index) const;
    CRibbonPanel* AddPanel(const QString& name);
    // Removes and deletes the panel at index.
    void RemovePanel(int index);
    void SetLook(const CVisualLook& look);
    // Collapses panels from the right until the page fits its width.
    void FitPanels();

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    QString m_name;
    QList<CRibbonPanel*> m_panels;
    QHBoxLayout* m_layout;
    CVisualLook m_look;
};

class CRibbonBar : public QWidget {
    Q_OBJECT
public:
    explicit CRibbonBar(QWidget* parent = nullptr);

    // Builds categories, panels, elements, the application menu and the tab-row elements from a
    // ribbon definition. False (with the reason) when the definition cannot be read.
    bool LoadFromDefinition(const QByteArray& json, QString* error);

    int GetCategoryCount() const { return static_cast<int>(m_categories.size()); }
    CRibbonCategory* GetCategory(int index) const;
    CRibbonCategory* GetActiveCategory() const;
    void SetActiveCategory(CRibbonCategory* category);
    // The first element with that id, walking the categories and their panels in order.
    CRibbonBaseElement* FindByID(int id) const;

    // The caption of the application button and its menu.
    QString GetApplicationButtonText() const;
    QMenu* GetApplicationMenu() const { return m_appMenu; }
    // The paths listed under "Recent Documents" (their items send ID_FILE_MRU_FILE1 onwards).
    void SetRecentFiles(const QStringList& paths);
    QString GetRecentLabel() const { return m_recentLabel; }

    // Asks for the state of every element and menu item and shows it.
    void UpdateCommandStates(const std::function<void(kv::CommandUI&)>& query);
    void SetLook(const CVisualLook& look);

signals:
    void CommandInvoked(int id);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void RebuildApplicationMenu();
    QRect TabRect(int index) const;
    void PlaceTabRow();

    QList<CRibbonCategory*> m_categories;
    QStackedWidget* m_pages;
    QToolButton* m_appButton;
    QMenu* m_appMenu;
    QList<QToolButton*> m_rowButtons;  // elements of the tab row, right-aligned
    struct MenuItem {
        int id;
        QString text;
        QString icon;
    };
    QList<MenuItem> m_appItems;
    QList<MenuItem> m_appBottomItems;
    QString m_recentLabel;
    int m_recentWidth = 300;
    QStringList m_recentFiles;
    QList<QAction*> m_menuActions;  // application menu and tab-row menus
    CVisualLook m_look;
};
