// Puts the type library that the IDL compiler made into the library's order and writes it:
//     quillset-tlbarrange COMPILED.tlb OUTPUT.tlb
// A refused file leaves OUTPUT as it was.
#include <QFile>
#include <QSaveFile>
#include <QTextStream>

#include "libraryidentity.h"
#include "typelibraryarranger.h"

int main(int argc, char** argv)
{
    QTextStream err(stderr);
    if (argc != 3) {
        err << "usage: quillset-tlbarrange COMPILED.tlb OUTPUT.tlb\n";
        return 2;
    }
    QFile input(QString::fromLocal8Bit(argv[1]));
    if (!input.open(QIODevice::ReadOnly)) {
        err << "cannot read " << input.fileName() << ": " << input.errorString() << '\n';
        return 1;
    }
    QString why;
    const std::optional<QByteArray> arranged =
        Quillset::arrangeTypeLibrary(input.readAll(), Quillset::libraryIdentity(), &why);
    if (!arranged) {
        err << "refused " << input.fileName() << ": " << why << '\n';
        return 1;
    }
    QSaveFile output(QString::fromLocal8Bit(argv[2]));
    if (!output.open(QIODevice::WriteOnly) || output.write(*arranged) != arranged->size() ||
        !output.commit()) {
        err << "cannot write " << output.fileName() << ": " << output.errorString() << '\n';
        return 1;
    }
    return 0;
}
