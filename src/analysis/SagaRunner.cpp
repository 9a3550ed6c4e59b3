#include "analysis/SagaRunner.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>

#include <saga_api/saga_api.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <set>

#include "platform/tools/Threads.h"
#include "platform/tools/ZQT.h"

namespace {

constexpr qint64 kPumpEveryMs = 100;
constexpr unsigned kCheckClockEvery = 1024;

struct CallbackState {
    bool okay = true;
    unsigned calls = 0;
    QElapsedTimer sincePump;
    QString lastError;
};

CallbackState& State() {
    static CallbackState state;
    return state;
}

bool OnUserInterfaceThread() {
    const QCoreApplication* app = QCoreApplication::instance();
    return app && QThread::currentThread() == app->thread();
}

// Lets pending window events through, at most every kPumpEveryMs and only on the thread that owns
// the windows.
void PumpNowAndThen() {
    CallbackState& state = State();
    if (++state.calls % kCheckClockEvery != 0) {
        return;
    }
    if (!state.sincePump.isValid() || state.sincePump.elapsed() >= kPumpEveryMs) {
        state.sincePump.restart();
        if (OnUserInterfaceThread()) {
            ZQT_PumpMessages();
        }
    }
}

// SAGA's user-interface calls: no dialog is ever shown, messages are dropped but for the last
// error, and the run goes on unless a tool stopped it.
int Callback(TSG_UI_Callback_ID id, CSG_UI_Parameter& first, CSG_UI_Parameter& /*second*/) {
    CallbackState& state = State();
    switch (id) {
        case CALLBACK_PROCESS_GET_OKAY:
            return state.okay ? 1 : 0;
        case CALLBACK_PROCESS_SET_OKAY:
            state.okay = first.Boolean;
            return 1;
        case CALLBACK_PROCESS_SET_PROGRESS:
            PumpNowAndThen();
            return state.okay ? 1 : 0;
        case CALLBACK_MESSAGE_ADD_ERROR:
            state.lastError = QString::fromWCharArray(first.String.w_str());
            return 1;
        case CALLBACK_DLG_ERROR:
            // "Continue anyway?": no.
            state.lastError = QString::fromWCharArray(first.String.w_str());
            return 0;
        case CALLBACK_GUI_GET_WINDOW:
        case CALLBACK_GET_APP_PATH:
            return 0;
        default:
            return 1;
    }
}

void InstallCallback() {
    static const bool installed = SG_Set_UI_Callback(Callback);
    (void)installed;
}

// The data objects the tool's outputs hold (not the placeholders that ask for one).
std::set<CSG_Data_Object*> OutputObjects(CSG_Tool* tool) {
    std::set<CSG_Data_Object*> objects;
    CSG_Parameters* parameters = tool->Get_Parameters();
    for (int i = 0; i < parameters->Get_Count(); ++i) {
        CSG_Parameter* p = parameters->Get_Parameter(i);
        if (!p->is_Output()) {
            continue;
        }
        if (p->is_DataObject()) {
            CSG_Data_Object* object = p->asDataObject();
            if (object != DATAOBJECT_NOTSET && object != DATAOBJECT_CREATE) {
                objects.insert(object);
            }
        } else if (p->is_DataObject_List()) {
            for (int j = 0; j < p->asList()->Get_Item_Count(); ++j) {
                objects.insert(p->asList()->Get_Item(j));
            }
        }
    }
    objects.erase(nullptr);
    return objects;
}

}  // namespace

namespace kv::saga {

// About half the processors the program may run on, and no more than are idle: SAGA's tools wait
// for all their threads after every row, so a thread the system cannot run at once costs a
// scheduling slice each time (on a machine loaded beyond its processors, four threads took 250
// times as long as one).
int ThreadCap() {
    const int processors = kv::ProgramThreads();
    int cap = std::max(1, processors / 2);
    double load[1] = {0.0};
    if (getloadavg(load, 1) == 1) {
        cap = std::min(cap, std::max(1, processors - int(std::lround(load[0]))));
    }
    return cap;
}

namespace {
int g_heldThreads = 0;
}  // namespace

void HoldThreads(int threads) {
    g_heldThreads = std::max(0, threads);
}

bool LoadToolLibrary(const char* name) {
    InstallCallback();
    CSG_Tool_Library_Manager& manager = SG_Get_Tool_Library_Manager();
    if (manager.Get_Library(name, true)) {
        return true;
    }
    const CSG_String path = CSG_String(KV_SAGA_TOOLS_DIR "/lib") + name + ".so";
    return manager.Add_Library(path) != nullptr;
}

bool LoadToolLibraries(const std::vector<const char*>& names) {
    return std::all_of(names.begin(), names.end(), [](const char* name) { return LoadToolLibrary(name); });
}

QString LastError() {
    return State().lastError;
}

Tool::Tool(const char* library, int index) {
    InstallCallback();
    m_tool = SG_Get_Tool_Library_Manager().Create_Tool(library, index);
    if (m_tool) {
        m_tool->Set_Manager(nullptr);
    }
}

Tool::~Tool() {
    if (m_tool) {
        SG_Get_Tool_Library_Manager().Delete_Tool(m_tool);
    }
    for (CSG_Data_Object* object : m_made) {
        delete object;
    }
}

bool Tool::Execute() {
    if (!m_tool) {
        return false;
    }
    const std::set<CSG_Data_Object*> given = OutputObjects(m_tool);
    CallbackState& state = State();
    state.okay = true;
    state.lastError.clear();
    SG_OMP_Set_Max_Num_Threads(g_heldThreads > 0 ? g_heldThreads : ThreadCap());
    const bool done = m_tool->Execute();
    // Whatever the result, the objects made for the outputs are ours to delete.
    for (CSG_Data_Object* object : OutputObjects(m_tool)) {
        if (!given.count(object) && std::find(m_made.begin(), m_made.end(), object) == m_made.end()) {
            m_made.push_back(object);
        }
    }
    state.okay = true;
    return done;
}

}  // namespace kv::saga
