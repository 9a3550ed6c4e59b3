// The project: one CAD drawing with the DEM, orthophoto and map layers shown under it, and what
// the tools keep between commands (seamline edit rounds, tiles, the picked area, the inputs of
// object elevation). A project window shows it (CView); the project template creates it for File
// New and File Open. It handles the ribbon commands that start its CAD user commands and the File
// commands of an open project, as the main window's first command target.
//
// Every open project is in the list of open documents, in the order they were created;
// FindDocByCad walks that list. Closing (OnCloseDocument) deletes the document.
#pragma once

#include <QList>
#include <QObject>
#include <QString>

#include <map>
#include <vector>

#include <opencv2/core.hpp>

#include "document/DocRecords.h"
#include "document/DocStarters.h"
#include "platform/math/Wml.h"
#include "platform/ui/MainWindowService.h"
#include "raster/MapData.h"

struct CadDrawing;
struct CadEntity;
class CColorClassificationDlg;
class CDEM;
class CMapRepresentationDlg;
class COrtho;
class CView;

// What a new document calls to register the CAD event procedures of the plan view with the
// engine; the view supplies it and the application sets it at start-up. Until one is set, a
// document registers none.
using CadEventInstaller = void (*)();
void SetCadEventInstaller(CadEventInstaller installer);
CadEventInstaller GetCadEventInstaller();

class CKelvaroDoc : public QObject, public kv::CommandTarget {
    Q_OBJECT
public:
    // Archive version this program writes.
    static constexpr int kCurrentVersion = 6;

    CKelvaroDoc();
    ~CKelvaroDoc() override;
    CKelvaroDoc(const CKelvaroDoc&) = delete;
    CKelvaroDoc& operator=(const CKelvaroDoc&) = delete;

    // The open documents, oldest first.
    static const QList<CKelvaroDoc*>& GetOpenDocuments();

    // ---- What the framework calls. Results: non-zero for success.
    // A new, empty project: shows its orthophoto opacity on the ribbon.
    virtual int OnNewDocument();
    // Reads the project file.
    virtual int OnOpenDocument(const QString& path);
    // Writes the project file.
    virtual int OnSaveDocument(const QString& path);
    // Ends what the drawing is doing, closes the engine's layer-order window (keeping its place
    // in the profile), closes the project's windows and deletes the document.
    virtual void OnCloseDocument();
    // Asks whether to save a modified project: Yes saves (a failed save keeps the project open),
    // No goes on without saving, Cancel answers 0.
    int SaveModified();
    // 0 when the project window must stay open (the operator cancelled, or the save failed).
    int CanCloseFrame(QWidget* frame);
    // Saves under the project's path, or asks for one first.
    int DoFileSave();
    // Saves under the path (asks for one when it is empty). On success the project takes the
    // path and is no longer modified.
    int DoSave(const QString& path);

    // Sets the modified flag when the drawing is dirty or a DEM has unsaved edits, so that closing
    // asks to save them. It never clears the flag.
    void MarkModifiedIfEdited();
    int IsModified() const { return m_bModified; }
    void SetModifiedFlag(int modified = 1);
    // Empty until the project has been saved or opened.
    const QString& GetPathName() const { return m_strPathName; }
    void SetPathName(const QString& path);
    const QString& GetTitle() const { return m_strTitle; }
    void SetTitle(const QString& title);

    void AddView(CView* view);
    void RemoveView(CView* view);
    // The first view, or null.
    CView* GetFirstView() const;
    const QList<CView*>& GetViews() const { return m_views; }

    // ---- Layers.
    void RemoveAllDEMs();
    void RemoveAllOrthos();
    void RemoveAllMaps();
    int GetDEMCount() const { return static_cast<int>(m_DEMs.size()); }

