#include "pad/signaturefilename.h"

#include <gtest/gtest.h>

#include <QDir>

#include "core/failure.h"

namespace {

const QString kFolder = QStringLiteral("/srv/varnel/signatures");

QString inFolder(const QString& rest)
{
    return kFolder + QDir::separator() + rest;
}

} // namespace

TEST(SignatureFileName, OnlyNamesThatStayInTheSignaturesFolderPass)
{
    const QList<std::pair<QString, bool>> cases = {
        // Empty, "." and ".." names stay inside: the extension makes them ordinary files.
        {inFolder(QStringLiteral("ab12.pcx")), true},
        {inFolder(QStringLiteral(".pcx")), true},
        {inFolder(QStringLiteral("..pcx")), true},
        {inFolder(QStringLiteral("...pcx")), true},
        {inFolder(QStringLiteral("ab..12.pcx")), true},
        {inFolder(QStringLiteral("a b~!#$%'()*+,-=?@[]^_`{|}.pcx")), true},
        {QString(), true}, // a request without UNIQU names no file
        {inFolder(QStringLiteral("../x.pcx")), false},
        {inFolder(QStringLiteral("a/b.pcx")), false},
        {inFolder(QStringLiteral("a\\b.pcx")), false},
        {inFolder(QStringLiteral("c:x.pcx")), false},
        {inFolder(QStringLiteral("a\tb.pcx")), false},
        {inFolder(QStringLiteral("a\rb.pcx")), false},
        {inFolder(QString(QLatin1Char('\0')) + QStringLiteral(".pcx")), false},
        {inFolder(QStringLiteral("a\x7f.pcx")), false},
        {inFolder(QStringLiteral("/.pcx")), false},
        // Characters the reply would drop or leave unescaped: SIGPATH must name this file.
        {inFolder(QStringLiteral("caf\u00e9.pcx")), false},
        {inFolder(QStringLiteral("a\u0080.pcx")), false},
        {inFolder(QStringLiteral("\u4e2d.pcx")), false},
        {inFolder(QStringLiteral("a<b.pcx")), false},
        {inFolder(QStringLiteral("a>b.pcx")), false},
        {inFolder(QStringLiteral("a&amp;.pcx")), false},
        {inFolder(QStringLiteral("a\"b.pcx")), false},
        // Not a signature file at all: another folder, another extension, no name room.
        {QStringLiteral("/srv/varnel/x.pcx"), false},
        {QStringLiteral("/srv/varnel/signaturesx.pcx"), false},
        {inFolder(QStringLiteral("ab12.txt")), false},
        {kFolder + QStringLiteral(".pcx"), false},
    };
    for (const auto& [sigFile, safe] : cases) {
        EXPECT_EQ(isSafeSignatureFile(sigFile, kFolder), safe) << qPrintable(sigFile);
        if (safe) {
            EXPECT_NO_THROW(requireSafeSignatureFile(sigFile, kFolder)) << qPrintable(sigFile);
            continue;
        }
        try {
            requireSafeSignatureFile(sigFile, kFolder);
            ADD_FAILURE() << "not refused: " << qPrintable(sigFile);
        } catch (const Failure& failure) {
            EXPECT_EQ(failure.code(), FailureCode::InvalidArgument) << qPrintable(sigFile);
        }
    }
}
