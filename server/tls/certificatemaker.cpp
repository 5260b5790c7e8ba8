#include "tls/certificatemaker.h"

#include <openssl/bio.h>
#include <openssl/bn.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <ctime>
#include <memory>

#include <QHostAddress>
#include <QRegularExpression>

namespace {

template <typename T, void (*Free)(T*)> struct Freer
{
    void operator()(T* pointer) const { Free(pointer); }
};
using Bio = std::unique_ptr<BIO, Freer<BIO, BIO_free_all>>;
using Key = std::unique_ptr<EVP_PKEY, Freer<EVP_PKEY, EVP_PKEY_free>>;
using Certificate = std::unique_ptr<X509, Freer<X509, X509_free>>;
using Extension = std::unique_ptr<X509_EXTENSION, Freer<X509_EXTENSION, X509_EXTENSION_free>>;
using BigNumber = std::unique_ptr<BIGNUM, Freer<BIGNUM, BN_free>>;

// The last libcrypto error as text, for the reason a command prints.
QString cryptoError(const char* what)
{
    char text[256] = {};
    ERR_error_string_n(ERR_get_error(), text, sizeof text);
    ERR_clear_error();
    return QStringLiteral("%1 failed: %2").arg(QLatin1String(what), QLatin1String(text));
}

Key newKey()
{
    return Key(EVP_EC_gen("P-256"));
}

QByteArray pemOf(X509* certificate)
{
    Bio bio(BIO_new(BIO_s_mem()));
    if (!bio || PEM_write_bio_X509(bio.get(), certificate) != 1)
        return {};
    char* data = nullptr;
    const long size = BIO_get_mem_data(bio.get(), &data);
    return QByteArray(data, size);
}

QByteArray pemOf(EVP_PKEY* key)
{
    Bio bio(BIO_new(BIO_s_mem()));
    if (!bio ||
        PEM_write_bio_PrivateKey(bio.get(), key, nullptr, nullptr, 0, nullptr, nullptr) != 1)
        return {};
    char* data = nullptr;
    const long size = BIO_get_mem_data(bio.get(), &data);
    return QByteArray(data, size);
}

// A random positive 127-bit serial number: unique without a register of issued serials.
bool setRandomSerial(X509* certificate)
{
    BigNumber number(BN_new());
    if (!number || BN_rand(number.get(), 127, BN_RAND_TOP_ANY, BN_RAND_BOTTOM_ANY) != 1)
        return false;
    return BN_to_ASN1_INTEGER(number.get(), X509_get_serialNumber(certificate)) != nullptr;
}

bool addName(X509_NAME* name, const char* field, const QString& value)
{
    // A name's part holds at most 64 characters (a long host name is whole in the alternative
    // names); cut between characters, never inside one.
    const QList<uint> characters = value.toUcs4();
    const QByteArray utf8 =
        QString::fromUcs4(reinterpret_cast<const char32_t*>(characters.constData()),
                          qMin<qsizetype>(characters.size(), 64))
            .toUtf8();
    return X509_NAME_add_entry_by_txt(name, field, MBSTRING_UTF8,
                                      reinterpret_cast<const unsigned char*>(utf8.constData()),
                                      int(utf8.size()), -1, 0) == 1;
}

// Adds the extensions, each written in libcrypto's own configuration syntax, issued by
// `issuer` (the certificate itself for the CA).
bool addExtensions(X509* certificate, X509* issuer,
                   const std::initializer_list<std::pair<int, QByteArray>>& extensions)
{
    X509V3_CTX context;
    X509V3_set_ctx_nodb(&context);
    X509V3_set_ctx(&context, issuer, certificate, nullptr, nullptr, 0);
    for (const auto& [nid, value] : extensions) {
        Extension extension(X509V3_EXT_conf_nid(nullptr, &context, nid, value.constData()));
        if (!extension || X509_add_ext(certificate, extension.get(), -1) != 1)
            return false;
    }
    return true;
}

// A certificate of `key` named `subjectName`, valid from an hour ago (a till's clock may be a
// little behind the box's) for `days` days.
Certificate newCertificate(EVP_PKEY* key, const QString& subjectName, int days)
{
    Certificate certificate(X509_new());
    if (!certificate || X509_set_version(certificate.get(), 2) != 1 ||
        !setRandomSerial(certificate.get()) ||
        !X509_gmtime_adj(X509_getm_notBefore(certificate.get()), -3600) ||
        !X509_time_adj_ex(X509_getm_notAfter(certificate.get()), days, 0, nullptr) ||
        X509_set_pubkey(certificate.get(), key) != 1)
        return nullptr;
    X509_NAME* subject = X509_get_subject_name(certificate.get());
    if (!addName(subject, "O", QStringLiteral("Varnel Payment Server")) ||
        !addName(subject, "CN", subjectName))
        return nullptr;
    return certificate;
}

std::optional<PemIdentity> finish(X509* certificate, EVP_PKEY* key)
{
    PemIdentity identity{pemOf(certificate), pemOf(key)};
    if (identity.certificate.isEmpty() || identity.key.isEmpty())
        return std::nullopt;
    return identity;
}

// The subjectAltName value: "DNS:" for host names, "IP:" for addresses.
QByteArray alternativeNames(const QStringList& names)
{
    QByteArrayList entries;
    for (const QString& name : names) {
        QHostAddress address;
        entries << (address.setAddress(name) ? "IP:" + address.toString().toLatin1()
                                             : "DNS:" + name.toLower().toLatin1());
    }
    return entries.join(',');
}

} // namespace

