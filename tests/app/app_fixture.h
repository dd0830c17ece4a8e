// What the program's tests share: a double of Tarnlink and Glintra that records each call as
// "NAME(arg,...)", scripts its results and keeps the callbacks that a test then calls as the SDK's
// and render library's threads; a fixture with a private program folder and the message boxes.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QStringList>
#include <QTemporaryDir>
#include <QTimer>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "connect_dlg.h"
#include "dialog_layout.h"
#include "glintra.h"
#include "kestrix_dlg.h"
#include "message_box.h"
#include "qt_helpers.h"
#include "set_cap_path_dlg.h"
#include "settings_files.h"
#include "tarnlink.h"

namespace sdkdouble {

struct Script {
    int32_t loginResult = 0;  // user id, or negative
    uint32_t lastError = 0;
    int32_t realPlayResult = 0;  // play handle, or negative
    int32_t initResult = 1;
    int32_t updateFrameResult = 1;
};

// What the last TLNK_RealPlay_V30 and GLT_SetCallBack were given (both on the GUI thread).
struct Callbacks {
    TLNK_StreamCallback stream = nullptr;
    void* streamUser = nullptr;
    GLT_DRAWCALLBACK overlay = nullptr;
    void* overlayUser = nullptr;
};

extern Script script;
extern Callbacks handed;

// Forgets the calls, callbacks and observer and starts from `script`.
void Reset(const Script& start = {});
// The calls in order whose text starts with `prefix`.
std::vector<std::string> Calls(const std::string& prefix = {});
void ClearCalls();
// Called on the calling thread after each call is recorded, with the call's text.
void SetCallObserver(std::function<void(const std::string&)> observer);

}  // namespace sdkdouble

using Calls = std::vector<std::string>;

class AppTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(m_dir.isValid());
        kestrix::SetProgramFolderForTesting(m_dir.path().toStdString());
        kestrix::SetMessageBoxHandlerForTesting(
            [this](const QString& text) { m_messages << text; });
        sdkdouble::Reset();
    }
    void TearDown() override {
        kestrix::SetMessageBoxHandlerForTesting(nullptr);
        kestrix::SetProgramFolderForTesting({});
        sdkdouble::SetCallObserver(nullptr);
        CSetCapPathDlg::SetFolderChooserForTesting(nullptr);
    }

    // The info folder with one settings file in it, or (content null) without the folder.
    void SetInfoFile(const char* name, const char* content) {
        QDir(m_dir.path() + "/info").removeRecursively();
        if (!content) return;
        ASSERT_TRUE(QDir(m_dir.path()).mkpath(QStringLiteral("info")));
        QFile file(InfoPath(name));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(content);
    }
    QString InfoPath(const char* name) const { return m_dir.path() + "/info/" + name; }
    static QByteArray ReadBytes(const QString& path) {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
    }

    // A main window whose recordings go to the private folder.
    std::unique_ptr<CKestrixDlg> MakeMainWindow() {
        auto window = std::make_unique<CKestrixDlg>();
        window->SetStoragePath(m_dir.path().toStdString());
        return window;
    }
    // OK in the connection dialog with what it shows; true when the dialog would close.
    static bool PressConnectOk(CKestrixDlg& window) {
        CConnectDlg dialog(&window, &window);
        dialog.OnOK();
        return dialog.result() == QDialog::Accepted;
    }

    // Runs `trigger`; returns the title of the modal dialog it opened ("" for none), which is
    // then cancelled.
    static QString ModalTitle(const std::function<void()>& trigger) {
        QString title;
        QTimer::singleShot(0, [&] {
            if (auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget())) {
                title = dialog->windowTitle();
                dialog->reject();
            }
        });
        trigger();
        QApplication::processEvents();
        return title;
    }

    QTemporaryDir m_dir;
    QStringList m_messages;
};
