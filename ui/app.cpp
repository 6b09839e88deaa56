#include "app.h"

#include "locale_zh.h"
#include "main_dialog.h"

#include <QIcon>

CBrindleApp::CBrindleApp(int& argc, char** argv) : QApplication(argc, argv) {
    // The resources sit in a static library; without this the linker may drop them.
    Q_INIT_RESOURCE(brindle);
    setApplicationName(QStringLiteral("Brindle"));
    setApplicationDisplayName(QStringLiteral("Brindle"));
    setApplicationVersion(QStringLiteral(BRINDLE_VERSION));
    setWindowIcon(QIcon(QStringLiteral(":/brindle/brindle.png")));
    // The users read Chinese: Qt's own buttons and dialogs should speak it too.
    brindle::ui::InstallChineseLocale(*this);
}

int CBrindleApp::run() {
    CBrindleDlg dialog;
    dialog.exec();
    // Closing the dialog, by OK or Cancel, is the normal end of the program.
    return 0;
}
