#include "pad/padcontrolserver.h"

#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include "log/activitylog.h"
#include "pad/padcontrolprotocol.h"
#include "pad/sigcomp.h"
#include "pad/simulatedpad.h"

namespace {
// How long a request may hold a swipe or a form wait: ten minutes.
constexpr int kMaxWaitMs = 600 * 1000;

std::optional<int> readNumber(const QString& text)
{
    bool ok = false;
    const int number = text.toInt(&ok);
    return ok ? std::optional<int>(number) : std::nullopt;
}
} // namespace

PadControlServer::PadControlServer(SimulatedPad& pad, ActivityLog& log, QObject* parent)
    : QObject(parent), m_pad(pad), m_log(log), m_server(new QTcpServer(this))
{
    connect(m_server, &QTcpServer::newConnection, this, &PadControlServer::accept);
    connect(&m_pad, &SimulatedPad::formShown, this, &PadControlServer::onFormShown);
}

PadControlServer::~PadControlServer() = default;

bool PadControlServer::listen(quint16 port)
{
    if (!m_server->listen(QHostAddress::LocalHost, port)) {
        m_log.log(QStringLiteral("Simulator: Control Port ") + QString::number(port) +
                  QStringLiteral(" Error (") + m_server->errorString() + QLatin1Char(')'));
        return false;
    }
    m_log.log(QStringLiteral("Simulator: Control Port ") + QString::number(m_server->serverPort()));
    return true;
}

quint16 PadControlServer::port() const
{
    return m_server->serverPort();
}

void PadControlServer::accept()
{
    while (QTcpSocket* client = m_server->nextPendingConnection()) {
        client->setParent(this);
        connect(client, &QTcpSocket::readyRead, this, [this, client] { readClient(client); });
        connect(client, &QTcpSocket::disconnected, this, [this, client] {
            dropWaiters(client);
            client->deleteLater();
        });
    }
}

void PadControlServer::readClient(QTcpSocket* client)
{
    while (client->canReadLine()) {
        const QByteArray line = client->readLine(PadControlProtocol::kMaxLineLength + 1);
        handle(client, PadControlProtocol::decodeRequest(line));
    }
    // A line that never ends is not a request.
    if (client->bytesAvailable() > PadControlProtocol::kMaxLineLength) {
        answer(client, QStringLiteral("error request line too long"));
        client->disconnectFromHost();
    }
}

void PadControlServer::answer(QTcpSocket* client, const QString& line)
{
    if (client && client->state() == QAbstractSocket::ConnectedState)
        client->write(line.toUtf8() + '\n');
}

void PadControlServer::handle(QTcpSocket* client, const QStringList& words)
{
    const QString command = words.value(0);
    if (command == QStringLiteral("swipe"))
        handleSwipe(client, words);
    else if (command == QStringLiteral("sign"))
        handleSign(client, words);
    else if (command == QStringLiteral("wait-form"))
        handleWaitForm(client, words);
    else if (command == QStringLiteral("state"))
        handleState(client);
    else if (command == QStringLiteral("set")) {
        if (words.size() != 3 || !m_pad.setVariableOnPad(words.at(1), words.at(2)))
            answer(client, QStringLiteral("error usage: set NAME VALUE, NAME one of ") +
                               SimulatedPad::variableNames().join(QLatin1Char(' ')));
        else
            answer(client, QStringLiteral("ok"));
    } else if (command == QStringLiteral("fail"))
        handleFault(client, words, false);
    else if (command == QStringLiteral("throw"))
        handleFault(client, words, true);
    else if (command == QStringLiteral("clear-faults")) {
        m_pad.clearFaults();
        answer(client, QStringLiteral("ok"));
    } else
        answer(client, QStringLiteral("error unknown command [") + command + QLatin1Char(']'));
}

void PadControlServer::handleSwipe(QTcpSocket* client, const QStringList& words)
{
    const std::optional<int> waitMs = readNumber(words.value(1));
    if ((words.size() != 3 && words.size() != 4) || !waitMs || *waitMs < 0) {
        answer(client, QStringLiteral("error usage: swipe WAIT_MS TRACK1 [TRACK2]"));
        return;
    }
    Waiter swipe{client, nullptr, QString(), words.at(2), words.value(3), QString()};
    // A swipe form already waiting for a card takes the card at once.
    if (m_swipes.empty() && giveCard(swipe))
        return;
    addWaiter(m_swipes, std::move(swipe), *waitMs);
}

void PadControlServer::handleSign(QTcpSocket* client, const QStringList& words)
{
    const std::optional<int> waitMs = readNumber(words.value(1));
    if (words.size() != 3 || !waitMs || *waitMs < 0) {
        answer(client, QStringLiteral("error usage: sign WAIT_MS SIGCOMP"));
        return;
    }
    // The pad's pen writes only pen data; anything else is not a signature.
    if (!Sigcomp::decode(words.at(2))) {
        answer(client, QStringLiteral("error the pen data is not a signature"));
        return;
    }
    Waiter signature{client, nullptr, QString(), QString(), QString(), words.at(2)};
    // A signing form already waiting takes the signature at once.
    if (m_signatures.empty() && giveSignature(signature))
        return;
    addWaiter(m_signatures, std::move(signature), *waitMs);
}

