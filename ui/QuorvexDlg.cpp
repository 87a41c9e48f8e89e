#include "QuorvexDlg.h"

#include "dialog_units.h"
#include "quorvex/transcode.h"
#include "ui_about_dialog.h"
#include "ui_quorvex_dialog.h"

#include <QAbstractButton>
#include <QApplication>
#include <QButtonGroup>
#include <QCoreApplication>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMessageBox>
#include <QMimeData>
#include <QPushButton>

// Resources compiled into a static library must be registered by hand, at global scope.
static void InitResources() {
    Q_INIT_RESOURCE(quorvex);
}

namespace {

const QSize kMainClientArea(320, 261);
const QSize kAboutClientArea(235, 55);

void ExchangeRadio(QButtonGroup& group, int& value, QuorvexDlg::Exchange direction) {
    if (direction == QuorvexDlg::Exchange::Pull) {
        value = group.checkedId();
        return;
    }
    // An exclusive group refuses to uncheck its checked button; a value outside the
    // group must leave every button unchecked.
    group.setExclusive(false);
    for (QAbstractButton* button : group.buttons())
        button->setChecked(group.id(button) == value);
    group.setExclusive(true);
}

void ExchangeText(QLineEdit& edit, QString& value, QuorvexDlg::Exchange direction) {
    if (direction == QuorvexDlg::Exchange::Pull)
        value = edit.text();
    else
        edit.setText(value);
}

void NumberInTemplateOrder(QButtonGroup& group, std::initializer_list<QAbstractButton*> buttons) {
    int index = 0;
    for (QAbstractButton* button : buttons)
        group.setId(button, index++);
}

// The first of the dropped items, when it is a local file that is not a folder.
std::optional<QString> DroppedFile(const QMimeData* data) {
    if (!data || !data->hasUrls() || data->urls().isEmpty())
        return std::nullopt;
    const QUrl url = data->urls().constFirst();
    if (!url.isLocalFile())
        return std::nullopt;
    const QFileInfo file(url.toLocalFile());
    if (!file.exists() || file.isDir())
        return std::nullopt;
    return file.absoluteFilePath();
}

// The run's message channel. Between two messages the run works without returning to
// the event loop, so the busy cursor is shown only then.
class RunMessages : public quorvex::MessageSink {
public:
    explicit RunMessages(QWidget* owner) : m_owner(owner) { Busy(); }
    ~RunMessages() override { QGuiApplication::restoreOverrideCursor(); }
    RunMessages(const RunMessages&) = delete;
    RunMessages& operator=(const RunMessages&) = delete;

    void Show(std::string_view text) override {
        QGuiApplication::restoreOverrideCursor();
        ShowDialogMessage(m_owner,
                          QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())));
        Busy();
    }

private:
    static void Busy() {
        QGuiApplication::setOverrideCursor(Qt::WaitCursor);
        // Let the new cursor reach the screen before the event loop stalls.
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    }

    QWidget* m_owner;
};

} // namespace

QString ApplicationTitle() {
    return QFileInfo(QCoreApplication::applicationFilePath()).completeBaseName();
}

void ShowDialogMessage(QWidget* owner, const QString& text) {
    const QString caption = ApplicationTitle();
    QMessageBox box(QMessageBox::NoIcon, caption, text, QMessageBox::Ok, owner);
    box.setTextFormat(Qt::PlainText);
    box.setWindowTitle(caption);
    // A message box sizes itself to its text; a window manager then cuts a caption that is
    // wider. Room for the caption and the frame's own buttons keeps it whole.
    if (auto* grid = qobject_cast<QGridLayout*>(box.layout()))
        grid->addItem(new QSpacerItem(CaptionRoom(box, caption), 0, QSizePolicy::Minimum),
                      grid->rowCount(), 0, 1, grid->columnCount());
    box.exec();
}

int CaptionRoom(const QWidget& window, const QString& caption) {
    const QFontMetrics title(QApplication::font("QMdiSubWindowTitleBar"));
    return title.horizontalAdvance(caption) + 8 * window.fontMetrics().height();
}

// The desktop's own chooser, through its portal or Qt's platform theme; where the desktop
// offers none, Qt's own, wide and tall enough that names, sizes and dates show whole.
std::optional<QString> PickFileToOpen(QWidget* owner) {
    QFileDialog dialog(owner);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    // Only Qt's own dialog ever shows at this size; the desktop's keeps its own.
    const QFontMetrics metrics = dialog.fontMetrics();
    dialog.resize(dialog.sizeHint().expandedTo(
        QSize(100 * metrics.averageCharWidth(), 28 * metrics.height())));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return std::nullopt;
    return QFileInfo(dialog.selectedFiles().constFirst()).absoluteFilePath();
}

