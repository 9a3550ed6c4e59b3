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
#include <QSet>
#include <QString>

#include <map>
#include <vector>

#include <opencv2/core.hpp>

#include "document/DocDrawCommands.h"
#include "document/DocRecords.h"
#include "document/DocStarters.h"
#include "document/archive/ProjectArchive.h"
#include "document/undo/DemUndoRound.h"
#include "platform/math/Wml.h"
#include "platform/ui/MainWindowService.h"
#include "raster/MapData.h"

struct CadDrawing;
struct CadEntity;
struct CadLayer;
class CDEM;
class COrtho;
class MapToolWindow;
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
    // Opens the project: the whole archive is read first (a damaged one gives "File reading
    // error" and opens nothing), then the companion drawing, then every layer is re-created and
    // its linked entities tied again by id. Layer files that cannot be opened are named to the
    // operator and left out; a file missing at its stored path is looked for beside the project.
    virtual int OnOpenDocument(const QString& path);
    // Saves the project: the edited DEMs back into their files (a DEM that cannot be written asks
    // "Unable to save DEM %s"; No stops the save before anything else is written), then the
    // companion drawing without the raster image places, then the archive.
    virtual int OnSaveDocument(const QString& path);
    // The archive records of the project as it stands.
    ProjectArchiveData ArchiveData() const;
    // Drawing ids of the raster image places (DEMs with their label images, orthophotos, maps).
    QSet<int> RasterImageIds() const;
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

    // ---- Layers. Loads and adds answer 1 when the layer joined the project, 0 otherwise; the
    // show-messages flag decides whether refusals are told to the operator (the question about
    // overview levels is asked either way).
    // A new DEM layer of the file; the DEM is deleted again when it is refused.
    int AddDEM(const QString& path, int showMessages);
    // Checks the DEM (its path set, its dataset opened here unless it has one), places it in the
    // drawing and registers it. A refused DEM stays with the caller.
    int LoadDEM(CDEM* dem, int showMessages, int computeRange, int regenerate, int zoomExtents);
    int AddOrtho(const QString& path, int showMessages, int zoomExtents);
    int LoadOrtho(COrtho* ortho, int showMessages, int regenerate, int zoomExtents);
    // Adds the map that the record describes (kinds 5, 6 and 12 to 18); records of other kinds add
    // nothing. True when the map was added or the record asks for nothing to load.
    bool AddMap(MapLayerInfo info, int showMessages);
    // The new map layer, or null when it was refused (the map is deleted then).
    CMapData* LoadMap(MapLayerInfo info, int showMessages);
    // Takes a layer out of its three tables, erases its image places and deletes it. Its CAD layer
    // and the polylines linked to it stay in the drawing, no longer pointing at it; the inputs of
    // object elevation no longer point at a removed DEM. An unknown name does nothing.
    void RemoveDEM(const QString& name);
    void RemoveOrtho(const QString& name);
    void RemoveMap(const QString& name);
    void RemoveAllDEMs();
    void RemoveAllOrthos();
    void RemoveAllMaps();
    // What the entity-erase event procedure calls for every erased entity: a layer whose image
    // place it is leaves the project. Answers 1 when a layer was removed.
    int OnImagePlaceErased(CadEntity* entity);
    int GetDEMCount() const { return static_cast<int>(m_DEMs.size()); }
    int GetOrthoCount() const { return static_cast<int>(m_Orthos.size()); }
    int GetMapCount() const { return static_cast<int>(m_Maps.size()); }
    // Rebuilds the colour legend from the palette and range of the DEM (type 3) or map (types 5
    // and 17) named by the record's title; other types leave the legend as it is.
    void UpdateColorLegend(const MapLayerInfo& info);

    // ---- DEM edit history. The round becomes the newest one (its files now belong to the
    // history); at most DemUndoStack::kMaxRounds are kept.
    void PushDemUndoRound(DemUndoRound round);
    // Replay the current round backwards (Undo) or the next one forwards (Redo) with a progress
    // window. Refused while a CAD command runs or a worker is busy.
    void OnButtonDemundo();
    void OnButtonDemredo();
    void OnUpdateButtonDemundo(kv::CommandUI& ui);
    void OnUpdateButtonDemredo(kv::CommandUI& ui);
    const DemUndoStack& DemUndoHistory() const { return m_demUndo; }

    // ---- Seamline generation: "Build" (orthophotos) and "Build Seamlines" (DEMs) run the
    // procedure that the mosaic tools handed in for the button (GetDocumentProcedures) with the
    // project. Refused while a CAD user command is active; without a procedure the button is
    // disabled.
    void OnButtonBuildseamlines();
    void OnUpdateButtonBuildseamlines(kv::CommandUI& ui);
    void OnDemsplitmergeBuildseamlines();
    void OnUpdateDemsplitmergeBuildseamlines(kv::CommandUI& ui);

    // ---- Seamline edit rounds, one stack for the orthophotos and one for the DEMs. A push drops
    // the undone rounds above the current one and appends a round of copies of the lists; the
    // round holds its polylines in the drawing (CadEntityHold) while it is in its stack, so a purge
    // never takes what undo or redo must bring back. Undo gives every touched image its polylines
    // from before the round (restored) and erases those of after; redo the reverse. Both release
    // the touched images' renderings, regenerate the drawing and mark the project modified.
    // 1 when a round was undone or redone, 0 when there was none.
    void PushSeamlineRound(CadDrawing* drawing, const std::vector<COrtho*>& images,
                           const std::vector<std::vector<CadEntity*>>& before,
                           const std::vector<std::vector<CadEntity*>>& after);
    void PushDemSeamlineRound(CadDrawing* drawing, const std::vector<CDEM*>& images,
                              const std::vector<std::vector<CadEntity*>>& before,
                              const std::vector<std::vector<CadEntity*>>& after);
    int UndoSeamlineRound();
    int RedoSeamlineRound();
    int UndoDemSeamlineRound();
    int RedoDemSeamlineRound();
    // Frees every round of the stack (index -1). Removing an orthophoto empties the orthophoto
    // stack, since its rounds may name the layer; removing a DEM empties the DEM stack when one of
    // its rounds touched that DEM.
    void ClearSeamlineRounds();
    void ClearDemSeamlineRounds();

    // ---- The ribbon of "Mosaic Merge" and "DEM Split / Merge": the update handlers of the seamline
    // edit buttons and of the mosaic, the layer toggles, and the tile commands, which run the
    // procedures the mosaic tools handed in (GetDocumentProcedures).
    void OnUpdateMosaicmergeEditseamlines(kv::CommandUI& ui);
    void OnUpdateMosaicmergeUndoeditseamlines(kv::CommandUI& ui);
    void OnUpdateMosaicmergeRedoeditseamlines(kv::CommandUI& ui);
    void OnUpdateDemsplitmergeEditseamlines(kv::CommandUI& ui);
    void OnUpdateDemsplitmergeUndoeditseamlines(kv::CommandUI& ui);
    void OnUpdateDemsplitmergeRedoeditseamlines(kv::CommandUI& ui);
    void OnMosaicmergeBuildmosaic();
    void OnUpdateMosaicmergeBuildmosaic(kv::CommandUI& ui);
    void OnMosaicmergeSetuptiles();
    void OnMosaicmergeImporttiles();
    void OnMosaicmergeRemovealltiles();
    void OnUpdateMosaicmergeRemovealltiles(kv::CommandUI& ui);
    void OnButtonViewseamlines();
    void OnUpdateButtonViewseamlines(kv::CommandUI& ui);
    void OnButtonViewtiles();
    void OnUpdateButtonViewtiles(kv::CommandUI& ui);
    void OnDemsplitmergeViewseamlines();
    void OnUpdateDemsplitmergeViewseamlines(kv::CommandUI& ui);

    // ---- Drawing import and export through the drawing converter and the shapefile reader.
    void OnButtonImportdrawing();
    void OnButtonExportdrawing();

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

    // Ribbon commands of layers, drawing, snaps and styles.
    void OnButtonInsertdem();
    void OnButtonInsertortho();
    void OnButtonOrthovisible();
    void OnUpdateButtonOrthovisible(kv::CommandUI& ui);
    void OnSliderOrthoopacity();
    void OnUpdateSliderOrthoopacity(kv::CommandUI& ui);
    void OnAddAdddata();
    // "Sheet Layout": runs the procedure the layout tools handed in (GetDocumentProcedures), which
    // builds a map frame into the drawing. Not a CAD user command: it runs whatever command is
    // active and leaves ActiveCadCommandId alone; without a procedure the button is disabled.
    void OnDrawSheetlayout();
