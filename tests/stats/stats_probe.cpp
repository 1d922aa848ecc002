// Sends statistics events in one process, in the order given, so that tests
// can watch what a whole process does with the identifier cache:
//   stats_probe run downloaded finished:<code> renamefailed setreg:<text> id
// setreg stores a new identifier text in the registry between two events; id
// prints the identifier this process uses.

#include "stats/ClientIdStore.h"
#include "stats/RegistryKey.h"
#include "stats/StatsReporter.h"
#include "stats/StatsSender.h"

#include <cstdio>
#include <cwchar>
#include <string>

int wmain(int argc, wchar_t** argv)
{
    for (int i = 1; i < argc; ++i) {
        const WideString command = argv[i];
        if (command == L"run") {
            ReportRun();
        } else if (command == L"downloaded") {
            ReportDownloaded();
        } else if (command.rfind(L"finished:", 0) == 0) {
            // Parsed as unsigned 32-bit so that 3221225477 can be given as it is.
            ReportFinished(static_cast<int>(std::wcstoul(command.c_str() + 9, nullptr, 10)));
        } else if (command == L"renamefailed") {
            ReportRenameFailed();
        } else if (command.rfind(L"setreg:", 0) == 0) {
            RegistryKey(kClientIdKeyPath).SetString(kClientIdValueName, command.substr(7));
        } else if (command == L"id") {
            std::printf("%ls\n", GetClientId().c_str());
        } else {
            std::fprintf(stderr, "unknown command %ls\n", command.c_str());
            return 2;
        }
    }
    // As the loader ends: what is queued gets one time-out in all.
    FinishStatsEvents();
    return 0;
}
