#include "core/failure.h"

Failure::Failure(int code, QString description)
    : m_code(code), m_description(std::move(description)),
      m_what(QByteArray("failure ") + QByteArray::number(code) +
             (m_description.isEmpty() ? QByteArray() : ": " + m_description.toUtf8()))
{
}

QString signedNumberText(qint64 number)
{
    const QString digits = QString::number(number);
    return number < 0 ? digits : QLatin1Char(' ') + digits;
}

QString errorNumberText(int code)
{
    return QStringLiteral("Error(") + signedNumberText(code) + QLatin1Char(')');
}
