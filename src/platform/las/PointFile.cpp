#include "platform/las/PointFile.h"

#include <QFileInfo>
#include <cmath>

#include "platform/las/Las.h"
#include "platform/las/XyzReader.h"

PointFileReader::~PointFileReader() = default;

bool PointFileReader::KindOf(const QString& path, Kind* kind) {
    const QString suffix = QFileInfo(path).suffix().toLower();
    if (suffix == QLatin1String("las")) {
        *kind = Kind::Las;
        return true;
    }
    if (suffix == QLatin1String("xyz")) {
        *kind = Kind::Ascii;
        return true;
    }
    return false;
}

std::unique_ptr<PointFileReader> PointFileReader::Open(const QString& path, Kind kind, QString* error) {
    std::unique_ptr<PointFileReader> reader(new PointFileReader);
    reader->m_kind = kind;
    if (kind == Kind::Las) {
        LASreadOpener opener;
        opener.SetFileName(path);
        reader->m_las = opener.Open(error);
        if (!reader->m_las) {
            return nullptr;
        }
    } else {
        reader->m_xyz = XYZreader::Open(path, error);
        if (!reader->m_xyz) {
            return nullptr;
        }
    }
    return reader;
}

size_t PointFileReader::Read(double* xyz, size_t capacity) {
    for (;;) {
        const size_t got =
            m_las ? m_las->ReadCoordinates(xyz, capacity) : m_xyz->ReadCoordinates(xyz, capacity);
        size_t kept = 0;
        for (size_t i = 0; i < got; ++i) {
            const double* p = xyz + 3 * i;
            if (!std::isfinite(p[0]) || !std::isfinite(p[1]) || !std::isfinite(p[2])) {
                ++m_notFinite;
                continue;
            }
            if (kept != i) {
                xyz[3 * kept] = p[0];
                xyz[3 * kept + 1] = p[1];
                xyz[3 * kept + 2] = p[2];
            }
            ++kept;
        }
        // A batch of nothing but passed-over points is not the end.
        if (kept > 0 || got == 0) {
            return kept;
        }
    }
}

bool PointFileReader::Rewind() {
    m_notFinite = 0;
    return m_las ? m_las->Rewind() : m_xyz->Rewind();
}

double PointFileReader::Fraction() const {
    if (m_las) {
        const uint64_t count = m_las->PointCount();
        return count ? double(m_las->PointsRead()) / double(count) : 1.0;
    }
    return m_xyz->Fraction();
}

QString PointFileReader::CoordinateSystem() const {
    return m_las ? LasCoordinateSystem(m_las->header) : QString();
}

QString PointFileReader::Warning() const {
    QStringList parts;
    const QString& own = m_las ? m_las->Warning() : m_xyz->Warning();
    if (!own.isEmpty()) {
        parts << own;
    }
    if (m_xyz && m_xyz->SkippedLines() > 0) {
        parts << QString("%1 lines without three numbers were skipped").arg(m_xyz->SkippedLines());
    }
    if (m_notFinite > 0) {
        parts << QString("%1 points with coordinates that are not finite were skipped").arg(m_notFinite);
    }
    return parts.join("; ");
}
