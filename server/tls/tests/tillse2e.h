#pragma once

// What the tills' end-to-end tests share: the real program's till commands on a program
// folder, and what a run of them printed.
#include <gtest/gtest.h>

#include <QFile>
#include <QProcess>
#include <QStringList>

#include "serverprocess.h"

struct CommandRun
{
    int exitCode = -1;
    QString out;
    QString err;
};

inline CommandRun varnelpayment(const QString& home, const QStringList& arguments)
{
    QProcess process;
    process.start(ServerProcess::binDir() + QStringLiteral("/varnelpayment"),
                  QStringList{QStringLiteral("--home"), home} + arguments);
    CommandRun run;
    if (!process.waitForFinished(30000) || process.exitStatus() != QProcess::NormalExit)
        return run;
    run.exitCode = process.exitCode();
    run.out = QString::fromLocal8Bit(process.readAllStandardOutput());
    run.err = QString::fromLocal8Bit(process.readAllStandardError());
    return run;
}

// Registers the till `name` in `home` and returns its key, the last line printed.
inline QString addTill(const QString& home, const QString& name)
{
    const CommandRun run = varnelpayment(home, {QStringLiteral("--add-till"), name});
    EXPECT_EQ(run.exitCode, 0) << qPrintable(run.err);
    const QStringList lines = run.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    return lines.isEmpty() ? QString() : lines.last();
}

inline QByteArray fileBytes(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}
