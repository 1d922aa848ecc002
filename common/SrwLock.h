#pragma once
// Holding a slim reader/writer lock for a scope: one owner for every lock of
// the program, so that no path can leave one held.

#include <windows.h>

class SrwExclusive {
public:
    explicit SrwExclusive(SRWLOCK& lock) : lock_(lock) { ::AcquireSRWLockExclusive(&lock_); }
    ~SrwExclusive() { ::ReleaseSRWLockExclusive(&lock_); }
    SrwExclusive(const SrwExclusive&) = delete;
    SrwExclusive& operator=(const SrwExclusive&) = delete;

private:
    SRWLOCK& lock_;
};

class SrwShared {
public:
    explicit SrwShared(SRWLOCK& lock) : lock_(lock) { ::AcquireSRWLockShared(&lock_); }
    ~SrwShared() { ::ReleaseSRWLockShared(&lock_); }
    SrwShared(const SrwShared&) = delete;
    SrwShared& operator=(const SrwShared&) = delete;

private:
    SRWLOCK& lock_;
};