namespace CertificateMaker {

bool isCertificateName(const QString& name)
{
    // An address is read leniently (blanks and a line end around it pass): none may be there.
    static const QRegularExpression address(QStringLiteral("\\A[0-9A-Fa-f.:]+\\z"));
    if (address.match(name).hasMatch() && QHostAddress().setAddress(name))
        return true;
    // \z, not $: "$" also matches before a line end that ends the text.
    static const QRegularExpression hostName(QStringLiteral(
        "\\A(\\*\\.)?[A-Za-z0-9]([A-Za-z0-9-]{0,62})(\\.[A-Za-z0-9]([A-Za-z0-9-]{0,62}))*\\.?\\z"));
    return name.size() <= 253 && hostName.match(name).hasMatch();
}

QDate expiryDate(const QByteArray& pem)
{
    Bio bio(BIO_new_mem_buf(pem.constData(), int(pem.size())));
    const Certificate certificate(bio ? PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr)
                                      : nullptr);
    std::tm end = {};
    if (!certificate || ASN1_TIME_to_tm(X509_get0_notAfter(certificate.get()), &end) != 1) {
        ERR_clear_error();
        return {};
    }
    return QDate(end.tm_year + 1900, end.tm_mon + 1, end.tm_mday);
}

std::optional<PemIdentity> makeShopCa(const QString& name, QString* reason)
{
    const Key key = newKey();
    if (!key) {
        *reason = cryptoError("making the CA's key");
        return std::nullopt;
    }
    const Certificate certificate = newCertificate(key.get(), name, kCaDays);
    if (!certificate ||
        X509_set_issuer_name(certificate.get(), X509_get_subject_name(certificate.get())) != 1 ||
        !addExtensions(certificate.get(), certificate.get(),
                       {{NID_basic_constraints, "critical,CA:TRUE,pathlen:0"},
                        {NID_key_usage, "critical,keyCertSign,cRLSign"},
                        {NID_subject_key_identifier, "hash"}}) ||
        X509_sign(certificate.get(), key.get(), EVP_sha256()) == 0) {
        *reason = cryptoError("making the CA's certificate");
        return std::nullopt;
    }
    return finish(certificate.get(), key.get());
}

std::optional<PemIdentity> makeBoxCertificate(const PemIdentity& ca, const QStringList& names,
                                              int days, QString* reason)
{
    for (const QString& name : names) {
        if (!isCertificateName(name)) {
            *reason = QStringLiteral("'%1' is neither a host name nor an IP address").arg(name);
            return std::nullopt;
        }
    }
    if (names.isEmpty() || days < kLowestBoxDays || days > kHighestBoxDays) {
        *reason = QStringLiteral("a certificate needs a name and %1 to %2 days")
                      .arg(kLowestBoxDays)
                      .arg(kHighestBoxDays);
        return std::nullopt;
    }
    Bio caCertBio(BIO_new_mem_buf(ca.certificate.constData(), int(ca.certificate.size())));
    Bio caKeyBio(BIO_new_mem_buf(ca.key.constData(), int(ca.key.size())));
    char noPassPhrase[] = "";
    const Certificate caCertificate(
        caCertBio ? PEM_read_bio_X509(caCertBio.get(), nullptr, nullptr, nullptr) : nullptr);
    const Key caKey(caKeyBio
                        ? PEM_read_bio_PrivateKey(caKeyBio.get(), nullptr, nullptr, noPassPhrase)
                        : nullptr);
    if (!caCertificate || !caKey || X509_check_private_key(caCertificate.get(), caKey.get()) != 1) {
        ERR_clear_error();
        *reason = QStringLiteral("the CA's certificate and key cannot be read or do not belong "
                                 "together");
        return std::nullopt;
    }

    const Key key = newKey();
    const Certificate certificate = key ? newCertificate(key.get(), names.first(), days) : nullptr;
    if (!certificate ||
        X509_set_issuer_name(certificate.get(), X509_get_subject_name(caCertificate.get())) != 1 ||
        !addExtensions(certificate.get(), caCertificate.get(),
                       {{NID_basic_constraints, "critical,CA:FALSE"},
                        {NID_key_usage, "critical,digitalSignature"},
                        {NID_ext_key_usage, "serverAuth"},
                        {NID_subject_key_identifier, "hash"},
                        {NID_authority_key_identifier, "keyid:always"},
                        {NID_subject_alt_name, alternativeNames(names)}}) ||
        X509_sign(certificate.get(), caKey.get(), EVP_sha256()) == 0) {
        *reason = cryptoError("making the box's certificate");
        return std::nullopt;
    }
    return finish(certificate.get(), key.get());
}

} // namespace CertificateMaker
