// q70uty: the utility's window.

#include <QApplication>
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QIcon>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "app/utility_controller.hpp"
#include "config/text_catalogue.hpp"
#include "config/text_decoding.hpp"
#include "link/device_address.hpp"
#include "qt/dialog_metrics.hpp"
#include "qt/qt_timer_service.hpp"
#include "qt/qt_window_view.hpp"
#include "qt/single_instance.hpp"
#include "system/open_problem_reporter.hpp"
#include "system/process_environment.hpp"
#include "system/program_folder.hpp"
#include "system/steady_clock.hpp"
#include "testimage/test_image.hpp"
#include "transport/factory.hpp"

namespace {

constexpr int kUsageError = 2;

int fail(const QString& message) {
    std::fprintf(stderr, "q70uty: %s\n", message.toLocal8Bit().constData());
    return kUsageError;
}

struct Options {
    q70::link::DeviceAddress address;
    int timeoutMs = 5000;
};

// Reads the command line without a display, so that --help and mistakes are answered on a
// terminal too. Returns -1 to go on, or the exit status.
int parseOptions(int argc, char** argv, Options& out) {
    using namespace q70;
    // The help names the program as it is typed, not by the path it was started from.
    std::vector<char*> args(argv, argv + argc);
    char name[] = "q70uty";
    args[0] = name;
    int count = argc;
    QCoreApplication probe(count, args.data());
    QCoreApplication::setApplicationVersion(QStringLiteral(Q70_VERSION));
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Service utility for the Q-70 copy board: settings, clock, firmware "
                       "update and test image."));
    const QCommandLineOption helpOption = parser.addHelpOption();
    const QCommandLineOption versionOption = parser.addVersionOption();
    const QCommandLineOption deviceOption(
        QStringLiteral("device"),
        QStringLiteral("The board: usb, usb:VVVV:PPPP, unix:PATH or sim (default: usb)."),
        QStringLiteral("ADDRESS"), QStringLiteral("usb"));
    const QCommandLineOption timeoutOption(
        QStringLiteral("timeout"),
        QStringLiteral("How long one answer of the board is awaited, in ms (default: 5000)."),
        QStringLiteral("MS"), QStringLiteral("5000"));
    parser.addOption(deviceOption);
    parser.addOption(timeoutOption);
    if (!parser.parse(QCoreApplication::arguments())) return fail(parser.errorText());
    if (parser.isSet(helpOption)) {
        std::fputs(parser.helpText().toLocal8Bit().constData(), stdout);
        return 0;
    }
    if (parser.isSet(versionOption)) {
        std::printf("q70uty %s\n", Q70_VERSION);
        return 0;
    }
    if (!parser.positionalArguments().isEmpty()) {
        return fail(QStringLiteral("unexpected argument '%1'")
                        .arg(parser.positionalArguments().constFirst()));
    }
    std::string error;
    if (!link::parseDeviceAddress(parser.value(deviceOption).toStdString(), out.address, error)) {
        return fail(QString::fromStdString(error));
    }
    bool timeoutOk = false;
    out.timeoutMs = parser.value(timeoutOption).toInt(&timeoutOk);
    if (!timeoutOk || out.timeoutMs <= 0) {
        return fail(QStringLiteral("--timeout needs a positive number of milliseconds, not '%1'")
                        .arg(parser.value(timeoutOption)));
    }
    return -1;
}

}  // namespace

int main(int argc, char** argv) {
    using namespace q70;

    Options opts;
    if (const int status = parseOptions(argc, argv, opts); status >= 0) return status;

    QApplication app(argc, argv);
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/icons/q70uty.png")));
    std::string error;
    const link::DeviceAddress& address = opts.address;
    const int timeoutMs = opts.timeoutMs;

    // One copy per executable name and user; a later copy brings the running one forward.
    qt::SingleInstance instance(qt::instanceKey(QString::fromLocal8Bit(argv[0])));
    if (instance.acquire() != qt::SingleInstance::Role::First) return 0;

    system::SteadyClock clock;
    std::unique_ptr<link::DeviceTransport> transport =
        transport::createTransport(address, clock, error, transport::SimImage::OnRequest);
    if (!transport) return fail(QString::fromStdString(error));
    // The message box only says the board could not be opened; the terminal gets the why.
    system::OpenProblemReporter reporter(*transport, [](const std::string& why) {
        std::fprintf(stderr, "q70uty: %s\n", why.c_str());
    });

    config::TextCatalogue texts;
    testimage::TestImage image;
    qt::QtWindowView view(image);
    qt::QtTimerService timers;
    app::ControllerOptions options;
    options.programFolder = system::resolveProgramFolder(
        QFile::encodeName(QApplication::applicationDirPath()).toStdString());
    options.link.answerTimeoutMs = timeoutMs;
    options.localNow = system::localNow;
    options.scanTestImage = transport::simulatedScan(*transport);
    app::UtilityController controller(view, reporter, timers, clock, texts, image, options);
    view.attach(controller);
    timers.setHandler([&controller](int timerId) { controller.onTimer(timerId); });
    QObject::connect(&instance, &qt::SingleInstance::raiseRequested, &view,
                     &qt::QtWindowView::bringToFront);

    const config::StartupSettings startup = controller.startupReads();
    const std::string fontName = config::toUtf8(startup.dialogFontName, startup.currentLanguage);
    view.buildControls(qt::dialogFont(QString::fromUtf8(fontName.c_str()), startup.dialogFontSize));
    controller.onInitDialog();
    view.centreOnScreen();
    view.exec();
    controller.shutdown();
    return 0;
}
