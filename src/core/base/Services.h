#pragma once

#include <filesystem>

class Clock;
class HttpTransport;
class SecretStore;

// The outside world as the credential and usage operations see it. main() builds it from the
// real implementations; tests pass fakes and a temporary home directory. The referenced objects
// outlive every call that uses them and are safe to use from several threads at once.
struct Services {
    HttpTransport& http;
    SecretStore& secrets;
    const Clock& clock;
    std::filesystem::path home; // the user's home directory
};
