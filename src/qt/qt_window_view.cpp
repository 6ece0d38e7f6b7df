#include "qt/qt_window_view.hpp"

#include <QAction>
#include <QApplication>
#include <QButtonGroup>
#include <QContextMenuEvent>
#include <QDateEdit>
#include <QDesktopServices>
#include <QFile>
#include <QFileDialog>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLibraryInfo>
#include <QLineEdit>
#include <QLocale>
#include <QMenu>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QShortcut>
#include <QTimeEdit>
#include <QTimer>
#include <QUrl>
#include <QWhatsThis>

#include <algorithm>
#include <utility>

#include "app/window_placement.hpp"
#include "config/paths.hpp"
#include "qt/dialog_metrics.hpp"
#include "qt/test_image_window.hpp"
#include "window/control_ids.hpp"

namespace q70::qt {

namespace {

using window::ControlKind;
namespace id = window::id;

// The board's own text (its firmware version) on one line, as plain text: a control
// character shows as its picture (U+2400 on, U+2421 for DEL), never as a line break that
// pushes the label's neighbour away, nor as a control.
QString boardTextShown(QString text) {
    for (QChar& c : text) {
        if (c.unicode() < 0x20) {
            c = QChar(static_cast<char16_t>(0x2400 + c.unicode()));
        } else if (c.unicode() == 0x7F) {
            c = QChar(static_cast<char16_t>(0x2421));
        }
    }
    return text;
}

QString fromUtf8(const std::string& s) {
    return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}
QString fromUtf8(std::string_view s) {
    return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}
std::string toUtf8(const QString& s) {
    return s.toUtf8().toStdString();
}
// File names go to the file functions in the system's encoding.
std::string toFileName(const QString& s) {
    return QFile::encodeName(s).toStdString();
}

// The locale's short date, always with the full year: a two-digit year would be read as
// a year of the last century.
QString shortDateFormat() {
    QString format = QLocale().dateFormat(QLocale::ShortFormat);
    if (!format.contains(QStringLiteral("yyyy"))) {
        format.replace(QStringLiteral("yy"), QStringLiteral("yyyy"));
    }
    return format;
}

}  // namespace

QtWindowView::QtWindowView(const testimage::TestImage& image, QWidget* parent)
    : QDialog(parent), image_(image) {
    // Caption bar with system menu, close box and the caption help button; no resizing
    // border and no minimise or maximise box.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint |
                   Qt::WindowContextHelpButtonHint);
    setWindowTitle(fromUtf8(window::kMainDialogCaption));
    setSizeGripEnabled(false);

    menu_ = new QMenu(this);
    const std::array<std::pair<const char*, int>, 3> items{{{"&English", id::CmdEnglish},
                                                            {"&Japanese", id::CmdJapanese},
                                                            {"&Chinese", id::CmdChinese}}};
    for (std::size_t i = 0; i < items.size(); ++i) {
        QAction* action = menu_->addAction(QString::fromLatin1(items[i].first));
        const int command = items[i].second;
        connect(action, &QAction::triggered, this, [this, command] { this->command(command); });
        languageActions_[i] = action;
    }
    // Only the built-in simulated board scans on request; the controller shows the entry.
    scanSeparator_ = menu_->addSeparator();
    scanAction_ = menu_->addAction(QString());
    connect(scanAction_, &QAction::triggered, this, [this] { command(id::CmdScanTestImage); });
    scanSeparator_->setVisible(false);
    scanAction_->setVisible(false);

    // Ctrl+Alt+F-keys switch consoles on Linux desktops, so Ctrl+Shift+F12 does it too.
    for (const QKeySequence& keys : {QKeySequence(Qt::CTRL | Qt::ALT | Qt::Key_F12),
                                     QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_F12)}) {
        auto* toggle = new QShortcut(keys, this);
        connect(toggle, &QShortcut::activated, this, [this] { command(id::CmdToggleMaintenance); });
    }
    // Shift+F10 is the Menu key's twin on every desktop, but Qt only knows the Menu key.
    auto* menuKey = new QShortcut(QKeySequence(Qt::SHIFT | Qt::Key_F10), this);
    connect(menuKey, &QShortcut::activated, this, [this] { contextMenuFromKeyboard(); });
    auto* f1 = new QShortcut(QKeySequence(Qt::Key_F1), this);
    f1->setContext(Qt::ApplicationShortcut);
    connect(f1, &QShortcut::activated, this, [this] { help(); });

    // The caption "?" button asks the application to enter What's This mode.
    qApp->installEventFilter(this);
}

