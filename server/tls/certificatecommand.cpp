#include "tls/certificatecommand.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>

#include <QCommandLineParser>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include "core/commandoutput.h"
#include "core/defaultprogramfolder.h"
#include "core/programfolder.h"
#include "settings/profilestore.h"
#include "tls/boxnames.h"
#include "tls/browserpolicy.h"
#include "tls/certificatemaker.h"
#include "tls/filebatch.h"
#include "tls/folderowner.h"
#include "tls/privatefile.h"

namespace {

using CommandOutput::fail;
using CommandOutput::print;
using CommandOutput::wrongUse;

const QString kMakeCa = QStringLiteral("make-ca");
const QString kName = QStringLiteral("name");
const QString kMakeCertificate = QStringLiteral("make-certificate");
const QString kCa = QStringLiteral("ca");
const QString kDays = QStringLiteral("days");
const QString kBrowserPolicy = QStringLiteral("browser-policy");

// The files in a shop CA's folder, and the box's own files in the program folder.
const QString kCaCertificate = QStringLiteral("ca.pem");
const QString kCaKey = QStringLiteral("ca.key");
const QString kBoxCertificate = QStringLiteral("varnelpayment.pem");
const QString kBoxKey = QStringLiteral("varnelpayment.key");
// The most characters a shop CA's name may have: what a certificate's name can hold.
constexpr int kLongestCaName = 64;
constexpr unsigned kPublicMode = 0644;
constexpr unsigned kOwnerOnlyMode = 0600;

// libcrypto, not Qt's TLS classes: those load a TLS backend, which wants an application
// object that the commands do without.
QString expiryText(const QByteArray& pem)
{
    return CertificateMaker::expiryDate(pem).toString(Qt::ISODate);
}

bool isPrintable(const QString& text)
{
    return std::all_of(text.begin(), text.end(), [](QChar c) { return c.isPrint(); });
}

// `text` as a message quotes it: a line end or another control character as an escape.
QString shown(const QString& text)
{
    QString out;
    for (const QChar c : text) {
        if (c.isPrint())
            out += c;
        else if (c == QLatin1Char('\n'))
            out += QStringLiteral("\\n");
        else if (c == QLatin1Char('\r'))
            out += QStringLiteral("\\r");
        else if (c == QLatin1Char('\t'))
            out += QStringLiteral("\\t");
        else
            out += QStringLiteral("\\u%1").arg(c.unicode(), 4, 16, QLatin1Char('0'));
    }
    return out;
}

std::optional<PemIdentity> readCa(const QString& folder, QString* reason)
{
    QFile certificate(QDir(folder).filePath(kCaCertificate));
    QFile key(QDir(folder).filePath(kCaKey));
    if (!certificate.open(QIODevice::ReadOnly) || !key.open(QIODevice::ReadOnly)) {
        *reason = QStringLiteral("no shop CA in %1 (%2 and %3): %4")
                      .arg(folder, kCaCertificate, kCaKey,
                           certificate.isOpen() ? key.errorString() : certificate.errorString());
        return std::nullopt;
    }
    return PemIdentity{certificate.readAll(), key.readAll()};
}

// Makes a shop CA in `folder`; an existing one is never replaced (every till trusts it), and a
// link in the place of one of its files is left alone, never written through.
std::optional<PemIdentity> makeCaIn(const QString& folder, const QString& name, QString* reason)
{
    const QDir dir(folder);
    for (const QString& file : {kCaKey, kCaCertificate}) {
        if (QFileInfo(dir.filePath(file)).isSymLink()) {
            *reason = QStringLiteral("%1 is a link; a shop CA is written as plain files only, "
                                     "never through a link")
                          .arg(dir.filePath(file));
            return std::nullopt;
        }
    }
    if (QFileInfo::exists(dir.filePath(kCaKey)) ||
        QFileInfo::exists(dir.filePath(kCaCertificate))) {
        *reason = QStringLiteral("%1 already holds a shop CA; it is kept (the tills trust it)")
                      .arg(folder);
        return std::nullopt;
    }
    if (!makeProgramFolder(folder, true, reason))
        return std::nullopt;
    std::optional<PemIdentity> ca = CertificateMaker::makeShopCa(name, reason);
    FileBatch files;
    if (!ca || !files.add(dir.filePath(kCaKey), ca->key, kOwnerOnlyMode, reason) ||
        !files.add(dir.filePath(kCaCertificate), ca->certificate, kPublicMode, reason) ||
        !files.commit(reason))
        return std::nullopt;
    return ca;
}

// Whether the folder that `option` names, when given, has a printable name; else the reason.
bool checkFolderArgument(const QCommandLineParser& parser, const QString& option, QString* reason)
{
    if (!parser.isSet(option) || isPrintable(parser.value(option)))
        return true;
    *reason = QStringLiteral("--%1 takes a folder whose name is printable, not '%2'")
                  .arg(option, shown(parser.value(option)));
    return false;
}

QString defaultCaName()
{
    return QStringLiteral("Varnel shop CA %1")
        .arg(QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyy-MM-dd hh:mm:ss")));
}

int makeCa(const QCommandLineParser& parser)
{
    QString reason;
    if (!checkFolderArgument(parser, kMakeCa, &reason))
        return wrongUse(reason);
    const QString folder = QDir(parser.value(kMakeCa)).absolutePath();
    QString name = defaultCaName();
    if (parser.isSet(kName)) {
        // Blanks around the name are dropped; a line end or a control character is a mistake.
        if (!isPrintable(parser.value(kName)))
            return wrongUse(QStringLiteral("--name takes printable characters only, not '%1'")
                                .arg(shown(parser.value(kName))));
        name = parser.value(kName).trimmed();
        if (name.isEmpty())
            return wrongUse(QStringLiteral("--name needs a text"));
        const qsizetype length = name.toUcs4().size();
        if (length > kLongestCaName)
            return wrongUse(QStringLiteral("--name takes at most %1 characters, not %2")
                                .arg(kLongestCaName)
                                .arg(length));
    }
    const std::optional<PemIdentity> ca = makeCaIn(folder, name, &reason);
    if (!ca)
        return fail(QStringLiteral("cannot make the shop CA: ") + reason);
    const QString certificate = QDir(folder).filePath(kCaCertificate);
    print(stdout, QStringLiteral("Made the shop CA \"%1\", valid until %2:")
                      .arg(name, expiryText(ca->certificate)));
    print(stdout,
          QStringLiteral("  %1 (the certificate every till machine trusts)").arg(certificate));
    print(stdout, QStringLiteral("  %1 (its key, readable by its owner only: keep it off the "
                                 "tills, and back it up)")
                      .arg(QDir(folder).filePath(kCaKey)));
    print(stdout,
          QStringLiteral("Next: on each box, varnelpayment --home FOLDER --make-certificate "
                         "--ca %1; on each till machine, trust %2.")
              .arg(folder, certificate));
    return 0;
}

// How the settings file names a file of the program folder: by its full path when the file can
// hold that, else by its name alone, which the server reads as a file of the program folder.
QString settingsName(const QString& path)
{
    return ProfileStore::holdsValue(path) ? path : QFileInfo(path).fileName();
}

// Sets [WebSocket] CertFile and KeyFile through the profile store, which keeps every other line
// as it is; a missing settings file is made first, owner-only like the key it names.
bool setCertificateSettings(const QString& settingsPath, const QString& certificate,
                            const QString& key, QString* reason)
{
    const bool made = !QFileInfo::exists(settingsPath);
    if (made && !writePrivateFile(settingsPath, {}, reason))
        return false;
    if (ProfileStore::reg_set_values(
            settingsPath, QStringLiteral("S"),
            {{QStringLiteral("WebSocket"), QStringLiteral("CertFile"), settingsName(certificate)},
             {QStringLiteral("WebSocket"), QStringLiteral("KeyFile"), settingsName(key)}}) !=
        ProfileStore::kDone) {
        if (made)
            QFile::remove(settingsPath);
        *reason =
            QStringLiteral("cannot write [WebSocket] CertFile and KeyFile into ") + settingsPath;
        return false;
    }
    QFile::setPermissions(settingsPath, QFile::ReadOwner | QFile::WriteOwner);
    return true;
}

int makeCertificate(const QCommandLineParser& parser, const QString& home)
{
    int days = CertificateMaker::kDefaultBoxDays;
    if (parser.isSet(kDays)) {
        bool ok = false;
        days = parser.value(kDays).toInt(&ok);
        if (!ok || days < CertificateMaker::kLowestBoxDays ||
            days > CertificateMaker::kHighestBoxDays)
            return wrongUse(QStringLiteral("--days takes a whole number from %1 to %2, not '%3'")
                                .arg(CertificateMaker::kLowestBoxDays)
                                .arg(CertificateMaker::kHighestBoxDays)
                                .arg(parser.value(kDays)));
    }
    QString reason;
    if (!checkFolderArgument(parser, kCa, &reason))
        return wrongUse(reason);
    QStringList names = parser.positionalArguments();
    for (const QString& name : names)
        if (!CertificateMaker::isCertificateName(name))
            return wrongUse(
                QStringLiteral("'%1' is neither a host name nor an IP address").arg(shown(name)));
    if (names.isEmpty()) {
        // A host name that cannot stand in a certificate (an underscore) is left out.
        for (const QString& name : boxNames())
            if (CertificateMaker::isCertificateName(name))
                names << name;
    }
    names.removeDuplicates();

    if (!makeProgramFolder(home, true, &reason))
        return fail(QStringLiteral("cannot create the program folder %1: %2").arg(home, reason));
    const ProgramFolder folder(QDir(home).absolutePath());
    const QString caFolder = parser.isSet(kCa) ? QDir(parser.value(kCa)).absolutePath()
                                               : folder.file(QStringLiteral("ca"));
    std::optional<PemIdentity> ca;
    bool madeCa = false;
    if (!parser.isSet(kCa) && !QFileInfo::exists(QDir(caFolder).filePath(kCaCertificate))) {
        ca = makeCaIn(caFolder, defaultCaName(), &reason);
        madeCa = true;
    } else {
        ca = readCa(caFolder, &reason);
    }
    if (!ca)
        return fail(QStringLiteral("cannot make the certificate: ") + reason);
    const std::optional<PemIdentity> box =
        CertificateMaker::makeBoxCertificate(*ca, names, days, &reason);
    if (!box)
        return fail(QStringLiteral("cannot make the certificate: ") + reason);

    const QString certificatePath = folder.file(kBoxCertificate);
    const QString keyPath = folder.file(kBoxKey);
    // The CA's certificate follows the box's, so that a till is sent the whole chain.
    QByteArray chain = box->certificate;
    if (!chain.endsWith('\n'))
        chain += '\n';
    chain += ca->certificate;
    // Key, certificate and settings change together: a key never stays beside a certificate
    // it does not belong to. The certificate is public; only the key is owner-only.
    FileBatch files;
    if (!files.add(keyPath, box->key, kOwnerOnlyMode, &reason) ||
        !files.add(certificatePath, chain, kPublicMode, &reason) || !files.commit(&reason))
        return fail(QStringLiteral("cannot install the certificate: ") + reason);
    if (!setCertificateSettings(folder.settingsPath(), certificatePath, keyPath, &reason)) {
        files.undo();
        return fail(QStringLiteral("cannot install the certificate: ") + reason);
    }
    giveToFolderOwner(folder.path(), {certificatePath, keyPath, folder.settingsPath()});

    const QString caCertificate = QDir(caFolder).filePath(kCaCertificate);
    if (madeCa)
        print(stdout, QStringLiteral("Made a shop CA in %1 (no --ca given).").arg(caFolder));
    print(stdout, QStringLiteral("Made this box's certificate, signed by the shop CA in %1 and "
                                 "valid until %2:")
                      .arg(caFolder, expiryText(box->certificate)));
    print(stdout, QStringLiteral("  %1 (the certificate, then the CA's)").arg(certificatePath));
    print(stdout, QStringLiteral("  %1 (its key, readable by its owner only)").arg(keyPath));
    print(stdout, QStringLiteral("It covers these names; a till's page must use one of them:"));
    for (const QString& name : names)
        print(stdout, QStringLiteral("  ") + name);
    print(stdout,
          QStringLiteral("Set [WebSocket] CertFile and KeyFile in %1.").arg(folder.settingsPath()));
    if (settingsName(certificatePath) != certificatePath)
        print(stdout, QStringLiteral("  They name the files without their folder, whose path the "
                                     "settings file cannot hold; the server reads them from the "
                                     "program folder."));
    print(stdout, QStringLiteral("Next:"));
    print(stdout, QStringLiteral("  1. Set [WebSocket] Port and Origins (the tills' sites) there "
                                 "and restart the server; pages open wss://NAME:PORT."));
    print(stdout,
          QStringLiteral("  2. Trust %1 on each till machine (docs/protocol.md: \"A web till "
                         "from its own site\").")
              .arg(caCertificate));
    print(stdout, QStringLiteral("  3. Allow the tills' sites local network access: "
                                 "varnelpayment --home %1 --browser-policy")
                      .arg(folder.path()));
    return 0;
}

int printBrowserPolicy(const QString& home)
{
    const QString settingsPath = ProgramFolder(home).settingsPath();
    QString origins;
    ProfileStore::reg_get_value(settingsPath, QStringLiteral("WebSocket"),
                                QStringLiteral("Origins"), QStringLiteral("S"), {}, origins);
    std::fputs(browserPolicy(origins).constData(), stdout);
    std::fflush(stdout);
    if (origins.trimmed().isEmpty())
        print(stderr, QStringLiteral("varnelpayment: [WebSocket] Origins in %1 is empty: this "
                                     "policy allows no page")
                          .arg(settingsPath));
    print(stderr, QStringLiteral("Save this as a .json file in /etc/chromium/policies/managed/ "
                                 "(Chromium) or /etc/opt/chrome/policies/managed/ (Google Chrome) "
                                 "on each till machine, then restart the browser; "
                                 "chrome://policy shows it."));
    return 0;
}

} // namespace

void addCertificateOptions(QCommandLineParser& parser)
{
    parser.addOption({kMakeCa,
                      QStringLiteral("Make a shop CA in <dir> (ca.pem, and ca.key readable by its "
                                     "owner only), once per shop; its ca.pem is what the tills' "
                                     "machines trust."),
                      QStringLiteral("dir")});
    parser.addOption(
        {kName, QStringLiteral("The shop CA's name, with --make-ca."), QStringLiteral("text")});
    parser.addOption({kMakeCertificate,
                      QStringLiteral("Make this box's key and certificate for the WebSocket port "
                                     "(wss), signed by the shop CA, for the NAMEs given (host "
                                     "names and IP addresses; default: this machine's names and "
                                     "addresses), and set [WebSocket] CertFile and KeyFile.")});
    parser.addOption({kCa,
                      QStringLiteral("The shop CA's folder for --make-certificate (default: "
                                     "'ca' in the program folder, made when missing)."),
                      QStringLiteral("dir")});
    parser.addOption({kDays,
                      QStringLiteral("How long the certificate of --make-certificate lasts: %1 to "
                                     "%2 days (default %3).")
                          .arg(CertificateMaker::kLowestBoxDays)
                          .arg(CertificateMaker::kHighestBoxDays)
                          .arg(CertificateMaker::kDefaultBoxDays),
                      QStringLiteral("n")});
    parser.addOption({kBrowserPolicy,
                      QStringLiteral("Print the Chromium and Google Chrome policy that allows the "
                                     "pages of [WebSocket] Origins local network access.")});
    parser.addPositionalArgument(QStringLiteral("NAME"),
                                 QStringLiteral("With --make-certificate: a name the certificate "
                                                "covers."),
                                 QStringLiteral("[NAME ...]"));
}

std::optional<int> runCertificateCommand(const QCommandLineParser& parser, const QString& home)
{
    const int commands = int(parser.isSet(kMakeCa)) + int(parser.isSet(kMakeCertificate)) +
                         int(parser.isSet(kBrowserPolicy));
    if (commands == 0) {
        if (parser.isSet(kName))
            return wrongUse(QStringLiteral("--name goes with --make-ca"));
        if (parser.isSet(kCa) || parser.isSet(kDays))
            return wrongUse(QStringLiteral("--ca and --days go with --make-certificate"));
        return std::nullopt;
    }
    if (commands > 1)
        return wrongUse(
            QStringLiteral("--make-ca, --make-certificate and --browser-policy go one at a time"));
    if (!parser.isSet(kMakeCertificate) && !parser.positionalArguments().isEmpty())
        return wrongUse(
            QStringLiteral("unexpected argument '%1'").arg(parser.positionalArguments().first()));
    if (parser.isSet(kMakeCa)) {
        if (parser.isSet(kCa) || parser.isSet(kDays))
            return wrongUse(QStringLiteral("--ca and --days go with --make-certificate"));
        return makeCa(parser);
    }
    if (parser.isSet(kName))
        return wrongUse(QStringLiteral("--name goes with --make-ca"));
    if (parser.isSet(kMakeCertificate))
        return makeCertificate(parser, home);
    if (parser.isSet(kCa) || parser.isSet(kDays))
        return wrongUse(QStringLiteral("--ca and --days go with --make-certificate"));
    return printBrowserPolicy(home);
}
