#include "typelibraryreader.h"

#include <algorithm>
#include <stdexcept>

#include <QPair>

namespace {

constexpr quint32 kMagic = 0x5446534D; // "MSFT"
constexpr int kHeaderSize = 0x54;
constexpr int kTypeInfoSize = 0x64;
constexpr int kSegmentCount = 15;
constexpr int kHelpDllFlag = 0x100;
constexpr int kClassKind = 5;
constexpr int kPointer = 26;
constexpr int kUserDefined = 29;

enum Segment {
    TypeInfoTable = 0,
    ImportInfo = 1,
    ImportFiles = 2,
    References = 3,
    Guids = 5,
    Names = 7,
    Strings = 8,
    TypeDescriptions = 9,
};

struct SegmentPlace
{
    qint32 offset = -1;
    qint32 length = 0;
};

class Reader
{
public:
    explicit Reader(const QByteArray& data) : m_data(data) {}

    qint32 int32(qint64 at) const { return qint32(littleEndian(at, 4)); }
    qint16 int16(qint64 at) const { return qint16(littleEndian(at, 2)); }
    QByteArray bytes(qint64 at, qint64 count) const
    {
        need(at, count);
        return m_data.mid(at, count);
    }
    qint64 size() const { return m_data.size(); }

private:
    quint32 littleEndian(qint64 at, int count) const
    {
        need(at, count);
        quint32 value = 0;
        for (int i = count - 1; i >= 0; --i)
            value = value << 8 | uchar(m_data.at(at + i));
        return value;
    }

    void need(qint64 at, qint64 count) const
    {
        if (at < 0 || count < 0 || at + count > m_data.size())
            throw std::runtime_error("the file is cut short");
    }

    const QByteArray& m_data;
};

class LibraryParser
{
public:
    explicit LibraryParser(const QByteArray& data) : m_reader(data) {}

    TypeLibraryContents parse()
    {
        if (quint32(m_reader.int32(0)) != kMagic)
            throw std::runtime_error("not a type library");
        TypeLibraryContents contents;
        const qint32 libraryGuid = m_reader.int32(0x08);
        contents.locale = quint32(m_reader.int32(0x0C));
        const qint32 varFlags = m_reader.int32(0x14);
        const qint32 version = m_reader.int32(0x18);
        contents.majorVersion = quint16(version & 0xFFFF);
        contents.minorVersion = quint16(quint32(version) >> 16);
        contents.flags = quint32(m_reader.int32(0x1C));
        const qint32 typeCount = m_reader.int32(0x20);
        const qint32 helpString = m_reader.int32(0x24);
        const qint32 libraryName = m_reader.int32(0x38);
        const qint32 importCount = m_reader.int32(0x50);
        if (typeCount < 0 || typeCount > 4096)
            throw std::runtime_error("implausible number of type descriptions");

        qint64 at = kHeaderSize + ((varFlags & kHelpDllFlag) ? 4 : 0);
        at += 4 * qint64(typeCount); // the type descriptions' offsets, which the table repeats
        for (int i = 0; i < kSegmentCount; ++i, at += 16)
            m_segments[i] = {m_reader.int32(at), m_reader.int32(at + 4)};

        contents.identifier = guid(libraryGuid);
        contents.name = name(libraryName);
        contents.description = string(helpString);
        for (qint32 i = 0; i < typeCount; ++i)
            contents.types << type(i);
        checkMemberNames(contents);
        readImports(contents, importCount);
        return contents;
    }

private:
    // The file position of offset within a segment, checked against the segment's length.
    qint64 segment(Segment which, qint64 offset, qint64 length) const
    {
        const SegmentPlace& place = m_segments[which];
        if (place.offset < 0 || offset < 0 || offset + length > place.length)
            throw std::runtime_error("a reference points outside its segment");
        return place.offset + offset;
    }

    QUuid guid(qint32 offset) const
    {
        if (offset < 0)
            return {};
        const qint64 at = segment(Guids, offset, 24);
        uchar tail[8];
        for (int i = 0; i < 8; ++i)
            tail[i] = uchar(m_reader.int16(at + 8 + i) & 0xFF);
        return QUuid(quint32(m_reader.int32(at)), quint16(m_reader.int16(at + 4)),
                     quint16(m_reader.int16(at + 6)), tail[0], tail[1], tail[2], tail[3], tail[4],
                     tail[5], tail[6], tail[7]);
    }

    // The type that a name entry gives its name to: a type record's offset, or -1 for none.
    qint32 nameOwner(qint32 offset) const { return m_reader.int32(segment(Names, offset, 12)); }

    // The type that an identifier entry (the identifier, owner, hash link) belongs to.
    qint32 guidOwner(qint32 offset) const
    {
        return m_reader.int32(segment(Guids, offset, 24) + 16);
    }

