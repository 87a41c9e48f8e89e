#include "QuorvexDlg.h"
#include "quorvex/line_stream.h"
#include "quorvex/transcode.h"
#include "support.h"

#include <QAction>
#include <QApplication>
#include <QFileDialog>
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

// Acknowledges every message box that comes up while `action` runs, as a user would, and
// gives their texts. Notes any box that is not the dialog's own kind (caption, plain text,
// no icon, one button, wide enough for its caption), and whether the busy cursor showed
// between them.
QStringList AnswerMessages(const std::function<void()>& action, QString* odd = nullptr,
                           bool* busy = nullptr) {
    QStringList shown;
    QTimer timer;
    timer.setInterval(2);
    QObject::connect(&timer, &QTimer::timeout, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box || !box->isVisible())
            return;
        shown << box->text();
        if (odd &&
            (box->windowTitle() != "quorvex_dialog_tests" || box->textFormat() != Qt::PlainText ||
             box->icon() != QMessageBox::NoIcon || box->buttons().size() != 1 ||
             box->width() < CaptionRoom(*box, box->windowTitle())))
            *odd += box->text();
        box->button(QMessageBox::Ok)->click();
        // The first events seen once the box is gone are the run's own, while it works on.
        QTimer::singleShot(0, [busy] {
            const QCursor* cursor = QGuiApplication::overrideCursor();
            if (busy && cursor && cursor->shape() == Qt::WaitCursor)
                *busy = true;
        });
    });
    timer.start();
    action();
    return shown;
}

} // namespace

class DialogTest : public QObject {
    Q_OBJECT

private:
    QuorvexDlg* dlg = nullptr;

    template <typename T = QWidget> T* Control(const char* name) {
        T* control = dlg->findChild<T*>(QLatin1String(name));
        if (!control)
            qFatal("no control %s", name);
        return control;
    }
    QLineEdit* Box(const char* name) { return Control<QLineEdit>(name); }
    QString Checked() {
        QString checked;
        for (const char* name :
             {"IDC_ENCRYPT", "IDC_DECRYPT", "IDC_GAME1", "IDC_GAME2", "IDC_GAME3", "IDC_GAME4"})
            checked += Control<QRadioButton>(name)->isChecked() ? '1' : '0';
        return checked;
    }
    void Click(const char* name) { QTest::mouseClick(Control(name), Qt::LeftButton); }

private slots:
    void init() {
        dlg = new QuorvexDlg;
        QVERIFY(dlg->m_nMode == -1 && dlg->m_nGame == -1);
        dlg->show();
        QApplication::setActiveWindow(dlg);
        QVERIFY(QTest::qWaitForWindowActive(dlg));
    }
    void cleanup() { delete dlg; }

    void firstDisplay() {
        QCOMPARE(dlg->windowTitle(), QStringLiteral("Quorvex"));
        QCOMPARE(dlg->m_nMode, 0);
        QCOMPARE(dlg->m_nGame, 0);
        QCOMPARE(Checked(), QStringLiteral("101000"));
        QVERIFY(Box("IDC_INPUT_FILE")->text().isEmpty() &&
                Box("IDC_OUTPUT_FILE")->text().isEmpty());
        QCOMPARE(QApplication::focusWidget(), Box("IDC_INPUT_FILE"));
        const QList<QSize> sizes = dlg->windowIcon().availableSizes();
        QVERIFY(sizes.contains(QSize(16, 16)) && sizes.contains(QSize(32, 32)));
        // The frame keeps its size, unless a window manager maximises it all the same.
        QCOMPARE(dlg->minimumSize(), dlg->maximumSize());
        dlg->setWindowState(Qt::WindowMaximized);
        QCOMPARE(dlg->maximumSize(), QSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX));
        dlg->setWindowState(Qt::WindowNoState);
        QCOMPARE(dlg->maximumSize(), dlg->minimumSize());

