#include "typelibraryarranger.h"

#include <stdexcept>
#include <vector>

#include <QtEndian>

namespace Quillset {

namespace {

// The 32-bit type library layout ("MSFT"): a header, one offset per type record, a directory of
// fifteen segments, then the segments. A type is referred to by the offset of its record in the
// type record segment, so moving records means rewriting every such offset; offsets into the
// other segments stay as they are, since no other segment moves.
constexpr quint32 kMagic = 0x5446534D; // "MSFT"
constexpr qint32 kFormatVersion = 0x00010002;
constexpr qint64 kHeaderSize = 0x54;
constexpr qint64 kFormatField = 0x04;
constexpr qint64 kLibraryFlagsField = 0x14;
constexpr qint64 kTypeCountField = 0x20;
constexpr qint64 kDispatchField = 0x4C;
constexpr qint32 kHelpLibraryFlag = 0x100; // one more offset follows the header
constexpr int kSegmentCount = 15;

enum Segment {
    TypeRecords = 0,
    References = 3,
    Guids = 5,
    Names = 7,
    TypeDescriptions = 9,
    ArrayDescriptions = 10,
};

constexpr qint64 kTypeRecordSize = 0x64;
constexpr qint64 kKindField =
    0x00; // the kind in the low 4 bits, the record's own index from bit 16
constexpr qint64 kGuidField = 0x2C;
constexpr qint64 kFlagsField = 0x30;
constexpr qint64 kNameField = 0x34;
constexpr qint64 kVersionField = 0x38;
constexpr qint64 kBaseField = 0x54; // an interface's base type
constexpr qint32 kMaxTypes = 0x10000;

constexpr qint32 kInterfaceKind = 3;
constexpr qint32 kDispatchKind = 4;
constexpr qint32 kClassKind = 5;

constexpr qint64 kReferenceSize = 16;
constexpr qint64 kGuidEntrySize = 24;
constexpr qint64 kGuidOwnerField = 16;
constexpr qint64 kNameHeaderSize = 12;
constexpr qint64 kTypeDescriptionSize = 8;

constexpr int kPointer = 26;
constexpr int kSafeArray = 27;
constexpr int kUserDefined = 29;

constexpr qint32 kNoType = -1;
constexpr qint32 kLibraryItself = -2;

class Refusal : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

[[noreturn]] void refuse(const QString& why)
{
    throw Refusal(why.toStdString());
}

QString hex(qint64 value)
{
    return QStringLiteral("0x") + QString::number(value, 16);
}

struct SegmentPlace
{
    qint64 offset = -1;
    qint64 length = 0;
};

class Arranger
{
public:
    Arranger(const QByteArray& compiled, const LibraryIdentity& identity)
        : m_file(compiled), m_identity(identity)
    {
    }

    QByteArray arrange()
    {
        readLayout();
        const std::vector<int> newIndex = matchIdentity();
        rewriteReferences(newIndex);
        setVersionsAndFlags(newIndex);
        moveRecords(newIndex);
        return m_file;
    }

private:
    qint32 int32(qint64 at) const
    {
        need(at, 4);
        return qFromLittleEndian<qint32>(m_file.constData() + at);
    }

    void setInt32(qint64 at, qint32 value)
    {
        need(at, 4);
        qToLittleEndian<qint32>(value, m_file.data() + at);
    }

    void need(qint64 at, qint64 count) const
    {
        if (at < 0 || count < 0 || at + count > m_file.size())
            refuse(QStringLiteral("the file is cut short at %1").arg(hex(at)));
    }

    // The file position of length bytes at offset within a segment.
    qint64 inSegment(Segment which, qint64 offset, qint64 length) const
    {
        const SegmentPlace& place = m_segments[which];
        if (offset < 0 || offset + length > place.length)
            refuse(QStringLiteral("offset %1 lies outside segment %2").arg(hex(offset)).arg(which));
        return place.offset + offset;
    }

    qint64 record(int index) const
    {
        return inSegment(TypeRecords, index * kTypeRecordSize, kTypeRecordSize);
    }

