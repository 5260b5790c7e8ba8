#pragma once

#include <functional>

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QTimer>

#include "pinpad/pinpadframe.h"

// The 1000SE's side of the serial line, for people and tests without the device: checks and
// acknowledges the host's packets, shows (prints) the display texts and answers each PIN
// request with a PIN block, a cancel, or nothing.
class PinPadSimulator : public QObject
{
    Q_OBJECT

public:
    enum class Answer { Pin, Cancel, Silent };

    struct Options
    {
        QByteArray pin = "1234";
        // Ten bytes; its counter advances to the next one with at most ten 1-bits per PIN
        // block made; empty once the counter has run out.
        QByteArray ksn = QByteArray::fromHex("FFFF9876543210E00001");
        QByteArray baseKey = QByteArray::fromHex("0123456789ABCDEFFEDCBA9876543210");
        Answer answer = Answer::Pin;
        int delayMs = 500;
        // Test behaviour: NAK the first packets, damage the check byte of the first answers,
        // or answer nothing at all.
        int refusePackets = 0;
        int damageAnswers = 0;
        bool mute = false;
    };

    // `write` puts bytes on the line; `print` shows one line to the person at the pad.
    PinPadSimulator(Options options, std::function<void(const QByteArray&)> write,
                    std::function<void(const QString&)> print, QObject* parent = nullptr);

    // Bytes that arrived from the host.
    void receive(const QByteArray& bytes);

private:
    void handlePacket(const QByteArray& payload);
    void answerPinRequest();
    void sendAnswer();
    void answerNotAcknowledged();

    Options m_options;
    std::function<void(const QByteArray&)> m_write;
    std::function<void(const QString&)> m_print;
    PinPadFrameReader m_reader;
    QByteArray m_account;
    // The answer waiting for the host's ACK, and how often it went out.
    QByteArray m_answer;
    int m_answerSendings = 0;
    QTimer m_delay;
    QTimer m_ackWait;
};