QtWindowView::~QtWindowView() {
    qApp->removeEventFilter(this);
}

void QtWindowView::buildControls(const QFont& font) {
    setFont(font);
    base_ = baseUnits(font);

    // Every control that can hold the focus is chained in the template's order; Tab stops
    // at those that are tab stops now (radios become one when they are checked).
    QWidget* previousInChain = nullptr;
    for (const window::ControlTemplate& c : window::mainDialogControls()) {
        QWidget* w = createControl(c);
        w->setObjectName(QString::number(c.id));
        w->setGeometry(toQRect(window::toPixels(c.rect, base_)));
        w->setEnabled(!c.has(window::style::Disabled));
        w->setHidden(c.has(window::style::Invisible));
        const bool focusable = c.has(window::style::TabStop) || c.kind == ControlKind::RadioButton;
        if (focusable) {
            w->setFocusPolicy(c.has(window::style::TabStop) ? Qt::StrongFocus : Qt::ClickFocus);
            if (previousInChain != nullptr) QWidget::setTabOrder(previousInChain, w);
            previousInChain = w;
        } else {
            w->setFocusPolicy(Qt::NoFocus);
        }
        controls_[c.id] = w;
    }
    // Labels name their fields for screen readers.
    for (const window::FieldLabel& l : window::fieldLabels()) {
        if (auto* label = qobject_cast<QLabel*>(control(l.label)))
            label->setBuddy(control(l.field));
    }

    for (const window::RadioPair& pair : window::radioPairs()) {
        auto* group = new QButtonGroup(this);
        group->setExclusive(true);
        for (const int radio : {pair.first, pair.second}) {
            if (auto* button = qobject_cast<QAbstractButton*>(control(radio))) {
                group->addButton(button);
                radioGroups_[radio] = group;
            }
        }
    }

    // Frames are drawn behind the controls they surround and never take the mouse, as on
    // the original platform, where they are transparent.
    const auto controls = window::mainDialogControls();
    for (auto it = controls.rbegin(); it != controls.rend(); ++it) {
        if (it->kind == ControlKind::GroupBox || it->kind == ControlKind::Frame ||
            it->kind == ControlKind::BlackFrame) {
            QWidget* w = control(it->id);
            w->setAttribute(Qt::WA_TransparentForMouseEvents);
            w->lower();
        }
    }

    setFixedSize(toQSize(window::toPixels(window::kMainDialogSize, base_)));
    move(0, 0);
}

