// SAGA's tool libraries run inside the program, on the user-interface thread.
//
// The first use installs the program's callback for SAGA's user-interface calls (before any tool
// library loads: a library loaded without it writes to a standard output that is lost for good).
// Tool libraries are loaded one by one from SAGA's tools folder, only those a tool needs, and
// stay loaded for the process. Tools are made by their index in their library, never by their
// display name (names change between SAGA versions, indices are what the command line uses), with
// no data manager: our own grids go in, and every data object a tool makes is deleted with it.
//
// While a tool runs, OpenMP is held to about half the processors the program may run on
// (kv::ProgramThreads), and to those the system's load leaves idle (a busy machine otherwise makes a tool of
// milliseconds take seconds), and the progress calls, which come by the million, let pending window events
// through at most every 100 ms.
#pragma once

#include <QString>

#include <vector>

class CSG_Tool;
class CSG_Data_Object;

namespace kv::saga {

// Loads the tool library of that name ("io_gdal", "ta_compound") from SAGA's tools folder, unless
// it is loaded already. False when it does not load.
bool LoadToolLibrary(const char* name);
// Loads every library of the list; false as soon as one does not load.
bool LoadToolLibraries(const std::vector<const char*>& names);

// The threads a tool runs with: about half the program's processors, and no more than the load
// leaves idle.
int ThreadCap();
// Runs every tool from now on with exactly this many threads (0: ThreadCap's, reckoned at each
// run), for a caller that must know the count, such as a comparison with another program given the
// same.
void HoldThreads(int threads);

// The last error text a tool reported (empty when none since the last run started).
QString LastError();

// One tool of a loaded library, made by index, deleted with every data object it made.
class Tool {
public:
    Tool(const char* library, int index);
    ~Tool();
    Tool(const Tool&) = delete;
    Tool& operator=(const Tool&) = delete;

    // False when the library is not loaded or has no tool of that index.
    bool Valid() const { return m_tool != nullptr; }
    CSG_Tool* operator->() const { return m_tool; }
    CSG_Tool* Get() const { return m_tool; }

    // Runs the tool. The data objects it makes for its outputs live as long as this object; those
    // the caller handed in stay the caller's.
    bool Execute();

private:
    CSG_Tool* m_tool = nullptr;
    std::vector<CSG_Data_Object*> m_made;
};

}  // namespace kv::saga
