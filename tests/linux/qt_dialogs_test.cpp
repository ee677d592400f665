#include "platform/linux/qt_dialogs.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include "linux/qt_support.h"

namespace tarnwick {
namespace {

using testing::whenModalOpens;

constexpr const char* kMediaFilter =
    "*.wav, *.mp2, *.mp3, *.bmp, *.jpg, *.mpg, *.avi, *.mid|*.wav;*.mp2;*.mp3;*.bmp;*.jpg;*.mpg;*.avi;*.mid";

TEST(QtNameFilters, KeepTheDescriptionAndListThePatterns) {
    EXPECT_EQ(toQtNameFilters(kMediaFilter), QStringList{"*.wav, *.mp2, *.mp3, *.bmp, *.jpg, *.mpg, *.avi, *.mid "
                                                         "(*.wav *.mp2 *.mp3 *.bmp *.jpg *.mpg *.avi *.mid)"});
    EXPECT_EQ(toQtNameFilters("Sound|*.wav|Everything|*.*"), (QStringList{"Sound (*.wav)", "Everything (*.*)"}));
    EXPECT_EQ(toQtNameFilters("*.wav;*.mp3"), QStringList{"*.wav;*.mp3 (*.wav *.mp3)"});
    EXPECT_TRUE(toQtNameFilters("").isEmpty());
}

struct BoxCase {
    int style;
    QMessageBox::Icon icon;
    QMessageBox::StandardButtons buttons;
    QMessageBox::StandardButton press;  // NoButton: Escape
    MsgResult expected;
};

class MessageBoxStyle : public ::testing::TestWithParam<BoxCase> {};

TEST_P(MessageBoxStyle, MapsButtonsIconAndAnswer) {
    const BoxCase c = GetParam();
    testing::ModalWatchdog watchdog;
    QtDialogs dialogs;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QMessageBox::StandardButtons buttons;
    QString text, title, copied;
    whenModalOpens([&](QWidget* modal) {
        auto* box = qobject_cast<QMessageBox*>(modal);
        ASSERT_NE(box, nullptr);
        icon = box->icon();
        buttons = box->standardButtons();
        text = box->text();
        title = box->windowTitle();
        QTest::keyClick(box, Qt::Key_C, Qt::ControlModifier);
        copied = QApplication::clipboard()->text();
        if (c.press == QMessageBox::NoButton) {
            QTest::keyClick(box, Qt::Key_Escape);
        } else {
            box->button(c.press)->click();
        }
    });
    const MsgResult r = dialogs.messageBox("First line\r\n\r\nSecond line ", "Exit Program", c.style);
    EXPECT_EQ(r, c.expected);
    EXPECT_EQ(icon, c.icon);
    EXPECT_EQ(buttons, c.buttons);
    EXPECT_EQ(text, "First line\n\nSecond line ");
    EXPECT_EQ(title, "Exit Program");
    // Ctrl+C copies the box as Windows does, to be pasted into a mail.
    const QString rule = "---------------------------\n";
    EXPECT_EQ(copied, rule + "Exit Program\n" + rule + "First line\n\nSecond line \n" + rule +
                          (c.buttons == QMessageBox::Ok ? "OK" : "Yes   No") + "\n" + rule);
}

INSTANTIATE_TEST_SUITE_P(
    Styles, MessageBoxStyle,
    ::testing::Values(
        BoxCase{0, QMessageBox::NoIcon, QMessageBox::Ok, QMessageBox::Ok, MsgResult::Ok},
        BoxCase{36, QMessageBox::Question, QMessageBox::Yes | QMessageBox::No, QMessageBox::Yes, MsgResult::Yes},
        BoxCase{36, QMessageBox::Question, QMessageBox::Yes | QMessageBox::No, QMessageBox::No, MsgResult::No},
        BoxCase{36, QMessageBox::Question, QMessageBox::Yes | QMessageBox::No, QMessageBox::NoButton, MsgResult::No},
        BoxCase{16, QMessageBox::Critical, QMessageBox::Ok, QMessageBox::Ok, MsgResult::Ok},
        BoxCase{48, QMessageBox::Warning, QMessageBox::Ok, QMessageBox::Ok, MsgResult::Ok},
        BoxCase{64, QMessageBox::Information, QMessageBox::Ok, QMessageBox::Ok, MsgResult::Ok}));

TEST(QtDialogs, OpenFileShowsTheFilterAsGivenAndReturnsTheChoice) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString wav = dir.filePath("ident.wav");
    ASSERT_TRUE(QFile(wav).open(QIODevice::WriteOnly));

