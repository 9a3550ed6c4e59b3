// Deterministic mutants of a real file, for the readers' fuzz tests: the same key gives the same
// sequence on every machine, so a failure found in CI is found again at the desk.
#pragma once

#include <QByteArray>

#include <array>
#include <cstdint>
#include <vector>

namespace kvfuzz {

enum class Mutation { BitFlip, Truncation, LargeInteger, ByteRun, Count };

class Mutator {
public:
    // A binary seed gets its large integers at the places that hold small 32- and 64-bit
    // integers (the counts, sizes and offsets of the format); a text seed (DXF) in place of its
    // numeric lines.
    Mutator(QByteArray seed, uint64_t key, bool text = false);

    QByteArray Next();
    int Made(Mutation kind) const { return m_made[static_cast<size_t>(kind)]; }
    int Total() const;

private:
    uint64_t Random();
    size_t Below(size_t bound) { return bound == 0 ? 0 : size_t(Random() % bound); }
    void LargeInteger(QByteArray& data);

    QByteArray m_seed;
    uint64_t m_state;
    bool m_text;
    // Binary: offsets of small little-endian integers (width in the low bit: 0 = 32, 1 = 64 bits).
    // Text: offsets and lengths of the numeric lines.
    std::vector<std::pair<qsizetype, qsizetype>> m_fields;
    std::array<int, static_cast<size_t>(Mutation::Count)> m_made{};
};

}  // namespace kvfuzz
