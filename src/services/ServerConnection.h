#pragma once

#include "services/KeychainService.h"

class HttpEngine;

// Where one operation's requests go: the engine that carries them and the credentials the
// operation read (APIService::usableCredentials).
struct ServerConnection {
    HttpEngine* http = nullptr;
    KeychainService::Credentials credentials;
};