bool PadControlServer::giveCard(const Waiter& swipe)
{
    if (!m_pad.swipe(swipe.track1, swipe.track2))
        return false;
    m_log.log(QStringLiteral("Simulator: Card Swiped"));
    answer(swipe.client, QStringLiteral("ok"));
    return true;
}

bool PadControlServer::giveSignature(const Waiter& signature)
{
    if (!m_pad.sign(signature.sigcomp))
        return false;
    m_log.log(QStringLiteral("Simulator: Signed"));
    answer(signature.client, QStringLiteral("ok"));
    return true;
}

void PadControlServer::handleWaitForm(QTcpSocket* client, const QStringList& words)
{
    const std::optional<int> waitMs = readNumber(words.value(2));
    if (words.size() != 3 || !waitMs || *waitMs < 0) {
        answer(client, QStringLiteral("error usage: wait-form NAME WAIT_MS"));
        return;
    }
    if (m_pad.portOpen() && m_pad.form() == words.at(1)) {
        answer(client, QStringLiteral("ok"));
        return;
    }
    addWaiter(m_formWaits, Waiter{client, nullptr, words.at(1), {}, {}, {}}, *waitMs);
}

void PadControlServer::handleState(QTcpSocket* client)
{
    answer(client, QStringLiteral("port=") +
                       (m_pad.portOpen() ? QStringLiteral("open") : QStringLiteral("closed")));
    answer(client, QStringLiteral("form=") + m_pad.form());
    for (const QString& name : SimulatedPad::variableNames())
        answer(client,
               name + QLatin1Char('=') + PadControlProtocol::escapeValue(m_pad.variable(name)));
    answer(client, QStringLiteral("ok"));
}

void PadControlServer::handleFault(QTcpSocket* client, const QStringList& words, bool raises)
{
    const auto operation = SimulatedPad::operationByName(words.value(1));
    const std::optional<int> value = readNumber(words.value(2));
    const std::optional<int> count =
        words.size() > 3 ? readNumber(words.value(3)) : std::optional<int>(1);
    const bool valueFits = value && (raises || (*value >= -32768 && *value <= 32767));
    if (words.size() < 3 || words.size() > 4 || !operation || !valueFits || !count || *count < 1) {
        answer(client, QStringLiteral("error usage: ") +
                           (raises ? QStringLiteral("throw OPERATION CODE [COUNT]")
                                   : QStringLiteral("fail OPERATION STATUS [COUNT]")));
        return;
    }
    if (raises)
        m_pad.throwNext(*operation, *value, *count);
    else
        m_pad.failNext(*operation, qint16(*value), *count);
    answer(client, QStringLiteral("ok"));
}

void PadControlServer::addWaiter(std::list<Waiter>& waiters, Waiter waiter, int waitMs)
{
    auto* timer = new QTimer(this);
    timer->setSingleShot(true);
    waiter.timer = timer;
    waiters.push_back(std::move(waiter));
    connect(timer, &QTimer::timeout, this, [this, &waiters, timer] {
        for (auto it = waiters.begin(); it != waiters.end(); ++it) {
            if (it->timer == timer) {
                answer(it->client, QStringLiteral("timeout"));
                waiters.erase(it);
                break;
            }
        }
        timer->deleteLater();
    });
    timer->start(std::min(waitMs, kMaxWaitMs));
}

void PadControlServer::dropWaiters(QTcpSocket* client)
{
    for (std::list<Waiter>* waiters : {&m_swipes, &m_signatures, &m_formWaits}) {
        for (auto it = waiters->begin(); it != waiters->end();) {
            if (it->client == client || it->client.isNull()) {
                it->timer->deleteLater();
                it = waiters->erase(it);
            } else {
                ++it;
            }
        }
    }
}

void PadControlServer::onFormShown(const QString& form)
{
    if (form == PadForm::kStart)
        deliverHeld(m_swipes, &PadControlServer::giveCard, QStringLiteral("card"));
    else if (form == PadForm::kSig)
        deliverHeld(m_signatures, &PadControlServer::giveSignature, QStringLiteral("signature"));
    for (auto it = m_formWaits.begin(); it != m_formWaits.end();) {
        if (it->form == form) {
            answer(it->client, QStringLiteral("ok"));
            delete it->timer;
            it = m_formWaits.erase(it);
        } else {
            ++it;
        }
    }
}

void PadControlServer::deliverHeld(std::list<Waiter>& held,
                                   bool (PadControlServer::*give)(const Waiter&),
                                   const QString& what)
{
    while (!held.empty()) {
        Waiter waiter = std::move(held.front());
        held.pop_front();
        delete waiter.timer;
        if (!waiter.client || waiter.client->state() != QAbstractSocket::ConnectedState)
            continue;
        if (!(this->*give)(waiter))
            answer(waiter.client, QStringLiteral("error the pad did not take the ") + what);
        break;
    }
}
