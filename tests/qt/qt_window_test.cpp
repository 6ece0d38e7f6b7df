#include <QAction>
#include <QButtonGroup>
#include <QDateEdit>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTimeEdit>
#include <QWhatsThis>

#include <algorithm>

#include "qt/qt_timer_service.hpp"
#include "qt_window_fixture.hpp"
#include "window/dialog_template.hpp"

namespace q70::test {
namespace {

namespace id = window::id;
using window::ControlKind;

class QtWindow : public QtWindowFixture {};

const char* expectedClass(ControlKind kind) {
    switch (kind) {
        case ControlKind::Edit:
            return "QLineEdit";
        case ControlKind::PushButton:
            return "QPushButton";
        case ControlKind::RadioButton:
            return "QRadioButton";
        case ControlKind::GroupBox:
            return "QGroupBox";
        case ControlKind::Label:
            return "QLabel";
        case ControlKind::Frame:
        case ControlKind::BlackFrame:
            return "QFrame";
        case ControlKind::ProgressBar:
            return "QProgressBar";
        case ControlKind::DatePicker:
            return "QDateEdit";
        case ControlKind::TimePicker:
            return "QTimeEdit";
    }
    return "";
}

TEST_F(QtWindow, EveryTemplateControlIsBuiltWithItsIdKindCaptionAndDialogUnitRectangle) {
    view = std::make_unique<qt::QtWindowView>(image);
    const QFont f = qt::dialogFont(QStringLiteral("DejaVu Sans"), 8);
    view->buildControls(f);
    const window::BaseUnits base = qt::baseUnits(f);
    ASSERT_GT(base.x, 0);
    ASSERT_GT(base.y, 0);
    EXPECT_EQ(view->size(), qt::toQSize(window::toPixels(window::kMainDialogSize, base)));
    EXPECT_EQ(view->windowTitle(), "Utility");

    for (const window::ControlTemplate& c : window::mainDialogControls()) {
        SCOPED_TRACE(c.id);
        QWidget* w = view->findChild<QWidget*>(QString::number(c.id));
        ASSERT_NE(w, nullptr);
        EXPECT_EQ(w, view->control(c.id));
        EXPECT_STREQ(w->metaObject()->className(), expectedClass(c.kind));
        EXPECT_EQ(w->geometry(), qt::toQRect(window::toPixels(c.rect, base)));
        EXPECT_EQ(w->isHidden(), c.has(window::style::Invisible));
        EXPECT_EQ(w->isEnabled(), !c.has(window::style::Disabled));
        const std::string expected =
            c.has(window::style::BoundText) ? std::string() : std::string(c.caption);
        if (c.kind != ControlKind::Frame && c.kind != ControlKind::BlackFrame &&
            c.kind != ControlKind::ProgressBar && c.kind != ControlKind::DatePicker &&
            c.kind != ControlKind::TimePicker) {
            EXPECT_EQ(view->text(c.id), expected);
        }
    }
    EXPECT_EQ(view->text(id::FirmwareVersion), "") << "the bound field starts empty";
    auto* versionLabel = widget<QLabel>(id::FirmwareNameLabel);
    EXPECT_TRUE(versionLabel->alignment() & Qt::AlignRight);
    EXPECT_EQ(widget<QProgressBar>(id::Progress)->maximum(), 100);
    EXPECT_TRUE(widget<QDateEdit>(id::DatePicker)->calendarPopup());
    EXPECT_EQ(widget<QDateEdit>(id::DatePicker)->date(), QDate::currentDate());
    EXPECT_EQ(widget<QTimeEdit>(id::TimePicker)->displayFormat(), "HH:mm");
    for (int b : {id::Update, id::Reset, id::OK, id::Cancel, id::Apply, id::FileSelect}) {
        EXPECT_FALSE(widget<QPushButton>(b)->isDefault()) << b;
    }
}

TEST_F(QtWindow, TabOrderFollowsTheTemplateAndRadiosComeInExclusivePairs) {
    start(false);
    // The template's stops, each radio pair's on its checked radio.
    std::vector<int> tabStops;
    for (const window::ControlTemplate& c : window::mainDialogControls()) {
        const bool pairStop = c.kind == ControlKind::RadioButton && view->isChecked(c.id);
        if ((c.has(window::style::TabStop) && c.kind != ControlKind::RadioButton) || pairStop) {
            tabStops.push_back(c.id);
        }
    }
    // Walk Qt's focus chain from the first tab stop.
    QWidget* w = view->control(tabStops.front());
    std::vector<int> chain;
    for (std::size_t i = 0; i < tabStops.size(); ++i) {
        while (w->objectName().isEmpty() || w->focusPolicy() != Qt::StrongFocus ||
               w->parentWidget() != view.get()) {
            w = w->nextInFocusChain();
        }
        chain.push_back(w->objectName().toInt());
        w = w->nextInFocusChain();
    }
    EXPECT_EQ(chain, tabStops);
    EXPECT_EQ(widget(id::TimeStampFrame)->focusPolicy(), Qt::NoFocus);

    for (const window::RadioPair& pair : window::radioPairs()) {
        auto* first = widget<QRadioButton>(pair.first);
        auto* second = widget<QRadioButton>(pair.second);
        ASSERT_NE(first->group(), nullptr);
        EXPECT_EQ(first->group(), second->group());
        EXPECT_TRUE(first->group()->exclusive());
        EXPECT_EQ(first->group()->buttons().size(), 2);
    }
    // Neither radio on is a state the settings need (a value the board does not know).
    view->setChecked(id::PaperA4, true);
    view->setChecked(id::PaperLetter, true);
    EXPECT_FALSE(view->isChecked(id::PaperA4));
    view->setChecked(id::PaperLetter, false);
    EXPECT_FALSE(view->isChecked(id::PaperA4));
    EXPECT_FALSE(view->isChecked(id::PaperLetter));
}

TEST_F(QtWindow, WithoutAnIniEveryCaptionHasItsDefault) {
    start();
    EXPECT_EQ(view->windowTitle(), "Q-70 Series Setup Utility Ver. 1.00");
    EXPECT_EQ(caption(id::OK), "OK");
    EXPECT_EQ(caption(id::Reset), "Reset");
    EXPECT_EQ(caption(id::FileSelect), "...");
    EXPECT_EQ(caption(id::MaintenanceFrame), "Maintenance Functions");
    EXPECT_EQ(caption(id::PrintModeOriginal), "Original Image");
    EXPECT_EQ(caption(id::FirmwareVersion), "V2.05") << "the board's version";
    QList<QAction*> items;
    for (QAction* a : view->languageMenu()->actions()) {
        if (a->isVisible()) items.push_back(a);
    }
    ASSERT_EQ(items.size(), 3) << "no scan entry without the simulated board";
    EXPECT_EQ(items[0]->text(), "&English");
    EXPECT_EQ(items[2]->text(), "&Chinese");
    // The settings as the board reported them.
    EXPECT_TRUE(view->isChecked(id::TimeStampDisable));
    EXPECT_TRUE(widget(id::Cancel)->isEnabled());
    showActive();
    QWidget* focus = QApplication::focusWidget();
    ASSERT_NE(focus, nullptr);
    EXPECT_TRUE(focus->isEnabled() && focus->isVisible());
    for (int b : {id::Update, id::Reset, id::OK, id::Cancel, id::Apply, id::FileSelect}) {
        EXPECT_FALSE(widget<QPushButton>(b)->isDefault()) << b;
    }
}

// The board's text is plain text on one line: a line feed or an escape cannot break the
// label, push its neighbour away or reach anything as markup.
TEST_F(QtWindow, TheBoardsVersionIsShownAsOnePlainLine) {
    board.version = "V2.05\ndevice-state=9\x1b[2J<b>x</b>";
    start();
    auto* label = widget<QLabel>(id::FirmwareVersion);
    ASSERT_NE(label, nullptr);
    EXPECT_EQ(label->textFormat(), Qt::PlainText);
    EXPECT_EQ(label->text(), QString::fromUtf8("V2.05\u240Adevice-state=9\u241B[2J<b>x</b>"));
    // One line high, so it fits the row its neighbours share.
    EXPECT_LE(label->sizeHint().height(), QFontMetrics(label->font()).lineSpacing() + 4);
}

TEST_F(QtWindow, CaptionsComeFromTheIniAndAnEmptyValueGivesAnEmptyCaption) {
    writeFile("Q70Uty.ini",
              "[General]\nVersion=3.1\n[TitleText]\nUtilityDialogTitle=ボード設定\n"
              "[MenuText]\nMenuJapanese=日本語(&J)\n"
              "[DialogCaption]\nButtonOK=\nButtonApply=Übernehmen\nFrameMargin=Rand\n");
    start();
    EXPECT_EQ(view->windowTitle(), QString::fromUtf8("ボード設定 3.1"));
    EXPECT_EQ(widget<QPushButton>(id::OK)->text(), "");
    EXPECT_EQ(widget<QPushButton>(id::Apply)->text(), QString::fromUtf8("Übernehmen"));
    EXPECT_EQ(widget<QGroupBox>(id::MarginFrame)->title(), "Rand");
    EXPECT_EQ(view->languageMenu()->actions()[1]->text(), QString::fromUtf8("日本語(&J)"));
    EXPECT_EQ(caption(id::Cancel), "Cancel") << "keys not in the file keep their default";
}

TEST_F(QtWindow, InitialShrinkAndTheButtonRowAtTheClientBottom) {
    start(false);
    const QSize full =
        qt::toQSize(window::toPixels(window::kMainDialogSize, view->dialogBaseUnits()));
    // The window started at (0, 0), so halving its right edge halves its width.
    EXPECT_EQ(view->width(), full.width() / 2);
    EXPECT_EQ(view->height(), full.height() - 183);
    const QRect reset = widget(id::Reset)->geometry();
    const int w = reset.width();
    const int gap = (view->width() - 4 * w - w / 3) / 3;
    EXPECT_EQ(reset.x(), w / 6);
    EXPECT_EQ(widget(id::OK)->x(), w + w / 6 + gap);
    EXPECT_EQ(widget(id::Cancel)->x(), 2 * (w + gap) + w / 6);
    EXPECT_EQ(widget(id::Apply)->x(), 3 * (w + gap) + w / 6);
    ASSERT_LE(reset.height(), 33) << "the template font's buttons";
    for (int b : {id::Reset, id::OK, id::Cancel, id::Apply}) {
        EXPECT_EQ(widget(b)->y(), view->height() - 40) << b;
        EXPECT_EQ(widget(b)->size(), reset.size()) << b;
    }
    for (int c :
         {id::MaintenanceFrame, id::FirmwarePath, id::Update, id::FileSelect, id::RadioFull,
          id::RadioProgram, id::Progress, id::ProgressText, id::ProgressFrame, id::HiddenFrame}) {
        EXPECT_TRUE(widget(c)->isHidden()) << c;
    }
}

TEST_F(QtWindow, CentredOnTheScreen) {
    start(false);
    view->centreOnScreen();
    showActive();
    const QRect area = view->screen()->availableGeometry();
    const QRect frame = view->frameGeometry();
    // Centred before it is shown, when the window manager has not yet told the frame.
    const int slack = frame.width() - view->width();
    EXPECT_LE(std::abs(frame.x() - (area.x() + (area.width() - frame.width()) / 2)), slack);
    EXPECT_LE(std::abs(frame.y() - (area.y() + (area.height() - frame.height()) / 2)), slack);
}

TEST_F(QtWindow, MaintenanceKeysTwiceReturnTheWindowToItsSize) {
    start();
    showActive();
    const QRect before = view->frameGeometry();
    const QSize client = view->size();
    for (const Qt::KeyboardModifiers keys :
         {Qt::ControlModifier | Qt::AltModifier, Qt::ControlModifier | Qt::ShiftModifier}) {
        QTest::keyClick(view.get(), Qt::Key_F12, keys);
        EXPECT_TRUE(controller->maintenanceShown());
        EXPECT_EQ(view->size(), QSize(client.width(), client.height() + 183));
        EXPECT_TRUE(widget(id::FirmwarePath)->isVisible());
        EXPECT_TRUE(widget(id::Update)->isVisible());
        EXPECT_FALSE(widget(id::RadioFull)->isVisible());
        for (int b : {id::Reset, id::OK, id::Cancel, id::Apply}) {
            EXPECT_EQ(widget(b)->y(), client.height() + 183 - 40) << b;
        }

        QTest::keyClick(view.get(), Qt::Key_F12, keys);
        EXPECT_FALSE(controller->maintenanceShown());
        EXPECT_EQ(view->frameGeometry(), before);
        EXPECT_EQ(view->size(), client);
        EXPECT_FALSE(widget(id::FirmwarePath)->isVisible());
        for (int b : {id::Reset, id::OK, id::Cancel, id::Apply}) {
            EXPECT_EQ(widget(b)->y(), client.height() - 40) << b;
        }
    }
    // F12 alone, or with Ctrl only, is no toggle.
    QTest::keyClick(view.get(), Qt::Key_F12, Qt::ControlModifier);
    EXPECT_FALSE(controller->maintenanceShown());
}

// With each language's own file (and its font), the grown window stays inside the screen's
// usable area even when it was near the bottom edge: its buttons never leave the screen.
TEST_F(QtWindow, TheGrownWindowAndItsButtonsStayOnTheScreenInEveryLanguage) {
    const std::filesystem::path data = Q70_DATA_DIR;
    for (const char* language : {"ENG", "JPN", "CHS"}) {
        SCOPED_TRACE(language);
        std::filesystem::copy_file(data / "Loc" / language / "Q70Uty.ini", folder / "Q70Uty.ini",
                                   std::filesystem::copy_options::overwrite_existing);
        start();
        showActive();
        const QRect area = view->screen()->availableGeometry();
        view->move(area.x() + 20, area.bottom() - view->frameGeometry().height() - 10);
        controller->onCommand(id::CmdToggleMaintenance);
        ASSERT_TRUE(controller->maintenanceShown());
        QTest::qWait(50);
        const QRect frame = view->frameGeometry();
        EXPECT_GE(frame.top(), area.top());
        if (frame.height() <= area.height()) {
            EXPECT_LE(frame.bottom(), area.bottom());
        }
        for (int b : {id::Reset, id::OK, id::Cancel, id::Apply, id::Update}) {
            const QWidget* w = widget(b);
            const QRect onScreen(w->mapToGlobal(QPoint(0, 0)), w->size());
            EXPECT_TRUE(area.contains(onScreen)) << b;
        }
        view.reset();
        controller.reset();
    }
}

TEST_F(QtWindow, TheLanguageMenuIsDisabledWhileAnUpdateRuns) {
    writeFile("fw.mot", std::string(40, 'S') + "\n" + std::string(40, 'S') + "\n");
    start();
    widget<QLineEdit>(id::FirmwarePath)
        ->setText(QString::fromStdString((folder / "fw.mot").string()));
    controller->onFirmwarePathEdited();
    controller->onCommand(id::Update);
    ASSERT_TRUE(controller->firmwareUpdating());
    const QList<QAction*> languages = view->languageMenu()->actions().mid(0, 3);
    for (QAction* a : languages) EXPECT_FALSE(a->isEnabled());
    sched.advance(10 * 50);
    EXPECT_FALSE(controller->firmwareUpdating());
    for (QAction* a : languages) EXPECT_TRUE(a->isEnabled());
}

// Everything in dialog units grows with the font, the client width too, so in pixels the
// gap grows along with the buttons; what must hold is the formula on the real widths and
// the fixed 183-pixel step.
TEST_F(QtWindow, LargerFontGrowsTheButtonsTheRowKeepsItsFormulaAndTheStepStays183) {
    struct Layout {
        int buttonWidth, buttonHeight, clientWidth, gap, step;
    };
    auto layoutFor = [this](int points) {
        writeFile("Q70Uty.ini", "[General]\nMode_Font=DejaVu Sans\nMode_Font_Size=" +
                                    std::to_string(points) + "\n");
        start();
        EXPECT_EQ(view->font().pointSize(), points);
        const QRect reset = widget(id::Reset)->geometry();
        const int gap = widget(id::OK)->x() - reset.right() - 1;
        EXPECT_EQ(widget(id::Cancel)->x() - widget(id::OK)->geometry().right() - 1, gap);
        EXPECT_EQ(widget(id::Apply)->x() - widget(id::Cancel)->geometry().right() - 1, gap);
        const int height = view->height();
        controller->onCommand(id::CmdToggleMaintenance);
        const Layout l{reset.width(), reset.height(), view->width(), gap, view->height() - height};
        view.reset();
        controller.reset();
        return l;
    };
    const Layout small = layoutFor(8);
    const Layout large = layoutFor(12);
    EXPECT_GT(large.buttonWidth, small.buttonWidth);
    EXPECT_GT(large.buttonHeight, small.buttonHeight);
    for (const Layout& l : {small, large}) {
        const int w = l.buttonWidth;
        EXPECT_EQ(l.gap, (l.clientWidth - 4 * w - w / 3) / 3);
        EXPECT_EQ(l.step, 183);
    }
    // The gap is what the wider buttons leave of the client width.
    EXPECT_LT(large.gap - small.gap, large.buttonWidth - small.buttonWidth);
}

// A font that makes the buttons taller than the 40-pixel row (a CJK font at 9 points does)
// must not push them off the bottom of the window.
TEST_F(QtWindow, TallButtonsStayInsideTheWindow) {
    writeFile("Q70Uty.ini", "[General]\nMode_Font=DejaVu Sans\nMode_Font_Size=16\n");
    start();
    const int h = widget(id::Reset)->height();
    ASSERT_GT(h, 40);
    for (int round = 0; round < 2; ++round) {
        for (int b : {id::Reset, id::OK, id::Cancel, id::Apply}) {
            EXPECT_EQ(widget(b)->geometry().bottom() + 1, view->height() - 7) << b;
        }
        controller->onCommand(id::CmdToggleMaintenance);
    }
}

TEST_F(QtWindow, LanguageCommandCopiesTheFilesReloadsEveryCaptionAndKeepsTheBoardVersion) {
    const std::string japanese =
        "[General]\nLanguage=JAPANESE\n[TitleText]\nUtilityDialogTitle=ユーティリティ\n"
        "[MenuText]\nMenuEnglish=英語(&E)\n"
        "[DialogCaption]\nButtonOK=了解\nButtonCancel=取消\nFramePaper=用紙\n"
        "LabelFirmVersionVal=V9.99\nRadioA4=A4判\n";
    writeFile("Loc/JPN/Q70Uty.ini", japanese);
    writeFile("Loc/JPN/Q70Uty.html", "<html>jp</html>");
    start();
    showActive();
    ASSERT_EQ(caption(id::FirmwareVersion), "V2.05");
    const std::size_t before = transport.written.size();

    // Through the right-click menu, as the user chooses it.
    QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(5, 5),
                            view->mapToGlobal(QPoint(5, 5)));
    QApplication::sendEvent(view.get(), &event);
    ASSERT_TRUE(view->languageMenu()->isVisible());
    view->languageMenu()->actions()[1]->trigger();
    view->languageMenu()->hide();

