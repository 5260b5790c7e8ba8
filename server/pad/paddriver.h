#pragma once

#include <QByteArray>
#include <QString>

// The QP6100 signature pad as the server reaches it: nine synchronous operations that report
// through a 16-bit status (1 is success) or, for IsPortOpen, a flag (-1 while open). A call
// that fails outright throws Failure.
class PadDriver
{
public:
    virtual ~PadDriver() = default;

    virtual void OpenPort(int port, int options, qint16& status) = 0;
    virtual void ClosePort() = 0;
    // Non-zero while the port is open; -1 is the usual answer for open.
    virtual void IsPortOpen(qint16& flag) = 0;
    virtual void ShowForm(const QString& formName, qint16& status) = 0;
    virtual void RunForm(const QString& formName, const QString& argument, qint16& status) = 0;
    // Loads the script file at `path` into the pad under the entry name.
    virtual void LoadScript(int mode, const QString& entryName, const QString& path, int baudRate,
                            qint16& status) = 0;
    // Writes the signature bytes as an image file at `path`.
    virtual void SaveSignature(const QByteArray& bytes, qint16 count, const QString& path,
                               qint16& status) = 0;
    // Fills `value` with the variable's text; an empty variable reads as "" or one NUL.
    virtual void GetVariable(const QString& name, QString& value, qint16& status) = 0;
    // `bytes` is the text in UTF-16LE followed by two zero bytes; `count` includes them.
    virtual void SetVariable(const QString& name, const QByteArray& bytes, qint16 count,
                             qint16& status) = 0;
};

// The forms the pad's script shows.
namespace PadForm {
inline const QString kWelcome = QStringLiteral("padWelcome");
inline const QString kStart = QStringLiteral("padStart");
inline const QString kSig = QStringLiteral("padSig");
inline const QString kDisconnect = QStringLiteral("padDisconnect");
inline const QString kAutorun = QStringLiteral("AUTORUN");
} // namespace PadForm

// The variables the pad's script shares with the server.
namespace PadVariable {
inline const QString kTotal = QStringLiteral("TOTAL");
inline const QString kTrack1 = QStringLiteral("TRACK1");
inline const QString kTrack2 = QStringLiteral("TRACK2");
inline const QString kSigcomp = QStringLiteral("SIGCOMP");
inline const QString kFullname = QStringLiteral("FULLNAME");
inline const QString kAccount = QStringLiteral("ACCOUNT");
} // namespace PadVariable
