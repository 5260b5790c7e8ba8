#include "pad/simulatedpad.h"

#include <QFileInfo>

#include "core/failure.h"
#include "pad/padvaluebytes.h"

namespace {
const QStringList kFormNames = {PadForm::kWelcome, PadForm::kStart, PadForm::kSig,
                                PadForm::kDisconnect};

const QStringList kOperationNames = {
    QStringLiteral("OpenPort"),      QStringLiteral("ClosePort"),   QStringLiteral("IsPortOpen"),
    QStringLiteral("ShowForm"),      QStringLiteral("RunForm"),     QStringLiteral("LoadScript"),
    QStringLiteral("SaveSignature"), QStringLiteral("GetVariable"), QStringLiteral("SetVariable")};
} // namespace

std::optional<SimulatedPad::Operation> SimulatedPad::operationByName(const QString& name)
{
    const qsizetype index = kOperationNames.indexOf(name);
    if (index < 0)
        return std::nullopt;
    return Operation(index);
}

SimulatedPad::SimulatedPad(QObject* parent) : QObject(parent)
{
    for (const QString& name : variableNames())
        m_variables[name] = QString();
}

const QStringList& SimulatedPad::variableNames()
{
    static const QStringList names = {PadVariable::kTotal,    PadVariable::kTrack1,
                                      PadVariable::kTrack2,   PadVariable::kSigcomp,
                                      PadVariable::kFullname, PadVariable::kAccount};
    return names;
}

QString SimulatedPad::variable(const QString& name) const
{
    const auto found = m_variables.find(name);
    return found == m_variables.end() ? QString() : found->second;
}

std::optional<qint16> SimulatedPad::takeFault(Operation operation)
{
    const auto found = m_faults.find(operation);
    if (found == m_faults.end())
        return std::nullopt;
    const Fault fault = found->second;
    if (--found->second.remaining <= 0)
        m_faults.erase(found);
    if (fault.raises)
        throw Failure(fault.value, QStringLiteral("simulated pad: ") +
                                       kOperationNames.at(int(operation)) +
                                       QStringLiteral(" failed"));
    return qint16(fault.value);
}

void SimulatedPad::failNext(Operation operation, qint16 status, int count)
{
    m_faults[operation] = Fault{false, status, count};
}

void SimulatedPad::throwNext(Operation operation, int code, int count)
{
    m_faults[operation] = Fault{true, code, count};
}

void SimulatedPad::clearFaults()
{
    m_faults.clear();
}

void SimulatedPad::OpenPort(int, int, qint16& status)
{
    if (const auto fault = takeFault(Operation::OpenPort)) {
        status = *fault;
        return;
    }
    // Opening an open port keeps it open.
    m_portOpen = true;
    status = 1;
}

void SimulatedPad::ClosePort()
{
    if (takeFault(Operation::ClosePort))
        return;
    m_portOpen = false;
    m_awaitingCard = false;
    m_awaitingSignature = false;
}

void SimulatedPad::IsPortOpen(qint16& flag)
{
    if (const auto fault = takeFault(Operation::IsPortOpen)) {
        flag = *fault;
        return;
    }
    flag = m_portOpen ? -1 : 0;
}

void SimulatedPad::ShowForm(const QString& formName, qint16& status)
{
    if (const auto fault = takeFault(Operation::ShowForm)) {
        status = *fault;
        return;
    }
    if (!m_portOpen || !kFormNames.contains(formName)) {
        status = 0;
        return;
    }
    m_form = formName;
    m_awaitingCard = formName == PadForm::kStart;
    m_awaitingSignature = formName == PadForm::kSig;
    status = 1;
    Q_EMIT formShown(formName);
}

void SimulatedPad::RunForm(const QString& formName, const QString&, qint16& status)
{
    if (const auto fault = takeFault(Operation::RunForm)) {
        status = *fault;
        return;
    }
    status = m_portOpen && formName == PadForm::kAutorun ? 1 : 0;
}

void SimulatedPad::LoadScript(int, const QString& entryName, const QString& path, int,
                              qint16& status)
{
    if (const auto fault = takeFault(Operation::LoadScript)) {
        status = *fault;
        return;
    }
    // The pad takes any readable file as its script.
    const QFileInfo script(path);
    status =
        entryName == PadForm::kAutorun && !path.isEmpty() && script.isFile() && script.isReadable()
            ? 1
            : 0;
}

void SimulatedPad::SaveSignature(const QByteArray& bytes, qint16 count, const QString& path,
                                 qint16& status)
{
    if (const auto fault = takeFault(Operation::SaveSignature)) {
        status = *fault;
        return;
    }
    status = PadValueBytes::saveSignaturePicture(bytes, count, path) ? 1 : 0;
}

void SimulatedPad::GetVariable(const QString& name, QString& value, qint16& status)
{
    const std::optional<qint16> fault = takeFault(Operation::GetVariable);
    status = 0;
    const auto found = m_variables.find(name);
    if (m_portOpen && found != m_variables.end()) {
        // Like the real pad, an empty variable reads back as one NUL.
        value = found->second.isEmpty() ? QString(QChar(0)) : found->second;
        status = 1;
    }
    if (fault)
        status = *fault;
}

void SimulatedPad::SetVariable(const QString& name, const QByteArray& bytes, qint16 count,
                               qint16& status)
{
    if (const auto fault = takeFault(Operation::SetVariable)) {
        status = *fault;
        return;
    }
    status = 0;
    const auto found = m_variables.find(name);
    if (!m_portOpen || found == m_variables.end())
        return;
    const std::optional<QString> text = PadValueBytes::variableText(bytes, count);
    if (!text)
        return;
    found->second = *text;
    status = 1;
}

bool SimulatedPad::setVariableOnPad(const QString& name, const QString& value)
{
    const auto found = m_variables.find(name);
    if (found == m_variables.end())
        return false;
    found->second = value;
    return true;
}

bool SimulatedPad::swipe(const QString& track1, const QString& track2)
{
    if (!m_portOpen || !m_awaitingCard)
        return false;
    // The swipe form takes one card; the next card waits for the form to be shown again.
    m_awaitingCard = false;
    m_variables[PadVariable::kTrack1] = track1;
    m_variables[PadVariable::kTrack2] = track2;
    return true;
}

bool SimulatedPad::sign(const QString& sigcomp)
{
    if (!m_portOpen || !m_awaitingSignature)
        return false;
    // The signing form takes one signature; the next waits for the form to be shown again.
    m_awaitingSignature = false;
    m_variables[PadVariable::kSigcomp] = sigcomp;
    return true;
}