#define KV_DECLARE_DRAW_COMMAND(ribbonId, handler, engineCommand, kind) void handler();
    KV_DOC_DRAW_COMMANDS(KV_DECLARE_DRAW_COMMAND)
#undef KV_DECLARE_DRAW_COMMAND
#define KV_DECLARE_SNAP(ribbonId, handler, updateHandler, bit) \
    void handler();                                            \
    void updateHandler(kv::CommandUI& ui);
    KV_DOC_SNAP_BUTTONS(KV_DECLARE_SNAP)
#undef KV_DECLARE_SNAP
    // The heads of the split buttons: nothing to do.
    void OnNothing() {}
    // Runs an engine command of the drawing's window; a guarded run refuses while a CAD user
    // command is active, a measurement clears the selection first.
    void RunEngineCommand(int engineCommand, DrawCommandKind kind);
    // Toggles one snap bit and turns snapping on.
    void ToggleSnap(int bit);
    // Moves the engine's "Layers Order" window, when it is open, to the place kept in the profile.
    void PlaceLayersOrderWindow();
    // Saves the "Layers Order" window's place in the profile and closes it (when it is open).
    void StoreAndCloseLayersOrderWindow();

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
    // The modeless windows of the map tools (MapToolWindows.h), owned; null when the project was
    // made while no maker was set.
    MapToolWindow* m_pMapRepresentationDlg = nullptr;
    MapToolWindow* m_pColorClassificationDlg = nullptr;
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
    // The colour legend (8-bit, three channels, 42 x 266) with the values at its top and bottom;
    // empty when there is none.
    cv::Mat m_ColorLegend;
    double m_dLegendMin = 0.0;
    double m_dLegendMax = 0.0;

    // Fills the engine's three context menus (process-wide) with the project's entries; a dialog
    // that puts entries of its own into one calls it when it closes.
    static void FillContextMenus();