    // ---- Commands: the File commands of a project and the ribbon starters of its CAD commands.
    bool OnCommand(int id) override;
    bool OnUpdateCommand(kv::CommandUI& ui) override;
    void OnFileSave();
    void OnFileSaveAs();
    // Refused like closing the project window while a command runs or a worker is busy.
    void OnFileClose();
#define KV_DECLARE_STARTER(ribbonId, handler, commandId, guarded, rule) void handler();
    KV_DOC_STARTERS(KV_DECLARE_STARTER)
#undef KV_DECLARE_STARTER
    // Starts a CAD user command: a guarded start refuses while another command is active;
    // otherwise the selection is cleared (engine command 911), the engine's current command is
    // finished and the user command runs.
    void StartUserCommand(int commandId, bool guarded);
    // Enabled exactly when no CAD user command is active; never checked.
    void OnUpdateEnableWhenIdle(kv::CommandUI& ui);

    // ---- Members, as the tools use them.
    int m_nLoadedVersion = 0;
    int m_nCurrentVersion = kCurrentVersion;
    CadDrawing* m_pCad = nullptr;
    // Working copy of a map layer's record (the archive reader, map representation, colour
    // classification).
    MapLayerInfo m_MapLayerInfo;
    // Layers by name, and their names by image-definition id and by image place.
    std::map<QString, CDEM*> m_DEMs;
    std::map<int, QString> m_DEMIdNames;
    std::map<CadEntity*, QString> m_DEMHandleNames;
    std::map<QString, COrtho*> m_Orthos;
    std::map<int, QString> m_OrthoIdNames;
    std::map<CadEntity*, QString> m_OrthoHandleNames;
    std::map<QString, CMapData*> m_Maps;
    std::map<int, QString> m_MapIdNames;
    std::map<CadEntity*, QString> m_MapHandleNames;
    int m_bOrthoVisible = 1;
    // 0.01 to 1.0; the ribbon slider shows it as 1 to 100.
    double m_dOrthoOpacity = 1.0;
    // The text drawn beside the cursor: the running command's prompt, or the value under the
    // cursor when no command runs.
    QString m_strCommandPrompt;
    // The display range of all DEMs, and a working copy of it.
    double m_dDEMRangeMin = 0.0;
    double m_dDEMRangeMax = 5000.0;
    double m_dDEMRangeMinWork = 0.0;
    double m_dDEMRangeMaxWork = 5000.0;
    CMapRepresentationDlg* m_pMapRepresentationDlg = nullptr;
    CColorClassificationDlg* m_pColorClassificationDlg = nullptr;
    ObjectElevationSetup m_ObjectElevationSetup;
    int m_nCurrentDemUndoRound = -1;
    // Written by the seamline generation and the radiometric balancing, read by the mosaic build.
    double SeamlineScaleFactor = 0.0;
    double BalancingScaleFactor = 0.0;
    // The "RadiometricBalancingMap" raster written beside the project.
    QString BalancingMapPath;
    // The area outline the area tools pick.
    std::vector<Wml::Point3> m_AreaVertices;
    // Seamline edit rounds of the orthophotos and of the DEMs (oldest first, owned), each with
    // the index of its last applied round (-1: none).
    int m_nCurrentSeamlineRound = -1;
    std::vector<UndoRoundData*> m_SeamlineRounds;
    int m_nCurrentDemSeamlineRound = -1;
    std::vector<UndoRoundData*> m_DemSeamlineRounds;
    std::map<QString, TileHandleStruct> m_Tiles;
    // The colour legend (8-bit, three channels); empty when there is none.
    cv::Mat m_ColorLegend;

signals:
    // The title, the path or the modified flag changed.
    void TitleChanged();

private:
    void FillContextMenus();

    QString m_strPathName;
    QString m_strTitle;
    int m_bModified = 0;
    QList<CView*> m_views;
};

// The open document whose drawing this is; null when none.
CKelvaroDoc* FindDocByCad(CadDrawing* drawing);
// Makes the text the prompt of the document that owns the drawing (an empty text clears it);
// nothing when no document owns it.
void SetDocCommandPrompt(CadDrawing* drawing, const QString& text);