QWidget* QtWindowView::createControl(const window::ControlTemplate& c) {
    const QString caption = c.has(window::style::BoundText) ? QString() : fromUtf8(c.caption);
    const Qt::Alignment horizontal =
        c.has(window::style::AlignRight) ? Qt::AlignRight : Qt::AlignLeft;
    switch (c.kind) {
        case ControlKind::Edit: {
            auto* edit = new QLineEdit(caption, this);
            connect(edit, &QLineEdit::textEdited, this, [this] {
                if (controller_) controller_->onFirmwarePathEdited();
            });
            return edit;
        }
        case ControlKind::PushButton: {
            auto* button = new QPushButton(caption, this);
            // No default button, not even the focused one: Enter is the dialog's own OK
            // unless a button has the focus (keyPressEvent).
            button->setDefault(false);
            button->setAutoDefault(false);
            connect(button, &QPushButton::clicked, this, [this, cid = c.id] { command(cid); });
            return button;
        }
        case ControlKind::RadioButton: {
            auto* radio = new QRadioButton(caption, this);
            radio->setAutoExclusive(false);  // the pair's button group does it
            connect(radio, &QRadioButton::clicked, this, [this, cid = c.id] { command(cid); });
            return radio;
        }
        case ControlKind::GroupBox:
            return new QGroupBox(caption, this);
        case ControlKind::Label: {
            auto* label = new QLabel(caption, this);
            label->setTextFormat(Qt::PlainText);
            label->setAlignment(horizontal |
                                (c.has(window::style::VCentre) ? Qt::AlignVCenter : Qt::AlignTop));
            return label;
        }
        case ControlKind::Frame: {
            auto* frame = new QFrame(this);
            frame->setFrameStyle(QFrame::Box | QFrame::Sunken);
            return frame;
        }
        case ControlKind::BlackFrame: {
            auto* frame = new QFrame(this);
            frame->setFrameStyle(QFrame::Box | QFrame::Plain);
            frame->setLineWidth(1);
            QPalette palette = frame->palette();
            palette.setColor(QPalette::WindowText, Qt::black);
            frame->setPalette(palette);
            return frame;
        }
        case ControlKind::ProgressBar: {
            auto* bar = new QProgressBar(this);
            bar->setRange(0, 100);
            bar->setValue(0);
            bar->setTextVisible(false);  // the percentage is the text below it
            return bar;
        }
        case ControlKind::DatePicker: {
            auto* date = new QDateEdit(QDate::currentDate(), this);
            date->setDisplayFormat(shortDateFormat());
            date->setCalendarPopup(true);
            date->setAlignment(horizontal | Qt::AlignVCenter);
            connect(date, &QDateEdit::dateChanged, this, [this, cid = c.id] {
                if (controller_ && !settingDateTime_) controller_->onDateTimeChanged(cid);
            });
            return date;
        }
        case ControlKind::TimePicker: {
            auto* time = new QTimeEdit(QTime::currentTime(), this);
            time->setDisplayFormat(QStringLiteral("HH:mm"));
            time->setButtonSymbols(QAbstractSpinBox::UpDownArrows);
            time->setAlignment(horizontal | Qt::AlignVCenter);
            connect(time, &QTimeEdit::timeChanged, this, [this, cid = c.id] {
                if (controller_ && !settingDateTime_) controller_->onDateTimeChanged(cid);
            });
            return time;
        }
    }
    return new QWidget(this);
}

QWidget* QtWindowView::control(int controlId) const {
    const auto it = controls_.find(controlId);
    return it != controls_.end() ? it->second : nullptr;
}

std::vector<TestImageWindow*> QtWindowView::testImageWindows() const {
    std::vector<TestImageWindow*> windows;
    for (TestImageWindow* w : findChildren<TestImageWindow*>(Qt::FindDirectChildrenOnly)) {
        if (w->isVisible()) windows.push_back(w);
    }
    return windows;
}

void QtWindowView::centreOnScreen() {
    QScreen* screen = this->screen() != nullptr ? this->screen() : QGuiApplication::primaryScreen();
    if (screen == nullptr) return;
    const QRect area = screen->availableGeometry();
    const QRect frame = frameGeometry();
    move(area.x() + (area.width() - frame.width()) / 2,
         area.y() + (area.height() - frame.height()) / 2);
}

void QtWindowView::command(int commandId) {
    if (controller_) controller_->onCommand(commandId);
}

void QtWindowView::help() {
    if (controller_) controller_->onHelp();
}

QWidget* QtWindowView::dialogOwner() const {
    return closingImageWindow_ ? closingImageWindow_.data() : const_cast<QtWindowView*>(this);
}

void QtWindowView::bringToFront() {
    if (isMinimized()) setWindowState((windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
    // The topmost modal window (a message box, a test-image window) is what the user must
    // answer first.
    QWidget* top = QApplication::activeModalWidget();
    if (top == nullptr) top = this;
    if (top->isMinimized()) top->setWindowState(top->windowState() & ~Qt::WindowMinimized);
    top->raise();
    top->activateWindow();
}

// ---- Events ---------------------------------------------------------------------------

void QtWindowView::accept() {
    command(id::DialogOK);
}

void QtWindowView::reject() {
    command(id::DialogCancel);
}

void QtWindowView::keyPressEvent(QKeyEvent* event) {
    const Qt::KeyboardModifiers modifiers = event->modifiers() & ~Qt::KeypadModifier;
    if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) &&
        modifiers == Qt::NoModifier) {
        // A focused push button takes Enter as a click, as on the original platform.
        if (auto* button = qobject_cast<QPushButton*>(focusWidget());
            button != nullptr && button->isEnabled() && button->isVisible()) {
            button->click();
        } else {
            command(id::DialogOK);
        }
        return;
    }
    if (event->key() == Qt::Key_Escape && modifiers == Qt::NoModifier) {
        command(id::DialogCancel);
        return;
    }
    QDialog::keyPressEvent(event);
}

