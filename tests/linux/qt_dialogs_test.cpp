#include "platform/linux/qt_dialogs.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include "linux/qt_support.h"
#include "shared/dialogs_contract.h"

namespace tarnwick {
namespace {

using testing::whenModalOpens;

TEST(QtNameFilters, KeepTheDescriptionAndListThePatterns) {
    EXPECT_EQ(toQtNameFilters("*.wav, *.mp3|*.wav;*.mp3"), QStringList{"*.wav, *.mp3 (*.wav *.mp3)"});
    EXPECT_EQ(toQtNameFilters("Sound|*.wav|Everything|*.*"), (QStringList{"Sound (*.wav)", "Everything (*.*)"}));
    EXPECT_EQ(toQtNameFilters("*.wav;*.mp3"), QStringList{"*.wav;*.mp3 (*.wav *.mp3)"});
    EXPECT_TRUE(toQtNameFilters("").isEmpty());
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

TEST(QtDialogs, KeepTheContractOfEveryDialogs) {
    testing::ModalWatchdog watchdog;
    QWidget owner;
    owner.setFixedSize(417, 431);
    owner.move(20, 20);
    owner.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&owner));
    QtDialogs dialogs(&owner);
    test::DialogsDriver d{dialogs};
    d.whenBoxOpens = [](std::function<void(test::OpenBox&)> answer) {
        whenModalOpens([answer = std::move(answer)](QWidget* modal) {
            auto* box = qobject_cast<QMessageBox*>(modal);
            ASSERT_NE(box, nullptr);
            const bool yesNo = box->standardButtons() == (QMessageBox::Yes | QMessageBox::No);
            test::OpenBox open{box->text().toStdString(), yesNo                                       ? "Yes No"
                                                          : box->standardButtons() == QMessageBox::Ok ? "OK"
                                                                                                      : "?"};
            open.press = [box](MsgResult r) {
                box->button(r == MsgResult::Yes  ? QMessageBox::Yes
                            : r == MsgResult::No ? QMessageBox::No
                                                 : QMessageBox::Ok)
                    ->click();
            };
            answer(open);
        });
    };
    d.whenFileDialogOpens = [](std::function<void(test::OpenFileDialog&)> answer) {
        whenModalOpens([answer = std::move(answer)](QWidget* modal) {
            auto* dialog = qobject_cast<QFileDialog*>(modal);
            ASSERT_NE(dialog, nullptr);
            auto* types = dialog->findChild<QComboBox*>("fileTypeCombo");
            ASSERT_NE(types, nullptr);
            test::OpenFileDialog open{types->currentText().toStdString()};
            open.choose = [dialog](const std::string& path) {
                if (path.empty()) return static_cast<QDialog*>(dialog)->reject();
                dialog->selectFile(QString::fromStdString(path));
                static_cast<QDialog*>(dialog)->accept();
            };
            answer(open);
        });
    };
    d.about = [&] {
        QDialog* about = dialogs.aboutWindow();
        auto* place = about->findChild<QLabel*>("AboutLogPlace");
        auto* lines = about->findChild<QPlainTextEdit*>("AboutLog");
        auto* problem = about->findChild<QLabel*>("AboutLogProblem");
        EXPECT_TRUE(place != nullptr && lines != nullptr && problem != nullptr);
        // What the X server shows comes a moment after Qt's call.
        const QString state = about->isVisible() ? "IsViewable" : "IsUnMapped";
        EXPECT_TRUE(testing::spinUntil([&] { return mapState(about) == state; })) << mapState(about).toStdString();
        return test::AboutSeen{about,
                               about->isVisible(),
                               about->isModal() || QApplication::activeModalWidget() != nullptr,
                               about->frameGeometry().left() > owner.frameGeometry().right(),
                               place->text().toStdString(),
                               lines->toPlainText().toStdString(),
                               problem->isVisible() ? problem->text().toStdString() : ""};
    };
    d.closeAbout = [&] { dialogs.aboutWindow()->hide(); };

    test::aMessageBoxShowsItsButtonsAndTextAndGivesTheAnswer(d);
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString wav = dir.filePath("ident.wav");
    ASSERT_TRUE(QFile(wav).open(QIODevice::WriteOnly));
    test::theFileDialogShowsTheFilterAndGivesTheChoiceOrNothing(d, (dir.path() + "/").toStdString(), wav.toStdString(),
                                                                "");
    test::theAboutWindowShowsTheStationLogBesideTheMainWindow(d, "/var/lib/tarnwick/tarnwick.log");
    auto* link = dialogs.aboutWindow()->findChild<QLabel*>("AboutLink");
    ASSERT_NE(link, nullptr);
    EXPECT_TRUE(link->openExternalLinks());
    EXPECT_TRUE(link->text().contains("href=\"https://tarnwick.example.org/\""));
}

// Qt's own icons for the styles; Escape answers No; Ctrl+C copies the box
// as Windows does, to be pasted into a mail.
TEST(QtDialogs, MessageBoxesShowTheStylesIconAndCopyAsWindowsDoes) {
    testing::ModalWatchdog watchdog;
    QtDialogs dialogs;
    const std::pair<int, QMessageBox::Icon> icons[] = {{0, QMessageBox::NoIcon},
                                                       {36, QMessageBox::Question},
                                                       {16, QMessageBox::Critical},
                                                       {48, QMessageBox::Warning},
                                                       {64, QMessageBox::Information}};
    for (const auto& [style, icon] : icons) {
        QMessageBox::Icon shown = QMessageBox::NoIcon;
        QString title, copied;
        whenModalOpens([&](QWidget* modal) {
            auto* box = qobject_cast<QMessageBox*>(modal);
            ASSERT_NE(box, nullptr);
            shown = box->icon();
            title = box->windowTitle();
            QTest::keyClick(box, Qt::Key_C, Qt::ControlModifier);
            copied = QApplication::clipboard()->text();
            QTest::keyClick(box, Qt::Key_Escape);
        });
        const MsgResult r = dialogs.messageBox("First line\r\n\r\nSecond line ", "Exit Program", style);
        EXPECT_EQ(r, style == 36 ? MsgResult::No : MsgResult::Ok);
        EXPECT_EQ(shown, icon);
        EXPECT_EQ(title, "Exit Program");
        const QString rule = "---------------------------\n";
        EXPECT_EQ(copied, rule + "Exit Program\n" + rule + "First line\n\nSecond line \n" + rule +
                              (style == 36 ? "Yes   No" : "OK") + "\n" + rule);
    }
}

}  // namespace
}  // namespace tarnwick
