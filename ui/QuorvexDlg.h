#pragma once

#include "quorvex/cipher.h"

#include <QDialog>
#include <QIcon>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

class QButtonGroup;

namespace Ui {
class QuorvexDlg;
class AboutDlg;
} // namespace Ui

// The program's one working window: two paths, a direction and a game, and the
// commands that run a file through the cipher.
class QuorvexDlg : public QDialog {
    Q_OBJECT

public:
    enum class Exchange { Pull, Push };
    // Asks the user for the input file; nothing when they cancel.
    using FilePicker = std::function<std::optional<QString>(QWidget* owner)>;

    explicit QuorvexDlg(QWidget* parent = nullptr);
    ~QuorvexDlg() override;

    // Pull: controls to dialog data. Push: dialog data to controls.
    void DoDataExchange(Exchange direction);
    void SetFilePicker(FilePicker picker);

    // Dialog data: what a run takes, as of the last exchange.
    quorvex::GameSelection m_nGame = -1;
    quorvex::CipherMode m_nMode = -1;
    QString m_strInput;
    QString m_strOutput;

public slots:
    void accept() override;

protected:
    void showEvent(QShowEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void changeEvent(QEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    void OnInitDialog();
    void OnExecute();
    void OnExit();
    void OnGetInput();
    void OnInfoAbout();
    void OnInfoOperation();

    void LayOut();
    void FixWindowSize();

    std::unique_ptr<Ui::QuorvexDlg> ui;
    QIcon m_hIcon;
    FilePicker m_pickInputFile;
    bool m_initialised = false;
};

class AboutDlg : public QDialog {
    Q_OBJECT

public:
    explicit AboutDlg(QWidget* parent = nullptr);
    ~AboutDlg() override;

protected:
    void changeEvent(QEvent* event) override;

private:
    std::unique_ptr<Ui::AboutDlg> ui;
};

// The program file's name without its extension.
QString ApplicationTitle();

// The dialog's message box: the application's title as caption, no icon, one OK button.
void ShowDialogMessage(QWidget* owner, const QString& text);
// How wide a window must be for a window manager to show `caption` whole.
int CaptionRoom(const QWidget& window, const QString& caption);

// The open-file dialog: the desktop's own where it has one, else Qt's.
std::optional<QString> PickFileToOpen(QWidget* owner);
