// The steps the DEM commands share: prompts, the active command and the DEM pick.
#include "demtools/DemEditCommands.h"
#include "document/KelvaroDoc.h"
#include "platform/cad/Cad.h"
#include "platform/ui/ActiveCommand.h"
#include "platform/ui/MainWindowService.h"
#include "raster/DEM.h"

void Prompt(CadDrawing* drawing, const QString& text) {
    CadCmdPrompt(drawing, text.toUtf8().constData(), "");
    SetDocCommandPrompt(drawing, text);
}

void PromptFailure(CadDrawing* drawing, const QString& what, const QString& cause) {
    Prompt(drawing, FailureLine(what, cause));
}

void RunIdle() {
    if (kv::MainWindowService* service = kv::GetMainWindowService()) {
        service->UpdateCommandUI();
    }
}

ActiveCommandScope::ActiveCommandScope(CadDrawing* drawing, int commandId) : m_drawing(drawing) {
    ActiveCadCommandId = commandId;
    RunIdle();
}

ActiveCommandScope::~ActiveCommandScope() {
    Prompt(m_drawing, QString());
    ActiveCadCommandId = 0;
    RunIdle();
}

CDEM* DemOfEntity(const CKelvaroDoc& doc, CadEntity* entity) {
    if (!entity) {
        return nullptr;
    }
    const auto name = doc.m_DEMHandleNames.find(entity);
    if (name == doc.m_DEMHandleNames.end()) {
        return nullptr;
    }
    const auto dem = doc.m_DEMs.find(name->second);
    return dem == doc.m_DEMs.end() ? nullptr : dem->second;
}

CadImagePlaceFilter DemImages(const CKelvaroDoc& doc) {
    return [&doc](CadEntity* image) { return DemOfEntity(doc, image) != nullptr; };
}

CDEM* DemBySerial(const CKelvaroDoc& doc, uint64_t serial) {
    for (const auto& [name, dem] : doc.m_DEMs) {
        if (dem && dem->m_serial == serial) {
            return dem;
        }
    }
    return nullptr;
}

CDEM* PickDem(CadDrawing* drawing, CKelvaroDoc& doc, bool takeOnlyDem, const QString& prompt) {
    if (takeOnlyDem && doc.m_DEMs.size() == 1) {
        return doc.m_DEMs.begin()->second;
    }
    for (;;) {
        Prompt(drawing, prompt);
        CadEntity* entity = CadCmdUserGetImagePlace(drawing, DemImages(doc));
        if (!entity) {
            return nullptr;
        }
        if (CDEM* dem = DemOfEntity(doc, entity)) {
            CadCmdPromptAdd(drawing, (QStringLiteral(" ") + dem->m_name).toUtf8().constData());
            return dem;
        }
        CadCmdPromptAdd(drawing, " Invalid entity");
    }
}
