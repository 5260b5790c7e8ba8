#pragma once

#include <deque>

#include <QByteArray>
#include <QString>
#include <QStringList>

#include "core/failure.h"
#include "pad/paddriver.h"

// A pad driver that records every call and answers what the test sets.
class FakePadDriver final : public PadDriver
{
public:
    struct SetCall
    {
        QString name;
        QByteArray bytes;
        qint16 count;
    };
    // One scripted GetVariable answer.
    struct Read
    {
        QString text;
        qint16 status;
    };

    // Every call, as "Operation" or "Operation(argument)".
    QStringList calls;
    std::vector<SetCall> sets;

    qint16 openStatus = 1;
    qint16 showStatus = 1;
    qint16 setStatus = 1;
    qint16 loadStatus = 1;
    qint16 saveStatus = 1;
    // What the last SaveSignature was handed.
    QByteArray savedBytes;
    qint16 savedCount = 0;
    // IsPortOpen answers these in turn; the last one repeats.
    std::deque<qint16> portFlags{0};
    // GetVariable("TRACK1") answers these in turn, then NUL with status 1.
    std::deque<Read> track1Reads;
    // GetVariable("SIGCOMP") answers these in turn, then NUL with status 1.
    std::deque<Read> sigcompReads;
    Read track2Read{QStringLiteral("T2"), 1};
    // Throws the failure from the call with this name ("ShowForm", "SetVariable:TRACK2", ...).
    QString throwOn;
    int throwCode = 424;

    int count(const QString& call) const { return int(calls.count(call)); }

    void OpenPort(int port, int options, qint16& status) override
    {
        record(QStringLiteral("OpenPort(%1,%2)").arg(port).arg(options),
               QStringLiteral("OpenPort"));
        status = openStatus;
    }
    void ClosePort() override { record(QStringLiteral("ClosePort"), QStringLiteral("ClosePort")); }
    void IsPortOpen(qint16& flag) override
    {
        record(QStringLiteral("IsPortOpen"), QStringLiteral("IsPortOpen"));
        flag = portFlags.front();
        if (portFlags.size() > 1)
            portFlags.pop_front();
    }
    void ShowForm(const QString& formName, qint16& status) override
    {
        record(QStringLiteral("ShowForm(") + formName + QLatin1Char(')'),
               QStringLiteral("ShowForm"));
        status = showStatus;
    }
    void RunForm(const QString& formName, const QString& argument, qint16& status) override
    {
        record(QStringLiteral("RunForm(%1,%2)").arg(formName, argument), QStringLiteral("RunForm"));
        status = 1;
    }
    void LoadScript(int mode, const QString& entryName, const QString& path, int baudRate,
                    qint16& status) override
    {
        record(
            QStringLiteral("LoadScript(%1,%2,%3,%4)").arg(mode).arg(entryName, path).arg(baudRate),
            QStringLiteral("LoadScript"));
        status = loadStatus;
    }
    void SaveSignature(const QByteArray& bytes, qint16 count, const QString& path,
                       qint16& status) override
    {
        record(QStringLiteral("SaveSignature(") + path + QLatin1Char(')'),
               QStringLiteral("SaveSignature"));
        savedBytes = bytes;
        savedCount = count;
        status = saveStatus;
    }
    void GetVariable(const QString& name, QString& value, qint16& status) override
    {
        record(QStringLiteral("GetVariable(") + name + QLatin1Char(')'),
               QStringLiteral("GetVariable:") + name);
        Read read{QString(QChar(0)), 1};
        if (name == PadVariable::kTrack2) {
            read = track2Read;
        } else if (name == PadVariable::kSigcomp) {
            if (!sigcompReads.empty()) {
                read = sigcompReads.front();
                sigcompReads.pop_front();
            }
        } else if (!track1Reads.empty()) {
            read = track1Reads.front();
            track1Reads.pop_front();
        }
        value = read.text;
        status = read.status;
    }
    void SetVariable(const QString& name, const QByteArray& bytes, qint16 count,
                     qint16& status) override
    {
        record(QStringLiteral("SetVariable(") + name + QLatin1Char(')'),
               QStringLiteral("SetVariable:") + name);
        sets.push_back({name, bytes, count});
        status = setStatus;
    }

private:
    void record(const QString& call, const QString& throwKey)
    {
        calls.append(call);
        if (!throwOn.isEmpty() &&
            (throwOn == throwKey || throwKey.startsWith(throwOn + QLatin1Char(':'))))
            throw Failure(throwCode);
    }
};
