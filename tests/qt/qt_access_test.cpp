// The Qt window with the keyboard alone, through the accessibility tree, and with its
// pickers on the computer's clock.

#include <QAccessible>
#include <QAction>
#include <QMenu>
#include <QPushButton>
#include <QTimeEdit>

#include <algorithm>

#include "qt_window_fixture.hpp"
#include "window/dialog_template.hpp"

namespace q70::test {
namespace {

namespace id = window::id;

class QtAccess : public QtWindowFixture {
  protected:
    int focused() const {
        QWidget* w = QApplication::focusWidget();
        return w != nullptr ? w->objectName().toInt() : 0;
    }
    void press(Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
        QTest::keyClick(QApplication::focusWidget(), key, modifiers);
    }
    // Tab until `target` has the focus; false when it never comes.
    bool tabTo(int target) {
        for (int i = 0; i < 60 && focused() != target; ++i) press(Qt::Key_Tab);
        return focused() == target;
    }
};

TEST_F(QtAccess, AKeyboardOnlyWalkChangesThePaperSizeAndAppliesIt) {
    start();
    showActive();
    // One round of Tab, top to bottom; the pickers take a Tab per field of their own.
    ASSERT_TRUE(tabTo(id::TimeStampDisable));
    std::vector<int> round{focused()};
    for (int i = 0; i < 60; ++i) {
        press(Qt::Key_Tab);
        if (focused() == id::TimeStampDisable) break;
        if (focused() != round.back()) round.push_back(focused());
    }
    EXPECT_EQ(round, (std::vector<int>{id::TimeStampDisable, id::DatePicker, id::TimePicker,
                                       id::MarginDisable, id::PaperA4, id::PrintModeOriginal,
                                       id::SaveModeOriginal, id::Reset, id::OK, id::Cancel}));

    ASSERT_TRUE(tabTo(id::PaperA4));
    press(Qt::Key_Down);
    EXPECT_EQ(focused(), id::PaperLetter);
    EXPECT_TRUE(view->isChecked(id::PaperLetter));
    EXPECT_TRUE(widget(id::Apply)->isEnabled());
    press(Qt::Key_Up);  // and back, and forth again: the pair is a loop of two
    EXPECT_TRUE(view->isChecked(id::PaperA4));
    press(Qt::Key_Right);
    EXPECT_TRUE(view->isChecked(id::PaperLetter));
    // Backwards out of the pair and in again: Tab stops at the checked radio.
    press(Qt::Key_Backtab);
    press(Qt::Key_Tab);
    EXPECT_EQ(focused(), id::PaperLetter);

    ASSERT_TRUE(tabTo(id::Apply));
    MessageBoxAnswer told(QMessageBox::Ok);
    told.arm();
    press(Qt::Key_Return);
    sched.advance(20 * 50);
    EXPECT_EQ(board.values[link::code::Paper], 1);
    ASSERT_TRUE(QTest::qWaitFor([&] { return told.seen; }, 2000));
    EXPECT_EQ(told.icon, QMessageBox::Information) << "a success is no warning";
    EXPECT_TRUE(view->isVisible()) << "Apply keeps the window";
}

TEST_F(QtAccess, ShiftF10OpensTheMenuWhichOffersTheScanOnTheSimulatedBoardOnly) {
    int scans = 0;
    scanTestImage = [&] { ++scans; };
    start();
    showActive();
    ASSERT_EQ(focused(), id::Cancel);
    press(Qt::Key_F10, Qt::ShiftModifier);
    QMenu* menu = view->languageMenu();
    ASSERT_TRUE(QTest::qWaitFor([&] { return menu->isVisible(); }, 2000));
    QAction* scan = menu->actions().back();
    EXPECT_TRUE(scan->isVisible());
    EXPECT_EQ(scan->text(), "&Scan a test image");
    menu->hide();
    scan->trigger();
    EXPECT_EQ(scans, 1);
}

// What a screen reader reads: every control a user operates has a name, the fields are
// linked to their labels, and both follow the language.
TEST_F(QtAccess, TheAccessibilityTreeNamesEveryControlInTheWindowsLanguage) {
    const std::filesystem::path data = Q70_DATA_DIR;
    std::filesystem::copy(data / "Loc", folder / "Loc", std::filesystem::copy_options::recursive);
    start();
    controller->onCommand(id::CmdToggleMaintenance);
    auto nameOf = [&](int controlId) {
        QAccessibleInterface* a = QAccessible::queryAccessibleInterface(view->control(controlId));
        return a != nullptr ? a->text(QAccessible::Name) : QString();
    };
    for (const char* language : {"ENGLISH", "JAPANESE"}) {
        SCOPED_TRACE(language);
        for (const window::ControlTemplate& c : window::mainDialogControls()) {
            using K = window::ControlKind;
            if (c.kind != K::PushButton && c.kind != K::RadioButton && c.kind != K::Edit &&
                c.kind != K::DatePicker && c.kind != K::TimePicker) {
                continue;
            }
            if (widget(c.id)->isHidden()) continue;
            const int label = window::labelOf(c.id);
            EXPECT_FALSE(nameOf(c.id).isEmpty()) << c.id;
            EXPECT_EQ(nameOf(c.id).toStdString(), caption(label != 0 ? label : c.id)) << c.id;
        }
        for (const window::FieldLabel& l : window::fieldLabels()) {
            QAccessibleInterface* field = QAccessible::queryAccessibleInterface(widget(l.field));
            const auto labels = field->relations(QAccessible::Label);
            const bool linked = std::any_of(labels.begin(), labels.end(), [&](const auto& r) {
                return r.first->object() == widget(l.label);
            });
            EXPECT_TRUE(linked) << l.field;
        }
        QAccessibleInterface* radio = QAccessible::queryAccessibleInterface(widget(id::PaperA4));
        EXPECT_EQ(radio->text(QAccessible::Description).toStdString(), caption(id::PaperFrame));
        controller->onCommand(id::CmdJapanese);
    }
    EXPECT_EQ(nameOf(id::DatePicker), QString::fromUtf8("日付"));
    EXPECT_EQ(nameOf(id::FirmwarePath), QString::fromUtf8("更新ファイル名"));
}

TEST_F(QtAccess, ThePickersShowTheComputersClockUntilTheUserEditsOne) {
    start();
    showActive();
    auto* time = widget<QTimeEdit>(id::TimePicker);
    EXPECT_EQ(time->time(), QTime(21, 43));
    computerClock.minute = 44;
    sched.advance(app::kClockCheckMs);
    EXPECT_EQ(time->time(), QTime(21, 44));
    EXPECT_FALSE(widget(id::Apply)->isEnabled()) << "the clock moving on is no edit";

    time->setFocus();
    QTest::keyClick(time, Qt::Key_Up);  // the hour
    EXPECT_TRUE(widget(id::Apply)->isEnabled());
    computerClock.minute = 46;
    sched.advance(3 * app::kClockCheckMs);
    EXPECT_EQ(time->time(), QTime(22, 44)) << "the user's value stays";
}

}  // namespace
}  // namespace q70::test
