#pragma once

#include <QApplication>

// The application object: names the program, sets its icon and runs the main dialog.
class CBrindleApp : public QApplication {
    Q_OBJECT
public:
    CBrindleApp(int& argc, char** argv);

    // Shows the main dialog modally; the program ends when it closes.
    int run();
};