    EXPECT_EQ(readFile(folder / "Q70Uty.ini"), japanese);
    EXPECT_EQ(readFile(folder / "Q70Uty.html"), "<html>jp</html>");
    EXPECT_EQ(view->windowTitle(), QString::fromUtf8("ユーティリティ 1.00"));
    EXPECT_EQ(widget<QPushButton>(id::OK)->text(), QString::fromUtf8("了解"));
    EXPECT_EQ(widget<QPushButton>(id::Cancel)->text(), QString::fromUtf8("取消"));
    EXPECT_EQ(widget<QGroupBox>(id::PaperFrame)->title(), QString::fromUtf8("用紙"));
    EXPECT_EQ(widget<QRadioButton>(id::PaperA4)->text(), QString::fromUtf8("A4判"));
    EXPECT_EQ(view->languageMenu()->actions()[0]->text(), QString::fromUtf8("英語(&E)"));
    EXPECT_EQ(caption(id::Reset), "Reset") << "a key missing from the new file: its default";
    EXPECT_EQ(caption(id::FirmwareVersion), "V2.05") << "the board's version stays";
    // The link restarts with the start sequence.
    sched.advance(20 * 50);
    // The start sequence goes out behind a status poll that was already waiting.
    const auto codes = writtenCodes(before);
    const std::vector<std::uint8_t> sequence{1, 13, 6, 17, 18, 19, 20, 2};
    EXPECT_NE(std::search(codes.begin(), codes.end(), sequence.begin(), sequence.end()),
              codes.end())
        << ::testing::PrintToString(std::vector<int>(codes.begin(), codes.end()));
    EXPECT_EQ(caption(id::FirmwareVersion), "V2.05");

