#pragma once

#include <optional>

#include <QByteArray>
#include <QDate>
#include <QString>
#include <QStringList>

// A certificate and its private key, both PEM.
struct PemIdentity
{
    QByteArray certificate;
    QByteArray key;
};

namespace CertificateMaker {

// How long a shop CA lasts.
constexpr int kCaDays = 3650;
// A box certificate's life unless asked otherwise, and the range that may be asked for
// (browsers refuse server certificates that last longer).
constexpr int kDefaultBoxDays = 397;
constexpr int kLowestBoxDays = 1;
constexpr int kHighestBoxDays = 825;

// A new shop CA: an EC P-256 key and a self-signed CA certificate named `name`, valid for ten
// years. Nothing, with the reason, when libcrypto fails.
std::optional<PemIdentity> makeShopCa(const QString& name, QString* reason);

// A new key and a server certificate signed by `ca` for `names` (host names and IP addresses,
// each a subject alternative name; the first is also the common name), valid for `days`.
// Nothing, with the reason, when the CA cannot be read or a name is neither.
std::optional<PemIdentity> makeBoxCertificate(const PemIdentity& ca, const QStringList& names,
                                              int days, QString* reason);

// Whether `name` may stand in a certificate: an IP address, or a host name of letters, digits,
// "-" and dots (a leading "*." allowed); nothing else, not even a blank or a line end after it.
bool isCertificateName(const QString& name);

// The last day (UTC) of the first certificate in `pem`; invalid when it holds none.
QDate expiryDate(const QByteArray& pem);

} // namespace CertificateMaker
