#pragma once
// One running copy per executable name and user. The first copy holds a lock file and
// listens on a local socket of the same name; a later copy finds the lock taken, asks the
// running copy through the socket to come to the front, and ends.

#include <QLocalServer>
#include <QLockFile>
#include <QObject>
#include <QString>

#include <memory>

namespace q70::qt {

// "<executable's base name>-<user>": copies under different names run side by side.
QString instanceKey(const QString& executablePath);

class SingleInstance : public QObject {
    Q_OBJECT
  public:
    enum class Role {
        First,    // this copy runs; raise requests arrive as raiseRequested()
        Second,   // another copy runs and was asked to come to the front
        Starting  // another copy holds the lock but does not listen yet (or any more)
    };

    explicit SingleInstance(QString key, QObject* parent = nullptr);
    ~SingleInstance() override;

    Role acquire(int connectTimeoutMs = 1000);
    const QString& key() const { return key_; }
    QString lockPath() const;

  signals:
    void raiseRequested();

  private:
    QString key_;
    std::unique_ptr<QLockFile> lock_;
    QLocalServer server_;
};

}  // namespace q70::qt
