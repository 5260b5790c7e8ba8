#pragma once

#include <list>

#include <QObject>
#include <QPointer>
#include <QString>

class ActivityLog;
class QTcpServer;
class QTcpSocket;
class QTimer;
class SimulatedPad;

// The simulated pad's control port on 127.0.0.1: where a person or a test stands at the pad,
// swipes cards, looks at the screen and the variables, and makes operations fail. The protocol
// is in padcontrolprotocol.h. Track data is never logged.
class PadControlServer final : public QObject
{
    Q_OBJECT

public:
    PadControlServer(SimulatedPad& pad, ActivityLog& log, QObject* parent = nullptr);
    ~PadControlServer() override;

    // Listens on 127.0.0.1 only; logs the port, or why it cannot listen. Port 0 picks a free one.
    bool listen(quint16 port);
    quint16 port() const;

private:
    // A request that waits for the pad: a held swipe or signature, or a form awaited.
    struct Waiter
    {
        QPointer<QTcpSocket> client;
        QTimer* timer = nullptr;
        QString form;
        QString track1;
        QString track2;
        QString sigcomp;
    };

    void accept();
    void readClient(QTcpSocket* client);
    void handle(QTcpSocket* client, const QStringList& words);
    void handleSwipe(QTcpSocket* client, const QStringList& words);
    void handleSign(QTcpSocket* client, const QStringList& words);
    void handleWaitForm(QTcpSocket* client, const QStringList& words);
    void handleState(QTcpSocket* client);
    void handleFault(QTcpSocket* client, const QStringList& words, bool raises);
    void onFormShown(const QString& form);
    // Hands the first held swipe or signature that still has its client to the pad.
    void deliverHeld(std::list<Waiter>& held, bool (PadControlServer::*give)(const Waiter&),
                     const QString& what);
    bool giveCard(const Waiter& swipe);
    bool giveSignature(const Waiter& signature);
    void addWaiter(std::list<Waiter>& waiters, Waiter waiter, int waitMs);
    void dropWaiters(QTcpSocket* client);
    static void answer(QTcpSocket* client, const QString& line);

    SimulatedPad& m_pad;
    ActivityLog& m_log;
    QTcpServer* m_server;
    std::list<Waiter> m_swipes;
    std::list<Waiter> m_signatures;
    std::list<Waiter> m_formWaits;
};
