// Where this process keeps its DEM undo files. Every running instance has a folder of its own in
// the working folder, "undo-<process id>", and holds an exclusive lock on the file beside it,
// "undo-<process id>.lock", for as long as it runs. Another instance removes a folder only when
// it can take that lock, so a process id reused by a new process never costs a live instance its
// undo history, and folders of instances that crashed are cleaned up at the next start.
#pragma once

#include <QString>

// The folder of this process (ending in '/'), created and locked on the first call; empty when it
// cannot be made.
QString GetDemUndoFolder();

// Removes the undo folders (and lock files) of instances that no longer run: those whose lock can
// be taken. Leaves this process's folder alone. Returns how many folders were removed.
int RemoveStaleDemUndoFolders();

// Removes this process's folder and gives up its lock (at exit).
void ReleaseDemUndoFolder();

// The lock file that guards an undo folder.
QString DemUndoLockPath(const QString& undoFolder);
