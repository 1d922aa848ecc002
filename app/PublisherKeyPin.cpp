#include "app/PublisherKeyPin.h"

#include <cstring>

namespace {

int HexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

} // namespace

PublisherKeyPin ParsePublisherKeyPin(const char* hex)
{
    PublisherKeyPin pin;
    if (!hex || !*hex)
        return pin;
    pin.state = PublisherKeyPin::State::Malformed;
    if (std::strlen(hex) != 2 * sizeof pin.keySha256)
        return pin;
    for (size_t i = 0; i < sizeof pin.keySha256; ++i) {
        const int high = HexDigit(hex[2 * i]);
        const int low = HexDigit(hex[2 * i + 1]);
        if (high < 0 || low < 0)
            return pin;
        pin.keySha256[i] = static_cast<uint8_t>(high * 16 + low);
    }
    pin.state = PublisherKeyPin::State::Key;
    return pin;
}

bool KeyMatchesPin(const uint8_t (&keySha256)[32], const PublisherKeyPin& pin)
{
    return pin.state == PublisherKeyPin::State::Key &&
           std::memcmp(keySha256, pin.keySha256, sizeof pin.keySha256) == 0;
}
