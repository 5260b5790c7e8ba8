#include "core/commandoutput.h"

namespace CommandOutput {

void print(FILE* stream, const QString& text)
{
    std::fputs((text + QLatin1Char('\n')).toLocal8Bit().constData(), stream);
    std::fflush(stream);
}

int fail(const QString& text)
{
    print(stderr, QStringLiteral("varnelpayment: ") + text);
    return 1;
}

int wrongUse(const QString& text)
{
    print(stderr, QStringLiteral("varnelpayment: ") + text + QStringLiteral(" (see --help)"));
    return 2;
}

} // namespace CommandOutput
