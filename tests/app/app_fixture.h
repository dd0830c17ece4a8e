// What the program's tests share: a private program folder for the settings files, the message
// boxes caught as texts, a fresh SDK double, and helpers for the main window and modal dialogs.
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

#include "connect_dlg.h"
#include "dialog_layout.h"
#include "kestrix_dlg.h"
#include "message_box.h"
#include "sdk_double.h"
#include "settings_files.h"
#include "wait_for.h"

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
    }

    void MakeInfoFolder() { ASSERT_TRUE(QDir(m_dir.path()).mkpath(QStringLiteral("info"))); }
    QString InfoPath(const char* name) const { return m_dir.path() + "/info/" + name; }
    static QByteArray ReadBytes(const QString& path) {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
    }
    static void WriteBytes(const QString& path, const QByteArray& bytes) {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes);
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

    // Runs `trigger`, which should open a modal dialog of type T; `inspect` sees it before it is
    // cancelled. Returns whether such a dialog was open.
    template <typename T>
    static bool OpensModal(const std::function<void()>& trigger,
                           const std::function<void(T*)>& inspect = {}) {
        bool seen = false;
        QTimer::singleShot(0, [&] {
            auto* dialog = qobject_cast<T*>(QApplication::activeModalWidget());
            seen = dialog != nullptr;
            if (dialog) {
                if (inspect) inspect(dialog);
                dialog->reject();
            }
        });
        trigger();
        QApplication::processEvents();
        return seen;
    }

    QTemporaryDir m_dir;
    QStringList m_messages;
};
