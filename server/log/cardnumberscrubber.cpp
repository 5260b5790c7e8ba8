#include "log/cardnumberscrubber.h"

#include <array>

#include <QVarLengthArray>

namespace {

constexpr int kMinDigits = 13;
constexpr int kMaxDigits = 19;
constexpr int kShownDigits = 4;
// The longest run of separators that still joins two digit groups.
constexpr int kMaxSeparatorRun = 3;

bool isDigit(QChar ch)
{
    return ch.unicode() >= u'0' && ch.unicode() <= u'9';
}

bool isGroupSeparator(QChar ch)
{
    switch (ch.unicode()) {
    case u' ':
    case u'-':
    case u'.':
    case u'/':
    case u'_':
        return true;
    default:
        return false;
    }
}

// The length of the separator run at `pos` when a digit follows it and it is short enough to
// join two groups; 0 otherwise.
qsizetype joiningRun(const QString& entry, qsizetype pos)
{
    qsizetype end = pos;
    while (end < entry.size() && end - pos < kMaxSeparatorRun && isGroupSeparator(entry.at(end)))
        ++end;
    return end > pos && end < entry.size() && isDigit(entry.at(end)) ? end - pos : 0;
}

// An unbroken run of digits: text[begin, end).
struct DigitGroup
{
    qsizetype begin = 0;
    qsizetype end = 0;
    qsizetype size() const { return end - begin; }
};

// Groups joined by short separator runs; most entries' chains fit without a heap allocation.
using DigitChain = QVarLengthArray<DigitGroup, 16>;

// Masks every card number made of whole groups of `chain`.
void scrubChain(const QString& entry, const DigitChain& chain, QString& out)
{
    for (qsizetype first = 0; first < chain.size(); ++first) {
        std::array<qsizetype, kMaxDigits> positions{};
        int count = 0;
        for (qsizetype last = first; last < chain.size(); ++last) {
            const DigitGroup& group = chain.at(last);
            if (count + group.size() > kMaxDigits)
                break;
            for (qsizetype pos = group.begin; pos < group.end; ++pos)
                positions[size_t(count++)] = pos;
            if (count < kMinDigits)
                continue;
            // The candidate's digits in order, for the check.
            std::array<QChar, kMaxDigits> digits{};
            for (int i = 0; i < count; ++i)
                digits[size_t(i)] = entry.at(positions[size_t(i)]);
            if (!passesLuhnCheck(QStringView(digits.data(), count)))
                continue;
            for (int i = 0; i < count - kShownDigits; ++i)
                out[positions[size_t(i)]] = QLatin1Char('*');
        }
    }
}

} // namespace

bool passesLuhnCheck(QStringView digits)
{
    int sum = 0;
    bool doubled = false;
    for (qsizetype i = digits.size() - 1; i >= 0; --i) {
        int value = digits.at(i).unicode() - u'0';
        if (doubled) {
            value *= 2;
            if (value > 9)
                value -= 9;
        }
        sum += value;
        doubled = !doubled;
    }
    return sum % 10 == 0;
}

QString scrubCardNumbers(const QString& entry)
{
    // Most entries hold too few digits for a card number: they pass without a closer look.
    const QChar* chars = entry.constData();
    qsizetype digits = 0;
    for (qsizetype i = 0; i < entry.size(); ++i)
        digits += unsigned(chars[i].unicode()) - unsigned(u'0') < 10u ? 1 : 0;
    if (digits < kMinDigits)
        return entry;

    QString out = entry; // shared until a digit is masked
    DigitChain chain;
    qsizetype digitsInChain = 0;
    auto finishChain = [&] {
        if (digitsInChain >= kMinDigits)
            scrubChain(entry, chain, out);
        chain.clear();
        digitsInChain = 0;
    };

    qsizetype pos = 0;
    const qsizetype size = entry.size();
    while (pos < size) {
        if (!isDigit(entry.at(pos))) {
            ++pos;
            continue;
        }
        DigitGroup group{pos, pos};
        while (group.end < size && isDigit(entry.at(group.end)))
            ++group.end;
        chain.append(group);
        digitsInChain += group.size();
        pos = group.end;
        // A short run of separators between two digits joins the next group to this chain.
        if (const qsizetype run = joiningRun(entry, pos); run > 0)
            pos += run;
        else
            finishChain();
    }
    return out;
}