        const QList<QAction*> menus = Control<QMenuBar>("IDR_MENU_INFO")->actions();
        QCOMPARE(menus.size(), 1);
        QCOMPARE(menus[0]->text(), QStringLiteral("Info"));
        QStringList entries;
        for (QAction* action : menus[0]->menu()->actions())
            entries << action->text();
        QCOMPARE(entries, (QStringList{"&About", "&Operation", "E&xit"}));
    }

    void captionsFitInALargerFont() {
        QFont font = dlg->font();
        font.setPointSize(16);
        dlg->setFont(font);
        for (QWidget* child : dlg->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
            if (!qobject_cast<QLabel*>(child) && !qobject_cast<QAbstractButton*>(child))
                continue;
            QVERIFY2(child->sizeHint().width() <= child->width(), qPrintable(child->objectName()));
            QVERIFY2(dlg->rect().contains(child->geometry()), qPrintable(child->objectName()));
        }
        QCOMPARE(dlg->size(), dlg->minimumSize());
    }

    // Tab visits the boxes and push buttons only; from a clicked radio button it goes on to
    // "&Execute" and back to "Get &Input File", and the arrows move within its group.
    void keyboardMovesInTemplateOrder() {
        for (const char* next :
             {"IDC_OUTPUT_FILE", "IDC_GET_INPUT", "IDC_EXECUTE", "IDC_EXIT", "IDC_INPUT_FILE"}) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            QCOMPARE(QApplication::focusWidget()->objectName(), QString(next));
        }
        const struct {
            const char* radio;
            Qt::Key key;
            const char* focus;
        } moves[] = {{"IDC_GAME2", Qt::Key_Tab, "IDC_EXECUTE"},
                     {"IDC_DECRYPT", Qt::Key_Backtab, "IDC_GET_INPUT"},
                     {"IDC_GAME1", Qt::Key_Down, "IDC_GAME2"}};
        for (const auto& move : moves) {
            Click(move.radio);
            QTest::keyClick(QApplication::focusWidget(), move.key);
            QCOMPARE(QApplication::focusWidget()->objectName(), QString(move.focus));
        }
        QCOMPARE(Checked(), QStringLiteral("010100"));
    }

    void exchange_data() {
        QTest::addColumn<int>("mode");
        QTest::addColumn<int>("game");
        QTest::addColumn<QString>("checked");
        QTest::addColumn<int>("pulledMode");
        QTest::addColumn<int>("pulledGame");
        QTest::newRow("first of each") << 0 << 0 << "101000" << 0 << 0;
        QTest::newRow("decrypt, last game") << 1 << 3 << "010001" << 1 << 3;
        QTest::newRow("nothing chosen") << -1 << -1 << "000000" << -1 << -1;
        QTest::newRow("outside the groups") << 2 << 4 << "000000" << -1 << -1;
    }
    void exchange() {
        QFETCH(int, mode);
        QFETCH(int, game);
        QFETCH(QString, checked);
        dlg->m_nMode = mode;
        dlg->m_nGame = game;
        dlg->m_strInput = QStringLiteral("in ü.txt");
        dlg->m_strOutput = QStringLiteral("out & more.txt");
        dlg->DoDataExchange(QuorvexDlg::Exchange::Push);
        QCOMPARE(Checked(), checked);
        QCOMPARE(Box("IDC_INPUT_FILE")->text(), dlg->m_strInput);
        dlg->m_nMode = dlg->m_nGame = 99;
        dlg->m_strInput.clear();
        dlg->m_strOutput.clear();
        dlg->DoDataExchange(QuorvexDlg::Exchange::Pull);
        QTEST(dlg->m_nMode, "pulledMode");
        QTEST(dlg->m_nGame, "pulledGame");
        QCOMPARE(dlg->m_strInput, QStringLiteral("in ü.txt"));
        QCOMPARE(dlg->m_strOutput, QStringLiteral("out & more.txt"));
    }

    // How the dialog ends: with OK after a pull, or with Cancel without one.
    void endings_data() {
        QTest::addColumn<QString>("focus");
        QTest::addColumn<int>("key"); // 0: the close box; -1: the menu's "E&xit"
        QTest::addColumn<int>("result");
        const int ok = QDialog::Accepted, cancel = QDialog::Rejected, open = -1;
        QTest::newRow("Enter in the input box") << "IDC_INPUT_FILE" << int(Qt::Key_Return) << ok;
        QTest::newRow("keypad Enter") << "IDC_OUTPUT_FILE" << int(Qt::Key_Enter) << ok;
        QTest::newRow("Enter on a radio button") << "IDC_GAME3" << int(Qt::Key_Return) << ok;
        QTest::newRow("Enter on a push button") << "IDC_GET_INPUT" << int(Qt::Key_Return) << open;
        QTest::newRow("Enter on Exit") << "IDC_EXIT" << int(Qt::Key_Return) << ok;
        QTest::newRow("Escape") << "IDC_INPUT_FILE" << int(Qt::Key_Escape) << cancel;
        QTest::newRow("close box") << "IDC_INPUT_FILE" << 0 << cancel;
        QTest::newRow("menu Exit") << "IDC_INPUT_FILE" << -1 << ok;
    }
    void endings() {
        QFETCH(QString, focus);
        QFETCH(int, key);
        QFETCH(int, result);
        bool picked = false;
        dlg->SetFilePicker([&picked](QWidget*) {
            picked = true;
            return std::optional<QString>();
        });
        Box("IDC_OUTPUT_FILE")->setText("typed.txt");
        QWidget* target = dlg->findChild<QWidget*>(focus);
        if (qobject_cast<QRadioButton*>(target))
            QTest::mouseClick(target, Qt::LeftButton);
        target->setFocus();
        if (key > 0)
            QTest::keyClick(target, Qt::Key(key));
        else if (key == 0)
            dlg->close();
        else
            Control<QAction>("ID_INFO_EXIT")->trigger();
        QCOMPARE(picked, result == -1);
        QCOMPARE(dlg->isVisible(), result == -1);
        if (result != -1)
            QCOMPARE(dlg->result(), result);
        QCOMPARE(dlg->m_strOutput == "typed.txt", result == QDialog::Accepted);
    }

    // Cancel in the picker keeps what the box held.
    void getInputChangesOnlyTheInputBox() {
        std::optional<QString> picked("/picked/file.txt");
        dlg->SetFilePicker([&picked](QWidget*) { return picked; });
        Box("IDC_OUTPUT_FILE")->setText("out.txt");
        Click("IDC_DECRYPT");
        Click("IDC_GAME3");
        for (int round = 0; round < 2; ++round, picked.reset()) {
            Click("IDC_GET_INPUT");
            QCOMPARE(Box("IDC_INPUT_FILE")->text(), QStringLiteral("/picked/file.txt"));
        }
        QCOMPARE(Box("IDC_OUTPUT_FILE")->text(), QStringLiteral("out.txt"));
        QCOMPARE(Checked(), QStringLiteral("010010"));
    }

    // Offscreen no desktop offers a chooser: Qt's own shows, at a readable size. It is
    // never forced where a desktop has its own.
    void filePickerIsReadable() {
        QSize size;
        QTimer::singleShot(50, [&size] {
            if (auto* picker = qobject_cast<QFileDialog*>(QApplication::activeModalWidget())) {
                size =
                    picker->testOption(QFileDialog::DontUseNativeDialog) ? QSize() : picker->size();
                picker->reject();
            }
        });
        QCOMPARE(PickFileToOpen(dlg), std::nullopt);
        QVERIFY2(size.width() >= 90 * dlg->fontMetrics().averageCharWidth(),
                 qPrintable(QString::number(size.width())));
    }

    void executeRunsTheFileThroughTheCipher_data() {
        QTest::addColumn<QString>("mode");
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QStringList>("last");
        QTest::newRow("encrypt") << "IDC_ENCRYPT" << QByteArray("A line\r\nno end")
                                 << QStringList{"Start Encrypt.", "Close Files."};
        QTest::newRow("decrypt") << "IDC_DECRYPT" << QByteArray("A line\r\nno end")
                                 << QStringList{"Start Decrypt.", "Close Files."};
        QTest::newRow("encrypt, lossy") << "IDC_ENCRYPT" << QByteArray("ok\ngr\xC3\xBC\n")
                                        << QStringList{"Start Encrypt.", "Close Files.", "lossy"};
    }
    void executeRunsTheFileThroughTheCipher() {
        QFETCH(QString, mode);
        QFETCH(QByteArray, text);
        QFETCH(QStringList, last);
        QTemporaryDir dir;
        const QString in = dir.filePath("in ü.txt"), out = dir.filePath("out.txt");
        WriteFile(in.toStdString(), text.toStdString());
        Box("IDC_INPUT_FILE")->setText(in);
        QTest::keyClicks(Box("IDC_OUTPUT_FILE"), out);
        QTest::mouseClick(dlg->findChild<QRadioButton*>(mode), Qt::LeftButton);
        Click("IDC_GAME2");
        bool busy = false;
        QString odd;
        const QStringList shown = AnswerMessages([&] { Click("IDC_EXECUTE"); }, &odd, &busy);

        QStringList expected{"Input File is Opening.", "Output File is Opening.",
                             "Files are Open."};
        expected += last;
        if (last.endsWith("lossy")) {
            const std::string file = QFile::encodeName("'" + in + "'").toStdString();
            const std::string message = quorvex::LossyBytesMessage(2, 2, file);
            expected.last() = QString::fromStdString(message);
        }
        QCOMPARE(shown, expected);
        QCOMPARE(odd, QString());
        const std::string bytes = quorvex::TranscodeText(text.toStdString(), dlg->m_nMode,
                                                         quorvex::CipherKey::ForGame(1));
        QCOMPARE(ReadFile(out.toStdString()), bytes);
        QVERIFY(busy);
        QCOMPARE(QGuiApplication::overrideCursor(), nullptr);
        QVERIFY(dlg->isVisible());
    }

    void operationShowsTheInstructions() {
        QString odd;
        QCOMPARE(AnswerMessages([&] { Control<QAction>("ID_INFO_OPERATION")->trigger(); }, &odd),
                 QStringList{
                     "Enter Input & Output files. Select Encrypt/Decrypt/game and press Execute"});
        QCOMPARE(odd, QString());
    }

    void droppedFileNamesTheInput_data() {
        QTest::addColumn<QStringList>("names"); // in a fresh folder; "/" is the folder itself
        QTest::addColumn<bool>("taken");
        QTest::newRow("a file") << QStringList{"a.txt"} << true;
        QTest::newRow("several files: the first") << QStringList{"a.txt", "b.txt"} << true;
        QTest::newRow("a folder") << QStringList{"/"} << false;
        QTest::newRow("a file that is not there") << QStringList{"none.txt"} << false;
        QTest::newRow("a web address") << QStringList{"https://example.org/a.txt"} << false;
        QTest::newRow("text, no file") << QStringList{} << false;
    }
    void droppedFileNamesTheInput() {
        QFETCH(QStringList, names);
        QFETCH(bool, taken);
        QTemporaryDir dir;
        WriteFile(dir.filePath("a.txt").toStdString(), "a");
        WriteFile(dir.filePath("b.txt").toStdString(), "b");
        QList<QUrl> urls;
        for (const QString& name : names)
            urls << (name.startsWith("https:") ? QUrl(name)
                                               : QUrl::fromLocalFile(dir.filePath(name)));
        Box("IDC_INPUT_FILE")->setText("typed.txt");
        QVERIFY(!Box("IDC_INPUT_FILE")->acceptDrops() && !Box("IDC_OUTPUT_FILE")->acceptDrops());
        QMimeData data;
        if (urls.isEmpty())
            data.setText("just some text");
        else
            data.setUrls(urls);
        const QPoint over = Box("IDC_OUTPUT_FILE")->geometry().center();
        QDragEnterEvent enter(over, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(dlg, &enter);
        QCOMPARE(enter.isAccepted(), taken);
        QDropEvent drop(QPointF(over), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(dlg, &drop);
        QCOMPARE(Box("IDC_INPUT_FILE")->text(),
                 taken ? dir.filePath("a.txt") : QString("typed.txt"));
        QVERIFY(dlg->m_strInput.isEmpty());
    }

    void aboutBoxShowsAndCloses() {
        Box("IDC_OUTPUT_FILE")->setText("typed.txt");
        QStringList seen;
        QTimer::singleShot(50, [&] {
            auto* about = qobject_cast<AboutDlg*>(QApplication::activeModalWidget());
            if (!about)
                return;
            seen << about->windowTitle()
                 << (about->minimumSize() == about->maximumSize() ? "fixed size" : "sizable");
            for (QLabel* label : about->findChildren<QLabel*>())
                seen << (label->pixmap().isNull() ? label->text() : "icon");
            auto* ok = about->findChild<QPushButton*>("IDOK");
            seen << (ok->isDefault() ? ok->text() : "no default");
            QTest::keyClick(about, Qt::Key_Return);
        });
        QTimer::singleShot(3000, [&seen] {
            if (auto* about = qobject_cast<AboutDlg*>(QApplication::activeModalWidget())) {
                seen << "stuck";
                about->done(QDialog::Rejected);
            }
        });
        Control<QAction>("ID_INFO_ABOUT")->trigger();
        QCOMPARE(seen, (QStringList{"About Quorvex", "fixed size", "icon", "Quorvex Version 1.0",
                                    "© 2026 The Quorvex authors, MIT", "OK"}));
        QCOMPARE(Box("IDC_OUTPUT_FILE")->text(), QStringLiteral("typed.txt"));
        QVERIFY(dlg->m_strOutput.isEmpty());
    }
};

QTEST_MAIN(DialogTest)
#include "dialog_test.moc"
