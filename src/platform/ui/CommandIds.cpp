#include "platform/ui/CommandIds.h"

#include <QHash>

namespace kv {
namespace {

struct CommandName {
    const char* name;
    int id;
};

#define KV_COMMAND_NAME_ROW(name, value) {#name, value},
constexpr CommandName kCommandNames[] = {KV_COMMAND_IDS(KV_COMMAND_NAME_ROW)};
#undef KV_COMMAND_NAME_ROW

}  // namespace

int CommandIdFromName(const QString& name) {
    static const QHash<QString, int> byName = [] {
        QHash<QString, int> h;
        for (const CommandName& c : kCommandNames) {
            h.insert(QString::fromLatin1(c.name), c.id);
        }
        return h;
    }();
    auto it = byName.constFind(name);
    if (it != byName.constEnd()) {
        return *it;
    }
    bool ok = false;
    int id = name.toInt(&ok);
    return ok && id > 0 ? id : 0;
}

QString CommandNameFromId(int id) {
    for (const CommandName& c : kCommandNames) {
        if (c.id == id) {
            return QString::fromLatin1(c.name);
        }
    }
    return QString();
}

}  // namespace kv
