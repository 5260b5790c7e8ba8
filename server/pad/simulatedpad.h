#pragma once

#include <map>
#include <optional>

#include <QObject>
#include <QString>
#include <QStringList>

#include "pad/paddriver.h"

// A QP6100 pad inside the server: its port, the form on its screen, its six variables and its
// card reader. A customer's actions and injected faults come from outside through the pad's
// control side (PadControlServer).
class SimulatedPad final : public QObject, public PadDriver
{
    Q_OBJECT

public:
    // The driver's operations, to aim a fault at one of them.
    enum class Operation {
        OpenPort,
        ClosePort,
        IsPortOpen,
        ShowForm,
        RunForm,
        LoadScript,
        SaveSignature,
        GetVariable,
        SetVariable
    };
    static std::optional<Operation> operationByName(const QString& name);

    explicit SimulatedPad(QObject* parent = nullptr);

    void OpenPort(int port, int options, qint16& status) override;
    void ClosePort() override;
    void IsPortOpen(qint16& flag) override;
    void ShowForm(const QString& formName, qint16& status) override;
    void RunForm(const QString& formName, const QString& argument, qint16& status) override;
    void LoadScript(int mode, const QString& entryName, const QString& path, int baudRate,
                    qint16& status) override;
    void SaveSignature(const QByteArray& bytes, qint16 count, const QString& path,
                       qint16& status) override;
    void GetVariable(const QString& name, QString& value, qint16& status) override;
    void SetVariable(const QString& name, const QByteArray& bytes, qint16 count,
                     qint16& status) override;

    // The pad's side.
    bool portOpen() const { return m_portOpen; }
    const QString& form() const { return m_form; }
    // The six variables, in the order the state lists them.
    static const QStringList& variableNames();
    QString variable(const QString& name) const;
    // Sets a variable as the pad's own script would; false for a name the pad does not have.
    bool setVariableOnPad(const QString& name, const QString& value);
    // True while the swipe form is on an open pad and no card has been read on it yet.
    bool awaitingCard() const { return m_awaitingCard; }
    // A card through the reader: fills "TRACK1" and "TRACK2" when the pad awaits a card.
    bool swipe(const QString& track1, const QString& track2);
    // True while the signing form is on an open pad and nobody has signed on it yet.
    bool awaitingSignature() const { return m_awaitingSignature; }
    // The customer signs: the pen data goes into "SIGCOMP" when the pad awaits a signature.
    bool sign(const QString& sigcomp);

    // Makes the next `count` calls of an operation answer `status` instead of working (a
    // GetVariable still fills its text; a ClosePort leaves the port open).
    void failNext(Operation operation, qint16 status, int count);
    // Makes the next `count` calls of an operation throw the numbered failure.
    void throwNext(Operation operation, int code, int count);
    void clearFaults();

Q_SIGNALS:
    // A form was put on the screen.
    void formShown(const QString& formName);

private:
    struct Fault
    {
        bool raises = false;
        int value = 0;
        int remaining = 0;
    };
    // The status a pending fault imposes on this call, if any; throws for a raising fault.
    std::optional<qint16> takeFault(Operation operation);

    bool m_portOpen = false;
    bool m_awaitingCard = false;
    bool m_awaitingSignature = false;
    QString m_form;
    std::map<QString, QString> m_variables;
    std::map<Operation, Fault> m_faults;
};
