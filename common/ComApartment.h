#pragma once
// COM initialised on the calling thread for a scope, and uninitialised again
// at its end if it was (also when it already was: the calls pair up).

#include <objbase.h>

class ComApartment {
public:
    explicit ComApartment(DWORD model) : entered_(SUCCEEDED(::CoInitializeEx(nullptr, model))) {}
    ~ComApartment()
    {
        if (entered_)
            ::CoUninitialize();
    }
    ComApartment(const ComApartment&) = delete;
    ComApartment& operator=(const ComApartment&) = delete;

private:
    bool entered_;
};