    // A name entry: owner, hash link, length in the low byte, then the characters.
    QString name(qint32 offset) const
    {
        if (offset < 0)
            return {};
        const qint64 at = segment(Names, offset, 12);
        const int length = m_reader.int32(at + 8) & 0xFF;
        return QString::fromLatin1(m_reader.bytes(segment(Names, offset + 12, length), length));
    }

    // A string entry: a 16-bit length, then the characters.
    QString string(qint32 offset) const
    {
        if (offset < 0)
            return {};
        const qint64 at = segment(Strings, offset, 2);
        const int length = quint16(m_reader.int16(at));
        return QString::fromLatin1(m_reader.bytes(segment(Strings, offset + 2, length), length));
    }

    // The identifier of the type that a reference names: a type record's offset, or an import
    // entry's offset with the low bits 01.
    QUuid referencedType(qint32 reference) const
    {
        if (reference >= 0 && (reference & 3) == 1) {
            const qint64 at = segment(ImportInfo, reference & ~3, 12);
            if (!(m_reader.int32(at) & 0x10000))
                throw std::runtime_error("an import named by index, not by identifier");
            return guid(m_reader.int32(at + 8));
        }
        if (reference < 0 || reference % kTypeInfoSize != 0)
            throw std::runtime_error("a reference to no type");
        return guid(m_reader.int32(segment(TypeInfoTable, reference + 0x2C, 4)));
    }

    TypeLibraryType type(qint32 index)
    {
        const qint64 at = segment(TypeInfoTable, qint64(index) * kTypeInfoSize, kTypeInfoSize);
        const qint32 ownOffset = index * kTypeInfoSize;
        TypeLibraryType type;
        const qint32 kind = m_reader.int32(at);
        type.kind = kind & 0xF;
        if ((quint32(kind) >> 16) != quint32(index))
            throw std::runtime_error("a type record gives itself another index");
        const qint32 memberData = m_reader.int32(at + 0x04);
        const qint32 elements = m_reader.int32(at + 0x18);
        const qint32 identifier = m_reader.int32(at + 0x2C);
        type.identifier = guid(identifier);
        type.flags = quint32(m_reader.int32(at + 0x30));
        const qint32 typeName = m_reader.int32(at + 0x34);
        type.name = name(typeName);
        if (nameOwner(typeName) != ownOffset || guidOwner(identifier) != ownOffset)
            throw std::runtime_error("the name or identifier table gives a type to another one");
        const qint32 version = m_reader.int32(at + 0x38);
        type.majorVersion = quint16(version & 0xFFFF);
        type.minorVersion = quint16(quint32(version) >> 16);
        const int implementedCount = m_reader.int16(at + 0x4C);
        // A class's first implemented-type record; an interface's base type.
        const qint32 firstReference = m_reader.int32(at + 0x54);
        if (type.kind != kClassKind && firstReference != -1)
            type.baseInterface = referencedType(firstReference);

        const int functionCount = elements & 0xFFFF;
        const int variableCount = (elements >> 16) & 0xFFFF;
        if (functionCount > 0 && memberData < m_reader.size())
            type.members = members(memberData, functionCount, variableCount);
        if (type.kind == kClassKind)
            type.implementedTypes = implementedTypes(firstReference, implementedCount);
        return type;
    }

    // The member block: its records' total length, the function records, then the member ids,
    // the name offsets and the record offsets of every member.
    QList<TypeLibraryMember> members(qint64 at, int functionCount, int variableCount)
    {
        const qint32 recordsLength = m_reader.int32(at);
        const qint64 records = at + 4;
        const qint64 ids = records + recordsLength;
        const qint64 names = ids + 4 * qint64(functionCount + variableCount);
        QList<TypeLibraryMember> members;
        qint64 record = records;
        for (int i = 0; i < functionCount; ++i) {
            const int recordLength = m_reader.int32(record) & 0xFFFF;
            const qint32 kinds = m_reader.int32(record + 16);
            const int argumentCount = m_reader.int16(record + 20);
            const int optionalFields = (recordLength - 24 - 12 * argumentCount) / 4;
            TypeLibraryMember member;
            member.flags = quint32(m_reader.int32(record + 8) & 0xFFFF);
            member.invokeKind = (kinds >> 3) & 0xF;
            TypeLibraryParameter result;
            typeOf(m_reader.int32(record + 4), result);
            member.resultType = result.type;
            member.memberId = m_reader.int32(ids + 4 * i);
            const qint32 memberName = m_reader.int32(names + 4 * i);
            member.name = name(memberName);
            m_memberNameOwners.append({member.name, nameOwner(memberName)});
            if (optionalFields > 1)
                member.documentation = string(m_reader.int32(record + 28));
            // The parameters close the record: type, name and flags of each.
            const qint64 parameters = record + recordLength - 12 * qint64(argumentCount);
            for (int p = 0; p < argumentCount; ++p) {
                const qint64 at = parameters + 12 * p;
                TypeLibraryParameter parameter;
                typeOf(m_reader.int32(at), parameter);
                parameter.name = name(m_reader.int32(at + 4));
                parameter.flags = quint32(m_reader.int32(at + 8));
                member.parameters << parameter;
            }
            members << member;
            if (recordLength <= 0)
                throw std::runtime_error("empty function record");
            record += recordLength;
        }
        return members;
    }