QuorvexDlg::QuorvexDlg(QWidget* parent)
    : QDialog(parent), ui(std::make_unique<Ui::QuorvexDlg>()), m_pickInputFile(PickFileToOpen) {
    InitResources();
    ui->setupUi(this);
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint |
                   Qt::WindowCloseButtonHint);
    NumberInTemplateOrder(*ui->modeGroup, {ui->IDC_ENCRYPT, ui->IDC_DECRYPT});
    NumberInTemplateOrder(*ui->gameGroup,
                          {ui->IDC_GAME1, ui->IDC_GAME2, ui->IDC_GAME3, ui->IDC_GAME4});
    LayOut();
    // A file dropped anywhere names the input; the boxes take no drops of their own, so a
    // stray drop can never name a file to overwrite.
    setAcceptDrops(true);
    ui->IDC_INPUT_FILE->setAcceptDrops(false);
    ui->IDC_OUTPUT_FILE->setAcceptDrops(false);

    connect(ui->IDC_EXECUTE, &QPushButton::clicked, this, &QuorvexDlg::OnExecute);
    connect(ui->IDC_EXIT, &QPushButton::clicked, this, &QuorvexDlg::OnExit);
    connect(ui->IDC_GET_INPUT, &QPushButton::clicked, this, &QuorvexDlg::OnGetInput);
    connect(ui->ID_INFO_ABOUT, &QAction::triggered, this, &QuorvexDlg::OnInfoAbout);
    connect(ui->ID_INFO_EXIT, &QAction::triggered, this, &QuorvexDlg::OnExit);
    connect(ui->ID_INFO_OPERATION, &QAction::triggered, this, &QuorvexDlg::OnInfoOperation);

    m_hIcon.addFile(QStringLiteral(":/icons/quorvex-32.xpm"));
    m_hIcon.addFile(QStringLiteral(":/icons/quorvex-16.xpm"));
}

QuorvexDlg::~QuorvexDlg() = default;

void QuorvexDlg::DoDataExchange(Exchange direction) {
    ExchangeRadio(*ui->gameGroup, m_nGame, direction);
    ExchangeRadio(*ui->modeGroup, m_nMode, direction);
    ExchangeText(*ui->IDC_INPUT_FILE, m_strInput, direction);
    ExchangeText(*ui->IDC_OUTPUT_FILE, m_strOutput, direction);
}

void QuorvexDlg::SetFilePicker(FilePicker picker) {
    m_pickInputFile = std::move(picker);
}

void QuorvexDlg::accept() {
    DoDataExchange(Exchange::Pull);
    QDialog::accept();
}

void QuorvexDlg::showEvent(QShowEvent* event) {
    if (!m_initialised) {
        m_initialised = true;
        OnInitDialog();
    }
    QDialog::showEvent(event);
}

// No button is a default button: Enter presses the focused push button, and anywhere
// else it is the dialog's accept command. Escape stays with QDialog (cancel).
void QuorvexDlg::keyPressEvent(QKeyEvent* event) {
    const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    if (enter && (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier) {
        if (auto* button = qobject_cast<QPushButton*>(focusWidget()))
            button->click();
        else
            accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

void QuorvexDlg::changeEvent(QEvent* event) {
    QDialog::changeEvent(event);
    if (event->type() == QEvent::FontChange)
        LayOut();
    else if (event->type() == QEvent::WindowStateChange)
        FixWindowSize();
}

void QuorvexDlg::dragEnterEvent(QDragEnterEvent* event) {
    if (DroppedFile(event->mimeData()))
        event->acceptProposedAction();
}

// As if typed: only the box changes, not the dialog data.
void QuorvexDlg::dropEvent(QDropEvent* event) {
    if (const std::optional<QString> path = DroppedFile(event->mimeData())) {
        ui->IDC_INPUT_FILE->setText(*path);
        event->acceptProposedAction();
    }
}

void QuorvexDlg::LayOut() {
    LayOutInDialogUnits(*this, kMainClientArea, ui->IDR_MENU_INFO);
    FixWindowSize();
}

// The window keeps its size: the frame cannot be dragged larger or smaller. Most X11
// window managers then offer no maximising either, since equal minimum and maximum sizes
// rule it out; should one maximise the window all the same, the limit is lifted while it
// stays maximised.
void QuorvexDlg::FixWindowSize() {
    if (windowState() & Qt::WindowMaximized)
        setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    else
        setMaximumSize(minimumSize());
}

void QuorvexDlg::OnInitDialog() {
    setWindowIcon(m_hIcon);
    m_nMode = quorvex::kEncrypt;
    m_nGame = 0;
    DoDataExchange(Exchange::Push);
    ui->IDC_INPUT_FILE->setFocus();
}

void QuorvexDlg::OnExecute() {
    DoDataExchange(Exchange::Pull);
    RunMessages messages(this);
    quorvex::TranscodeFiles(QFile::encodeName(m_strInput).toStdString(),
                            QFile::encodeName(m_strOutput).toStdString(), m_nMode, m_nGame,
                            messages);
}

void QuorvexDlg::OnExit() {
    accept();
}

// Only the input box changes: what the other controls show is pulled first, so picking
// a file never puts back the output, mode or game of an earlier run.
void QuorvexDlg::OnGetInput() {
    const std::optional<QString> path = m_pickInputFile(this);
    if (!path)
        return;
    DoDataExchange(Exchange::Pull);
    m_strInput = *path;
    DoDataExchange(Exchange::Push);
}

void QuorvexDlg::OnInfoAbout() {
    AboutDlg about(this);
    about.exec();
}

void QuorvexDlg::OnInfoOperation() {
    const std::string_view text = quorvex::messages::kOperation;
    ShowDialogMessage(this, QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())));
}

AboutDlg::AboutDlg(QWidget* parent) : QDialog(parent), ui(std::make_unique<Ui::AboutDlg>()) {
    InitResources();
    ui->setupUi(this);
    LayOutInDialogUnits(*this, kAboutClientArea);
}

AboutDlg::~AboutDlg() = default;

void AboutDlg::changeEvent(QEvent* event) {
    QDialog::changeEvent(event);
    if (event->type() == QEvent::FontChange)
        LayOutInDialogUnits(*this, kAboutClientArea);
}
