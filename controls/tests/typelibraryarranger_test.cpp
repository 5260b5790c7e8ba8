// The build's step that puts the compiler's type library into the library's order: run on the
// compiler's own output from this build, on that output with references pointed elsewhere, and on
// files it must refuse.
#include <gtest/gtest.h>

#include <functional>

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QtEndian>

#include "libraryidentity.h"
#include "typelibraryarranger.h"
#include "typelibraryreader.h"

using namespace Quillset;
using namespace Qt::Literals::StringLiterals;

namespace {

QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QByteArray compiledFile()
{
    return readFile(QStringLiteral(QUILLSET_COMPILED_TLB));
}

TypeLibraryContents read(const QByteArray& file)
{
    QString error;
    std::optional<TypeLibraryContents> contents = readTypeLibrary(file, &error);
    if (!contents)
        ADD_FAILURE() << "unreadable type library: " << error.toStdString();
    return contents.value_or(TypeLibraryContents{});
}

std::optional<QByteArray> arrange(const QByteArray& file,
                                  const LibraryIdentity& identity = libraryIdentity())
{
    QString error;
    std::optional<QByteArray> arranged = arrangeTypeLibrary(file, identity, &error);
    if (!arranged)
        ADD_FAILURE() << "refused: " << error.toStdString();
    return arranged;
}

QStringList namesOf(const TypeLibraryContents& library)
{
    QStringList names;
    for (const TypeLibraryType& type : library.types)
        names << type.name;
    return names;
}

int indexOf(const TypeLibraryContents& library, const QString& name)
{
    return int(namesOf(library).indexOf(name));
}

// Everything the reader gives of a type but its place, version and flags; implemented types by
// name, since their places change.
QString contents(const TypeLibraryType& type, const TypeLibraryContents& library)
{
    QString text = u"%1 kind %2 %3 base %4\n"_s.arg(type.name).arg(type.kind).arg(
        type.identifier.toString(), type.baseInterface.toString());
    for (const TypeLibraryImplementedType& implemented : type.implementedTypes)
        text += u"implements %1 flags %2\n"_s
                    .arg(implemented.index >= 0 && implemented.index < library.types.size()
                             ? library.types[implemented.index].name
                             : u"#%1"_s.arg(implemented.index))
                    .arg(implemented.flags);
    for (const TypeLibraryMember& member : type.members) {
        text += u"%1 id %2 invoke %3 flags %4 result %5 \"%6\"\n"_s.arg(member.name)
                    .arg(member.memberId)
                    .arg(member.invokeKind)
                    .arg(member.flags)
                    .arg(member.resultType)
                    .arg(member.documentation);
        for (const TypeLibraryParameter& parameter : member.parameters)
            text += u"  %1 flags %2 type %3 %4 %5\n"_s.arg(parameter.name)
                        .arg(parameter.flags)
                        .arg(parameter.type)
                        .arg(parameter.pointedType)
                        .arg(parameter.userType.toString());
    }
    return text;
}

// Places in the file layout, for pointing references elsewhere.
qint32 int32At(const QByteArray& file, qint64 at)
{
    return qFromLittleEndian<qint32>(file.constData() + at);
}

void setInt32At(QByteArray& file, qint64 at, qint32 value)
{
    qToLittleEndian<qint32>(value, file.data() + at);
}

constexpr qint64 kTypeRecordSize = 0x64;
enum Segment { TypeRecords = 0, References = 3, Guids = 5, Names = 7, TypeDescriptions = 9 };

// The segment directory follows the header and one offset per type.
qint64 directoryEntry(const QByteArray& file, int segment)
{
    return 0x54 + 4 * qint64(int32At(file, 0x20)) + 16 * segment;
}

qint64 segmentStart(const QByteArray& file, int segment)
{
    return int32At(file, directoryEntry(file, segment));
}

qint64 typeRecord(const QByteArray& file, int index)
{
    return segmentStart(file, TypeRecords) + kTypeRecordSize * index;
}

// The type description of the colour type, the one user-defined type in the library.
qint64 userDefinedTypeDescription(const QByteArray& file)
{
    const qint64 start = segmentStart(file, TypeDescriptions);
    const qint64 end = start + int32At(file, directoryEntry(file, TypeDescriptions) + 4);
    for (qint64 at = start; at < end; at += 8)
        if ((int32At(file, at) & 0xFFFF) == 29)
            return at;
    ADD_FAILURE() << "no user-defined type description";
    return start;
}

} // namespace

