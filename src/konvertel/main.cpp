// The drawing converter program; see Konvertel.h for its command line.
#include <QCoreApplication>
#include <QStringList>

#include "konvertel/Konvertel.h"

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    return KonvertelMain(QCoreApplication::arguments().mid(1));
}