    void readLayout()
    {
        need(0, kHeaderSize);
        if (quint32(int32(0)) != kMagic)
            refuse(QStringLiteral("not a type library"));
        if (int32(kFormatField) != kFormatVersion)
            refuse(QStringLiteral("format %1 is not the one this step knows")
                       .arg(hex(quint32(int32(kFormatField)))));
        m_typeCount = int32(kTypeCountField);
        if (m_typeCount < 0 || m_typeCount >= kMaxTypes)
            refuse(QStringLiteral("implausible number of types: %1").arg(m_typeCount));

        qint64 at = kHeaderSize + ((int32(kLibraryFlagsField) & kHelpLibraryFlag) ? 4 : 0);
        for (qint32 i = 0; i < m_typeCount; ++i, at += 4)
            if (int32(at) != i * kTypeRecordSize)
                refuse(QStringLiteral("the type records are not listed in file order"));
        for (int i = 0; i < kSegmentCount; ++i, at += 16) {
            SegmentPlace& place = m_segments[i];
            place = {int32(at), int32(at + 4)};
            const bool absent = place.offset == -1 && place.length == 0;
            if (!absent && (place.offset < 0 || place.length < 0 ||
                            place.offset + place.length > m_file.size()))
                refuse(QStringLiteral("segment %1 lies outside the file").arg(i));
        }
        if (m_segments[TypeRecords].length != m_typeCount * kTypeRecordSize)
            refuse(QStringLiteral("the type record segment does not hold one record per type"));
        if (m_segments[ArrayDescriptions].length != 0)
            refuse(QStringLiteral("the file has array descriptions, which this step does not "
                                  "follow"));
        const struct
        {
            Segment segment;
            qint64 entrySize;
        } tables[] = {{References, kReferenceSize},
                      {Guids, kGuidEntrySize},
                      {TypeDescriptions, kTypeDescriptionSize}};
        for (const auto& table : tables)
            if (m_segments[table.segment].length % table.entrySize != 0)
                refuse(QStringLiteral("segment %1 does not hold whole entries").arg(table.segment));
    }

    QString nameAt(qint32 offset) const
    {
        const qint64 at = inSegment(Names, offset, kNameHeaderSize);
        const int length = int32(at + 8) & 0xFF;
        return QString::fromLatin1(
            m_file.mid(inSegment(Names, offset + kNameHeaderSize, length), length));
    }

    QByteArray guidAt(qint32 offset) const
    {
        return m_file.mid(inSegment(Guids, offset, kGuidEntrySize), 16);
    }

    static qint32 expectedKind(TypeKind kind)
    {
        switch (kind) {
        case TypeKind::DualInterface:
        case TypeKind::EventInterface:
            return kDispatchKind;
        case TypeKind::CoClass:
            return kClassKind;
        }
        return -1;
    }

    // For each record in file order, the place the identity gives its type.
    std::vector<int> matchIdentity() const
    {
        if (m_identity.types.size() != m_typeCount)
            refuse(QStringLiteral("the file holds %1 types, the library %2")
                       .arg(m_typeCount)
                       .arg(m_identity.types.size()));
        std::vector<QString> names;
        for (int i = 0; i < m_typeCount; ++i) {
            const qint32 kind = int32(record(i) + kKindField);
            if ((quint32(kind) >> 16) != quint32(i))
                refuse(QStringLiteral("type record %1 gives itself another index").arg(i));
            const qint32 tkind = kind & 0xF;
            if (tkind != kInterfaceKind && tkind != kDispatchKind && tkind != kClassKind)
                refuse(QStringLiteral("type record %1 is of kind %2, which this step does not "
                                      "know")
                           .arg(i)
                           .arg(tkind));
            names.push_back(nameAt(int32(record(i) + kNameField)));
        }

        std::vector<int> newIndex(size_t(m_typeCount), -1);
        for (qsizetype j = 0; j < m_identity.types.size(); ++j) {
            const TypeDescription& type = m_identity.types[j];
            int found = -1;
            for (int i = 0; i < m_typeCount; ++i) {
                if (names[size_t(i)] != type.name)
                    continue;
                if (found >= 0)
                    refuse(QStringLiteral("the file holds %1 twice").arg(type.name));
                found = i;
            }
            if (found < 0)
                refuse(QStringLiteral("the file lacks %1").arg(type.name));
            if (newIndex[size_t(found)] >= 0)
                refuse(QStringLiteral("the library names %1 twice").arg(type.name));
            const qint64 at = record(found);
            if ((int32(at + kKindField) & 0xF) != expectedKind(type.kind))
                refuse(QStringLiteral("%1 is of another kind in the file").arg(type.name));
            if (guidAt(int32(at + kGuidField)) != identifierBytes(type.identifier))
                refuse(QStringLiteral("%1 has another identifier in the file").arg(type.name));
            newIndex[size_t(found)] = int(j);
        }
        return newIndex;
    }

    bool isLocalType(qint32 reference) const
    {
        return reference >= 0 && reference % kTypeRecordSize == 0 &&
               reference / kTypeRecordSize < m_typeCount;
    }

    // An imported type: an import entry's offset with the low two bits 01.
    static bool isImportedType(qint32 reference) { return reference >= 0 && (reference & 3) == 1; }

