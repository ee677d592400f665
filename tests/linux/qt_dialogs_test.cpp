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
#include <QTest>
#include <QTimer>

#include "shared/dialogs_contract.h"

namespace tarnwick {
namespace {

TEST(QtNameFilters, KeepTheDescriptionAndListThePatterns) {
    EXPECT_EQ(toQtNameFilters("*.wav, *.mp3|*.wav;*.mp3"), QStringList{"*.wav, *.mp3 (*.wav *.mp3)"});
    EXPECT_EQ(toQtNameFilters("Sound|*.wav|Everything|*.*"), (QStringList{"Sound (*.wav)", "Everything (*.*)"}));
    EXPECT_EQ(toQtNameFilters("*.wav;*.mp3"), QStringList{"*.wav;*.mp3 (*.wav *.mp3)"});
    EXPECT_TRUE(toQtNameFilters("").isEmpty());
}

// Calls `answer` with the modal window once one is open, from inside its
// loop; a window the answer left open is closed, so that the test fails
// instead of hanging.
template <typename Window>
void whenModalOpens(std::function<void(Window*)> answer) {
    auto* poll = new QTimer;
    QObject::connect(poll, &QTimer::timeout, [poll, answer = std::move(answer)] {
        QWidget* modal = QApplication::activeModalWidget();
        if (modal == nullptr || !modal->isVisible()) return;
        poll->deleteLater();
        poll->stop();
        auto* window = qobject_cast<Window*>(modal);
        EXPECT_NE(window, nullptr) << "a " << modal->metaObject()->className() << " opened";
        if (window != nullptr) answer(window);
        if (modal->isVisible()) modal->close();
    });
    poll->start(5);
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

// Beyond the contract: Qt's own icons for the styles, the title, Ctrl+C
// copying the box as Windows does (to be pasted into a mail), and Escape
// answering No or OK.
TEST(QtDialogs, KeepTheContractOfEveryDialogs) {
    QWidget owner;
    owner.setFixedSize(417, 431);
    owner.move(20, 20);
    owner.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&owner));
    QtDialogs dialogs(&owner);
    test::DialogsDriver d{dialogs};
    std::vector<QMessageBox::Icon> icons;
    d.whenBoxOpens = [&icons](std::function<void(test::OpenBox&)> answer) {
        whenModalOpens<QMessageBox>([&icons, answer = std::move(answer)](QMessageBox* box) {
            const bool yesNo = box->standardButtons() == (QMessageBox::Yes | QMessageBox::No);
            const QString rule = "---------------------------\n";
            QTest::keyClick(box, Qt::Key_C, Qt::ControlModifier);
            EXPECT_EQ(QApplication::clipboard()->text(), rule + "Exit Program\n" + rule +
                                                             "First line\n\nSecond line \n" + rule +
                                                             (yesNo ? "Yes   No" : "OK") + "\n" + rule);
            EXPECT_EQ(box->windowTitle(), "Exit Program");
            icons.push_back(box->icon());
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
        whenModalOpens<QFileDialog>([answer = std::move(answer)](QFileDialog* dialog) {
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
        EXPECT_TRUE(QTest::qWaitFor([&] { return mapState(about) == state; }, 20000)) << mapState(about).toStdString();
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
    using Icon = QMessageBox::Icon;
    EXPECT_EQ(icons, (std::vector<Icon>{Icon::NoIcon, Icon::Question, Icon::Question, Icon::Critical, Icon::Warning,
                                        Icon::Information}));
    for (int style : {mb::kOk, mb::kYesNo}) {
        whenModalOpens<QMessageBox>([](QMessageBox* box) { QTest::keyClick(box, Qt::Key_Escape); });
        EXPECT_EQ(dialogs.messageBox("Escape", "Exit Program", style), style == mb::kOk ? MsgResult::Ok : MsgResult::No)
            << "Escape on style " << style;
    }

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

}  // namespace
}  // namespace tarnwick
