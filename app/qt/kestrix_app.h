// CKestrixApp: the program object. It runs the main window modally and ends the program when that
// window ends.
#pragma once

#include <QApplication>

class CKestrixApp : public QApplication {
    Q_OBJECT

  public:
    CKestrixApp(int& argc, char** argv);
    // Runs the whole program; returns false, so that the program ends afterwards.
    bool InitInstance();
};
