#pragma once
// The launch of a downloaded installer: held so that nobody can change it,
// checked against the pinned publisher, started hidden in its folder, waited
// for and deleted.

#include "app/PublisherKeyPin.h"
#include "common/WideString.h"

// The installer's exit code, or the error code of why it did not run (the
// file could not be held, its signature failed, the shell refused it).
int LaunchInstaller(const WideString& path, const PublisherKeyPin& pin);