    // Qt's own texts (message-box buttons, the file dialog) follow the language.
    EXPECT_NE(QCoreApplication::translate("QPlatformTheme", "Cancel"), QStringLiteral("Cancel"));
    writeFile("Loc/ENG/Q70Uty.ini", "[General]\nLanguage=ENGLISH\n");
    view->languageMenu()->actions()[0]->trigger();
    EXPECT_EQ(QCoreApplication::translate("QPlatformTheme", "Cancel"), QStringLiteral("Cancel"));
}

TEST_F(QtWindow, EnterInThePathFieldEndsTheDialogWithoutWriting) {
    start();
    showActive();
    controller->onCommand(id::CmdToggleMaintenance);
    auto* path = widget<QLineEdit>(id::FirmwarePath);
    path->setFocus();
    QTest::keyClicks(path, "fw.mot");
    EXPECT_TRUE(widget(id::Update)->isEnabled()) << "typing reached the controller";
    const std::size_t before = transport.written.size();
    QTest::keyClick(path, Qt::Key_Return);
    EXPECT_FALSE(view->isVisible());
    EXPECT_EQ(view->result(), id::DialogOK);
    sched.advance(2000);
    for (std::uint8_t code : writtenCodes(before)) {
        EXPECT_TRUE(code == link::code::GetStatus) << "only status polls, got " << int(code);
    }
}

TEST_F(QtWindow, EscAndTheCloseBoxEndTheDialogAsCancel) {
    start();
    showActive();
    QTest::keyClick(view.get(), Qt::Key_Escape);
    EXPECT_FALSE(view->isVisible());
    EXPECT_EQ(view->result(), id::DialogCancel);

    view->setResult(-1);
    showActive();
    view->close();
    EXPECT_FALSE(view->isVisible());
    EXPECT_EQ(view->result(), id::DialogCancel);
}

TEST_F(QtWindow, ButtonsAndRadiosForwardTheirClicks) {
    start();
    showActive();
    ASSERT_FALSE(widget(id::Apply)->isEnabled());
    QTest::mouseClick(widget(id::PaperLetter), Qt::LeftButton);
    EXPECT_TRUE(view->isChecked(id::PaperLetter));
    EXPECT_FALSE(view->isChecked(id::PaperA4));
    EXPECT_TRUE(widget(id::Apply)->isEnabled()) << "the click made the settings dirty";

    // Enter on a focused button is that button, not the dialog's OK.
    const std::size_t before = transport.written.size();
    widget(id::Apply)->setFocus();
    QTest::keyClick(widget(id::Apply), Qt::Key_Return);
    sched.advance(20 * 50);
    const auto codes = writtenCodes(before);
    EXPECT_NE(std::find(codes.begin(), codes.end(), link::code::Paper), codes.end());
    EXPECT_EQ(board.values[link::code::Paper], 1);
    EXPECT_TRUE(view->isVisible()) << "Apply keeps the window";

    QTest::mouseClick(widget(id::Cancel), Qt::LeftButton);
    EXPECT_FALSE(view->isVisible());
    EXPECT_EQ(view->result(), id::DialogCancel);
}

TEST_F(QtWindow, DateOrTimeEditMakesTheSettingsDirty) {
    start();
    showActive();
    ASSERT_FALSE(widget(id::Apply)->isEnabled());
    auto* time = widget<QTimeEdit>(id::TimePicker);
    time->setFocus();
    // The edit does not wrap: at 23 hours only a step down changes the time.
    QTest::keyClick(time, time->time().hour() == 23 ? Qt::Key_Down : Qt::Key_Up);
    EXPECT_TRUE(widget(id::Apply)->isEnabled());
    const link::DateTime picked = view->pickedDateTime();
    EXPECT_EQ(picked.hour * 60 + picked.minute, time->time().hour() * 60 + time->time().minute());
    EXPECT_EQ(picked.year, widget<QDateEdit>(id::DatePicker)->date().year());
}

TEST_F(QtWindow, ProgressAndItsText) {
    start();
    view->setProgress(42);
    EXPECT_EQ(widget<QProgressBar>(id::Progress)->value(), 42);
    view->setProgress(250);
    EXPECT_EQ(widget<QProgressBar>(id::Progress)->value(), 100);
    controller->showProgressArea(true);
    controller->showProgress(30);
    EXPECT_FALSE(widget(id::Progress)->isHidden());
    EXPECT_FALSE(widget<QLabel>(id::ProgressText)->text().isEmpty());
}

TEST_F(QtWindow, HelpFromF1AndFromTheCaptionButton) {
    start();
    showActive();
    QTest::keyClick(view.get(), Qt::Key_F1);
    ASSERT_EQ(helpOpened.size(), 1u);
    EXPECT_EQ(std::filesystem::path(helpOpened[0]).filename(), "Q70Uty.html");

    // The caption "?" button asks the application to enter What's This mode.
    QEvent enter(QEvent::EnterWhatsThisMode);
    QApplication::sendEvent(qApp, &enter);
    EXPECT_EQ(helpOpened.size(), 2u);
    EXPECT_FALSE(QWhatsThis::inWhatsThisMode()) << "no help pointer";
    EXPECT_TRUE(view->windowFlags() & Qt::WindowContextHelpButtonHint);
}

TEST_F(QtWindow, MessagesOpenWithoutHoldingTheCaller) {
    start();
    showActive();
    view->showMessage("Unable to open the file:/x/ü.mot");
    // Back here at once: the box is open and modal to the window, not run in a nested loop.
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(box->text(), QString::fromUtf8("Unable to open the file:/x/ü.mot"));
    EXPECT_EQ(box->icon(), QMessageBox::Warning);
    EXPECT_EQ(box->standardButtons(), QMessageBox::Ok);
    box->button(QMessageBox::Ok)->click();
}

TEST_F(QtWindow, MessagesBeforeTheWindowShowsWaitForIt) {
    transport.openSucceeds = false;  // the first open fails: the USB message at start-up
    start(false);
    auto visibleBoxes = [] {
        int n = 0;
        for (QWidget* w : QApplication::topLevelWidgets()) {
            if (qobject_cast<QMessageBox*>(w) != nullptr && w->isVisible()) ++n;
        }
        return n;
    };
    QApplication::processEvents();
    EXPECT_EQ(visibleBoxes(), 0);
    view->centreOnScreen();
    showActive();
    ASSERT_TRUE(QTest::qWaitFor([&] { return visibleBoxes() == 1; }, 2000));
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(box->parentWidget(), view.get());
    EXPECT_TRUE(box->text().startsWith("USB could not be opened"));
    // Placed over the window, not where the window stood before it was centred.
    EXPECT_TRUE(view->frameGeometry().intersects(box->frameGeometry()));
    box->button(QMessageBox::Ok)->click();
}

TEST_F(QtWindow, AnotherCopyBringsTheWindowBack) {
    start();
    showActive();
    view->showMinimized();
    ASSERT_TRUE(QTest::qWaitFor([this] { return view->isMinimized(); }, 2000));
    view->bringToFront();
    EXPECT_FALSE(view->isMinimized());
    EXPECT_TRUE(view->isVisible());
}

TEST(QtTimerService, StartReplacesThePeriodAndTicksCarryTheId) {
    qt::QtTimerService timers;
    std::vector<int> ticks;
    timers.setHandler([&](int timerId) { ticks.push_back(timerId); });
    timers.startTimer(1, 1000);
    timers.startTimer(1, 5);
    EXPECT_EQ(timers.interval(1), 5);
    EXPECT_TRUE(timers.isActive(1));
    EXPECT_FALSE(timers.isActive(2));
    timers.startTimer(3, 5);  // no such timer
    EXPECT_EQ(timers.interval(3), -1);
    EXPECT_TRUE(QTest::qWaitFor([&] { return !ticks.empty(); }, 2000));
    timers.stopTimer(1);
    EXPECT_FALSE(timers.isActive(1));
    EXPECT_TRUE(std::all_of(ticks.begin(), ticks.end(), [](int t) { return t == 1; }));
}

}  // namespace
}  // namespace q70::test
