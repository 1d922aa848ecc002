#pragma once
// The pinned publisher: the SHA-256 of its signing key (the signer
// certificate's SubjectPublicKeyInfo, DER). A key pin survives the renewal of
// the certificate and does not accept a certificate that another authority
// issued under the publisher's name.

#include <cstdint>

struct PublisherKeyPin {
    enum class State { None, Key, Malformed };
    State state = State::None;
    uint8_t keySha256[32] = {};
};

// Accepts exactly 64 hex digits in either case; empty text pins nothing.
// Anything else is Malformed, which no key matches.
PublisherKeyPin ParsePublisherKeyPin(const char* hex);

bool KeyMatchesPin(const uint8_t (&keySha256)[32], const PublisherKeyPin& pin);
