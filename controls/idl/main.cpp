// Writes the control library's type library definition to the file named on the command line.
#include <QFile>
#include <QTextStream>

#include "idlwriter.h"
#include "libraryidentity.h"

int main(int argc, char** argv)
{
    QTextStream err(stderr);
    if (argc != 2) {
        err << "usage: quillset-idlgen OUTPUT.idl\n";
        return 2;
    }
    QFile file(QString::fromLocal8Bit(argv[1]));
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Text)) {
        err << "cannot write " << file.fileName() << ": " << file.errorString() << '\n';
        return 1;
    }
    file.write(Quillset::interfaceDefinition(Quillset::libraryIdentity()).toUtf8());
    if (!file.flush()) {
        err << "cannot write " << file.fileName() << ": " << file.errorString() << '\n';
        return 1;
    }
    return 0;
}
