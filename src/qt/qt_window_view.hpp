#pragma once
// The utility's main window in Qt: one widget per control of the dialog template, events
// forwarded to the controller, view calls applied to the widgets. It decides nothing.

#include <QDialog>
#include <QMessageBox>
#include <QPointer>
#include <QString>
#include <QTranslator>

#include <array>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "app/utility_controller.hpp"
#include "testimage/test_image.hpp"
#include "window/dialog_template.hpp"
#include "window/window_view.hpp"

class QAction;
class QButtonGroup;
class QMenu;

namespace q70::qt {

class TestImageWindow;

class QtWindowView : public QDialog, public window::WindowView {
    Q_OBJECT
  public:
    explicit QtWindowView(const testimage::TestImage& image, QWidget* parent = nullptr);
    ~QtWindowView() override;

    // The controller receives every event; attach before building.
    void attach(app::UtilityController& controller) { controller_ = &controller; }
    // Creates the template's controls with `font` and gives the window the template's
    // size at (0, 0). The controller's initialisation then shrinks it.
    void buildControls(const QFont& font);
    void centreOnScreen();

    QWidget* control(int id) const;
    window::BaseUnits dialogBaseUnits() const { return base_; }
    // The test-image windows now open, oldest first.
    std::vector<TestImageWindow*> testImageWindows() const;
    QMenu* languageMenu() const { return menu_; }

    // Stand-ins for the blocking file dialogs and the help viewer (tests).
    std::function<std::optional<std::string>()> firmwareFileHook;
    std::function<std::optional<std::string>()> bitmapFileHook;
    std::function<void(const std::string&)> helpHook;

    // Another copy asked for this one: restore, raise and activate the topmost window.
    void bringToFront();

    // WindowView
    using QDialog::setEnabled;
    using QDialog::setFocus;
    using QDialog::setVisible;
    void setEnabled(int id, bool enabled) override;
    void setVisible(int id, bool visible) override;
    void setText(int id, const std::string& text) override;
    std::string text(int id) const override;
    void setChecked(int id, bool checked) override;
    bool isChecked(int id) const override;
    void setProgress(int percent) override;
    link::DateTime pickedDateTime() const override;
    void setFocus(int id) override;
    void showDateTime(const link::DateTime& dt) override;
    void setTabStop(int id, bool tabStop) override;
    void setAccessibleName(int id, const std::string& name,
                           const std::string& description) override;
    void setTitle(const std::string& title) override;
    void setLanguageMenuTexts(const std::string& english, const std::string& japanese,
                              const std::string& chinese) override;
    window::Rect windowRect() const override;
    void moveWindow(const window::Rect& rect) override;
    window::Size clientSize() const override;
    window::Size controlSize(int id) const override;
    void moveControl(int id, int x, int y, int width, int height) override;
    void repaint() override;
    void endDialog(int result) override;
    window::Rect availableArea() const override;
    void setLanguageMenuEnabled(bool enabled) override;
    void setScanMenuEntry(bool shown, const std::string& text) override;
    void showMessage(const std::string& text) override;
    void showInformation(const std::string& text) override;
    std::optional<std::string> chooseFirmwareFile() override;
    window::Choice askYesNoCancel(const std::string& text) override;
    std::optional<std::string> chooseBitmapFile() override;
    void openHelp(const std::string& path) override;
    void showTestImage() override;

  public slots:
    // The dialog's own OK and cancel (Enter, Esc, close box) go to the controller, which
    // ends the dialog.
    void accept() override;
    void reject() override;

  protected:
    void keyPressEvent(QKeyEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    QWidget* createControl(const window::ControlTemplate& c);
    void command(int id);
    void help();
    QWidget* dialogOwner() const;
    void followLanguageInQtTexts();
    void openMessage(QMessageBox::Icon icon, const std::string& text);
    void contextMenuFromKeyboard();

    const testimage::TestImage& image_;
    app::UtilityController* controller_ = nullptr;
    window::BaseUnits base_;
    std::map<int, QWidget*> controls_;
    std::map<int, QButtonGroup*> radioGroups_;  // by radio id
    QMenu* menu_ = nullptr;
    std::array<QAction*, 3> languageActions_{};
    QAction* scanSeparator_ = nullptr;
    QAction* scanAction_ = nullptr;
    // The pickers are being set by the program: not an edit of the user's.
    bool settingDateTime_ = false;
    // Qt's own texts (message-box buttons, the file dialog) in the window's language.
    QTranslator qtTexts_;
    QString qtTextsLocale_;
    // The test-image window whose close is being asked about: the question and the save
    // dialog belong to it.
    QPointer<QWidget> closingImageWindow_;
    // The last test-image window opened, so that the next one opens beside it.
    QPointer<QWidget> lastImageWindow_;
    // Messages that came before the window was shown (start-up, first device open): they
    // open once the window stands where the user sees it.
    std::vector<QPointer<QWidget>> pendingMessages_;
};

}  // namespace q70::qt
