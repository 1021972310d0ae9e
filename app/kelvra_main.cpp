// kelvra: the control panel program.
#include <QStringList>

#include "app/gui_app.h"

int main(int argc, char** argv) {
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments.append(QString::fromLocal8Bit(argv[i]));
    C_Vesper_GUIApp app(arguments);
    return app.InitInstance(&argc, argv);
}
