#pragma once
// One program at a time per board: q70ctl and both windows take this lock, named after the
// board's identity, for as long as they have the board open, and a second program is told
// that the board is busy and by whom. The lock is the system's own (flock on Linux, a
// byte-range lock on Windows) on a small file in the user's runtime folder, so a program
// that crashes leaves nothing behind that blocks: the system drops the lock with it. The
// locks are the user's own: programs of two users do not see each other's.

#include <string>
#include <string_view>

namespace q70::system {

struct LockHolder {
    std::string program;  // the holder's executable file name, without ".exe"
    unsigned long pid = 0;
};

class BoardLock {
  public:
    enum class Result {
        Taken,        // this object holds the board now
        Busy,         // someone else does; holder() says who, where that could be read
        Unavailable,  // no lock can be had here (no folder, no locking): go on without
    };

    BoardLock() = default;
    ~BoardLock() { release(); }
    BoardLock(const BoardLock&) = delete;
    BoardLock& operator=(const BoardLock&) = delete;

    // Never waits. A lock held already is released first.
    Result acquire(std::string_view identity);
    void release();
    bool held() const { return handle_ != kNone; }
    // After Busy: who holds the board (an empty program when the file told nothing yet).
    const LockHolder& holder() const { return holder_; }

  private:
    static constexpr long long kNone = -1;
    long long handle_ = kNone;  // a file descriptor, or a HANDLE on Windows
    std::string path_;
    LockHolder holder_;
};

// Where the lock files live: $XDG_RUNTIME_DIR/q70, else a folder of the user's own in the
// temporary folder (Linux); %LOCALAPPDATA%\q70\locks, else the temporary folder (Windows).
// Empty when no such folder can be had.
std::string boardLockFolder();

// The lock file's name for an identity: readable, safe on any file system, and distinct
// for distinct identities.
std::string lockFileName(std::string_view identity);

// This process, as it writes itself into a lock file it takes.
LockHolder thisProcess();
// The line in the lock file, and back.
std::string holderLine(const LockHolder& holder);
LockHolder parseHolderLine(std::string_view text);
// The holder in words, for a message: "the window (q70uty, PID 12)", "another q70ctl
// (PID 7)", "another program".
std::string describeHolder(const LockHolder& holder);

}  // namespace q70::system
