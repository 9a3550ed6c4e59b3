// The native drawing file (".vec"): a little-endian binary file that keeps every entity with its
// id, layer, attributes, user int and byte block, every layer and every block definition.
//
//   magic "KVCADVEC", uint32 format version, uint32 reserved, uint64 payload size,
//   payload, uint64 checksum of the payload.
//
// A reader refuses a file whose magic, version, size or checksum does not match, or whose
// payload does not parse to its last byte, before it touches the drawing. The writer writes to a
// temporary file beside the target and renames it into place.
#include <QFile>
#include <QSaveFile>

#include <cstring>

#include "platform/cad/CadInternal.h"

namespace cad {
namespace {

constexpr char kMagic[8] = {'K', 'V', 'C', 'A', 'D', 'V', 'E', 'C'};
constexpr uint32_t kVersion = 1;
constexpr size_t kHeader = 8 + 4 + 4 + 8;

uint64_t Checksum(const uint8_t* p, size_t n) {
    // Word-wise multiply-xorshift hash: fast over large payloads and sensitive to every byte.
    uint64_t h = 0x9E3779B97F4A7C15ull ^ n;
    size_t i = 0;
    for (; i + 8 <= n; i += 8) {
        uint64_t w;
        std::memcpy(&w, p + i, 8);
        h ^= w * 0xBF58476D1CE4E5B9ull;
        h = (h << 29) | (h >> 35);
        h *= 0x94D049BB133111EBull;
    }
    for (; i < n; ++i) {
        h ^= p[i];
        h *= 0x100000001B3ull;
    }
    h ^= h >> 31;
    return h;
}

class Writer {
public:
    std::vector<uint8_t> buf;
    template <typename T>
    void Put(T v) {
        size_t o = buf.size();
        buf.resize(o + sizeof(T));
        std::memcpy(buf.data() + o, &v, sizeof(T));
    }
    void Str(const std::string& s) {
        Put<uint32_t>(uint32_t(s.size()));
        Raw(s.data(), s.size());
    }
    void Raw(const void* p, size_t n) {
        size_t o = buf.size();
        buf.resize(o + n);
        if (n)
            std::memcpy(buf.data() + o, p, n);
    }
};

class Reader {
public:
    Reader(const uint8_t* p, size_t n) : p_(p), n_(n) {}
    template <typename T>
    bool Get(T& v) {
        if (n_ - o_ < sizeof(T))
            return false;
        std::memcpy(&v, p_ + o_, sizeof(T));
        o_ += sizeof(T);
        return true;
    }
    bool Str(std::string& s) {
        uint32_t len;
        if (!Get(len) || n_ - o_ < len)
            return false;
        s.assign(reinterpret_cast<const char*>(p_ + o_), len);
        o_ += len;
        return true;
    }
    bool Raw(void* dst, size_t n) {
        if (n_ - o_ < n)
            return false;
        if (n)
            std::memcpy(dst, p_ + o_, n);
        o_ += n;
        return true;
    }
    bool AtEnd() const { return o_ == n_; }
    size_t Left() const { return n_ - o_; }

private:
    const uint8_t* p_;
    size_t n_;
    size_t o_ = 0;
};

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

bool WriteVec(CadDrawing* d, const QString& path) {
    Writer w;
    w.buf.reserve(1024 + d->order.size() * 160);
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
    uint32_t count = 0;
    for (const CadEntity* e : d->order)
        count += e->erased ? 0 : 1;
    w.Put<uint32_t>(count);
    for (const CadEntity* e : d->order)
        if (!e->erased)
            PutEntity(w, e);

    Writer head;
    head.Raw(kMagic, 8);
    head.Put<uint32_t>(kVersion);
    head.Put<uint32_t>(0);
    head.Put<uint64_t>(uint64_t(w.buf.size()));
    uint64_t sum = Checksum(w.buf.data(), w.buf.size());

    QSaveFile f(path);
    if (!f.open(QIODevice::WriteOnly))
        return false;
    bool ok =
        f.write(reinterpret_cast<const char*>(head.buf.data()), qint64(head.buf.size())) ==
            qint64(head.buf.size()) &&
        f.write(reinterpret_cast<const char*>(w.buf.data()), qint64(w.buf.size())) == qint64(w.buf.size()) &&
        f.write(reinterpret_cast<const char*>(&sum), 8) == 8;
    if (!ok) {
        f.cancelWriting();
        return false;
    }
    return f.commit();
}

bool ReadVec(CadDrawing* target, const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
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
    std::vector<uint8_t> buf(payload);
    if (f.read(reinterpret_cast<char*>(buf.data()), qint64(payload)) != qint64(payload))
        return false;
    uint64_t sum = 0;
    if (f.read(reinterpret_cast<char*>(&sum), 8) != 8 || sum != Checksum(buf.data(), buf.size()))
        return false;

    // Parse into a drawing of its own; the target changes only when everything parsed.
    std::unique_ptr<CadDrawing> tmp(new CadDrawing());
    Reader r(buf.data(), buf.size());
    int32_t nextEntity, nextLayer, nextBlock, current;
    uint32_t lwd, nLayers;
    if (!r.Get(nextEntity) || !r.Get(nextLayer) || !r.Get(nextBlock) || !r.Get(current) || !r.Get(lwd) ||
        !r.Get(nLayers) || nLayers > r.Left())
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
        if (l->name.empty() || CadGetLayerByName(tmp.get(), l->name.c_str()) ||
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
        if (!r.Get(b->id) || !r.Str(b->name) || !r.Raw(&b->base, sizeof b->base) || !r.Get(n) || n > r.Left())
            return false;
        b->drawing = tmp.get();
        for (uint32_t k = 0; k < n; ++k) {
            auto e = std::make_unique<CadEntity>();
            if (!GetEntity(r, e.get()) || e->type == CAD_ENT_INSERT || e->type == CAD_ENT_IMAGE)
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
    uint32_t nEntities;
    if (!r.Get(nEntities) || nEntities > r.Left())
        return false;
    tmp->order.reserve(nEntities);
    std::unordered_map<int, bool> seen;
    for (uint32_t i = 0; i < nEntities; ++i) {
        auto e = std::make_unique<CadEntity>();
        if (!GetEntity(r, e.get()) || e->erased || seen.count(e->id))
            return false;
        seen[e->id] = true;
        e->drawing = tmp.get();
        if (!CadGetLayerByID(tmp.get(), e->layerId))
            e->layerId = 0;
        tmp->nextEntityId = std::max(tmp->nextEntityId, e->id + 1);
        tmp->order.push_back(e.get());
        tmp->allEntities.push_back(std::move(e));
    }
    if (!r.AtEnd())
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
    if (!d || !path || !*path)
        return 0;
    return cad::WriteVec(d, QString::fromUtf8(path)) ? 1 : 0;
}
