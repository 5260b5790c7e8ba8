#include "doors/accesspolicy.h"

#include <gtest/gtest.h>

namespace {

struct Case
{
    const char* allowFrom;
    const char* peer;
    bool allowed;
};

} // namespace

TEST(AccessPolicy, AddressesAndRangesDecideWhoIsServed)
{
    const Case cases[] = {
        {"", "203.0.113.9", true},
        {"  ,  ", "203.0.113.9", true},
        {"10.0.0.5", "10.0.0.5", true},
        {"10.0.0.5", "10.0.0.6", false},
        {"10.0.0.0/8, 192.168.1.0/24", "10.200.3.4", true},
        {"10.0.0.0/8 192.168.1.0/24", "192.168.1.77", true},
        {"10.0.0.0/8,192.168.1.0/24", "192.168.2.1", false},
        {"10.1.2.3/8", "10.9.9.9", true},
        {"0.0.0.0/0", "203.0.113.9", true},
        // IPv4 clients of the dual-stack listener arrive IPv4-mapped.
        {"10.0.0.5", "::ffff:10.0.0.5", true},
        {"::ffff:10.0.0.0/104", "10.3.3.3", true},
        {"2001:db8::/32", "2001:db8:1::9", true},
        {"2001:db8::/32", "2001:db9::1", false},
        {"::1", "::1", true},
        {"::1", "127.0.0.1", false},
        // A malformed entry is left out; the others still apply.
        {"bogus 10.0.0.5", "10.0.0.5", true},
        {"bogus 10.0.0.5", "10.0.0.6", false},
        // Never everyone by mistake: with no usable entry only loopback is served.
        {"bogus", "203.0.113.9", false},
        {"bogus", "127.0.0.1", true},
        {"bogus", "::ffff:127.0.0.2", true},
        {"bogus", "::1", true},
        {"10", "0.0.0.10", false},
        {"10.1", "10.0.0.1", false},
        {"/8", "0.1.2.3", false},
        {"10.0.0.0/33", "10.0.0.1", false},
        {"10.0.0.0/8x", "10.0.0.1", false},
        {"256.1.1.1", "127.0.0.1", true},
        {"localhost", "198.51.100.1", false},
    };
    for (const Case& c : cases) {
        const AccessPolicy policy = AccessPolicy::fromAllowFrom(QString::fromLatin1(c.allowFrom));
        EXPECT_EQ(policy.allows(QHostAddress(QString::fromLatin1(c.peer))), c.allowed)
            << "allowFrom=[" << c.allowFrom << "] peer " << c.peer;
    }
}

TEST(AccessPolicy, SaysWhatItIgnoredAndWhatApplies)
{
    QStringList lines;
    AccessPolicy::fromAllowFrom(QStringLiteral("10.0.0.0/8,x.y ::1 10.0.0.0/40"), &lines);
    EXPECT_EQ(lines, (QStringList{
                         QStringLiteral("Socket: allowFrom Ignored entry=[x.y] (not an address or "
                                        "address/prefix range)"),
                         QStringLiteral("Socket: allowFrom Ignored entry=[10.0.0.0/40] (not an "
                                        "address or address/prefix range)"),
                         QStringLiteral("Socket: allowFrom=[10.0.0.0/8 ::1]")}));

    AccessPolicy::fromAllowFrom(QStringLiteral("nowhere"), &lines);
    EXPECT_EQ(lines.last(), QStringLiteral("Socket: allowFrom has no valid entry; only loopback "
                                           "(127.0.0.0/8, ::1) is served"));
    AccessPolicy::fromAllowFrom(QString(), &lines);
    EXPECT_TRUE(lines.isEmpty());
}
