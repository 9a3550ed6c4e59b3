// What the application tests share: an application object driven in this process, a project
// template that records what it is asked, and waiting for the event loop to reach a state.
#pragma once

#include <QStringList>
#include <functional>
#include <memory>
#include <vector>

#include "app/KelvaroApp.h"
#include "app/ProjectTemplate.h"

namespace kvtest {

// An application object started with the given arguments (after the program name). Its
// destructor runs the shut-down.
class AppUnderTest {
public:
    explicit AppUnderTest(const QStringList& arguments = {});
    ~AppUnderTest();

    CKelvaroApp& App() { return *m_app; }

private:
    std::vector<QByteArray> m_storage;
    std::vector<char*> m_argv;
    int m_argc = 0;
    std::unique_ptr<CKelvaroApp> m_app;
};

// A project template that opens any existing file and records the calls.
class RecordingTemplate : public CProjectTemplate {
public:
    struct Log {
        QStringList opened;
        int newDocuments = 0;
        int saveAllModified = 0;
        int closeAll = 0;
        bool refuseClose = false;
        bool failOpen = false;
    };
    explicit RecordingTemplate(Log* log) : m_log(log) {}

    int OpenDocumentFile(const QString& path) override {
        m_log->opened << path;
        return m_log->failOpen ? 0 : 1;
    }
    int NewDocument() override {
        ++m_log->newDocuments;
        return 1;
    }
    int SaveAllModified() override {
        ++m_log->saveAllModified;
        return m_log->refuseClose ? 0 : 1;
    }
    void CloseAllDocuments() override { ++m_log->closeAll; }

private:
    Log* m_log;
};

// Runs the event loop until the condition holds or about ten seconds have passed; returns the
// condition's last value.
bool WaitFor(const std::function<bool()>& condition);

// Stores a complete set of user data, so that the start-up step asks for nothing.
void StoreCompleteUserData();

// Writes a small file and returns its path.
QString WriteFile(const QString& path, const QByteArray& content = QByteArray("x"));

}  // namespace kvtest