void QtWindowView::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    for (const QPointer<QWidget>& box : std::exchange(pendingMessages_, {})) {
        // After the show has finished, so that the box is placed over the window.
        if (auto* message = qobject_cast<QMessageBox*>(box.data())) {
            QTimer::singleShot(0, message, [message] { message->open(); });
        }
    }
}

void QtWindowView::contextMenuEvent(QContextMenuEvent* event) {
    menu_->popup(event->globalPos());
    event->accept();
}

// As the Menu key does: the focused control's menu, at the control, else the window's.
void QtWindowView::contextMenuFromKeyboard() {
    QWidget* target = QApplication::focusWidget();
    if (target == nullptr || target->window() != this) target = this;
    const QPoint at = target->rect().center();
    QContextMenuEvent event(QContextMenuEvent::Keyboard, at, target->mapToGlobal(at));
    QApplication::sendEvent(target, &event);
}

bool QtWindowView::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::EnterWhatsThisMode) {
        // The "?" button opens the help file; the help pointer never appears.
        if (QWhatsThis::inWhatsThisMode()) QWhatsThis::leaveWhatsThisMode();
        help();
        return true;
    }
    return QDialog::eventFilter(watched, event);
}

// ---- WindowView: controls -------------------------------------------------------------

void QtWindowView::setEnabled(int controlId, bool enabled) {
    if (QWidget* w = control(controlId)) w->setEnabled(enabled);
}

void QtWindowView::setVisible(int controlId, bool visible) {
    if (QWidget* w = control(controlId)) w->setHidden(!visible);
}

void QtWindowView::setText(int controlId, const std::string& text) {
    QWidget* w = control(controlId);
    const QString t = fromUtf8(text);
    if (auto* edit = qobject_cast<QLineEdit*>(w)) {
        edit->setText(t);
    } else if (auto* button = qobject_cast<QAbstractButton*>(w)) {
        button->setText(t);
    } else if (auto* group = qobject_cast<QGroupBox*>(w)) {
        group->setTitle(t);
    } else if (auto* label = qobject_cast<QLabel*>(w)) {
        label->setText(controlId == id::FirmwareVersion ? boardTextShown(t) : t);
    }
}

std::string QtWindowView::text(int controlId) const {
    QWidget* w = control(controlId);
    if (auto* edit = qobject_cast<QLineEdit*>(w)) return toUtf8(edit->text());
    if (auto* button = qobject_cast<QAbstractButton*>(w)) return toUtf8(button->text());
    if (auto* group = qobject_cast<QGroupBox*>(w)) return toUtf8(group->title());
    if (auto* label = qobject_cast<QLabel*>(w)) return toUtf8(label->text());
    return {};
}

void QtWindowView::setChecked(int controlId, bool checked) {
    auto* button = qobject_cast<QAbstractButton*>(control(controlId));
    if (button == nullptr || button->isChecked() == checked) return;
    QButtonGroup* group = button->group();
    // An exclusive group never lets its checked button go; the settings need "neither".
    if (!checked && group != nullptr && group->exclusive()) {
        group->setExclusive(false);
        button->setChecked(false);
        group->setExclusive(true);
        return;
    }
    button->setChecked(checked);
}

bool QtWindowView::isChecked(int controlId) const {
    auto* button = qobject_cast<QAbstractButton*>(control(controlId));
    return button != nullptr && button->isChecked();
}

void QtWindowView::setProgress(int percent) {
    if (auto* bar = qobject_cast<QProgressBar*>(control(id::Progress))) {
        bar->setValue(std::clamp(percent, 0, 100));
    }
}

link::DateTime QtWindowView::pickedDateTime() const {
    link::DateTime dt;
    if (auto* date = qobject_cast<QDateEdit*>(control(id::DatePicker))) {
        dt.year = date->date().year();
        dt.month = date->date().month();
        dt.day = date->date().day();
    }
    if (auto* time = qobject_cast<QTimeEdit*>(control(id::TimePicker))) {
        dt.hour = time->time().hour();
        dt.minute = time->time().minute();
    }
    return dt;
}

