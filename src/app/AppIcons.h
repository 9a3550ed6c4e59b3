// The program's pictures: the ribbon's icons, the dialogs' button icons and the program icon are
// small vector drawings described in resources/icons.json (a 32 x 32 design box) and painted at
// the size asked for.
#pragma once

#include <QIcon>
#include <QPixmap>
#include <QString>

// The icon of that name at 16 and 32 pixels; a null icon when the name is unknown.
QIcon KvAppIcon(const QString& name);
// The picture of that name at size x size pixels; a null pixmap when the name is unknown.
QPixmap KvAppIconPixmap(const QString& name, int size);
// Non-zero when the name is described.
int KvHasAppIcon(const QString& name);