    // Rewrites the local type reference at a position for the type's new place, keeps an
    // imported one or one that names no type, and refuses anything else.
    void followType(qint64 at, const std::vector<int>& newIndex, bool noneAllowed, const char* what)
    {
        const qint32 reference = int32(at);
        if (isLocalType(reference))
            setInt32(at, qint32(newIndex[size_t(reference / kTypeRecordSize)] * kTypeRecordSize));
        else if (!isImportedType(reference) && !(noneAllowed && reference == kNoType))
            refuse(QStringLiteral("%1 refers to %2, which is no type")
                       .arg(QLatin1String(what), hex(reference)));
    }

    void rewriteReferences(const std::vector<int>& newIndex)
    {
        if (int32(kDispatchField) != kNoType && !isImportedType(int32(kDispatchField)))
            refuse(QStringLiteral("the library defines its own dispatch interface"));

        for (int i = 0; i < m_typeCount; ++i) {
            const qint32 tkind = int32(record(i) + kKindField) & 0xF;
            if (tkind != kClassKind)
                followType(record(i) + kBaseField, newIndex, true, "an interface's base");
        }

        // Each name records the type it belongs to (a type's name, a member's name) or none.
        const SegmentPlace& names = m_segments[Names];
        qint64 offset = 0;
        while (offset < names.length) {
            const qint64 at = inSegment(Names, offset, kNameHeaderSize);
            followType(at, newIndex, true, "a name");
            const qint64 length = int32(at + 8) & 0xFF;
            offset += kNameHeaderSize + ((length + 3) & ~qint64(3));
        }
        if (offset != names.length)
            refuse(QStringLiteral("the name segment does not end on an entry"));

        // Each identifier records its type, the library itself, an imported type or library
        // (an import offset with the low bits 01 or 10) or none.
        for (qint64 at = 0; at < m_segments[Guids].length; at += kGuidEntrySize) {
            const qint64 owner = inSegment(Guids, at + kGuidOwnerField, 4);
            const qint32 reference = int32(owner);
            if (reference == kLibraryItself || (reference >= 0 && (reference & 3) == 2))
                continue;
            followType(owner, newIndex, true, "an identifier");
        }

        // A class's implemented types: type, flags, custom data, next.
        for (qint64 at = 0; at < m_segments[References].length; at += kReferenceSize)
            followType(inSegment(References, at, 4), newIndex, false, "a class");

        // Pointers and arrays refer to other type descriptions; a user-defined type to a type.
        for (qint64 at = 0; at < m_segments[TypeDescriptions].length; at += kTypeDescriptionSize) {
            const qint64 entry = inSegment(TypeDescriptions, at, kTypeDescriptionSize);
            const int vartype = int32(entry) & 0xFFFF;
            if (vartype == kUserDefined)
                followType(entry + 4, newIndex, false, "a user-defined type");
            else if (vartype != kPointer && vartype != kSafeArray)
                refuse(QStringLiteral("a type description of kind %1, which this step does not "
                                      "follow")
                           .arg(vartype));
        }
    }

    // What the compiler cannot write on an event interface, from the identity; flags it added
    // itself (such as dispatchable) stay.
    void setVersionsAndFlags(const std::vector<int>& newIndex)
    {
        for (int i = 0; i < m_typeCount; ++i) {
            const TypeDescription& type = m_identity.types[newIndex[size_t(i)]];
            const qint64 at = record(i);
            setInt32(at + kVersionField,
                     qint32(type.majorVersion | quint32(type.minorVersion) << 16));
            setInt32(at + kFlagsField, qint32(quint32(int32(at + kFlagsField)) | type.flags));
        }
    }

    void moveRecords(const std::vector<int>& newIndex)
    {
        const qint64 start = m_segments[TypeRecords].offset;
        const QByteArray before = m_file.mid(start, m_typeCount * kTypeRecordSize);
        for (int i = 0; i < m_typeCount; ++i) {
            const qint64 to = start + newIndex[size_t(i)] * kTypeRecordSize;
            std::copy_n(before.constData() + i * kTypeRecordSize, kTypeRecordSize,
                        m_file.data() + to);
            const qint32 kind = int32(to + kKindField) & 0xFFFF;
            setInt32(to + kKindField, qint32(quint32(kind) | quint32(newIndex[size_t(i)]) << 16));
        }
    }

    QByteArray m_file;
    const LibraryIdentity& m_identity;
    qint32 m_typeCount = 0;
    SegmentPlace m_segments[kSegmentCount];
};

} // namespace

std::optional<QByteArray> arrangeTypeLibrary(const QByteArray& compiled,
                                             const LibraryIdentity& identity, QString* error)
{
    try {
        return Arranger(compiled, identity).arrange();
    } catch (const Refusal& refusal) {
        if (error)
            *error = QString::fromStdString(refusal.what());
        return std::nullopt;
    }
}

} // namespace Quillset
