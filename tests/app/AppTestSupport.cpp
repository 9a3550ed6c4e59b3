#include "AppTestSupport.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTest>

#include "platform/tools/ZQT.h"

namespace kvtest {

AppUnderTest::AppUnderTest(const QStringList& arguments) {
    m_storage.push_back(QByteArrayLiteral("kelvaro"));
    for (const QString& a : arguments) {
        m_storage.push_back(a.toLocal8Bit());
    }
    for (QByteArray& s : m_storage) {
        m_argv.push_back(s.data());
    }
    m_argv.push_back(nullptr);
    m_argc = static_cast<int>(m_storage.size());
    m_app = std::make_unique<CKelvaroApp>(m_argc, m_argv.data());
}

AppUnderTest::~AppUnderTest() {
    m_app->ExitInstance();
}

bool WaitFor(const std::function<bool()>& condition) {
    QDeadlineTimer deadline(10000);
    while (!condition()) {
        if (deadline.hasExpired()) {
            return condition();
        }
        QTest::qWait(10);
    }
    return true;
}

void StoreCompleteUserData() {
    ZQT_WriteUserProfileString("UserData", "UserData_Name", "Ada");
    ZQT_WriteUserProfileString("UserData", "UserData_Surname", "Rossi");
    ZQT_WriteUserProfileString("UserData", "UserData_EMail", "ada@example.org");
}

QString WriteFile(const QString& path, const QByteArray& content) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    if (f.open(QIODevice::WriteOnly)) {
        f.write(content);
    }
    return path;
}

}  // namespace kvtest