signals:
    // The title, the path or the modified flag changed.
    void TitleChanged();

private:
    // The commands of layers, drawing, snaps and styles; false for any other command.
    bool OnDrawingCommand(int id);
    bool OnUpdateDrawingCommand(kv::CommandUI& ui);
    // Checks that the raster's blocks can be read (kv::CheckRasterReadable), then asks whether to
    // build the overview levels of a raster that needs some and has none, and builds them on Yes:
    // into the file itself when intoFile is set and the file may be written (a very large raster
    // excepted, which that would rewrite), otherwise into a side file. The dataset is then open
    // read-only again. Every block is read before anything is written. False, with what GDAL said
    // in *cause, when a block cannot be read: nothing is asked or written then.
    bool CheckAndOfferOverviews(GDALDatasetH& dataset, const QString& path, const QString& caption,
                                bool intoFile, QString* cause);
    // The CAD layer of a raster layer: found (and undeleted) or added, with layer "0" put back on
    // top. Null when it cannot be added.
    CadLayer* RasterCadLayer(const QString& name);
    // Runs the document procedure of the ribbon command: a guarded run is refused with "Close
    // active command before" while a CAD user command is active; the program is busy while it
    // runs, and an exception that escapes it reaches the operator as a message.
    void RunDocumentProcedure(int ribbonId, bool guarded = true);
    // The commands of the seamline and mosaic ribbon that the document handles itself; false for
    // any other command.
    bool OnMosaicCommand(int id);
    bool OnUpdateMosaicCommand(kv::CommandUI& ui);
    // Undo (true) or Redo (false) of one round, with the progress window.
    void ReplayDemUndo(bool undo);
    // The overall DEM display range from the colour ranges of the DEMs.
    void UpdateDEMRange();

    DemUndoStack m_demUndo;
    QString m_strPathName;
    QString m_strTitle;
    int m_bModified = 0;
    QList<CView*> m_views;
};

// Gives every layer of the drawing a level in steps of 10 in its present order and the layer
// level 1, then sorts them, so that the layer lies on top. Nothing when either is null.
void SetCadLayerOrder(CadDrawing* drawing, CadLayer* layer);

// The companion drawing of a project: the same folder and base name with the extension "vec".
QString CompanionDrawingPath(const QString& projectPath);
// The stored path of a layer file when it exists; otherwise the file of that name beside the
// project when that one exists; otherwise the stored path unchanged.
QString ResolveLayerPath(const QString& storedPath, const QString& projectPath);
// Writes the drawing to the path without the entities of those ids; the live drawing keeps them.
// Non-zero on success.
int SaveDrawingWithout(CadDrawing* drawing, const QSet<int>& ids, const QString& path);

// Runs the drawing converter (the program "konvertel" in the sub-folder "Konvertel" of the
// program's folder) on input and output with the caption, and waits for it; a converter that
// does not end within the time limit is killed and reported. The kinds follow the extensions
// (".vec" native, ".dxf", ".dwg"). An existing output is replaced only once the converter has
// written the new one. Non-zero when the output exists afterwards.
int RunDrawingConverter(QString input, QString output, QString caption);
// Another converter program instead of the one beside this program; empty restores it.
void SetDrawingConverterProgram(const QString& program);
// Adds the entities of a drawing file (DXF or DWG through the converter, a shapefile, or a
// native drawing) to the drawing. The paste result (non-zero on success), 0 on failure.
int ImportDrawingFile(CadDrawing* drawing, const QString& path);
// Writes the features of a shapefile as a native drawing at output: points, line strings as
// open polylines, polygon exterior rings as closed ones, multi-part features part by part, each
// on a CAD layer named after its OGR layer. Non-zero when written.
int ImportShapefileToDrawing(const QString& shapefile, const QString& output);

// What a tool that keeps a DEM of a project between commands is told when that DEM leaves its
// project, just before it is deleted; the mosaic tools set it at start-up. Null: nobody is told.
using DemRemovalListener = void (*)(CDEM* dem);
void SetDemRemovalListener(DemRemovalListener listener);

// The open document whose drawing this is; null when none.
CKelvaroDoc* FindDocByCad(CadDrawing* drawing);
// Makes the text the prompt of the document that owns the drawing (an empty text clears it);
// nothing when no document owns it.
void SetDocCommandPrompt(CadDrawing* drawing, const QString& text);
// How the command line tells why a step failed: "WHAT: CAUSE" (the system's words, what GDAL
// said), or WHAT alone when the cause is not known.
QString FailureLine(const QString& what, const QString& cause);
// Writes that line into the drawing's command line, whose prompt stays as it is: the cause of a
// failure outside a command (a save, an export), told beside the message box that reports it.
void PrintFailure(CadDrawing* drawing, const QString& what, const QString& cause);
