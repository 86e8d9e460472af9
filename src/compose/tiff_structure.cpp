#include "tiff_structure.h"

#include <iterator>
#include <vector>

namespace {

using Verdict = PictureStructure::Verdict;

class TiffWalk {
public:
    explicit TiffWalk(ByteReader& reader) : m_reader(reader) {}

    Verdict check(QSize& size)
    {
        quint64 directory = 0;
        if (const Verdict v = readHeader(directory); v != Verdict::complete)
            return v;
        std::vector<uchar> table;
        if (const Verdict v = readDirectory(directory, table); v != Verdict::complete)
            return v;
        Directory found;
        if (const Verdict v = readEntries(table, found); v != Verdict::complete)
            return v;
        if (found.width > 0 && found.height > 0)
            size = QSize(int(qMin<quint64>(found.width, INT_MAX)),
                         int(qMin<quint64>(found.height, INT_MAX)));
        if (!found.offsets || !found.byteCounts)
            return Verdict::complete; // libtiff may work them out itself
        return checkData(found.offsets, found.byteCounts);
    }

private:
    // What the walk needs of the first directory: pointers into its table.
    struct Directory {
        quint64 width = 0;
        quint64 height = 0;
        const uchar* offsets = nullptr;    // of the strips or tiles
        const uchar* byteCounts = nullptr; // their lengths
    };

    // The byte order, classic or big TIFF, and where the first directory is.
    Verdict readHeader(quint64& directory)
    {
        uchar header[16];
        if (!m_reader.read(header, 8))
            return Verdict::cutShort;
        m_little = header[0] == 'I';
        m_big = number(header + 2, 2) == 43;
        if (m_big && !m_reader.read(header + 8, 8))
            return Verdict::cutShort;
        directory = m_big ? number(header + 8, 8) : number(header + 4, 4);
        return directory < 8 ? Verdict::damaged : Verdict::complete;
    }

    // The directory's entries, as they are in the file.
    Verdict readDirectory(quint64 directory, std::vector<uchar>& table)
    {
        if (directory > quint64(m_reader.size()) || !m_reader.seek(qint64(directory)))
            return Verdict::cutShort;
        uchar countField[8];
        if (!m_reader.read(countField, countBytes()))
            return Verdict::cutShort;
        const quint64 entries = number(countField, countBytes());
        if (entries > quint64(m_reader.size() - m_reader.position()) / entryBytes())
            return Verdict::cutShort;
        table.resize(entries * entryBytes());
        return m_reader.read(table.data(), qint64(table.size())) ? Verdict::complete
                                                                 : Verdict::cutShort;
    }

    Verdict readEntries(const std::vector<uchar>& table, Directory& found) const
    {
        for (const uchar* entry = table.data(); entry < table.data() + table.size();
             entry += entryBytes()) {
            const quint64 tag = number(entry, 2);
            if (tag == 256)
                found.width = inlineNumber(entry);
            else if (tag == 257)
                found.height = inlineNumber(entry);
            else if (tag == 273 || tag == 324) // strip or tile offsets
                found.offsets = entry;
            else if (tag == 279 || tag == 325) // their byte counts
                found.byteCounts = entry;
            if (!valueInsideFile(entry))
                return Verdict::cutShort;
        }
        return Verdict::complete;
    }

    // Every strip or tile lies inside the file.
    Verdict checkData(const uchar* offsets, const uchar* byteCounts)
    {
        Array starts, lengths;
        if (const Verdict v = array(offsets, starts); v != Verdict::complete)
            return v;
        if (const Verdict v = array(byteCounts, lengths); v != Verdict::complete)
            return v;
        if (starts.count != lengths.count)
            return Verdict::damaged;
        const quint64 fileSize = quint64(m_reader.size());
        for (quint64 i = 0; i < starts.count; ++i) {
            const quint64 start = value(starts, i);
            if (start > fileSize || value(lengths, i) > fileSize - start)
                return Verdict::cutShort;
        }
        return Verdict::complete;
    }

    int countBytes() const { return m_big ? 8 : 2; }
    int entryBytes() const { return m_big ? 20 : 12; }

    // An array of SHORTs, LONGs or LONG8s, held in its entry or elsewhere.
    struct Array {
        std::vector<uchar> storage;
        const uchar* data = nullptr;
        int itemSize = 0;
        quint64 count = 0;
    };

    quint64 number(const uchar* bytes, int size) const
    {
        quint64 value = 0;
        for (int i = 0; i < size; ++i)
            value |= quint64(bytes[m_little ? i : size - 1 - i]) << (8 * i);
        return value;
    }

    // Whether an entry's value, when too long to be held in the entry, lies
    // inside the file. Directories usually come last, with such values after
    // them, so a file cut there still decodes, minus a few tags.
    bool valueInsideFile(const uchar* entry) const
    {
        static constexpr int kTypeSizes[] = {0, 1, 1, 2, 4, 8, 1, 1, 2, 4,
                                             8, 4, 8, 4, 0, 0, 8, 8, 8};
        const quint64 type = number(entry + 2, 2);
        const quint64 itemSize = type < std::size(kTypeSizes) ? kTypeSizes[type] : 0;
        const quint64 count = number(entry + 4, m_big ? 8 : 4);
        const quint64 inlineBytes = m_big ? 8 : 4;
        const quint64 fileSize = quint64(m_reader.size());
        if (itemSize == 0 || count <= inlineBytes / itemSize)
            return true; // held in the entry, or of a type we do not know
        const quint64 at = number(entry + (m_big ? 12 : 8), int(inlineBytes));
        return count <= fileSize / itemSize && at <= fileSize && count * itemSize <= fileSize - at;
    }

    // A single SHORT or LONG held in its entry.
    quint64 inlineNumber(const uchar* entry) const
    {
        const quint64 type = number(entry + 2, 2);
        const uchar* field = entry + (m_big ? 12 : 8);
        return type == 3 ? number(field, 2) : type == 4 ? number(field, 4) : 0;
    }

    quint64 value(const Array& array, quint64 i) const
    {
        return number(array.data + i * array.itemSize, array.itemSize);
    }

    Verdict array(const uchar* entry, Array& out)
    {
        const quint64 type = number(entry + 2, 2);
        out.itemSize = type == 3 ? 2 : type == 4 ? 4 : type == 16 ? 8 : 0;
        out.count = number(entry + 4, m_big ? 8 : 4);
        out.data = entry + (m_big ? 12 : 8);
        const quint64 inlineBytes = m_big ? 8 : 4;
        if (out.itemSize == 0 || out.count == 0 ||
            out.count > quint64(m_reader.size()) / out.itemSize)
            return Verdict::damaged;
        if (out.count * out.itemSize > inlineBytes) {
            out.storage.resize(out.count * out.itemSize);
            const quint64 at = number(out.data, int(inlineBytes));
            if (at > quint64(m_reader.size()) || !m_reader.seek(qint64(at)) ||
                !m_reader.read(out.storage.data(), qint64(out.storage.size())))
                return Verdict::cutShort;
            out.data = out.storage.data();
        }
        return Verdict::complete;
    }

    ByteReader& m_reader;
    bool m_little = true;
    bool m_big = false;
};

} // namespace

PictureStructure::Verdict checkTiffStructure(ByteReader& reader, QSize& size)
{
    return TiffWalk(reader).check(size);
}
