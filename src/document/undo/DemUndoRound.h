// The undo history of DEM edits: a round holds the records that one run of an edit wrote (one per
// DEM window), the stack the last rounds with the index of the round that Undo replays next.
#pragma once

#include <vector>

#include "document/undo/UndoDEM.h"

class DemUndoRound {
public:
    // Appends a copy of the record. 0, and nothing appended, for a record without a file: a round
    // must never promise a restore that it cannot make.
    int Add(const CUndoDEM& record);
    const std::vector<CUndoDEM>& Records() const { return m_records; }
    bool IsEmpty() const { return m_records.empty(); }
    // Marks the round as one whose edit could not record every window: the edit must not go on,
    // and what it already wrote is to be taken back rather than pushed.
    void MarkIncomplete() { m_incomplete = true; }
    bool IsIncomplete() const { return m_incomplete; }
    // Takes back every record's edit (band 1), last to first, removes their files and empties the
    // round. Returns how many records were applied.
    int Revert(ProgressSink* progress, const DemUndoLookup& lookup);
    // Applies band 1 (undo) or 2 (redo) of every record, first to last; a failing record is
    // skipped. Returns how many records were applied.
    int Apply(int band, ProgressSink* progress, const DemUndoLookup& lookup) const;
    // Removes the files of every record.
    void DeleteFiles() const;

private:
    std::vector<CUndoDEM> m_records;
    bool m_incomplete = false;
};

// At most kMaxRounds rounds, oldest first. Rounds 0 to CurrentIndex() can be undone, newest first;
// the rounds after it can be redone, oldest first. The stack owns the files of its rounds: a round
// that drops out (redo tail, eleventh round) loses its files, and so does every round when the
// stack is cleared or destroyed.
class DemUndoStack {
public:
    static constexpr int kMaxRounds = 10;

    // The lookup finds a DEM layer of the document by its serial number.
    explicit DemUndoStack(DemUndoLookup lookup);
    ~DemUndoStack();
    DemUndoStack(const DemUndoStack&) = delete;
    DemUndoStack& operator=(const DemUndoStack&) = delete;

    // Drops the redo tail, drops the oldest round when the stack is full, appends the round and
    // makes it current. 0, and nothing changed, for a round without records.
    int Push(const DemUndoRound& round);
    // Restores band 1 of the current round and moves the index down; 0 when there is nothing to
    // undo. A record whose DEM is gone changes nothing; the index moves all the same.
    int Undo(ProgressSink* progress = nullptr);
    // Moves the index up and restores band 2 of that round; 0 when there is nothing to redo.
    int Redo(ProgressSink* progress = nullptr);
    bool CanUndo() const { return !m_rounds.empty() && m_current >= 0; }
    bool CanRedo() const { return !m_rounds.empty() && m_current < Count() - 1; }

    int Count() const { return static_cast<int>(m_rounds.size()); }
    int CurrentIndex() const { return m_current; }
    const DemUndoRound& Round(int index) const { return m_rounds.at(static_cast<size_t>(index)); }
    // Removes every round and its files.
    void Clear();

private:
    DemUndoLookup m_lookup;
    std::vector<DemUndoRound> m_rounds;
    int m_current = -1;
};
