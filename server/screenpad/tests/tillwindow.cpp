// A till program's window for the desktop tests: one text field titled "Varnel Till". Each line
// entered in it (Return) is printed on standard output at once, so a test sees what the till
// received from the keyboard.
#include <cstdio>

#include <QApplication>
#include <QLineEdit>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QLineEdit field;
    field.setWindowTitle(QStringLiteral("Varnel Till"));
    field.resize(320, 40);
    QObject::connect(&field, &QLineEdit::returnPressed, &field, [&field] {
        std::printf("%s\n", field.text().toUtf8().constData());
        std::fflush(stdout);
        field.clear();
    });
    field.show();
    return app.exec();
}