    testing::ModalWatchdog watchdog;
    QtDialogs dialogs;
    QString shownFilter;
    whenModalOpens([&](QWidget* modal) {
        auto* dialog = qobject_cast<QFileDialog*>(modal);
        ASSERT_NE(dialog, nullptr);
        auto* types = dialog->findChild<QComboBox*>("fileTypeCombo");
        ASSERT_NE(types, nullptr);
        shownFilter = types->currentText();
        dialog->selectFile(wav);
        static_cast<QDialog*>(dialog)->accept();
    });
    EXPECT_EQ(dialogs.openFile((dir.path() + "/").toStdString(), kMediaFilter), wav.toStdString());
    EXPECT_EQ(shownFilter.toStdString(), "*.wav, *.mp2, *.mp3, *.bmp, *.jpg, *.mpg, *.avi, *.mid");

    whenModalOpens([](QWidget* modal) { static_cast<QDialog*>(modal)->reject(); });
    EXPECT_EQ(dialogs.openFile("", kMediaFilter), "");
}

// What the X server shows of a window ("IsViewable", "IsUnMapped"), which
// is what a user sees, whatever Qt believes.
QString mapState(QWidget* window) {
    QProcess xwininfo;
    xwininfo.start(QStringLiteral("xwininfo"), {QStringLiteral("-id"), QString::number(window->winId())});
    xwininfo.waitForFinished(5000);
    const QString out = QString::fromLocal8Bit(xwininfo.readAll());
    const QRegularExpressionMatch m = QRegularExpression(QStringLiteral("Map State: (\\w+)")).match(out);
    return m.hasMatch() ? m.captured(1) : out;
}

TEST(QtDialogs, AboutWindowReachesTheScreenBesideTheMainWindowWithTheStationLog) {
    QWidget owner;
    owner.setFixedSize(417, 431);
    owner.move(20, 20);
    owner.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&owner));
    QtDialogs dialogs(&owner);
    AboutInfo info{"Tarnwick",
                   "1.0.5",
                   "Beacon player.",
                   "https://tarnwick.example.org/",
                   "/var/lib/tarnwick/tarnwick.log",
                   {"line 1", "line 2"},
                   ""};
    dialogs.showAbout(info);
    QDialog* about = dialogs.aboutWindow();
    ASSERT_NE(about, nullptr);
    EXPECT_TRUE(testing::spinUntil([&] { return mapState(about) == "IsViewable"; })) << mapState(about).toStdString();
    EXPECT_FALSE(about->isModal());
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
    EXPECT_GT(about->frameGeometry().left(), owner.frameGeometry().right());  // the main window stays in sight
    auto* link = about->findChild<QLabel*>("AboutLink");
    ASSERT_NE(link, nullptr);
    EXPECT_TRUE(link->openExternalLinks());
    EXPECT_TRUE(link->text().contains("href=\"https://tarnwick.example.org/\""));
    auto* place = about->findChild<QLabel*>("AboutLogPlace");
    auto* lines = about->findChild<QPlainTextEdit*>("AboutLog");
    auto* problem = about->findChild<QLabel*>("AboutLogProblem");
    ASSERT_TRUE(place != nullptr && lines != nullptr && problem != nullptr);
    EXPECT_EQ(place->text(), "File: /var/lib/tarnwick/tarnwick.log");
    EXPECT_EQ(lines->toPlainText(), "line 1\nline 2");
    EXPECT_FALSE(problem->isVisible());

    // Closed and asked for again: the same window, with what the log holds now.
    about->hide();
    EXPECT_TRUE(testing::spinUntil([&] { return mapState(about) == "IsUnMapped"; }));
    info.logLines.clear();
    info.logProblem = "cannot open /var/lib/tarnwick/tarnwick.log to append to it: Permission denied";
    dialogs.showAbout(info);
    EXPECT_EQ(dialogs.aboutWindow(), about);
    EXPECT_TRUE(testing::spinUntil([&] { return mapState(about) == "IsViewable"; }));
    EXPECT_TRUE(problem->isVisible());
    EXPECT_TRUE(problem->text().contains("Permission denied"));
    EXPECT_EQ(lines->toPlainText(), "(no lines yet)");
}

}  // namespace
}  // namespace tarnwick
