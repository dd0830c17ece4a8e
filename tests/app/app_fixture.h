// What the program's tests share: a private program folder for the settings files, the message
// boxes caught as texts, a fresh SDK double, and helpers for the windows and modal dialogs.
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
#include "qt_helpers.h"
#include "sdk_double.h"
#include "set_cap_path_dlg.h"
#include "settings_files.h"

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
