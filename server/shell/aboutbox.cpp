#include "shell/aboutbox.h"

#include <QDateTime>
#include <QFileInfo>
#include <QLabel>
#include <QPushButton>

#include "log/activitylog.h"
#include "shell/programicon.h"
#include "shell/programversion.h"
#include "shell/settingsform.h"
#include "shell/urllauncher.h"

namespace {

// The client area as designed: 4365 x 4095 twips.
constexpr int kWidthTwips = 4365;
constexpr int kHeightTwips = 4095;

QRect designRect(int left, int top, int width, int height)
{
    return QRect(SettingsForm::pixels(left), SettingsForm::pixels(top), SettingsForm::pixels(width),
                 SettingsForm::pixels(height));
}

// A label centred on the window, at the design's height.
QLabel* addLine(QWidget& box, const char* name, const QString& caption, int topTwips)
{
    auto* label = new QLabel(caption, &box);
    label->setObjectName(QLatin1String(name));
    label->setFont(QFont(QStringLiteral("Arial"), 9));
    label->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    label->setGeometry(0, SettingsForm::pixels(topTwips), box.width(), SettingsForm::pixels(225));
    return label;
}

} // namespace

AboutBox::AboutBox(UrlLauncher& launcher, const QString& programPath, const QString& programFolder,
                   QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowCloseButtonHint),
      m_launcher(launcher)
{
    setObjectName(QStringLiteral("frmAbout"));
    setWindowTitle(QStringLiteral("Copyright"));
    setFixedSize(SettingsForm::pixels(kWidthTwips), SettingsForm::pixels(kHeightTwips));

    // The OK button comes first in the tab order, so it has the focus when the box opens.
    Controls& c = m_controls;
    c.bthOK = new QPushButton(QStringLiteral("OK"), this);
    c.bthOK->setObjectName(QStringLiteral("bthOK"));
    c.bthOK->setGeometry(designRect(3480, 240, 750, 450));
    c.bthOK->setDefault(true);
    c.bthOK->setFocus();
    connect(c.bthOK, &QPushButton::clicked, this, &QDialog::close);

    c.imgVarnelPaymentServer = new QLabel(this);
    c.imgVarnelPaymentServer->setObjectName(QStringLiteral("imgVarnelPaymentServer"));
    c.imgVarnelPaymentServer->setGeometry(designRect(240, 0, 1920, 1920));
    c.imgVarnelPaymentServer->setPixmap(programPicture());

    c.lblVersion = addLine(*this, "lblVersion", QStringLiteral("Version:"), 2040);
    c.lblCopyright = addLine(*this, "lblCopyright", QStringLiteral("Copyright"), 2400);
    c.lblReleaseDate = addLine(*this, "lblReleaseDate", QStringLiteral("Release Date:"), 2760);
    c.lblFilePath = addLine(*this, "lblFilePath", QStringLiteral("FilePath"), 3120);
    // Where the settings and the log are, in the gap above the download button: installed, it
    // is not the program's own folder.
    c.lblProgramFolder = addLine(*this, "lblProgramFolder", QString(), 3360);
    c.lblProgramFolder->setText(QStringLiteral("Program folder: ") + programFolder);
    c.lblProgramFolder->setToolTip(c.lblProgramFolder->text());

    c.btnUpdateDownload = new QPushButton(downloadPage().host(), this);
    c.btnUpdateDownload->setObjectName(QStringLiteral("btnUpdateDownload"));
    c.btnUpdateDownload->setGeometry(designRect(135, 3600, 4095, 375));
    c.btnUpdateDownload->setAutoDefault(false);
    connect(c.btnUpdateDownload, &QPushButton::clicked, this, &AboutBox::btnUpdateDownload_Click);

    Form_Load(programPath);
}

QUrl AboutBox::downloadPage()
{
    return QUrl(QStringLiteral("https://www.varnel.example/downloads/varnel_payment_server/"));
}

void AboutBox::Form_Load(const QString& programPath)
{
    const QFileInfo program(programPath);
    const Controls& c = m_controls;
    // The release date reads as the log's timestamps do, whatever the desktop's language.
    if (program.exists())
        c.lblReleaseDate->setText(QStringLiteral("Release Date: ") +
                                  ActivityLog::timestamp(program.lastModified()));
    c.lblVersion->setText(QStringLiteral("Version: ") + ProgramVersion::number());
    c.lblCopyright->setText(ProgramVersion::legalCopyright().trimmed());
    // The file's real path, links resolved; a missing file keeps the path as given. A path
    // longer than the line loses its middle, so that its start and the file name show; the
    // tool tip holds it whole.
    const QString realPath = program.canonicalFilePath();
    const QString wholePath = realPath.isEmpty() ? programPath : realPath;
    c.lblFilePath->setText(c.lblFilePath->fontMetrics().elidedText(wholePath, Qt::ElideMiddle,
                                                                   c.lblFilePath->width()));
    c.lblFilePath->setToolTip(wholePath);
}

void AboutBox::btnUpdateDownload_Click()
{
    // Whether a browser opened is not looked at; the box stays open.
    m_launcher.openUrl(downloadPage());
}
