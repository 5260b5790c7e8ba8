#pragma once

#include <map>
#include <optional>
#include <vector>

#include <QDateTime>
#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTimer>

#include "request/tillkeys.h"
#include "tls/tillsfile.h"

class ActivityLog;
class Clock;

// The tills file as a running server follows it: looked at every second, read again when
// another program has replaced it (the commands rename a new file into place), and each till
// it no longer holds, or holds with another key, announced as removed. When and from where
// each till was last served is written back at most once a minute, and when the registry
// goes; the server's own write is not taken for a change. A waiting till is paired from the
// pairings file beside it, read afresh for each code, so a code works as soon as it is made.
class TillRegistry final : public QObject, public TillKeys
{
    Q_OBJECT

public:
    static constexpr int kLookEveryMs = 1000;
    static constexpr qint64 kWriteBackMs = 60 * 1000;

    // Reads `path` at once; problems with the file are logged to `log`. Last uses are written
    // back at most once every `writeBackMs`. Pairing codes expire by `clock`.
    TillRegistry(QString path, ActivityLog& log, qint64 writeBackMs = kWriteBackMs,
                 const Clock* clock = nullptr, QObject* parent = nullptr);
    ~TillRegistry() override;

    std::optional<QString> tillOf(const QString& key) override;
    void used(const QString& name, const QString& address) override;
    Pairing pair(const QString& code, const QString& address) override;
    // Writes the last uses not written yet.
    void writeBack();

Q_SIGNALS:
    // The till `name` was removed from the file, or given a new key.
    void removed(const QString& name);

private:
    // Which file is in place: its inode and change time, or none.
    struct Identity
    {
        bool exists = false;
        quint64 device = 0;
        quint64 inode = 0;
        qint64 modifiedNs = 0;
        qint64 size = 0;
        bool operator==(const Identity&) const = default;
    };
    struct LastUse
    {
        QDateTime when;
        QString address;
    };

    Identity identityNow() const;
    void look();
    // Reads the file again; false when it cannot be read (the tills stay as they were).
    bool reload();

    // Registers the waiting till whose code hashes to `codeHash`, holding the files' lock.
    Pairing pairLocked(const QByteArray& codeHash, const QString& address);
    QDateTime now() const;

    QString m_path;
    QString m_pairingsPath;
    ActivityLog& m_log;
    const Clock* m_clock;
    std::vector<Till> m_tills;
    // Key hash to till name.
    std::map<QByteArray, QString> m_byHash;
    Identity m_identity;
    // Last uses not written to the file yet, by name.
    std::map<QString, LastUse> m_unwritten;
    qint64 m_writeBackMs;
    QElapsedTimer m_sinceWrite;
    QTimer m_look;
    // A file that cannot be read is logged once until it can again.
    bool m_unreadableLogged = false;
    bool m_closing = false;
};
