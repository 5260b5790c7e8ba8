#include "shell/aboutbox.h"

#include <QDateTime>
#include <QFileInfo>
#include <QLabel>
#include <QLocale>
#include <QPushButton>

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
    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setObjectName(QStringLiteral("bthOK"));
    ok->setGeometry(designRect(3480, 240, 750, 450));
    ok->setDefault(true);
    ok->setFocus();
    connect(ok, &QPushButton::clicked, this, &QDialog::close);

    auto* picture = new QLabel(this);
    picture->setObjectName(QStringLiteral("imgVarnelPaymentServer"));
    picture->setGeometry(designRect(240, 0, 1920, 1920));
    picture->setPixmap(programPicture());

    addLine(*this, "lblVersion", QStringLiteral("Version:"), 2040);
    addLine(*this, "lblCopyright", QStringLiteral("Copyright"), 2400);
    addLine(*this, "lblReleaseDate", QStringLiteral("Release Date:"), 2760);
    addLine(*this, "lblFilePath", QStringLiteral("FilePath"), 3120);
    // Where the settings and the log are, in the gap above the download button: installed, it
    // is not the program's own folder.
    QLabel* folderLine = addLine(*this, "lblProgramFolder", QString(), 3360);
    folderLine->setText(QStringLiteral("Program folder: ") + programFolder);
    folderLine->setToolTip(folderLine->text());

    auto* download = new QPushButton(downloadPage().host(), this);
    download->setObjectName(QStringLiteral("btnUpdateDownload"));
    download->setGeometry(designRect(135, 3600, 4095, 375));
    download->setAutoDefault(false);
    connect(download, &QPushButton::clicked, this, &AboutBox::btnUpdateDownload_Click);

    Form_Load(programPath);
}

QUrl AboutBox::downloadPage()
{
    return QUrl(QStringLiteral("https://www.varnel.example/downloads/varnel_payment_server/"));
}

void AboutBox::Form_Load(const QString& programPath)
{
    const QFileInfo program(programPath);
    if (program.exists()) {
        findChild<QLabel*>(QStringLiteral("lblReleaseDate"))
            ->setText(QStringLiteral("Release Date: ") +
                      QLocale::system().toString(program.lastModified(), QLocale::ShortFormat));
    }
    findChild<QLabel*>(QStringLiteral("lblVersion"))
        ->setText(QStringLiteral("Version: ") + ProgramVersion::number());
    findChild<QLabel*>(QStringLiteral("lblCopyright"))
        ->setText(ProgramVersion::legalCopyright().trimmed());
    // The file's real path, links resolved; a missing file keeps the path as given.
    const QString realPath = program.canonicalFilePath();
    auto* path = findChild<QLabel*>(QStringLiteral("lblFilePath"));
    path->setText(realPath.isEmpty() ? programPath : realPath);
    path->setToolTip(path->text());
}

void AboutBox::btnUpdateDownload_Click()
{
    // Whether a browser opened is not looked at; the box stays open.
    m_launcher.openUrl(downloadPage());
}
