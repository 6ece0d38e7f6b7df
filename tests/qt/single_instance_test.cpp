#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include "qt/single_instance.hpp"

namespace q70::test {
namespace {

TEST(SingleInstance, KeyIsTheExecutableNameAndTheUser) {
    const QString a = qt::instanceKey(QStringLiteral("/usr/lib/q70/q70uty"));
    const QString b = qt::instanceKey(QStringLiteral("./build/bin/q70uty"));
    const QString c = qt::instanceKey(QStringLiteral("/opt/q70uty-copy"));
    EXPECT_EQ(a, b);
    EXPECT_NE(a, c);
    EXPECT_TRUE(a.startsWith(QStringLiteral("q70uty-")));
}

TEST(SingleInstance, SecondHolderAsksTheFirstToComeForward) {
    const QString key =
        QStringLiteral("q70-instance-test-%1").arg(QCoreApplication::applicationPid());
    qt::SingleInstance first(key);
    ASSERT_EQ(first.acquire(), qt::SingleInstance::Role::First);
    int raised = 0;
    QObject::connect(&first, &qt::SingleInstance::raiseRequested, [&] { ++raised; });

    // QLockFile locks per process; a second process is what the rule is about, so the
    // second copy's side is played by a plain socket here and by the executable below.
    QLocalSocket socket;
    socket.connectToServer(key);
    ASSERT_TRUE(socket.waitForConnected(1000));
    socket.write("raise\n");
    socket.flush();
    socket.disconnectFromServer();
    EXPECT_TRUE(QTest::qWaitFor([&] { return raised == 1; }, 2000));
}

// Runs the real executable twice under a name of its own, so a q70uty the user runs does
// not interfere.
class SingleInstanceProcess : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        exe = dir.filePath(
            QStringLiteral("q70uty-single-%1").arg(QCoreApplication::applicationPid()));
        ASSERT_TRUE(QFile::copy(QStringLiteral(Q70UTY_PATH), exe));
        env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    }

    void TearDown() override {
        for (QProcess* p : {&first, &second, &other}) {
            if (p->state() != QProcess::NotRunning) {
                p->kill();
                p->waitForFinished(5000);
            }
        }
        // A terminated copy leaves its lock and socket behind.
        for (const QString& program : {exe, exe + QStringLiteral("-b")}) {
            const QString key = qt::instanceKey(program);
            QFile::remove(QDir(QDir::tempPath()).filePath(key + QStringLiteral(".lock")));
            QLocalServer::removeServer(key);
        }
    }

    void startCopy(QProcess& p, const QString& program) {
        p.setProcessEnvironment(env);
        p.setWorkingDirectory(dir.path());
        p.start(program, {QStringLiteral("--device"), QStringLiteral("sim")});
        ASSERT_TRUE(p.waitForStarted(5000));
    }

    // The running copy listens once its lock is taken.
    bool listening(const QString& program) {
        return QTest::qWaitFor(
            [&] {
                QLocalSocket probe;
                probe.connectToServer(qt::instanceKey(program));
                return probe.waitForConnected(100);
            },
            10000);
    }

    QTemporaryDir dir;
    QString exe;
    QProcessEnvironment env;
    QProcess first, second, other;
};

TEST_F(SingleInstanceProcess, SecondCopyEndsAtOnceAndTheFirstRunsOn) {
    startCopy(first, exe);
    ASSERT_TRUE(listening(exe));

    startCopy(second, exe);
    ASSERT_TRUE(second.waitForFinished(2000)) << "the second copy must end within two seconds";
    EXPECT_EQ(second.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(second.exitCode(), 0);
    EXPECT_EQ(first.state(), QProcess::Running);

    // Under another file name it is another program: both run.
    const QString renamed = exe + QStringLiteral("-b");
    ASSERT_TRUE(QFile::copy(exe, renamed));
    startCopy(other, renamed);
    EXPECT_TRUE(listening(renamed));
    EXPECT_EQ(other.state(), QProcess::Running);
    EXPECT_EQ(first.state(), QProcess::Running);

    first.terminate();
    other.terminate();
    EXPECT_TRUE(first.waitForFinished(5000));
    EXPECT_TRUE(other.waitForFinished(5000));
}

TEST_F(SingleInstanceProcess, InvalidDeviceIsAUsageError) {
    second.setProcessEnvironment(env);
    second.start(exe, {QStringLiteral("--device"), QStringLiteral("serial:COM1")});
    ASSERT_TRUE(second.waitForFinished(5000));
    EXPECT_EQ(second.exitCode(), 2);
    EXPECT_FALSE(second.readAllStandardError().isEmpty());
}

}  // namespace
}  // namespace q70::test