void QtWindowView::setFocus(int controlId) {
    if (QWidget* w = control(controlId)) w->setFocus(Qt::OtherFocusReason);
}

void QtWindowView::showDateTime(const link::DateTime& dt) {
    settingDateTime_ = true;
    if (auto* date = qobject_cast<QDateEdit*>(control(id::DatePicker))) {
        date->setDate(QDate(dt.year, dt.month, dt.day));
    }
    if (auto* time = qobject_cast<QTimeEdit*>(control(id::TimePicker))) {
        time->setTime(QTime(dt.hour, dt.minute));
    }
    settingDateTime_ = false;
}

void QtWindowView::setTabStop(int controlId, bool tabStop) {
    QWidget* w = control(controlId);
    if (w == nullptr || w->focusPolicy() == Qt::NoFocus) return;
    w->setFocusPolicy(tabStop ? Qt::StrongFocus : Qt::ClickFocus);
}

void QtWindowView::setAccessibleName(int controlId, const std::string& name,
                                     const std::string& description) {
    QWidget* w = control(controlId);
    if (w == nullptr) return;
    w->setAccessibleName(fromUtf8(name));
    w->setAccessibleDescription(fromUtf8(description));
}

// ---- WindowView: the window -----------------------------------------------------------

void QtWindowView::setTitle(const std::string& title) {
    setWindowTitle(fromUtf8(title));
}

void QtWindowView::setLanguageMenuTexts(const std::string& english, const std::string& japanese,
                                        const std::string& chinese) {
    languageActions_[0]->setText(fromUtf8(english));
    languageActions_[1]->setText(fromUtf8(japanese));
    languageActions_[2]->setText(fromUtf8(chinese));
    followLanguageInQtTexts();  // the captions change with the language, and only then
}

void QtWindowView::followLanguageInQtTexts() {
    if (controller_ == nullptr) return;
    const std::string& language = controller_->currentLanguage();
    using config::Language;
    const QString locale =
        language == config::languageName(Language::Japanese)  ? QStringLiteral("ja")
        : language == config::languageName(Language::Chinese) ? QStringLiteral("zh_CN")
                                                              : QString();
    if (locale == qtTextsLocale_) return;
    qtTextsLocale_ = locale;
    QCoreApplication::removeTranslator(&qtTexts_);
    // Without Qt's translation files the buttons simply stay in English.
    if (!locale.isEmpty() && qtTexts_.load(QStringLiteral("qtbase_") + locale,
                                           QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        QCoreApplication::installTranslator(&qtTexts_);
    }
}

window::Rect QtWindowView::windowRect() const {
    const QRect frame = frameGeometry();
    return {frame.x(), frame.y(), frame.x() + frame.width(), frame.y() + frame.height()};
}

void QtWindowView::moveWindow(const window::Rect& rect) {
    // The rectangle is the outer frame; the window manager adds the frame to the client.
    const QRect frame = frameGeometry();
    const QRect client = geometry();
    const int extraWidth = frame.width() - client.width();
    const int extraHeight = frame.height() - client.height();
    setFixedSize(std::max(0, rect.width() - extraWidth), std::max(0, rect.height() - extraHeight));
    move(rect.left, rect.top);
}

window::Size QtWindowView::clientSize() const {
    return {width(), height()};
}

window::Size QtWindowView::controlSize(int controlId) const {
    const QWidget* w = control(controlId);
    return w != nullptr ? window::Size{w->width(), w->height()} : window::Size{};
}

void QtWindowView::moveControl(int controlId, int x, int y, int w, int h) {
    if (QWidget* c = control(controlId)) c->setGeometry(x, y, w, h);
}

void QtWindowView::repaint() {
    update();
}

void QtWindowView::endDialog(int result) {
    done(result);
}

window::Rect QtWindowView::availableArea() const {
    QScreen* screen = this->screen() != nullptr ? this->screen() : QGuiApplication::primaryScreen();
    if (screen == nullptr) return {};
    const QRect area = screen->availableGeometry();
    return {area.x(), area.y(), area.x() + area.width(), area.y() + area.height()};
}

void QtWindowView::setLanguageMenuEnabled(bool enabled) {
    for (QAction* action : languageActions_) action->setEnabled(enabled);
}

void QtWindowView::setScanMenuEntry(bool shown, const std::string& text) {
    scanAction_->setText(fromUtf8(text));
    scanAction_->setVisible(shown);
    scanSeparator_->setVisible(shown);
}

// ---- WindowView: dialogs --------------------------------------------------------------

void QtWindowView::showMessage(const std::string& text) {
    openMessage(QMessageBox::Warning, text);
}

void QtWindowView::showInformation(const std::string& text) {
    openMessage(QMessageBox::Information, text);
}

void QtWindowView::openMessage(QMessageBox::Icon icon, const std::string& text) {
    // Called from timer ticks: open() shows the box without a nested event loop, so the
    // link's timers keep running while it is up.
    auto* box = new QMessageBox(icon, QGuiApplication::applicationDisplayName(), fromUtf8(text),
                                QMessageBox::Ok, this);
    box->setTextFormat(Qt::PlainText);
    box->setAttribute(Qt::WA_DeleteOnClose);
    if (isVisible()) {
        box->open();
    } else {
        pendingMessages_.emplace_back(box);
    }
}

std::optional<std::string> QtWindowView::chooseFirmwareFile() {
    if (firmwareFileHook) return firmwareFileHook();
    QFileDialog dialog(this);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setNameFilter(QStringLiteral("Mot Files(*.mot)"));
    dialog.setDefaultSuffix(QStringLiteral("mot"));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
        return std::nullopt;
    }
    return toFileName(dialog.selectedFiles().constFirst());
}