TEST(TypeLibraryArranger, PutsTheCompiledTypesInTheLibrarysOrderWithTheirContents)
{
    const QByteArray compiled = compiledFile();
    ASSERT_FALSE(compiled.isEmpty()) << QUILLSET_COMPILED_TLB;
    const TypeLibraryContents before = read(compiled);
    const LibraryIdentity& identity = libraryIdentity();
    QStringList order;
    for (const TypeDescription& type : identity.types)
        order << type.name;
    // The compiler writes each event interface after its class; otherwise nothing would move.
    ASSERT_NE(namesOf(before), order);

    const std::optional<QByteArray> arranged = arrange(compiled);
    ASSERT_TRUE(arranged);
    EXPECT_EQ(arranged->size(), compiled.size());
    // The reader also checks that the name and identifier tables follow each type.
    const TypeLibraryContents after = read(*arranged);
    EXPECT_EQ(namesOf(after), order);
    EXPECT_EQ(after.name, before.name);
    EXPECT_EQ(after.identifier, before.identifier);
    EXPECT_EQ(after.description, before.description);
    EXPECT_EQ(after.importedFiles, before.importedFiles);
    EXPECT_EQ(after.importedTypes, before.importedTypes);
    ASSERT_EQ(after.types.size(), identity.types.size());
    for (qsizetype i = 0; i < identity.types.size(); ++i) {
        const TypeDescription& expected = identity.types[i];
        SCOPED_TRACE(expected.name.toStdString());
        const TypeLibraryType& moved = after.types[i];
        const int from = indexOf(before, expected.name);
        ASSERT_GE(from, 0);
        const TypeLibraryType& original = before.types[from];
        EXPECT_EQ(contents(moved, after).toStdString(), contents(original, before).toStdString());
        EXPECT_EQ(moved.majorVersion, expected.majorVersion);
        EXPECT_EQ(moved.minorVersion, expected.minorVersion);
        EXPECT_EQ(moved.flags, original.flags | expected.flags);
    }

    // Arranging again changes nothing, and the build ships exactly this file.
    EXPECT_EQ(arrange(*arranged), arranged);
    EXPECT_EQ(readFile(QStringLiteral(QUILLSET_TLB)), *arranged);
}

