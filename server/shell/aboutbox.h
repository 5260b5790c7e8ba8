#pragma once

#include <QDialog>
#include <QUrl>

class QLabel;
class QPushButton;
class UrlLauncher;

// The About box "Copyright": the program's picture, version, copyright line, release date (the
// program file's last change) and path, the program folder in use, and a button that opens the
// download page in the browser. Its labels are worked out when it opens.
class AboutBox : public QDialog
{
    Q_OBJECT

public:
    // The box's controls, each under the name it has as an object too.
    struct Controls
    {
        QPushButton* bthOK;
        QLabel* imgVarnelPaymentServer;
        QLabel* lblVersion;
        QLabel* lblCopyright;
        QLabel* lblReleaseDate;
        QLabel* lblFilePath;
        QLabel* lblProgramFolder;
        QPushButton* btnUpdateDownload;
    };

    // `programPath` is the running program's file; `programFolder` holds its settings and log.
    AboutBox(UrlLauncher& launcher, const QString& programPath, const QString& programFolder,
             QWidget* parent = nullptr);

    // The product's download page.
    static QUrl downloadPage();

    const Controls& controls() const { return m_controls; }

private:
    void Form_Load(const QString& programPath);
    void btnUpdateDownload_Click();

    UrlLauncher& m_launcher;
    Controls m_controls{};
};
