#include "fuzz/Mutator.h"

#include <cstring>
#include <numeric>

namespace kvfuzz {

namespace {

// Values that overflow, go negative or ask for more than any file holds.
constexpr uint64_t kLargeIntegers[] = {
    0x7FFFFFFFull, 0x80000000ull, 0xFFFFFFFFull,         2000000000ull,         0x40000000ull,
    0xFFFFull,     0x10000ull,    0x7FFFFFFFFFFFFFFFull, 0xFFFFFFFFFFFFFFFFull, 0x2000000000000000ull,
};
const char* const kLargeTexts[] = {"2000000000",           "-2147483649", "4294967296", "1e308", "-1e308",
                                   "99999999999999999999", "nan",         "-1",         "inf"};

bool IsNumber(const QByteArray& line) {
    bool ok = false;
    line.trimmed().toDouble(&ok);
    return ok;
}

}  // namespace

Mutator::Mutator(QByteArray seed, uint64_t key, bool text)
    : m_seed(std::move(seed)), m_state(key), m_text(text) {
    if (text) {
        qsizetype start = 0;
        while (start < m_seed.size()) {
            qsizetype end = m_seed.indexOf('\n', start);
            if (end < 0) {
                end = m_seed.size();
            }
            if (IsNumber(m_seed.mid(start, end - start))) {
                m_fields.emplace_back(start, end - start);
            }
            start = end + 1;
        }
        return;
    }
    const auto* bytes = reinterpret_cast<const unsigned char*>(m_seed.constData());
    for (qsizetype i = 0; i + 4 <= m_seed.size(); ++i) {
        uint32_t v32 = 0;
        std::memcpy(&v32, bytes + i, 4);
        if (v32 > 0 && v32 <= 0x10000) {
            m_fields.emplace_back(i, 0);
        }
        uint64_t v64 = 0;
        if (i + 8 <= m_seed.size()) {
            std::memcpy(&v64, bytes + i, 8);
            if (v64 > 0 && v64 <= 0x10000 && i % 4 == 0) {
                m_fields.emplace_back(i, 1);
            }
        }
    }
}

uint64_t Mutator::Random() {
    // splitmix64: small, fast and the same everywhere.
    uint64_t z = (m_state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

int Mutator::Total() const {
    return std::accumulate(m_made.begin(), m_made.end(), 0);
}

void Mutator::LargeInteger(QByteArray& data) {
    if (m_fields.empty()) {
        return;
    }
    const auto [at, width] = m_fields[Below(m_fields.size())];
    if (m_text) {
        data.replace(at, width, kLargeTexts[Below(std::size(kLargeTexts))]);
        return;
    }
    uint64_t value = kLargeIntegers[Below(std::size(kLargeIntegers))];
    const qsizetype bytes = width ? 8 : 4;
    for (qsizetype i = 0; i < bytes && at + i < data.size(); ++i) {
        data[at + i] = char((value >> (8 * i)) & 0xFF);
    }
}

QByteArray Mutator::Next() {
    QByteArray data = m_seed;
    const auto kind = static_cast<Mutation>(Below(static_cast<size_t>(Mutation::Count)));
    ++m_made[static_cast<size_t>(kind)];
    if (data.isEmpty()) {
        return data;
    }
    switch (kind) {
        case Mutation::BitFlip: {
            const size_t flips = 1 + Below(4);
            for (size_t i = 0; i < flips; ++i) {
                const size_t bit = Below(size_t(data.size()) * 8);
                data[qsizetype(bit / 8)] = char(data[qsizetype(bit / 8)] ^ (1 << (bit % 8)));
            }
            break;
        }
        case Mutation::Truncation:
            data.truncate(qsizetype(Below(size_t(data.size()))));
            break;
        case Mutation::LargeInteger:
            LargeInteger(data);
            if (Below(2) == 0) {
                LargeInteger(data);
            }
            break;
        case Mutation::ByteRun: {
            const size_t at = Below(size_t(data.size()));
            const size_t length = std::min<size_t>(1 + Below(16), size_t(data.size()) - at);
            const char fill = Below(2) ? char(0xFF) : char(Random());
            for (size_t i = 0; i < length; ++i) {
                data[qsizetype(at + i)] = Below(2) ? fill : char(Random());
            }
            break;
        }
        case Mutation::Count:
            break;
    }
    return data;
}

}  // namespace kvfuzz
