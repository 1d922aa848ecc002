// Checks one file as the loader does before a launch and prints the result:
//   signature_check <pin> <file>   prints "code=0x%08lx" (0: signed by the
//                                  publisher the 64-hex-digit pin names)
// The file is held the way the loader holds it (read, readers only beside).

#include "app/InstallerSignature.h"
#include "app/PublisherKeyPin.h"
#include "common/UniqueHandle.h"

#include <windows.h>

#include <cstdio>
#include <string>

int wmain(int argc, wchar_t** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: signature_check <pin> <file>\n");
        return 2;
    }
    std::string pinText;
    for (const wchar_t* c = argv[1]; *c; ++c)
        pinText += static_cast<char>(*c & 0x7f);
    const PublisherKeyPin pin = ParsePublisherKeyPin(pinText.c_str());
    UniqueFileHandle file(::CreateFileW(argv[2], GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                        FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        std::printf("open-error=%lu\n", ::GetLastError());
        return 3;
    }
    const LONG code = VerifyPublisherSignature(file.get(), argv[2], pin);
    std::printf("code=0x%08lx\n", static_cast<unsigned long>(code));
    return 0;
}
