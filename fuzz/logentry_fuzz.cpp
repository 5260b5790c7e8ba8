// libFuzzer target for what the activity log makes of an entry, any text a caller may pass:
// card numbers masked, then escapes that read back to the masked entry.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include <QString>

#include "log/activitylog.h"
#include "log/cardnumberscrubber.h"

namespace {

bool isDigit(QChar ch)
{
    return ch >= QLatin1Char('0') && ch <= QLatin1Char('9');
}

bool isSeparator(QChar ch)
{
    return QStringView(u" -./_").contains(ch);
}

// The card number rule written the slow, obvious way: every stretch of the text that starts
// and ends with a whole digit group, holds only digits and runs of one to three blanks,
// dashes, dots, slashes or underscores between digits, and has 13 to 19 digits passing the
// Luhn check, shows only its last four digits.
QString expectedScrub(const QString& text)
{
    QString expected = text;
    const qsizetype size = text.size();
    for (qsizetype begin = 0; begin < size; ++begin) {
        if (!isDigit(text.at(begin)) || (begin > 0 && isDigit(text.at(begin - 1))))
            continue;
        std::vector<qsizetype> digits;
        for (qsizetype end = begin; end < size; ++end) {
            const QChar ch = text.at(end);
            if (isSeparator(ch)) {
                qsizetype after = end;
                while (after < size && isSeparator(text.at(after)))
                    ++after;
                if (!isDigit(text.at(end - 1)) || after - end > 3 || after >= size ||
                    !isDigit(text.at(after)))
                    break;
                end = after - 1;
                continue;
            }
            if (!isDigit(ch))
                break;
            digits.push_back(end);
            if (digits.size() > 19)
                break;
            const bool groupEnds = end + 1 >= size || !isDigit(text.at(end + 1));
            if (!groupEnds || digits.size() < 13)
                continue;
            int sum = 0;
            for (size_t i = 0; i < digits.size(); ++i) {
                int value = text.at(digits[digits.size() - 1 - i]).unicode() - '0';
                if (i % 2 == 1)
                    value = value * 2 > 9 ? value * 2 - 9 : value * 2;
                sum += value;
            }
            if (sum % 10 == 0) {
                for (size_t i = 0; i + 4 < digits.size(); ++i)
                    expected[digits[i]] = QLatin1Char('*');
            }
        }
    }
    return expected;
}

// Reads an escaped entry back; aborts on a backslash that starts no escape.
QString unescape(const QString& escaped)
{
    QString text;
    for (qsizetype i = 0; i < escaped.size(); ++i) {
        if (escaped.at(i) != QLatin1Char('\\')) {
            text.append(escaped.at(i));
            continue;
        }
        const QString rest = escaped.mid(i + 1, 3);
        if (rest.startsWith(QLatin1Char('\\'))) {
            text.append(QLatin1Char('\\'));
        } else if (rest.startsWith(QLatin1Char('r'))) {
            text.append(QLatin1Char('\r'));
        } else if (rest.startsWith(QLatin1Char('n'))) {
            text.append(QLatin1Char('\n'));
        } else if (rest.startsWith(QLatin1Char('t'))) {
            text.append(QLatin1Char('\t'));
        } else if (rest.size() == 3 && rest.startsWith(QLatin1Char('x'))) {
            bool ok = false;
            text.append(QChar(rest.mid(1).toUShort(&ok, 16)));
            if (!ok)
                std::abort();
            i += 2;
        } else {
            std::abort();
        }
        ++i;
    }
    return text;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QString entry =
        QString::fromLatin1(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const QString scrubbed = scrubCardNumbers(entry);

    // Only digits turn into "*", one for one, so the entry keeps its length and its layout.
    if (scrubbed.size() != entry.size())
        std::abort();
    for (qsizetype i = 0; i < entry.size(); ++i) {
        if (scrubbed.at(i) != entry.at(i) &&
            (!isDigit(entry.at(i)) || scrubbed.at(i) != QLatin1Char('*')))
            std::abort();
    }
    // Every card number is hidden but its last four digits, and nothing else is.
    if (scrubbed != expectedScrub(entry))
        std::abort();

    // The written text holds no control character or DEL, and reads back to the entry.
    const QString escaped = ActivityLog::escapeEntry(scrubbed);
    for (const QChar ch : escaped) {
        if (ch.unicode() < 32 || ch.unicode() == 127)
            std::abort();
    }
    if (unescape(escaped) != scrubbed)
        std::abort();
    return 0;
}
