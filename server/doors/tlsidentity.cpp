#include "doors/tlsidentity.h"

#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

#include <memory>

#include <QFile>
#include <QSslCertificate>
#include <QSslKey>

namespace {

std::optional<QByteArray> readFile(const QString& path, const char* what, QString* reason)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *reason = QStringLiteral("cannot read the %1 file [%2]: %3")
                      .arg(QLatin1String(what), path, file.errorString());
        return std::nullopt;
    }
    return file.readAll();
}

// Qt offers no test that a private key belongs to a certificate; libcrypto does.
bool keyMatchesCertificate(const QByteArray& certPem, const QByteArray& keyPem)
{
    const std::unique_ptr<BIO, decltype(&BIO_free)> certBio(
        BIO_new_mem_buf(certPem.constData(), int(certPem.size())), &BIO_free);
    const std::unique_ptr<BIO, decltype(&BIO_free)> keyBio(
        BIO_new_mem_buf(keyPem.constData(), int(keyPem.size())), &BIO_free);
    if (!certBio || !keyBio)
        return false;
    const std::unique_ptr<X509, decltype(&X509_free)> cert(
        PEM_read_bio_X509(certBio.get(), nullptr, nullptr, nullptr), &X509_free);
    // An empty pass phrase: a key that needs one fails here instead of prompting.
    char noPassPhrase[] = "";
    const std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)> key(
        PEM_read_bio_PrivateKey(keyBio.get(), nullptr, nullptr, noPassPhrase), &EVP_PKEY_free);
    return cert && key && X509_check_private_key(cert.get(), key.get()) == 1;
}

std::optional<QSslKey> privateKey(const QByteArray& pem)
{
    for (const QSsl::KeyAlgorithm algorithm : {QSsl::Rsa, QSsl::Ec, QSsl::Dsa}) {
        QSslKey key(pem, algorithm, QSsl::Pem, QSsl::PrivateKey);
        if (!key.isNull())
            return key;
    }
    return std::nullopt;
}

} // namespace

std::optional<QSslConfiguration> loadTlsIdentity(const QString& certFile, const QString& keyFile,
                                                 QString* reason)
{
    const std::optional<QByteArray> certPem = readFile(certFile, "certificate", reason);
    if (!certPem)
        return std::nullopt;
    const std::optional<QByteArray> keyPem = readFile(keyFile, "key", reason);
    if (!keyPem)
        return std::nullopt;

    const QList<QSslCertificate> chain = QSslCertificate::fromData(*certPem, QSsl::Pem);
    if (chain.isEmpty() || chain.first().isNull()) {
        *reason =
            QStringLiteral("the certificate file [%1] holds no PEM certificate").arg(certFile);
        return std::nullopt;
    }
    const std::optional<QSslKey> key = privateKey(*keyPem);
    if (!key) {
        *reason = QStringLiteral("the key file [%1] holds no PEM private key without a pass phrase")
                      .arg(keyFile);
        return std::nullopt;
    }
    if (!keyMatchesCertificate(*certPem, *keyPem)) {
        *reason = QStringLiteral("the key in [%1] does not belong to the certificate in [%2]")
                      .arg(keyFile, certFile);
        return std::nullopt;
    }

    QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
    configuration.setLocalCertificate(chain.first());
    if (chain.size() > 1)
        configuration.setLocalCertificateChain(chain);
    configuration.setPrivateKey(*key);
    // Tills are not asked for certificates of their own.
    configuration.setPeerVerifyMode(QSslSocket::VerifyNone);
    return configuration;
}
