// The native drawing file (".vec"): a little-endian binary file that keeps every entity with its
// id, layer, attributes, user int and byte block, every layer and every block definition, and
// (from version 2) the operator's drawing, dimension and point styles.
//
//   magic "KVCADVEC", uint32 format version, uint32 reserved, uint64 payload size,
//   payload, uint64 checksum of the payload.
//
// A reader refuses a file whose magic, version, size or checksum does not match, or whose
// payload does not parse to its last byte, before it touches the drawing. The writer writes to a
// temporary file beside the target and renames it into place.
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <unordered_set>

#include "platform/cad/CadInternal.h"
#include "platform/tools/SafeFile.h"

namespace cad {
namespace {

constexpr char kMagic[8] = {'K', 'V', 'C', 'A', 'D', 'V', 'E', 'C'};
constexpr uint32_t kVersion = 2;
// The styles' bytes at the end of a version 2 payload.
constexpr size_t kStyleBytes = 4 * 3 + 8 * 2 + 4 + 4 * 2;
constexpr size_t kHeader = 8 + 4 + 4 + 8;
// Blocks of this size and more (vertex arrays) move between file and model without the buffer.
constexpr size_t kDirect = 1 << 16;

// Checksum of the payload, fed chunk by chunk as the file streams: four lanes of Fletcher-style
// running sums over 8-byte words (a word changes the first sum, a moved or swapped word the
// second), mixed into one value at the end. It runs at memory speed.
class Hasher {
public:
    void Update(const void* data, size_t n) {
        const uint8_t* p = static_cast<const uint8_t*>(data);
        total_ += n;
        while (carryLen_ > 0 && n > 0) {
            carry_[carryLen_++] = *p++;
            --n;
            if (carryLen_ == kBlock) {
                Block(carry_);
                carryLen_ = 0;
            }
        }
        // The sums stay in registers across the bulk of the data.
        uint64_t a0 = a_[0], a1 = a_[1], a2 = a_[2], a3 = a_[3];
        uint64_t b0 = b_[0], b1 = b_[1], b2 = b_[2], b3 = b_[3];
        size_t i = 0;
        for (; i + kBlock <= n; i += kBlock) {
            uint64_t w[4];
            std::memcpy(w, p + i, kBlock);
            a0 += w[0];
            a1 += w[1];
            a2 += w[2];
            a3 += w[3];
            b0 += a0;
            b1 += a1;
            b2 += a2;
            b3 += a3;
        }
        a_[0] = a0, a_[1] = a1, a_[2] = a2, a_[3] = a3;
        b_[0] = b0, b_[1] = b1, b_[2] = b2, b_[3] = b3;
        for (; i < n; ++i)
            carry_[carryLen_++] = p[i];
    }
    uint64_t Final() const {
        uint64_t h = total_ * 0x9E3779B97F4A7C15ull;
        for (int k = 0; k < 4; ++k) {
            h = Mix(h ^ a_[k]);
            h = Mix(h ^ b_[k]);
        }
        for (size_t i = 0; i < carryLen_; ++i)
            h = Mix(h ^ carry_[i]);
        return h;
    }

private:
    static constexpr size_t kBlock = 32;
    static uint64_t Mix(uint64_t v) {
        v ^= v >> 31;
        v *= 0xBF58476D1CE4E5B9ull;
        v ^= v >> 27;
        v *= 0x94D049BB133111EBull;
        return v ^ (v >> 31);
    }
    void Block(const uint8_t* p) {
        uint64_t w[4];
        std::memcpy(w, p, kBlock);
        for (int k = 0; k < 4; ++k) {
            a_[k] += w[k];
            b_[k] += a_[k];
        }
    }
    uint64_t a_[4] = {1, 2, 3, 4};
    uint64_t b_[4] = {0, 0, 0, 0};
    uint64_t total_ = 0;
    uint8_t carry_[kBlock];
    size_t carryLen_ = 0;
};

// Buffered writer that hashes what it writes; large blocks go to the file directly.
class Writer {
public:
    explicit Writer(QIODevice& f) : f_(f) { buf_.reserve(kBuffer); }
    template <typename T>
    void Put(T v) {
        if (buf_.size() + sizeof(T) > kBuffer)
            Flush();
        size_t o = buf_.size();
        buf_.resize(o + sizeof(T));
        std::memcpy(buf_.data() + o, &v, sizeof(T));
    }
    void Str(const std::string& s) {
        Put<uint32_t>(uint32_t(s.size()));
        Raw(s.data(), s.size());
    }
    void Raw(const void* p, size_t n) {
        if (n == 0)
            return;
        if (n >= kDirect) {
            Flush();
            hash.Update(p, n);
            ok_ = ok_ && f_.write(static_cast<const char*>(p), qint64(n)) == qint64(n);
            return;
        }
        if (buf_.size() + n > kBuffer)
            Flush();
        size_t o = buf_.size();
        buf_.resize(o + n);
        std::memcpy(buf_.data() + o, p, n);
    }
    void Flush() {
        if (buf_.empty())
            return;
        hash.Update(buf_.data(), buf_.size());
        ok_ = ok_ && f_.write(reinterpret_cast<const char*>(buf_.data()), qint64(buf_.size())) ==
                         qint64(buf_.size());
        buf_.clear();
    }
    bool Ok() const { return ok_; }
    Hasher hash;

private:
    static constexpr size_t kBuffer = 1 << 18;
    QIODevice& f_;
    std::vector<uint8_t> buf_;
    bool ok_ = true;
};

// Reader of the payload that checksums what it reads and never reads past it: from the mapped
// file when the system maps it, else through a buffer (large blocks straight from the file).
class Reader {
public:
    Reader(QFile& f, uint64_t payload, const uint8_t* mapped) : f_(f), left_(payload) {
        if (mapped) {
            win_ = mapped;
            end_ = size_t(payload);
            left_ = 0;
            mapped_ = true;
        } else {
            buf_.resize(kBuffer);
            win_ = buf_.data();
        }
    }
    template <typename T>
    bool Get(T& v) {
        return Raw(&v, sizeof(T));
    }
    bool Str(std::string& s) {
        uint32_t len;
        if (!Get(len) || len > Left())
            return false;
        s.resize(len);
        return Raw(s.data(), len);
    }
    bool Raw(void* dst, size_t n) {
        // An empty block (an empty list, whose storage may be no pointer at all) copies nothing.
        if (n == 0)
            return true;
        uint8_t* out = static_cast<uint8_t*>(dst);
        size_t have = end_ - pos_;
        if (n <= have) {
            std::memcpy(out, win_ + pos_, n);
            pos_ += n;
            if (mapped_ && pos_ - hashed_ >= kBuffer)
                HashMapped();
            return true;
        }
        if (mapped_)
            return false;
        std::memcpy(out, win_ + pos_, have);
        pos_ = end_;
        out += have;
        n -= have;
        if (n > left_)
            return false;
        if (n >= kDirect) {
            if (f_.read(reinterpret_cast<char*>(out), qint64(n)) != qint64(n))
                return false;
            hash_.Update(out, n);
            left_ -= n;
            return true;
        }
        if (!Fill() || n > end_)
            return false;
        std::memcpy(out, win_, n);
        pos_ = n;
        return true;
    }
    // Payload bytes not read yet.
    uint64_t Left() const { return left_ + (end_ - pos_); }
    bool AtEnd() const { return Left() == 0; }
    uint64_t Sum() {
        if (mapped_)
            HashMapped();
        return hash_.Final();
    }

private:
    void HashMapped() {
        hash_.Update(win_ + hashed_, pos_ - hashed_);
        hashed_ = pos_;
    }
    bool Fill() {
        size_t want = size_t(std::min<uint64_t>(left_, kBuffer));
        if (want == 0)
            return false;
        if (f_.read(reinterpret_cast<char*>(buf_.data()), qint64(want)) != qint64(want))
            return false;
        hash_.Update(buf_.data(), want);
        left_ -= want;
        pos_ = 0;
        end_ = want;
        return true;
    }
    static constexpr size_t kBuffer = 1 << 16;
    QFile& f_;
    std::vector<uint8_t> buf_;
    const uint8_t* win_ = nullptr;
    bool mapped_ = false;
    uint64_t left_;
    size_t pos_ = 0, end_ = 0, hashed_ = 0;
    Hasher hash_;
};

size_t EntityBytes(const CadEntity* e) {
    return 4 * 10 + sizeof e->p + 4 + e->text.size() + 4 + e->exData.size() + 4 +
           e->pts.size() * sizeof(Vec3);
}

void PutEntity(Writer& w, const CadEntity* e) {
    w.Put<int32_t>(e->id);
    w.Put<int32_t>(e->type);
    w.Put<int32_t>(e->layerId);
    w.Put<int32_t>(e->colour);
    w.Put<uint32_t>(e->lineType);
    w.Put<int32_t>(e->lineWeight);
    uint32_t flags =
        (e->visible ? 1u : 0u) | (e->filled ? 2u : 0u) | (e->closed ? 4u : 0u) | (e->erased ? 8u : 0u);
    w.Put<uint32_t>(flags);
    w.Put<int32_t>(e->userData);
    w.Put<int32_t>(e->fit);
    w.Put<int32_t>(e->ival);
    w.Raw(e->p, sizeof e->p);
    w.Str(e->text);
    w.Put<uint32_t>(uint32_t(e->exData.size()));
    w.Raw(e->exData.data(), e->exData.size());
    w.Put<uint32_t>(uint32_t(e->pts.size()));
    static_assert(sizeof(Vec3) == 24, "vertices are stored as three doubles");
    w.Raw(e->pts.data(), e->pts.size() * sizeof(Vec3));
}

bool GetEntity(Reader& r, CadEntity* e) {
    int32_t id, type, layer, colour, lw, user, fit, ival;
    uint32_t lt, flags, exSize, nPts;
    if (!r.Get(id) || !r.Get(type) || !r.Get(layer) || !r.Get(colour) || !r.Get(lt) || !r.Get(lw) ||
        !r.Get(flags) || !r.Get(user) || !r.Get(fit) || !r.Get(ival) || !r.Raw(e->p, sizeof e->p) ||
        !r.Str(e->text) || !r.Get(exSize) || exSize > r.Left())
        return false;
    if (type < CAD_ENT_POINT || type > CAD_ENT_IMAGE || id <= 0)
        return false;
    e->exData.resize(exSize);
    if (!r.Raw(e->exData.data(), exSize) || !r.Get(nPts) || size_t(nPts) > r.Left() / sizeof(Vec3))
        return false;
    e->pts.resize(nPts);
    if (!r.Raw(e->pts.data(), size_t(nPts) * sizeof(Vec3)))
        return false;
    e->id = id;
    e->type = type;
    e->layerId = layer;
    e->colour = colour;
    e->lineType = lt;
    e->lineWeight = lw;
    e->visible = flags & 1u;
    e->filled = flags & 2u;
    e->closed = flags & 4u;
    e->erased = flags & 8u;
    e->userData = user;
    e->fit = fit;
    e->ival = ival;
    // Every kind keeps at least its defining point.
    static const size_t minPts[19] = {0, 1, 2, 2, 1, 1, 1, 2, 3, 3, 1, 1, 3, 0, 0, 0, 0, 0, 1};
    return e->pts.size() >= minPts[type] && (type < 13 || type == CAD_ENT_IMAGE);
}

}  // namespace

bool WriteVec(CadDrawing* d, const QString& path, const std::unordered_set<int>& leftOut) {
    // Entities of the drawing (not of blocks) that are written.
    auto written = [&](const CadEntity* e) { return !e->erased && !leftOut.count(e->id); };
    // The payload's size goes into the header, so it is added up first.
    uint64_t size = 4 * 5 + 4;
    for (const CadLayer* l : d->layers)
        size += 4 + 4 + l->name.size() + 4 * 5;
    size += 4;
    for (const CadBlock* b : d->blocks) {
        size += 4 + 4 + b->name.size() + sizeof b->base + 4;
        for (const CadEntity* e : b->entities)
            if (!e->erased)
                size += EntityBytes(e);
    }
    size += 4 + kStyleBytes;
    uint32_t count = 0;
    for (const CadEntity* e : d->order)
        if (written(e)) {
            size += EntityBytes(e);
            ++count;
        }

    // Written beside the target under a temporary name, then synced and renamed over it.
    kv::SafeFile f(path);
    if (!f.open(QIODevice::WriteOnly))
        return false;
    char head[kHeader];
    const uint32_t reserved = 0;
    std::memcpy(head, kMagic, 8);
    std::memcpy(head + 8, &kVersion, 4);
    std::memcpy(head + 12, &reserved, 4);
    std::memcpy(head + 16, &size, 8);
    if (f.write(head, qint64(kHeader)) != qint64(kHeader))
        return false;

    Writer w(f);
    w.Put<int32_t>(d->nextEntityId);
    w.Put<int32_t>(d->nextLayerId);
    w.Put<int32_t>(d->nextBlockId);
    w.Put<int32_t>(d->currentLayerId);
    w.Put<uint32_t>(d->lwDisplay ? 1u : 0u);
    w.Put<uint32_t>(uint32_t(d->layers.size()));
    for (const CadLayer* l : d->layers) {
        w.Put<int32_t>(l->id);
        w.Str(l->name);
        w.Put<int32_t>(l->colour);
        w.Put<uint32_t>(l->lineType);
        w.Put<int32_t>(l->lineWeight);
        w.Put<uint32_t>((l->visible ? 1u : 0u) | (l->locked ? 2u : 0u) | (l->deleted ? 4u : 0u));
        w.Put<int32_t>(l->level);
    }
    w.Put<uint32_t>(uint32_t(d->blocks.size()));
    for (const CadBlock* b : d->blocks) {
        w.Put<int32_t>(b->id);
        w.Str(b->name);
        w.Raw(&b->base, sizeof b->base);
        uint32_t n = 0;
        for (const CadEntity* e : b->entities)
            n += e->erased ? 0 : 1;
        w.Put<uint32_t>(n);
        for (const CadEntity* e : b->entities)
            if (!e->erased)
                PutEntity(w, e);
    }
    w.Put<uint32_t>(count);
    for (const CadEntity* e : d->order)
        if (written(e))
            PutEntity(w, e);
    w.Put<int32_t>(d->drawStyle.colour);
    w.Put<uint32_t>(d->drawStyle.lineType);
    w.Put<int32_t>(d->drawStyle.lineWeight);
    w.Put<double>(d->dimStyle.textHeight);
    w.Put<double>(d->dimStyle.arrowSize);
    w.Put<int32_t>(d->dimStyle.decimals);
    w.Put<int32_t>(d->pointStyle.mark);
    w.Put<int32_t>(d->pointStyle.size);
    w.Flush();
    const uint64_t sum = w.hash.Final();
    bool ok = w.Ok() && f.write(reinterpret_cast<const char*>(&sum), 8) == 8 &&
              uint64_t(f.size()) == kHeader + size + 8;
    return ok && f.commit();
}

bool SealVec(QByteArray& file) {
    if (size_t(file.size()) < kHeader + 8)
        return false;
    const uint64_t payload = uint64_t(file.size()) - kHeader - 8;
    std::memcpy(file.data() + 16, &payload, 8);
    Hasher hash;
    hash.Update(file.constData() + kHeader, size_t(payload));
    const uint64_t sum = hash.Final();
    std::memcpy(file.data() + kHeader + payload, &sum, 8);
    return true;
}

// Ids leave room for the next one: a drawing counts its ids up from the largest it holds.
static bool IdFits(int32_t id) {
    return id < std::numeric_limits<int32_t>::max() - 1;
}

bool ReadVec(CadDrawing* target, const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly | QIODevice::Unbuffered))
        return false;
    const qint64 size = f.size();
    if (size < qint64(kHeader + 8))
        return false;
    char magic[8];
    if (f.read(magic, 8) != 8 || std::memcmp(magic, kMagic, 8) != 0)
        return false;
    uint32_t version = 0, reserved = 0;
    uint64_t payload = 0;
    if (f.read(reinterpret_cast<char*>(&version), 4) != 4 ||
        f.read(reinterpret_cast<char*>(&reserved), 4) != 4 ||
        f.read(reinterpret_cast<char*>(&payload), 8) != 8)
        return false;
    if (version == 0 || version > kVersion || payload != uint64_t(size) - kHeader - 8)
        return false;
    const uint8_t* mapped = nullptr;
    Reader r(f, payload, mapped);

    // Parse into a drawing of its own; the target changes only when everything parsed.
    std::unique_ptr<CadDrawing> tmp(new CadDrawing());
    int32_t nextEntity, nextLayer, nextBlock, current;
    uint32_t lwd, nLayers;
    if (!r.Get(nextEntity) || !r.Get(nextLayer) || !r.Get(nextBlock) || !r.Get(current) || !r.Get(lwd) ||
        !r.Get(nLayers) || nLayers > r.Left() || !IdFits(nextEntity) || !IdFits(nextLayer) ||
        !IdFits(nextBlock))
        return false;
    tmp->nextEntityId = std::max(1, nextEntity);
    tmp->nextLayerId = std::max(1, nextLayer);
    tmp->nextBlockId = std::max(1, nextBlock);
    tmp->currentLayerId = current;
    tmp->lwDisplay = lwd & 1u;
    bool haveZero = false;
    for (uint32_t i = 0; i < nLayers; ++i) {
        auto l = std::make_unique<CadLayer>();
        uint32_t flags;
        if (!r.Get(l->id) || !r.Str(l->name) || !r.Get(l->colour) || !r.Get(l->lineType) ||
            !r.Get(l->lineWeight) || !r.Get(flags) || !r.Get(l->level))
            return false;
        if (l->name.empty() || !IdFits(l->id) || CadGetLayerByName(tmp.get(), l->name.c_str()) ||
            CadGetLayerByID(tmp.get(), l->id))
            return false;
        haveZero = haveZero || l->id == 0;
        l->visible = flags & 1u;
        l->locked = flags & 2u;
        l->deleted = flags & 4u;
        l->drawing = tmp.get();
        tmp->nextLayerId = std::max(tmp->nextLayerId, l->id + 1);
        tmp->layers.push_back(l.get());
        tmp->allLayers.push_back(std::move(l));
    }
    if (!haveZero)
        return false;
    uint32_t nBlocks;
    if (!r.Get(nBlocks) || nBlocks > r.Left())
        return false;
    for (uint32_t i = 0; i < nBlocks; ++i) {
        auto b = std::make_unique<CadBlock>();
        uint32_t n;
        if (!r.Get(b->id) || !IdFits(b->id) || !r.Str(b->name) || !r.Raw(&b->base, sizeof b->base) ||
            !r.Get(n) || n > r.Left())
            return false;
        b->drawing = tmp.get();
        for (uint32_t k = 0; k < n; ++k) {
            auto e = std::make_unique<CadEntity>();
            if (!GetEntity(r, e.get()) || !IdFits(e->id) || e->type == CAD_ENT_INSERT ||
                e->type == CAD_ENT_IMAGE)
                return false;
            e->drawing = tmp.get();
            e->block = b.get();
            tmp->nextEntityId = std::max(tmp->nextEntityId, e->id + 1);
            b->entities.push_back(e.get());
            tmp->allEntities.push_back(std::move(e));
        }
        tmp->nextBlockId = std::max(tmp->nextBlockId, b->id + 1);
        tmp->blocks.push_back(b.get());
        tmp->allBlocks.push_back(std::move(b));
    }
    // An entity record holds at least ten 32-bit fields and three sizes: a count the rest of the
    // payload cannot hold is refused before the list is reserved.
    constexpr uint64_t kMinEntityBytes = 13 * 4;
    uint32_t nEntities;
    if (!r.Get(nEntities) || nEntities > r.Left() / kMinEntityBytes)
        return false;
    tmp->order.reserve(nEntities);
    std::unordered_map<int, bool> seen;
    for (uint32_t i = 0; i < nEntities; ++i) {
        auto e = std::make_unique<CadEntity>();
        if (!GetEntity(r, e.get()) || !IdFits(e->id) || e->erased || seen.count(e->id))
            return false;
        seen[e->id] = true;
        e->drawing = tmp.get();
        if (!CadGetLayerByID(tmp.get(), e->layerId))
            e->layerId = 0;
        tmp->nextEntityId = std::max(tmp->nextEntityId, e->id + 1);
        tmp->order.push_back(e.get());
        tmp->allEntities.push_back(std::move(e));
    }
    if (version >= 2) {
        DrawStyle ds;
        DimStyle dim;
        PointStyle ps;
        if (!r.Get(ds.colour) || !r.Get(ds.lineType) || !r.Get(ds.lineWeight) || !r.Get(dim.textHeight) ||
            !r.Get(dim.arrowSize) || !r.Get(dim.decimals) || !r.Get(ps.mark) || !r.Get(ps.size))
            return false;
        // Values no dialog can set are left at their defaults.
        if (ds.colour >= 0 && ds.colour <= CAD_COLOR_BYLAYER)
            tmp->drawStyle.colour = ds.colour;
        tmp->drawStyle.lineType = ds.lineType;
        tmp->drawStyle.lineWeight = ds.lineWeight;
        if (std::isfinite(dim.textHeight) && dim.textHeight >= 0)
            tmp->dimStyle.textHeight = dim.textHeight;
        if (std::isfinite(dim.arrowSize) && dim.arrowSize >= 0)
            tmp->dimStyle.arrowSize = dim.arrowSize;
        tmp->dimStyle.decimals = std::clamp(dim.decimals, 0, 8);
        tmp->pointStyle.mark = std::clamp(ps.mark, int(kPointCross), int(kPointSquare));
        tmp->pointStyle.size = std::clamp(ps.size, 1, 64);
    }
    if (!r.AtEnd())
        return false;
    uint64_t sum = 0;
    if (mapped)
        std::memcpy(&sum, mapped + kHeader + payload, 8);
    else if (f.read(reinterpret_cast<char*>(&sum), 8) != 8)
        return false;
    if (sum != r.Sum())
        return false;
    if (!CadGetLayerByID(tmp.get(), tmp->currentLayerId))
        tmp->currentLayerId = 0;
    ReplaceContent(target, tmp.get());
    return true;
}

}  // namespace cad

int CadFileOpen(CadDrawing* d, int, const char* path) {
    if (!d || !path || !*path)
        return 0;
    if (!cad::ReadVec(d, QString::fromUtf8(path)))
        return 0;
    d->dirty = false;
    return 1;
}

int CadFileSaveAs(CadDrawing* d, int, const char* path) {
    return CadFileSaveWithout(d, path, nullptr, 0);
}

int CadFileSaveWithout(CadDrawing* d, const char* path, const int* ids, int count) {
    if (!d || !path || !*path || count < 0 || (count > 0 && !ids))
        return 0;
    if (!cad::WriteVec(d, QString::fromUtf8(path), std::unordered_set<int>(ids, ids + count)))
        return 0;
    d->dirty = false;
    return 1;
}
