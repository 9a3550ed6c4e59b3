// kv_profile_probe <ini> write <section> <key> <value> | read <section> <key> <default>
// Prints what a read returns; exits 0 on success.
#include <QCoreApplication>
#include <cstdio>
#include <cstring>

#include "platform/tools/ZQT.h"

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc != 6) {
        return 2;
    }
    ZQT_SetUserProfilePath(QString::fromUtf8(argv[1]));
    if (std::strcmp(argv[2], "write") == 0) {
        return ZQT_WriteUserProfileString(argv[3], argv[4], argv[5]) ? 0 : 1;
    }
    char buffer[256];
    ZQT_GetUserProfileString(argv[3], argv[4], argv[5], buffer, sizeof buffer);
    std::printf("%s", buffer);
    return 0;
}
