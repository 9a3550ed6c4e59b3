// What the document tests share: a record of the engine calls the document makes, the command
// table restored after each test, and DEM layers put into a project's table by hand.
#pragma once

#include <QString>
#include <QStringList>

#include <gtest/gtest.h>

#include "document/CadCalls.h"
#include "document/KelvaroDoc.h"
#include "document/UserCommands.h"
#include "platform/cad/Cad.h"
#include "platform/ui/ActiveCommand.h"
#include "platform/ui/CadCommandIds.h"
#include "platform/ui/CommandIds.h"
#include "raster/DEM.h"

namespace kvtest {

// Records every engine call of the documents while it lives.
class CadCallLog {
public:
    CadCallLog() {
        kv::SetCadCallObserver([this](const kv::CadCallRecord& r) { calls.push_back(r); });
    }
    ~CadCallLog() { kv::SetCadCallObserver({}); }

    // The calls as short texts ("Execute 911", "CmdFinish", "AddCommand 11004 VOLUME VOL"), only
    // of that drawing when one is given.
    QStringList Texts(CadDrawing* drawing = nullptr) const {
        QStringList out;
        for (const kv::CadCallRecord& r : calls) {
            if (drawing && r.drawing != drawing) {
                continue;
            }
            switch (r.kind) {
                case kv::CadCallRecord::AddCommand:
                    out << QStringLiteral("AddCommand %1 %2 %3").arg(r.number).arg(r.text, r.alias);
                    break;
                case kv::CadCallRecord::Execute:
                    out << QStringLiteral("Execute %1").arg(r.number);
                    break;
                case kv::CadCallRecord::CmdFinish:
                    out << QStringLiteral("CmdFinish");
                    break;
                case kv::CadCallRecord::MenuClear:
                    out << QStringLiteral("MenuClear %1").arg(r.number);
                    break;
                case kv::CadCallRecord::MenuAdd:
                    out << QStringLiteral("MenuAdd %1 %2 %3").arg(r.number).arg(r.text).arg(r.command);
                    break;
            }
        }
        return out;
    }

    std::vector<kv::CadCallRecord> calls;
};

// Every test starts with the command table as the program starts, no active command, and input
// calls that answer cancel at once when nothing is scripted.
class DocTest : public ::testing::Test {
protected:
    void SetUp() override {
        GetCommandRegistry().Reset();
        GetDocumentProcedures().Reset();
        ActiveCadCommandId = 0;
        CadScriptSetStrict(1);
    }
    void TearDown() override {
        GetCommandRegistry().Reset();
        GetDocumentProcedures().Reset();
        ActiveCadCommandId = 0;
        CadScriptSetStrict(0);
    }
};

// Puts a DEM layer of that name into the project's table (no raster behind it).
inline CDEM* PutDEM(CKelvaroDoc& doc, const QString& name) {
    auto* dem = new CDEM(&doc);
    dem->m_name = name;
    doc.m_DEMs[name] = dem;
    return dem;
}

}  // namespace kvtest
