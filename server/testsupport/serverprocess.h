#pragma once

#include <QProcess>
#include <QStringList>
#include <QTcpSocket>
#include <QTemporaryDir>

// The real varnelpayment binary, started headless (or as the tray program) on a free loopback
// port in a fresh program folder, for end-to-end tests.
class ServerProcess
{
public:
    // `settings` is extra INI text appended after the [Local] section that names the port (so
    // keys before its first section header belong to [Local]).
    // Unless it has its own [SerialPorts] section, COM1 to COM8 name a device that is missing.
    explicit ServerProcess(QString settings = {}, QStringList extraArguments = {});
    // Prints the server's standard error and the end of its log when the running test has
    // failed (see setFailureCheck).
    ~ServerProcess();

    // How a server learns at its end that the test using it failed; the test runner's main
    // sets it. Without it nothing is printed.
    static void setFailureCheck(bool (*testFailed)()) { s_testFailed = testFailed; }
    // The server's standard error not read yet and the last `logLines` lines of its log, for
    // a person reading a failed test's output.
    QString diagnostics(int logLines = 40);

    // Starts the server and waits until its start-up has ended with it listening. False when
    // it did not within 10 s.
    bool start();
    // Starts the tray program instead of the headless server (set the display through
    // process()'s environment).
    void setHeadless(bool headless) { m_headless = headless; }
    // Starts the server through a program that then runs it, e.g. {"prlimit", "--nofile=64",
    // "--"}: the first word is the program, the rest come before the server's path.
    void setLauncher(QStringList launcher) { m_launcher = std::move(launcher); }
    // Sends SIGTERM and waits for the exit; returns the exit code (-1 when it did not end).
    int stop();

    // Runs the server in `folder`, inside or instead of the fresh temporary one, from the next
    // start on; it is made when missing.
    void setHome(QString folder) { m_homePath = std::move(folder); }

    quint16 port() const { return m_port; }
    QString home() const { return m_homePath; }
    QProcess& process() { return m_process; }
    // The log's entries (timestamps removed), in order.
    QStringList logEntries() const;
    // The entries from the first one equal to `first` on.
    QStringList logEntriesFrom(const QString& first) const;
    // Waits until the log holds an entry equal to `entry` (at most `timeoutMs`).
    bool waitForLogEntry(const QString& entry, int timeoutMs = 5000) const;
    // The processor time (user and system) the server has used so far, in clock ticks; -1 when
    // it is not running.
    qint64 cpuTicks() const;

    // The path of the built programs.
    static QString binDir();
    // A loopback port that nothing listens on at the moment, below the range the kernel gives
    // outgoing connections, so that no test's client can take it before it is listened on.
    static quint16 freePort();

private:
    bool startOnFreePorts();

    QTemporaryDir m_home;
    QString m_homePath = m_home.path();
    QProcess m_process;
    quint16 m_port = 0;
    QString m_settings;
    QStringList m_extraArguments;
    bool m_headless = true;
    static inline bool (*s_testFailed)() = nullptr;
    QStringList m_launcher;
};

// A test client on one loopback connection.
class TestClient
{
public:
    bool connectTo(quint16 port);
    bool connectTo(const QHostAddress& address, quint16 port);
    void send(const QByteArray& bytes);
    // Reads whatever arrives within `timeoutMs`; stops early once `expectedBytes` arrived.
    QByteArray receive(int timeoutMs = 3000, qsizetype expectedBytes = -1);
    // Sends a request and reads its reply of known length.
    QByteArray transact(const QByteArray& request, const QByteArray& expectedReply);
    void close();
    QTcpSocket& socket() { return m_socket; }

private:
    QTcpSocket m_socket;
};