TEST(TypeLibraryArranger, AReferenceToATypeFollowsItToItsNewPlace)
{
    const QByteArray compiled = compiledFile();
    const TypeLibraryContents before = read(compiled);
    const int events = indexOf(before, u"__SigControl"_s);
    const int msr = indexOf(before, u"_MSRControl"_s);
    ASSERT_GE(events, 0);
    ASSERT_GE(msr, 0);
    ASSERT_NE(events, 4) << "__SigControl must move for this test to show anything";
    const qint32 eventsRecord = qint32(events * kTypeRecordSize);
    const QUuid eventsId = before.types[events].identifier;

    const struct
    {
        const char* what;
        std::function<void(QByteArray&)> pointAtEvents;
        std::function<QUuid(const TypeLibraryContents&)> referredType;
    } cases[] = {
        {"a user-defined parameter type",
         [&](QByteArray& file) {
             setInt32At(file, userDefinedTypeDescription(file) + 4, eventsRecord);
         },
         [](const TypeLibraryContents& library) {
             // BackColor's put: [in] OLE_COLOR vNewValue, as compiled.
             return library.types.value(0).members.value(14).parameters.value(0).userType;
         }},
        {"an interface's base",
         [&](QByteArray& file) { setInt32At(file, typeRecord(file, msr) + 0x54, eventsRecord); },
         [](const TypeLibraryContents& library) { return library.types.value(2).baseInterface; }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        QByteArray file = compiled;
        c.pointAtEvents(file);
        const std::optional<QByteArray> arranged = arrange(file);
        ASSERT_TRUE(arranged);
        EXPECT_EQ(c.referredType(read(*arranged)), eventsId);
    }
}

TEST(TypeLibraryArranger, RefusesWhatItDoesNotKnowHowToMove)
{
    const QByteArray compiled = compiledFile();
    const TypeLibraryContents before = read(compiled);
    const int sigClass = indexOf(before, u"SigControl"_s);
    ASSERT_GE(sigClass, 0);
    // Neither a type record's offset nor an import's.
    const qint32 noType = 0x30;
    auto set = [](qint64 (*place)(const QByteArray&), qint32 value) {
        return [=](QByteArray& file, LibraryIdentity&) { setInt32At(file, place(file), value); };
    };

    const struct
    {
        const char* what;
        std::function<void(QByteArray&, LibraryIdentity&)> spoil;
        const char* reason;
    } cases[] = {
        {"not a type library", [](QByteArray& file, LibraryIdentity&) { file[0] = 'X'; },
         "not a type library"},
        {"another format", set([](const QByteArray&) { return qint64(4); }, 0x10003),
         "format 0x10003"},
        {"cut short", [](QByteArray& file, LibraryIdentity&) { file.truncate(file.size() / 2); },
         "outside the file"},
        {"type offsets out of order", set([](const QByteArray&) { return qint64(0x58); }, 0),
         "file order"},
        {"array descriptions",
         [](QByteArray& file, LibraryIdentity&) {
             setInt32At(file, directoryEntry(file, 10), 0x60);
             setInt32At(file, directoryEntry(file, 10) + 4, 8);
         },
         "array descriptions"},
        {"a reference table holding part of an entry",
         [](QByteArray& file, LibraryIdentity&) {
             const qint64 length = directoryEntry(file, References) + 4;
             setInt32At(file, length, int32At(file, length) - 4);
         },
         "whole entries"},
        {"a name table not ending on an entry",
         [](QByteArray& file, LibraryIdentity&) {
             const qint64 length = directoryEntry(file, Names) + 4;
             setInt32At(file, length, int32At(file, length) - 4);
         },
         "name segment"},
        {"a kind of type it does not know",
         [&](QByteArray& file, LibraryIdentity&) {
             const qint64 kind = typeRecord(file, sigClass);
             setInt32At(file, kind, (int32At(file, kind) & ~0xF) | 1);
         },
         "kind 1"},
        {"a type record giving itself another index",
         [&](QByteArray& file, LibraryIdentity&) {
             const qint64 kind = typeRecord(file, sigClass);
             setInt32At(file, kind, (int32At(file, kind) & 0xFFFF) | (sigClass + 1) << 16);
         },
         "another index"},
        {"a type description it does not follow",
         [](QByteArray& file, LibraryIdentity&) {
             const qint64 entry = userDefinedTypeDescription(file);
             setInt32At(file, entry, (int32At(file, entry) & ~0xFFFF) | 28);
         },
         "kind 28"},
        {"a user-defined type past the last type",
         [](QByteArray& file, LibraryIdentity&) {
             setInt32At(file, userDefinedTypeDescription(file) + 4, 6 * kTypeRecordSize);
         },
         "a user-defined type refers to 0x258"},
        {"a name referring to no type",
         set([](const QByteArray& file) { return segmentStart(file, Names); }, noType), "a name"},
        {"an identifier referring to no type",
         [&](QByteArray& file, LibraryIdentity&) {
             const qint64 entry =
                 segmentStart(file, Guids) + int32At(file, typeRecord(file, sigClass) + 0x2C);
             setInt32At(file, entry + 16, noType);
         },
         "an identifier"},
        {"a class implementing no type",
         set([](const QByteArray& file) { return segmentStart(file, References); }, noType),
         "a class"},
        {"an interface based on no type",
         set([](const QByteArray& file) { return typeRecord(file, 0) + 0x54; }, noType),
         "an interface's base"},
        {"a library with its own dispatch interface",
         set([](const QByteArray&) { return qint64(0x4C); }, 0), "own dispatch interface"},
        {"a type the library does not have",
         [](QByteArray&, LibraryIdentity& identity) { identity.types[5].name = u"__Other"_s; },
         "lacks __Other"},
        {"one type fewer in the library",
         [](QByteArray&, LibraryIdentity& identity) { identity.types.removeLast(); },
         "holds 6 types, the library 5"},
        {"a type with another identifier",
         [](QByteArray&, LibraryIdentity& identity) {
             identity.types[1].identifier = QUuid::createUuid();
         },
         "SigControl has another identifier"},
        {"a type of another kind",
         [](QByteArray&, LibraryIdentity& identity) {
             identity.types[1].kind = TypeKind::DualInterface;
         },
         "SigControl is of another kind"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        QByteArray file = compiled;
        LibraryIdentity identity = libraryIdentity();
        c.spoil(file, identity);
        QString error;
        EXPECT_FALSE(arrangeTypeLibrary(file, identity, &error).has_value());
        EXPECT_TRUE(error.contains(QLatin1String(c.reason))) << error.toStdString();
    }
}

TEST(TypeLibraryArranger, TheBuildToolLeavesItsOutputAloneWhenItRefuses)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString input = dir.filePath(u"compiled.tlb"_s);
    const QString output = dir.filePath(u"quillset.tlb"_s);
    QFile in(input);
    ASSERT_TRUE(in.open(QIODevice::WriteOnly));
    in.write(compiledFile().left(0x100));
    in.close();
    QFile out(output);
    ASSERT_TRUE(out.open(QIODevice::WriteOnly));
    out.write("the previous build's file");
    out.close();

    QProcess tool;
    tool.start(QStringLiteral(QUILLSET_TLBARRANGE), {input, output});
    ASSERT_TRUE(tool.waitForFinished(30000));
    EXPECT_EQ(tool.exitCode(), 1);
    EXPECT_TRUE(tool.readAllStandardError().contains("refused"));
    EXPECT_EQ(readFile(output), QByteArray("the previous build's file"));
}
