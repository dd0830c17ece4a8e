// The program object.
#include "kestrix_app.h"

#include "kestrix_dlg.h"

CKestrixApp::CKestrixApp(int& argc, char** argv) : QApplication(argc, argv) {
    setApplicationName(QStringLiteral("Kestrix"));
}

bool CKestrixApp::InitInstance() {
    {
        CKestrixDlg dialog;
        dialog.exec();
    }
    return false;
}
