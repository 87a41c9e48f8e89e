#include "QuorvexDlg.h"
#include "quorvex/line_stream.h"
#include "quorvex/transcode.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <functional>

namespace {

struct ShownMessage {
    QString text;
    QString title;
    bool plain = false;
    bool noIcon = false;
    int buttons = 0;
};

// Acknowledges every message box that comes up while `action` runs, as a user would.
QList<ShownMessage> AnswerMessages(const std::function<void()>& action) {
    QList<ShownMessage> shown;
    QTimer timer;
    timer.setInterval(5);
    QObject::connect(&timer, &QTimer::timeout, [&shown] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box || !box->isVisible())
            return;
        shown.append({box->text(), box->windowTitle(), box->textFormat() == Qt::PlainText,
                      box->icon() == QMessageBox::NoIcon, static_cast<int>(box->buttons().size())});
        box->button(QMessageBox::Ok)->click();
    });
    timer.start();
    action();
    return shown;
}

QStringList Texts(const QList<ShownMessage>& shown) {
    QStringList texts;
    for (const ShownMessage& message : shown)
        texts << message.text;
    return texts;
}

QByteArray ReadAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

class DialogTest : public QObject {
    Q_OBJECT

private:
    template <typename T> T* Control(QuorvexDlg& dlg, const char* name) {
        T* control = dlg.findChild<T*>(QLatin1String(name));
        if (!control)
            qFatal("no control %s", name);
        return control;
    }

    QList<QRadioButton*> Radios(QuorvexDlg& dlg) {
        QList<QRadioButton*> radios;
        for (const char* name :
             {"IDC_ENCRYPT", "IDC_DECRYPT", "IDC_GAME1", "IDC_GAME2", "IDC_GAME3", "IDC_GAME4"})
            radios << Control<QRadioButton>(dlg, name);
        return radios;
    }

    QString Checked(QuorvexDlg& dlg) {
        QString checked;
        for (QRadioButton* radio : Radios(dlg))
            checked += radio->isChecked() ? '1' : '0';
        return checked;
    }

    void ShowActive(QuorvexDlg& dlg) {
        dlg.show();
        QApplication::setActiveWindow(&dlg);
        QVERIFY(QTest::qWaitForWindowActive(&dlg));
    }

    QAction* MenuAction(QuorvexDlg& dlg, const char* name) { return Control<QAction>(dlg, name); }

private slots:
    void firstDisplay() {
        QuorvexDlg dlg;
        QCOMPARE(dlg.m_nMode, -1);
        QCOMPARE(dlg.m_nGame, -1);
        ShowActive(dlg);
        QCOMPARE(dlg.windowTitle(), QStringLiteral("Quorvex"));
        QCOMPARE(dlg.m_nMode, 0);
        QCOMPARE(dlg.m_nGame, 0);
        QCOMPARE(Checked(dlg), QStringLiteral("101000"));
        QVERIFY(Control<QLineEdit>(dlg, "IDC_INPUT_FILE")->text().isEmpty());
        QVERIFY(Control<QLineEdit>(dlg, "IDC_OUTPUT_FILE")->text().isEmpty());
        QCOMPARE(QApplication::focusWidget(), Control<QLineEdit>(dlg, "IDC_INPUT_FILE"));
        QVERIFY(!dlg.windowIcon().isNull());

        const QList<QAction*> menus = Control<QMenuBar>(dlg, "IDR_MENU_INFO")->actions();
        QCOMPARE(menus.size(), 1);
        QCOMPARE(menus[0]->text(), QStringLiteral("Info"));
        QStringList entries;
        for (QAction* action : menus[0]->menu()->actions())
            entries << action->text();
        QCOMPARE(entries, (QStringList{"&About", "&Operation", "E&xit"}));
    }

    void captionsFitInEveryFont_data() {
        QTest::addColumn<int>("pointSize");
        QTest::newRow("small") << 7;
        QTest::newRow("desktop") << QApplication::font().pointSize();
        QTest::newRow("large") << 16;
    }

