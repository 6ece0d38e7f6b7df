#include "qt/single_instance.hpp"

#include <QDir>
#include <QFileInfo>
#include <QLocalSocket>

#ifdef Q_OS_UNIX
#include <unistd.h>
#endif

namespace q70::qt {

namespace {

constexpr char kRaiseMessage[] = "raise\n";

QString userName() {
#ifdef Q_OS_UNIX
    // The numeric id: always there, and the same whatever the environment says.
    return QString::number(::getuid());
#else
    return qEnvironmentVariable("USERNAME", QStringLiteral("user"));
#endif
}

}  // namespace

QString instanceKey(const QString& executablePath) {
    return QFileInfo(executablePath).completeBaseName() + QLatin1Char('-') + userName();
}

SingleInstance::SingleInstance(QString key, QObject* parent)
    : QObject(parent), key_(std::move(key)) {
    connect(&server_, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket* socket = server_.nextPendingConnection()) {
            // The request may come in before or together with the hang-up.
            auto handle = [this, socket] {
                if (socket->bytesAvailable() > 0 && socket->readAll().contains("raise")) {
                    emit raiseRequested();
                }
            };
            connect(socket, &QLocalSocket::readyRead, this, handle);
            connect(socket, &QLocalSocket::disconnected, this, [socket, handle] {
                handle();
                socket->deleteLater();
            });
        }
    });
}

SingleInstance::~SingleInstance() {
    server_.close();
}

QString SingleInstance::lockPath() const {
    return QDir(QDir::tempPath()).filePath(key_ + QStringLiteral(".lock"));
}

SingleInstance::Role SingleInstance::acquire(int connectTimeoutMs) {
    lock_ = std::make_unique<QLockFile>(lockPath());
    // A running copy holds the lock for as long as it runs; only a dead holder is stale.
    lock_->setStaleLockTime(0);
    if (!lock_->tryLock(0)) {
        if (lock_->error() == QLockFile::LockFailedError) {
            QLocalSocket socket;
            socket.connectToServer(key_);
            if (!socket.waitForConnected(connectTimeoutMs)) return Role::Starting;
            socket.write(kRaiseMessage);
            socket.waitForBytesWritten(connectTimeoutMs);
            socket.disconnectFromServer();
            return Role::Second;
        }
        // The lock cannot be made at all (no temporary folder): run without the rule
        // rather than not at all.
        lock_.reset();
        return Role::First;
    }
    // Holding the lock, a socket left by a copy that died is ours to replace.
    QLocalServer::removeServer(key_);
    server_.setSocketOptions(QLocalServer::UserAccessOption);
    server_.listen(key_);
    return Role::First;
}

}  // namespace q70::qt