    // A negative type is a base type in its low bits; any other is the offset of a type
    // description: its VARTYPE, then what it refers to. For a pointer that is a base type when
    // negative, else the offset of another type description; for a user-defined type, a
    // reference to a type.
    void typeOf(qint32 type, TypeLibraryParameter& parameter) const
    {
        if (type < 0) {
            parameter.type = type & 0xFFF;
            return;
        }
        const qint64 at = segment(TypeDescriptions, type, 8);
        parameter.type = m_reader.int32(at) & 0xFFFF;
        if (parameter.type == kUserDefined)
            parameter.userType = referencedType(m_reader.int32(at + 4));
        if (parameter.type != kPointer)
            return;
        const qint32 refersTo = m_reader.int32(at + 4);
        if (refersTo < 0) {
            parameter.pointedType = refersTo & 0xFFF;
            return;
        }
        const qint64 pointed = segment(TypeDescriptions, refersTo, 8);
        parameter.pointedType = m_reader.int32(pointed) & 0xFFFF;
        if (parameter.pointedType == kUserDefined)
            parameter.userType = referencedType(m_reader.int32(pointed + 4));
    }

    // A member's name entry names a type that has a member of that name (members of several
    // types may share one entry).
    void checkMemberNames(const TypeLibraryContents& contents) const
    {
        for (const auto& [memberName, owner] : m_memberNameOwners) {
            const qsizetype index = owner / kTypeInfoSize;
            const bool found =
                owner >= 0 && owner % kTypeInfoSize == 0 && index < contents.types.size() &&
                std::any_of(contents.types[index].members.begin(),
                            contents.types[index].members.end(),
                            [&](const TypeLibraryMember& m) { return m.name == memberName; });
            if (!found)
                throw std::runtime_error("the name table gives a member's name to another type");
        }
    }

    // A chain of reference records: type, flags, custom data, next.
    QList<TypeLibraryImplementedType> implementedTypes(qint32 offset, int count) const
    {
        QList<TypeLibraryImplementedType> implemented;
        while (offset >= 0 && implemented.size() < count) {
            const qint64 at = segment(References, offset, 16);
            const qint32 reference = m_reader.int32(at);
            TypeLibraryImplementedType entry;
            // Local types are named by their place in the type table, imports by an odd offset.
            entry.index = (reference & 1) ? -1 : reference / kTypeInfoSize;
            entry.flags = m_reader.int32(at + 4);
            implemented << entry;
            offset = m_reader.int32(at + 12);
        }
        return implemented;
    }

    // Import entries (flags, file, identifier) and the files they come from (identifier,
    // locale, version, then the file name with its length shifted left by two).
    void readImports(TypeLibraryContents& contents, qint32 importCount) const
    {
        const SegmentPlace& files = m_segments[ImportFiles];
        for (qint32 offset = 0; files.offset >= 0 && offset + 14 <= files.length;) {
            const qint64 at = segment(ImportFiles, offset, 14);
            const int length = quint16(m_reader.int16(at + 12)) >> 2;
            contents.importedFiles << QString::fromLatin1(
                m_reader.bytes(segment(ImportFiles, offset + 14, length), length));
            offset += (14 + length + 3) & ~3;
        }
        for (qint32 i = 0; i < importCount; ++i) {
            const qint64 at = segment(ImportInfo, 12 * qint64(i), 12);
            if (m_reader.int32(at) & 0x10000)
                contents.importedTypes << guid(m_reader.int32(at + 8));
        }
    }

    Reader m_reader;
    SegmentPlace m_segments[kSegmentCount];
    QList<QPair<QString, qint32>> m_memberNameOwners;
};

} // namespace

std::optional<TypeLibraryContents> readTypeLibrary(const QByteArray& file, QString* error)
{
    try {
        return LibraryParser(file).parse();
    } catch (const std::runtime_error& failure) {
        if (error)
            *error = QString::fromLatin1(failure.what());
        return std::nullopt;
    }
}