window::Choice QtWindowView::askYesNoCancel(const std::string& text) {
    // Runs inside a user's close request, so a blocking box holds no timer tick.
    QMessageBox box(QMessageBox::Warning, QGuiApplication::applicationDisplayName(), fromUtf8(text),
                    QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel, dialogOwner());
    box.setTextFormat(Qt::PlainText);
    box.setDefaultButton(QMessageBox::Yes);
    box.setEscapeButton(QMessageBox::Cancel);
    switch (box.exec()) {
        case QMessageBox::Yes:
            return window::Choice::Yes;
        case QMessageBox::No:
            return window::Choice::No;
        default:
            return window::Choice::Cancel;
    }
}

std::optional<std::string> QtWindowView::chooseBitmapFile() {
    if (bitmapFileHook) return bitmapFileHook();
    QFileDialog dialog(dialogOwner());
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setNameFilter(QStringLiteral("bmp Files(*.bmp)"));
    dialog.setDefaultSuffix(QStringLiteral("bmp"));
    dialog.selectFile(QStringLiteral("RDBTestImage1"));
    // Asking before replacing a file is the dialog's default (no DontConfirmOverwrite).
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
        return std::nullopt;
    }
    return toFileName(dialog.selectedFiles().constFirst());
}

void QtWindowView::openHelp(const std::string& path) {
    if (helpHook) {
        helpHook(path);
        return;
    }
    // Nothing to report when no viewer is there: the original ignored the result too.
    QDesktopServices::openUrl(QUrl::fromLocalFile(QFile::decodeName(path.c_str())));
}

void QtWindowView::showTestImage() {
    // Called from a timer tick: open() shows the window without a nested event loop.
    // The window takes its own copy of the picture: newer images must not change it.
    auto* window = new TestImageWindow(image_, nullptr, this);
    const QPointer<TestImageWindow> self(window);
    // The question and the Save As dialog belong to the window being closed.
    window->setMayClose([this, self] {
        if (controller_ == nullptr || self.isNull()) return true;
        const QPointer<QWidget> previous = closingImageWindow_;
        closingImageWindow_ = self.data();
        const bool close = controller_->onTestImageWindowClose(self->picture());
        closingImageWindow_ = previous;
        return close;
    });
    window->setAttribute(Qt::WA_DeleteOnClose);
    if (!lastImageWindow_.isNull() && lastImageWindow_->isVisible()) {
        const QRect last = lastImageWindow_->frameGeometry();
        const window::Rect next = app::cascadeAfter(
            {last.x(), last.y(), last.x() + last.width(), last.y() + last.height()},
            {window->width(), window->height()}, availableArea());
        window->move(next.left, next.top);
    }
    lastImageWindow_ = window;
    window->open();
}

}  // namespace q70::qt
