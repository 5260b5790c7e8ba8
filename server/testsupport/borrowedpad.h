#pragma once

#include "pad/paddriver.h"

// A pad driver that hands every call to a pad the test owns, so that the test can look at the
// pad that the server it made is driving.
class BorrowedPad final : public PadDriver
{
public:
    explicit BorrowedPad(PadDriver& pad) : m_pad(pad) {}

    void OpenPort(int port, int options, qint16& status) override
    {
        m_pad.OpenPort(port, options, status);
    }
    void ClosePort() override { m_pad.ClosePort(); }
    void IsPortOpen(qint16& flag) override { m_pad.IsPortOpen(flag); }
    void ShowForm(const QString& formName, qint16& status) override
    {
        m_pad.ShowForm(formName, status);
    }
    void RunForm(const QString& formName, const QString& argument, qint16& status) override
    {
        m_pad.RunForm(formName, argument, status);
    }
    void LoadScript(int mode, const QString& entryName, const QString& path, int baudRate,
                    qint16& status) override
    {
        m_pad.LoadScript(mode, entryName, path, baudRate, status);
    }
    void SaveSignature(const QByteArray& bytes, qint16 count, const QString& path,
                       qint16& status) override
    {
        m_pad.SaveSignature(bytes, count, path, status);
    }
    void GetVariable(const QString& name, QString& value, qint16& status) override
    {
        m_pad.GetVariable(name, value, status);
    }
    void SetVariable(const QString& name, const QByteArray& bytes, qint16 count,
                     qint16& status) override
    {
        m_pad.SetVariable(name, bytes, count, status);
    }

private:
    PadDriver& m_pad;
};
