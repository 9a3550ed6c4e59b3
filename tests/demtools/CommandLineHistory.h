// The last lines of a drawing's command line, newest first, one a line.
#pragma once

#include <QString>

#include "platform/cad/Cad.h"

namespace dtest {

inline QString CommandLineHistory(CadDrawing* drawing, int lines) {
    QString text;
    char line[1024];
    for (int i = 0; i < lines && CadCmdGetHistory(drawing, i, line, sizeof line); ++i) {
        text += QString::fromUtf8(line) + '\n';
    }
    return text;
}

}  // namespace dtest
