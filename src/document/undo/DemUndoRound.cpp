#include "document/undo/DemUndoRound.h"

#include <utility>

int DemUndoRound::Add(const CUndoDEM& record) {
    if (!record.IsValid()) {
        return 0;
    }
    m_records.push_back(record);
    return 1;
}

int DemUndoRound::Apply(int band, ProgressSink* progress, const DemUndoLookup& lookup) const {
    int applied = 0;
    for (const CUndoDEM& record : m_records) {
        applied += record.Apply(band, progress, lookup);
    }
    return applied;
}

int DemUndoRound::Revert(ProgressSink* progress, const DemUndoLookup& lookup) {
    int applied = 0;
    for (auto record = m_records.rbegin(); record != m_records.rend(); ++record) {
        applied += record->Apply(1, progress, lookup);
    }
    DeleteFiles();
    m_records.clear();
    return applied;
}

void DemUndoRound::DeleteFiles() const {
    for (const CUndoDEM& record : m_records) {
        record.DeleteFile();
    }
}

DemUndoStack::DemUndoStack(DemUndoLookup lookup) : m_lookup(std::move(lookup)) {}

DemUndoStack::~DemUndoStack() {
    Clear();
}

int DemUndoStack::Push(const DemUndoRound& round) {
    if (round.IsEmpty()) {
        return 0;
    }
    while (Count() > m_current + 1) {
        m_rounds.back().DeleteFiles();
        m_rounds.pop_back();
    }
    if (Count() >= kMaxRounds) {
        m_rounds.front().DeleteFiles();
        m_rounds.erase(m_rounds.begin());
    }
    m_rounds.push_back(round);
    m_current = Count() - 1;
    return 1;
}

int DemUndoStack::Undo(ProgressSink* progress) {
    if (!CanUndo()) {
        return 0;
    }
    m_rounds[static_cast<size_t>(m_current)].Apply(1, progress, m_lookup);
    --m_current;
    return 1;
}

int DemUndoStack::Redo(ProgressSink* progress) {
    if (!CanRedo()) {
        return 0;
    }
    ++m_current;
    m_rounds[static_cast<size_t>(m_current)].Apply(2, progress, m_lookup);
    return 1;
}

void DemUndoStack::Clear() {
    for (const DemUndoRound& round : m_rounds) {
        round.DeleteFiles();
    }
    m_rounds.clear();
    m_current = -1;
}