    void captionsFitInEveryFont() {
        QFETCH(int, pointSize);
        QuorvexDlg dlg;
        QFont font = dlg.font();
        font.setPointSize(pointSize);
        dlg.setFont(font);
        ShowActive(dlg);
        for (QWidget* child : dlg.findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
            if (!qobject_cast<QLabel*>(child) && !qobject_cast<QAbstractButton*>(child))
                continue;
            QVERIFY2(child->sizeHint().width() <= child->width(), qPrintable(child->objectName()));
            QVERIFY2(dlg.rect().contains(child->geometry()), qPrintable(child->objectName()));
        }
    }

    void tabChainSkipsRadioButtons() {
        QuorvexDlg dlg;
        ShowActive(dlg);
        const QStringList chain{"IDC_OUTPUT_FILE", "IDC_GET_INPUT", "IDC_EXECUTE", "IDC_EXIT",
                                "IDC_INPUT_FILE"};
        for (const QString& next : chain) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            QCOMPARE(QApplication::focusWidget()->objectName(), next);
        }

        // A clicked radio button takes the focus, and the arrow keys move within its group
        // and check the button they land on; Tab then leaves the radios for good.
        QRadioButton* game1 = Control<QRadioButton>(dlg, "IDC_GAME1");
        QTest::mouseClick(game1, Qt::LeftButton);
        QCOMPARE(QApplication::focusWidget(), game1);
        QTest::keyClick(game1, Qt::Key_Down);
        QVERIFY(Control<QRadioButton>(dlg, "IDC_GAME2")->isChecked());
        QVERIFY(!game1->isChecked());
        QVERIFY(Control<QRadioButton>(dlg, "IDC_ENCRYPT")->isChecked());
        for (int i = 0; i < 12; ++i) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            QVERIFY2(!qobject_cast<QRadioButton*>(QApplication::focusWidget()),
                     qPrintable(QApplication::focusWidget()->objectName()));
        }
    }

    void exchange_data() {
        QTest::addColumn<int>("mode");
        QTest::addColumn<int>("game");
        QTest::addColumn<QString>("checked");
        QTest::addColumn<int>("pulledMode");
        QTest::addColumn<int>("pulledGame");
        QTest::newRow("first of each") << 0 << 0 << "101000" << 0 << 0;
        QTest::newRow("decrypt, last game") << 1 << 3 << "010001" << 1 << 3;
        QTest::newRow("decrypt, Ostrand") << 1 << 2 << "010010" << 1 << 2;
        QTest::newRow("nothing chosen") << -1 << -1 << "000000" << -1 << -1;
        QTest::newRow("outside the groups") << 2 << 4 << "000000" << -1 << -1;
    }

    void exchange() {
        QFETCH(int, mode);
        QFETCH(int, game);
        QFETCH(QString, checked);
        QFETCH(int, pulledMode);
        QFETCH(int, pulledGame);
        QuorvexDlg dlg;
        ShowActive(dlg);
        dlg.m_nMode = mode;
        dlg.m_nGame = game;
        dlg.m_strInput = QStringLiteral("in ü.txt");
        dlg.m_strOutput = QStringLiteral("out & more.txt");
        dlg.DoDataExchange(QuorvexDlg::Exchange::Push);
        QCOMPARE(Checked(dlg), checked);
        QCOMPARE(Control<QLineEdit>(dlg, "IDC_INPUT_FILE")->text(), dlg.m_strInput);

        dlg.m_nMode = dlg.m_nGame = 99;
        dlg.m_strInput.clear();
        dlg.DoDataExchange(QuorvexDlg::Exchange::Pull);
        QCOMPARE(dlg.m_nMode, pulledMode);
        QCOMPARE(dlg.m_nGame, pulledGame);
        QCOMPARE(dlg.m_strInput, QStringLiteral("in ü.txt"));
        QCOMPARE(dlg.m_strOutput, QStringLiteral("out & more.txt"));
    }

    void enterAndEscape_data() {
        QTest::addColumn<QString>("focus");
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("result");
        QTest::addColumn<bool>("pulled");
        QTest::addColumn<bool>("picked");
        const int accepted = QDialog::Accepted;
        const int rejected = QDialog::Rejected;
        QTest::newRow("Enter in the input box")
            << "IDC_INPUT_FILE" << int(Qt::Key_Return) << accepted << true << false;
        QTest::newRow("keypad Enter in the output box")
            << "IDC_OUTPUT_FILE" << int(Qt::Key_Enter) << accepted << true << false;
        QTest::newRow("Enter on a radio button")
            << "IDC_GAME3" << int(Qt::Key_Return) << accepted << true << false;
        QTest::newRow("Enter on a push button presses it")
            << "IDC_GET_INPUT" << int(Qt::Key_Return) << -1 << false << true;
        QTest::newRow("Enter on Exit")
            << "IDC_EXIT" << int(Qt::Key_Return) << accepted << true << false;
        QTest::newRow("Escape") << "IDC_INPUT_FILE" << int(Qt::Key_Escape) << rejected << false
                                << false;
    }

    void enterAndEscape() {
        QFETCH(QString, focus);
        QFETCH(int, key);
        QFETCH(int, result);
        QFETCH(bool, pulled);
        QFETCH(bool, picked);
        QuorvexDlg dlg;
        bool pickerAsked = false;
        dlg.SetFilePicker([&pickerAsked](QWidget*) {
            pickerAsked = true;
            return std::optional<QString>();
        });
        ShowActive(dlg);
        Control<QLineEdit>(dlg, "IDC_OUTPUT_FILE")->setText("typed.txt");
        QWidget* target = dlg.findChild<QWidget*>(focus);
        if (qobject_cast<QRadioButton*>(target))
            QTest::mouseClick(target, Qt::LeftButton);
        target->setFocus();
        QTest::keyClick(target, Qt::Key(key));

        QCOMPARE(pickerAsked, picked);
        QCOMPARE(dlg.isVisible(), result == -1);
        if (result != -1)
            QCOMPARE(dlg.result(), result);
        QCOMPARE(dlg.m_strOutput == "typed.txt", pulled);
    }

    void closeBoxCancels() {
        QuorvexDlg dlg;
        ShowActive(dlg);
        Control<QLineEdit>(dlg, "IDC_OUTPUT_FILE")->setText("typed.txt");
        dlg.close();
        QCOMPARE(dlg.result(), int(QDialog::Rejected));
        QVERIFY(dlg.m_strOutput.isEmpty());
    }

    void getInputChangesOnlyTheInputBox_data() {
        QTest::addColumn<bool>("confirm");
        QTest::addColumn<QString>("input");
        QTest::newRow("OK") << true << "/picked/file.txt";
        QTest::newRow("Cancel") << false << "typed-in.txt";
    }

    void getInputChangesOnlyTheInputBox() {
        QFETCH(bool, confirm);
        QFETCH(QString, input);
        QuorvexDlg dlg;
        dlg.SetFilePicker([confirm](QWidget*) {
            return confirm ? std::optional<QString>("/picked/file.txt") : std::nullopt;
        });
        ShowActive(dlg);
        // A run has pulled Encrypt and Tarnholm; the user then changes everything.
        dlg.DoDataExchange(QuorvexDlg::Exchange::Pull);
        Control<QLineEdit>(dlg, "IDC_INPUT_FILE")->setText("typed-in.txt");
        Control<QLineEdit>(dlg, "IDC_OUTPUT_FILE")->setText("out.txt");
        QTest::mouseClick(Control<QRadioButton>(dlg, "IDC_DECRYPT"), Qt::LeftButton);
        QTest::mouseClick(Control<QRadioButton>(dlg, "IDC_GAME3"), Qt::LeftButton);

        QTest::mouseClick(Control<QPushButton>(dlg, "IDC_GET_INPUT"), Qt::LeftButton);

        QCOMPARE(Control<QLineEdit>(dlg, "IDC_INPUT_FILE")->text(), input);
        QCOMPARE(Control<QLineEdit>(dlg, "IDC_OUTPUT_FILE")->text(), QStringLiteral("out.txt"));
        QCOMPARE(Checked(dlg), QStringLiteral("010010"));
        QVERIFY(dlg.isVisible());
    }

    void executeRunsTheFileThroughTheCipher_data() {
        QTest::addColumn<QString>("mode");
        QTest::addColumn<QString>("game");
        QTest::addColumn<QStringList>("messages");
        const std::string_view common[] = {quorvex::messages::kInputOpening,
                                           quorvex::messages::kOutputOpening,
                                           quorvex::messages::kFilesOpen};
        QStringList start;
        for (std::string_view text : common)
            start << QString::fromUtf8(text.data(), qsizetype(text.size()));
        QTest::newRow("encrypt, Tarnholm")
            << "IDC_ENCRYPT"
            << "IDC_GAME1" << (start + QStringList{"Start Encrypt.", "Close Files."});
        QTest::newRow("decrypt, Velmire")
            << "IDC_DECRYPT"
            << "IDC_GAME2" << (start + QStringList{"Start Decrypt.", "Close Files."});
    }

    void executeRunsTheFileThroughTheCipher() {
        QFETCH(QString, mode);
        QFETCH(QString, game);
        QFETCH(QStringList, messages);
        QTemporaryDir dir;
        const std::string text = "A line of text\r\nand one without an end";
        const QString in = dir.filePath("in ü.txt"), out = dir.filePath("out.txt");
        QFile file(in);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(text.data(), qsizetype(text.size()));
        file.close();

        QuorvexDlg dlg;
        ShowActive(dlg);
        Control<QLineEdit>(dlg, "IDC_INPUT_FILE")->setText(in); // QTest types ASCII only
        QTest::keyClicks(Control<QLineEdit>(dlg, "IDC_OUTPUT_FILE"), out);
        QTest::mouseClick(dlg.findChild<QRadioButton*>(mode), Qt::LeftButton);
        QTest::mouseClick(dlg.findChild<QRadioButton*>(game), Qt::LeftButton);

        const QList<ShownMessage> shown = AnswerMessages(
            [&] { QTest::mouseClick(Control<QPushButton>(dlg, "IDC_EXECUTE"), Qt::LeftButton); });

        QCOMPARE(Texts(shown), messages);
        for (const ShownMessage& message : shown) {
            QCOMPARE(message.title, QCoreApplication::applicationName());
            QVERIFY(message.plain);
            QVERIFY(message.noIcon);
            QCOMPARE(message.buttons, 1);
        }
        const std::string expected = quorvex::TranscodeText(text, dlg.m_nMode, dlg.m_nGame);
        QCOMPARE(ReadAll(out), QByteArray::fromStdString(expected));
        QCOMPARE(QGuiApplication::overrideCursor(), nullptr);
        QVERIFY(dlg.isVisible());
    }

    void operationShowsTheInstructions() {
        QuorvexDlg dlg;
        ShowActive(dlg);
        const QList<ShownMessage> shown =
            AnswerMessages([&] { MenuAction(dlg, "ID_INFO_OPERATION")->trigger(); });
        QCOMPARE(Texts(shown),
                 QStringList{
                     "Enter Input & Output files. Select Encrypt/Decrypt/game and press Execute"});
        QVERIFY(shown[0].plain);
    }

    void menuExitEndsLikeTheButton() {
        QuorvexDlg dlg;
        ShowActive(dlg);
        Control<QLineEdit>(dlg, "IDC_OUTPUT_FILE")->setText("typed.txt");
        MenuAction(dlg, "ID_INFO_EXIT")->trigger();
        QCOMPARE(dlg.result(), int(QDialog::Accepted));
        QCOMPARE(dlg.m_strOutput, QStringLiteral("typed.txt"));
    }

    void droppedFileNamesTheInput_data() {
        QTest::addColumn<QList<QUrl>>("urls");
        QTest::addColumn<bool>("taken");
        QTest::addColumn<QString>("input");
        const QString file = QDir::temp().filePath("quorvex-drop-test.txt");
        const QString other = QDir::temp().filePath("quorvex-drop-other.txt");
        QTest::newRow("a file") << QList<QUrl>{QUrl::fromLocalFile(file)} << true << file;
        QTest::newRow("several files: the first")
            << QList<QUrl>{QUrl::fromLocalFile(file), QUrl::fromLocalFile(other)} << true << file;
        QTest::newRow("a folder") << QList<QUrl>{QUrl::fromLocalFile(QDir::tempPath())} << false
                                  << "typed.txt";
        QTest::newRow("a web address")
            << QList<QUrl>{QUrl("https://example.org/a.txt")} << false << "typed.txt";
        QTest::newRow("a file that is not there")
            << QList<QUrl>{QUrl::fromLocalFile(QDir::temp().filePath("quorvex-none.txt"))} << false
            << "typed.txt";
        QTest::newRow("text, no file") << QList<QUrl>{} << false << "typed.txt";
    }

    void droppedFileNamesTheInput() {
        QFETCH(QList<QUrl>, urls);
        QFETCH(bool, taken);
        QFETCH(QString, input);
        for (const char* name : {"quorvex-drop-test.txt", "quorvex-drop-other.txt"}) {
            QFile file(QDir::temp().filePath(name));
            QVERIFY(file.open(QIODevice::WriteOnly));
        }
        QuorvexDlg dlg;
        ShowActive(dlg);
        Control<QLineEdit>(dlg, "IDC_INPUT_FILE")->setText("typed.txt");
        Control<QLineEdit>(dlg, "IDC_OUTPUT_FILE")->setText("out.txt");
        QVERIFY(!Control<QLineEdit>(dlg, "IDC_INPUT_FILE")->acceptDrops());
        QVERIFY(!Control<QLineEdit>(dlg, "IDC_OUTPUT_FILE")->acceptDrops());

        QMimeData data;
        if (urls.isEmpty())
            data.setText("just some text");
        else
            data.setUrls(urls);
        const QPoint over = Control<QLineEdit>(dlg, "IDC_OUTPUT_FILE")->geometry().center();
        QDragEnterEvent enter(over, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(&dlg, &enter);
        QCOMPARE(enter.isAccepted(), taken);
        QDropEvent drop(QPointF(over), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(&dlg, &drop);

        QCOMPARE(Control<QLineEdit>(dlg, "IDC_INPUT_FILE")->text(), input);
        QCOMPARE(Control<QLineEdit>(dlg, "IDC_OUTPUT_FILE")->text(), QStringLiteral("out.txt"));
        QCOMPARE(Checked(dlg), QStringLiteral("101000"));
        QVERIFY(dlg.m_strInput.isEmpty());
    }

    void aboutBoxClosesEveryWay_data() {
        QTest::addColumn<int>("way");
        QTest::newRow("Enter") << 0;
        QTest::newRow("Escape") << 1;
        QTest::newRow("OK") << 2;
        QTest::newRow("close box") << 3;
    }

    void aboutBoxClosesEveryWay() {
        QFETCH(int, way);
        QuorvexDlg dlg;
        ShowActive(dlg);
        Control<QLineEdit>(dlg, "IDC_OUTPUT_FILE")->setText("typed.txt");
        QMap<QString, QString> seen;
        QTimer::singleShot(50, [&] {
            auto* about = qobject_cast<AboutDlg*>(QApplication::activeModalWidget());
            if (!about)
                return;
            seen["title"] = about->windowTitle();
            for (QLabel* label : about->findChildren<QLabel*>())
                seen[label->objectName()] = label->pixmap().isNull() ? label->text() : "icon";
            auto* ok = about->findChild<QPushButton*>("IDOK");
            seen["default"] = ok->isDefault() ? ok->text() : QString();
            switch (way) {
            case 0:
                QTest::keyClick(about, Qt::Key_Return);
                break;
            case 1:
                QTest::keyClick(about, Qt::Key_Escape);
                break;
            case 2:
                ok->click();
                break;
            default:
                about->close();
            }
        });
        bool forced = false;
        QTimer::singleShot(2000, [&forced] {
            if (auto* stuck = qobject_cast<AboutDlg*>(QApplication::activeModalWidget())) {
                forced = true;
                stuck->done(QDialog::Rejected);
            }
        });
        MenuAction(dlg, "ID_INFO_ABOUT")->trigger();

        QVERIFY2(!forced, "the About box did not close");
        QCOMPARE(seen["title"], QStringLiteral("About Quorvex"));
        QCOMPARE(seen["staticVersion"], QStringLiteral("Quorvex Version 1.0"));
        QCOMPARE(seen["iconMainframe"], QStringLiteral("icon"));
        QVERIFY(!seen["staticLegal"].isEmpty());
        QCOMPARE(seen["default"], QStringLiteral("OK"));
        QCOMPARE(Control<QLineEdit>(dlg, "IDC_OUTPUT_FILE")->text(), QStringLiteral("typed.txt"));
        QVERIFY(dlg.m_strOutput.isEmpty());
        QCOMPARE(Checked(dlg), QStringLiteral("101000"));
    }
};

QTEST_MAIN(DialogTest)
#include "dialog_test.moc"
