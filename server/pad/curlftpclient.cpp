#include "pad/curlftpclient.h"

#include <chrono>

#include <curl/curl.h>

#include <QFile>

#include "core/failure.h"
#include "core/singlebytetext.h"
#include "pad/curlupload.h"
#include "pad/uploadthread.h"

namespace {

// What the event loop and the upload thread share of one transfer: whom to tell of its end.
// Touched only on the event loop's thread.
struct Listener
{
    FtpClient::Ended ended;
};

class CurlFtpTransfer final : public FtpTransfer
{
public:
    CurlFtpTransfer(std::shared_ptr<CurlUpload> upload, std::shared_ptr<Listener> listener)
        : m_upload(std::move(upload)), m_listener(std::move(listener))
    {
    }
    ~CurlFtpTransfer() override
    {
        m_listener->ended = nullptr;
        m_upload->abandon();
    }

private:
    std::shared_ptr<CurlUpload> m_upload;
    std::shared_ptr<Listener> m_listener;
};

// Line breaks in a name would end the command early and start another of the name's making.
bool fitsOneCommand(const QByteArray& name)
{
    return !name.contains('\r') && !name.contains('\n') && !name.contains('\0');
}

} // namespace

CurlFtpClient::CurlFtpClient()
{
    curl_global_init(CURL_GLOBAL_DEFAULT);
    m_thread = std::make_unique<UploadThread>();
}

CurlFtpClient::~CurlFtpClient()
{
    // The thread ends before libcurl is released.
    m_thread.reset();
    curl_global_cleanup();
}

QByteArray CurlFtpClient::curlUrl(const FtpUpload& upload)
{
    const QByteArray host = upload.host.contains(QLatin1Char(':'))
                                ? '[' + upload.host.toLatin1() + ']'
                                : upload.host.toLatin1();
    const QByteArray server = host + ':' + QByteArray::number(upload.port);
    const QByteArray name = toSingleByte(upload.remoteName);
    switch (upload.protocol) {
    case FtpProtocol::Sftp:
        // libcurl takes the decoded path as it is, from the root; "/~/" starts it in the
        // login's home, where a name without a leading "/" belongs.
        return "sftp://" + server + (name.startsWith('/') ? QByteArray() : "/~/") +
               name.toPercentEncoding("/");
    case FtpProtocol::Ftps:
    case FtpProtocol::Ftp:
        break;
    }
    // libcurl takes the decoded text after the first "/" as the name to store, "/"s included.
    return (upload.protocol == FtpProtocol::Ftps ? "ftps://" : "ftp://") + server + '/' +
           name.toPercentEncoding();
}

QString CurlFtpClient::partialName(const QString& remoteName)
{
    return remoteName + QStringLiteral(".part");
}

std::vector<QByteArray> CurlFtpClient::renameCommands(const FtpUpload& upload)
{
    const QByteArray partial = toSingleByte(partialName(upload.remoteName));
    const QByteArray final = toSingleByte(upload.remoteName);
    if (upload.protocol != FtpProtocol::Sftp)
        return {"RNFR " + partial, "RNTO " + final};
    // An SFTP server renames onto no existing file, so a picture sent again replaces the one
    // that came before (a failure to remove a file that is not there is no failure).
    const auto quoted = [](QByteArray path) {
        path.replace('\\', "\\\\").replace('"', "\\\"");
        return '"' + path + '"';
    };
    return {"*rm " + quoted(final), "rename " + quoted(partial) + ' ' + quoted(final)};
}

std::unique_ptr<FtpTransfer> CurlFtpClient::execute(const FtpUpload& upload, Ended ended)
{
    QFile file(upload.localFile);
    if (!file.open(QIODevice::ReadOnly))
        throw Failure(FailureCode::FileNotFound, QStringLiteral("cannot read ") + upload.localFile);
    if (!fitsOneCommand(toSingleByte(upload.remoteName)))
        throw Failure(FailureCode::InvalidArgument,
                      QStringLiteral("the remote name holds a line break"));

    FtpUpload partial = upload;
    partial.remoteName = partialName(upload.remoteName);
    CurlUpload::Job job{curlUrl(partial),
                        toSingleByte(upload.user),
                        toSingleByte(upload.password),
                        file.readAll(),
                        upload.protocol,
                        upload.security,
                        renameCommands(upload),
                        std::chrono::steady_clock::now() +
                            std::chrono::seconds(upload.timeoutSeconds)};
    auto running = std::make_shared<CurlUpload>(std::move(job));
    auto listener = std::make_shared<Listener>(Listener{std::move(ended)});
    m_thread->run(running, [listener](const FtpOutcome& outcome) {
        if (!listener->ended)
            return;
        // Runs once; the owner may destroy the transfer inside.
        const FtpClient::Ended call = std::move(listener->ended);
        listener->ended = nullptr;
        call(outcome);
    });
    return std::make_unique<CurlFtpTransfer>(std::move(running), std::move(listener));
}
